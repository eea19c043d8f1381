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

// Runs `act` on the file dialog that `open` brings up, and answers what
// `open` answered.
template <typename Open> auto WithDialog(const std::function<void(QFileDialog&)>& act, Open open)
{
    std::function<void()> poll = [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        dialog ? act(*dialog) : QTimer::singleShot(10, poll);
    };
    QTimer::singleShot(0, poll);
    return open();
}

} // namespace

// The settings carry over from one dialog to the next, the answer is the
// whole buffer, and each dialog starts on the filter chosen last.
TEST(FileCommonDialog, EveryDialogGetsTheSettingsSoFarAndTheWholeBufferBack)
{
    FileCommonDialog dialog;
    std::vector<FileDialogRequest> requests;
    std::vector<FileDialogAnswer> answers;
    dialog.SetPresenter([&](const FileDialogRequest& request) {
        requests.push_back(request);
        if (answers.empty())
            return FileDialogAnswer{};
        FileDialogAnswer answer = answers.front();
        answers.erase(answers.begin());
        return answer;
    });
    const std::string prepared = "\0"s + std::string(259, ' ');
    EXPECT_EQ(dialog.GetFileOpenName(false), prepared) << "cancelled";
    EXPECT_FALSE(requests[0].title || requests[0].initialDirectory || requests[0].defaultExtension);

    QWidget owner;
    dialog.SetWindowTitle("Select Output Avi File...");
    dialog.SetFilter("Avi (*.avi)|*.avi|All (*.*)|*.*");
    dialog.SetDefaultExtension("*.avi");
    dialog.SetInitialDirectory("/home/u/OutPut");
    answers = {{true, {"/home/u/OutPut/take one.avi"}, 1}, {false, {}, 0}, {true, {"/" + std::string(300, 'n')}, 0},
               {true, {"/home/u/a.avi", "/home/u/b.avi"}, 0}};
    EXPECT_EQ(dialog.GetFileSaveName(), "/home/u/OutPut/take one.avi\0"s + std::string(260 - 28, ' '));
    dialog.SetObjectOwner(&owner);
    EXPECT_EQ(dialog.GetFileOpenName(false), prepared) << "cancelled";
    EXPECT_EQ(dialog.GetFileSaveName(), prepared) << "a name longer than the buffer";
    dialog.GetFileOpenName(true);
    EXPECT_EQ(std::tuple(dialog.Count(), dialog.GetMultiFilename(1), dialog.GetMultiFilename(2)),
              std::tuple(2, "/home/u/a.avi", "/home/u/b.avi"));

    // OFN_EXPLORER | OFN_HIDEREADONLY, and OFN_ALLOWMULTISELECT for a multiple selection.
    const std::tuple<bool, bool, unsigned, QWidget*, std::size_t> expected[] = {
        {true, false, 0x80004u, nullptr, 0}, {false, false, 0x80004u, &owner, 1}, {true, false, 0x80004u, &owner, 1},
        {false, true, 0x80204u, &owner, 1}};
    ASSERT_EQ(requests.size(), 5u);
    for (std::size_t i = 0; i < 4; ++i) {
        const FileDialogRequest& r = requests[i + 1];
        EXPECT_EQ(std::tuple(r.save, r.multiselect, r.flags, r.owner, r.filterIndex), expected[i]) << i;
        EXPECT_EQ(std::tuple(r.title, r.initialDirectory, r.defaultExtension, r.filters.size(), r.filters[1].pattern),
                  std::tuple("Select Output Avi File...", "/home/u/OutPut", "*.avi", 2u, "*.*")) << i;
    }
}

TEST(ShowQtFileDialog, SaveDialogShowsTheSettingsAddsTheSuffixAndReplacesWithoutAsking)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QFile(dir.filePath("Demo000.avi")).open(QIODevice::WriteOnly));
    FileDialogRequest request{true, false, 0, nullptr, "Select Output Avi File...", dir.path().toStdString(), "*.avi",
                              {{"Avi Files (*.avi)", "*.avi"}, {"All Files", "*"}}, 1};
    QStringList shown;
    const FileDialogAnswer answer = WithDialog(
        [&](QFileDialog& d) {
            shown << d.windowTitle() << QDir(d.directory()).canonicalPath() << d.defaultSuffix() << d.nameFilters()
                  << d.selectedNameFilter();
            EXPECT_EQ(std::tuple(d.acceptMode(), d.fileMode()),
                      std::tuple(QFileDialog::AcceptSave, QFileDialog::AnyFile));
            EXPECT_TRUE(d.testOption(QFileDialog::DontConfirmOverwrite)) << "would ask before replacing";
            d.selectFile("Demo000");
            d.testOption(QFileDialog::DontConfirmOverwrite) ? static_cast<QDialog&>(d).accept() : d.reject();
        },
        [&] { return ShowQtFileDialog(request); });
    EXPECT_EQ(shown, (QStringList{"Select Output Avi File...", QDir(dir.path()).canonicalPath(), "avi",
                                  "Avi Files (*.avi)", "All Files (*)", "All Files (*)"}));
    EXPECT_EQ(std::tuple(answer.accepted, answer.filterIndex, answer.paths),
              std::tuple(true, 1u, std::vector<std::string>{dir.filePath("Demo000.avi").toStdString()}));
}
