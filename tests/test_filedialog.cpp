// The Open/Save dialog object: the 260-character name buffer it answers
// with, the settings it carries from one dialog to the next, and the Qt
// dialog it shows. The program asks for one name to save; the fuzz target
// reads the multiple-selection layouts.
#include "FileCommonDialog.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <tuple>

using namespace std::string_literals;

namespace {

// A buffer as the dialog leaves it: layout written over the prepared one.
std::string Returned(const std::string& layout)
{
    std::string buffer = PreparedFileBuffer();
    return buffer.replace(0, layout.size(), layout);
}

} // namespace

TEST(FilterText, BarsSplitIntoEntriesShownWithTheirPatterns)
{
    const auto entries = SplitFilter(ConvertFilter("Avi (*.avi)|*.avi|Pictures|*.bmp;*.tga|no pattern"));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].description + "|" + entries[1].pattern, "Pictures|*.bmp;*.tga");
    EXPECT_TRUE(SplitFilter("").empty());
    // Qt filters by the parenthesised part: a description claiming another
    // pattern must not hide the real one.
    EXPECT_EQ(QtNameFilters({{"Avi Files (*.avi)", "*.avi"}, {"Pictures", "*.bmp;*.tga"}, {"Movies (*.avi)", "*.mkv"}}),
              (std::vector<std::string>{"Avi Files (*.avi)", "Pictures (*.bmp *.tga)", "Movies (*.avi) (*.mkv)"}));
    for (auto [extension, suffix] : {std::pair{"*.avi", "avi"}, {".avi", "avi"}, {"*.*", ""}, {"", ""}})
        EXPECT_EQ(DefaultSuffix(extension), suffix) << extension;
}

TEST(WriteFileBuffer, WritesEachLayoutOverThePreparedBufferOrRefusesAndKeepsIt)
{
    const std::string prepared = PreparedFileBuffer();
    EXPECT_EQ(prepared, "\0"s + std::string(259, ' '));
    const struct {
        std::vector<std::string> names;
        bool multiselect;
        std::string layout;
    } written[] = {
        {{"/home/u/movie.avi"}, false, "/home/u/movie.avi\0"s},
        {{"/home/u/a.avi", "/home/u/b.avi"}, true, "/home/u\0a.avi\0b.avi\0\0"s},
        {{std::string("/").append(258, 'n')}, false, std::string("/").append(258, 'n') + "\0"s}, // just fits
    };
    for (const auto& w : written) {
        std::string buffer = prepared;
        EXPECT_TRUE(WriteFileBuffer(buffer, w.names, w.multiselect)) << w.names[0];
        EXPECT_EQ(buffer, Returned(w.layout)) << w.names[0];
        EXPECT_EQ(NameBeforeNul(buffer), w.multiselect ? "/home/u" : w.names[0]);
    }
    for (const std::string& noName : {prepared, "no nul here"s, ""s})
        EXPECT_EQ(NameBeforeNul(noName), "");
    std::vector<std::string> many;
    for (int i = 0; i < 40; ++i)
        many.push_back("/home/u/frame" + std::to_string(1000 + i) + ".tga");
    const struct {
        const char* what;
        std::vector<std::string> names;
        bool multiselect;
    } refused[] = {
        {"name too long", {std::string("/").append(259, 'n')}, false}, // append: GCC 12 warns falsely (-Wrestrict) on "/" + string at -O3
        {"names too long together", many, true},
        {"two folders", {"/a/x.avi", "/b/y.avi"}, true},
        {"several in a single selection", {"/a/x.avi", "/a/y.avi"}, false},
        {"none", {}, false},
    };
    for (const auto& r : refused) {
        std::string buffer = prepared;
        EXPECT_FALSE(WriteFileBuffer(buffer, r.names, r.multiselect)) << r.what;
        EXPECT_EQ(buffer, prepared) << r.what;
    }
}

// The settings carry over from one dialog to the next, the answer is the
// whole buffer, and each dialog starts on the filter chosen last.
TEST(FileCommonDialog, EveryDialogGetsTheSettingsSoFarAndTheWholeBufferBack)
{
    FileCommonDialog dialog;
    std::vector<FileDialogRequest> requests;
    std::vector<FileDialogAnswer> answers = {
        {true, {"/home/u/OutPut/take one.avi"}, 1}, {false, {}, 0}, {true, {"/" + std::string(300, 'n')}, 0}};
    dialog.SetPresenter([&](const FileDialogRequest& request) {
        requests.push_back(request);
        const FileDialogAnswer answer = answers.front();
        answers.erase(answers.begin());
        return answer;
    });
    QWidget owner;
    dialog.SetWindowTitle("Select Output Avi File...");
    dialog.SetFilter("Avi (*.avi)|*.avi|All (*.*)|*.*");
    dialog.SetDefaultExtension("*.avi");
    dialog.SetInitialDirectory("/home/u/OutPut");
    EXPECT_EQ(dialog.GetFileSaveName(), Returned("/home/u/OutPut/take one.avi\0"s));
    dialog.SetObjectOwner(&owner);
    EXPECT_EQ(dialog.GetFileOpenName(false), PreparedFileBuffer()) << "cancelled";
    EXPECT_EQ(dialog.GetFileSaveName(), PreparedFileBuffer()) << "a name longer than the buffer";
    ASSERT_EQ(requests.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        const FileDialogRequest& r = requests[i];
        EXPECT_EQ(std::tuple(r.owner, r.filterIndex), std::tuple(i ? &owner : nullptr, i ? 1u : 0u)) << i;
        EXPECT_EQ(std::tuple(r.title, r.initialDirectory, r.defaultExtension, r.filters.size()),
                  std::tuple("Select Output Avi File...", "/home/u/OutPut", "*.avi", 2u)) << i;
    }
}

// The build asks before it replaces a movie; the dialog must not ask too.
TEST(ShowQtFileDialog, SaveDialogShowsTheSettingsAddsTheSuffixAndReplacesWithoutAsking)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QFile(dir.filePath("Demo000.avi")).open(QIODevice::WriteOnly));
    const FileDialogRequest request{true, false, 0, nullptr, "Select Output Avi File...", dir.path().toStdString(),
                                    "*.avi", {{"Avi Files (*.avi)", "*.avi"}, {"All Files", "*"}}, 1};
    QStringList shown;
    std::function<void()> poll = [&] {
        auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!d)
            return QTimer::singleShot(10, poll);
        shown << d->windowTitle() << QDir(d->directory()).canonicalPath() << d->selectedNameFilter();
        d->selectFile("Demo000");
        d->testOption(QFileDialog::DontConfirmOverwrite) ? static_cast<QDialog*>(d)->accept() : d->reject();
    };
    QTimer::singleShot(0, poll);
    const FileDialogAnswer answer = ShowQtFileDialog(request);
    EXPECT_EQ(shown, (QStringList{"Select Output Avi File...", QDir(dir.path()).canonicalPath(), "All Files (*)"}));
    EXPECT_EQ(std::tuple(answer.accepted, answer.filterIndex, answer.paths),
              std::tuple(true, 1u, std::vector<std::string>{dir.filePath("Demo000.avi").toStdString()}));
}
