#include "FileCommonDialog.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

// A stand-in dialog: records each request and gives the scripted answers.
struct ScriptedDialog {
    std::vector<FileDialogRequest> requests;
    std::vector<FileDialogAnswer> answers;

    FileDialogPresenter Presenter()
    {
        return [this](const FileDialogRequest& request) {
            requests.push_back(request);
            if (answers.empty())
                return FileDialogAnswer{};
            FileDialogAnswer answer = answers.front();
            answers.erase(answers.begin());
            return answer;
        };
    }
};

FileDialogAnswer Chose(std::vector<std::string> paths, std::size_t filterIndex = 0)
{
    return FileDialogAnswer{true, std::move(paths), filterIndex};
}

} // namespace

TEST(FileCommonDialog, HandsTheSettingsOverAndKeepsThemAndLeavesUnsetTextsAbsent)
{
    FileCommonDialog dialog;
    ScriptedDialog script;
    dialog.SetPresenter(script.Presenter());
    dialog.GetFileOpenName(false);
    ASSERT_EQ(script.requests.size(), 1u);
    EXPECT_FALSE(script.requests[0].title || script.requests[0].initialDirectory ||
                 script.requests[0].defaultExtension);
    EXPECT_TRUE(script.requests[0].filters.empty());

    QWidget owner;
    dialog.SetWindowTitle("Select Output Avi File...");
    dialog.SetFilter("Avi Files (*.avi)|*.avi");
    dialog.SetDefaultExtension("*.avi");
    dialog.SetInitialDirectory("/home/u/OutPut");
    EXPECT_EQ(dialog.WindowTitle(), "Select Output Avi File...");
    EXPECT_EQ(dialog.DefaultExtension(), "*.avi");
    EXPECT_EQ(dialog.InitialDirectory(), "/home/u/OutPut");
    EXPECT_EQ(*dialog.Record().lpstrFilter, "Avi Files (*.avi)\0*.avi\0"s);
    dialog.GetFileSaveName();
    dialog.SetObjectOwner(&owner);
    dialog.GetFileOpenName(false);
    dialog.GetFileOpenName(true);

    ASSERT_EQ(script.requests.size(), 4u);
    const struct {
        bool save, multiselect;
        unsigned flags;
        QWidget* owner;
    } expected[] = {{true, false, 0x80004u, nullptr}, {false, false, 0x80004u, &owner}, {false, true, 0x80204u, &owner}};
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const FileDialogRequest& r = script.requests[i + 1];
        EXPECT_EQ(r.save, expected[i].save);
        EXPECT_EQ(r.multiselect, expected[i].multiselect);
        EXPECT_EQ(r.flags, expected[i].flags);
        EXPECT_EQ(r.owner, expected[i].owner) << "no owner until one is given";
        // The settings persist from one dialog to the next.
        EXPECT_EQ(r.title, "Select Output Avi File...");
        EXPECT_EQ(r.initialDirectory, "/home/u/OutPut");
        EXPECT_EQ(r.defaultExtension, "*.avi");
        ASSERT_EQ(r.filters.size(), 1u);
        EXPECT_EQ(r.filters[0].description, "Avi Files (*.avi)");
        EXPECT_EQ(r.filters[0].pattern, "*.avi");
    }
}

TEST(FileCommonDialog, ReturnsTheBufferInEachLayoutAndStartsWithTheFilterLastChosen)
{
    FileCommonDialog dialog;
    ScriptedDialog script;
    dialog.SetPresenter(script.Presenter());
    EXPECT_EQ(dialog.Count(), -1) << "before the first dialog";
    const std::string prepared = "\0"s + std::string(259, ' ');
    EXPECT_EQ(dialog.GetFileSaveName(), prepared) << "cancelled";
    EXPECT_EQ(dialog.Count(), 0);

    script.answers = {Chose({"/home/u/OutPut/take one.avi"})};
    EXPECT_EQ(dialog.GetFileSaveName(), "/home/u/OutPut/take one.avi\0"s + std::string(260 - 28, ' '));
    EXPECT_EQ(dialog.Count(), 0);

    // Several names, and then one name, of a multiple selection.
    script.answers = {Chose({"/home/u/a.avi", "/home/u/b.avi", "/home/u/c.avi"}), Chose({"/home/u/a.avi"})};
    dialog.GetFileOpenName(true);
    EXPECT_EQ(dialog.Count(), 3);
    EXPECT_EQ(dialog.GetMultiFilename(1), "/home/u/a.avi");
    EXPECT_EQ(dialog.GetMultiFilename(3), "/home/u/c.avi");
    dialog.GetFileOpenName(true);
    EXPECT_EQ(dialog.Count(), 1);
    EXPECT_EQ(dialog.GetMultiFilename(1), "/home/u/a.avi");

    // A name longer than the buffer is refused: the prepared buffer comes back.
    script.answers = {Chose({"/" + std::string(300, 'n')})};
    EXPECT_EQ(dialog.GetFileSaveName(), prepared);
    EXPECT_EQ(dialog.Count(), 0);

    // A cancel does not change the filter chosen last.
    dialog.SetFilter("Avi (*.avi)|*.avi|All (*.*)|*.*");
    script.requests.clear();
    script.answers = {Chose({"/tmp/x"}, 1), FileDialogAnswer{false, {}, 0}, Chose({"/tmp/y"}, 0)};
    for (int i = 0; i < 4; ++i)
        dialog.GetFileSaveName();
    std::vector<std::size_t> indexes;
    for (const FileDialogRequest& r : script.requests)
        indexes.push_back(r.filterIndex);
    EXPECT_EQ(indexes, (std::vector<std::size_t>{0, 1, 1, 0}));
    EXPECT_EQ(dialog.Record().nFilterIndex, 1u) << "1-based, the first entry";
}

namespace {

// Runs Act on the first file dialog that opens, then makes sure nothing
// else is left open (a question box would be).
class FileDialogDriver {
public:
    explicit FileDialogDriver(std::function<void(QFileDialog*)> act) : act_(std::move(act))
    {
        QTimer::singleShot(0, [this] { Poll(); });
    }
    bool seen = false;
    QStringList strayWindows;

private:
    void Poll()
    {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog) {
            QTimer::singleShot(10, [this] { Poll(); });
            return;
        }
        seen = true;
        act_(dialog);
        QTimer::singleShot(50, [this] {
            if (QWidget* other = QApplication::activeModalWidget()) {
                strayWindows << other->metaObject()->className();
                other->close();
            }
        });
    }
    std::function<void(QFileDialog*)> act_;
};

} // namespace

TEST(ShowQtFileDialog, SaveDialogShowsTheSettingsAndAsksNothingOnAnExistingFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString existing = dir.filePath(QStringLiteral("Demo000.avi"));
    ASSERT_TRUE(QFile(existing).open(QIODevice::WriteOnly));
    FileDialogRequest request;
    request.save = true;
    request.title = "Select Output Avi File...";
    request.initialDirectory = dir.path().toStdString();
    request.defaultExtension = "*.avi";
    request.filters = {{"Avi Files (*.avi)", "*.avi"}};

    QStringList shown;
    bool confirmsOverwrite = true, saves = false;
    FileDialogDriver driver([&](QFileDialog* dialog) {
        shown << dialog->windowTitle() << QDir(dialog->directory()).canonicalPath() << dialog->defaultSuffix()
              << dialog->nameFilters();
        confirmsOverwrite = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
        saves = dialog->acceptMode() == QFileDialog::AcceptSave;
        dialog->selectFile(existing);
        static_cast<QDialog*>(dialog)->accept();
    });
    const FileDialogAnswer answer = ShowQtFileDialog(request);
    ASSERT_TRUE(driver.seen);
    EXPECT_EQ(shown, (QStringList{"Select Output Avi File...", QDir(dir.path()).canonicalPath(), "avi",
                                  "Avi Files (*.avi)"}));
    EXPECT_FALSE(confirmsOverwrite);
    EXPECT_TRUE(saves);
    EXPECT_TRUE(answer.accepted);
    EXPECT_EQ(answer.paths, std::vector<std::string>{existing.toStdString()});
    QApplication::processEvents();
    EXPECT_TRUE(driver.strayWindows.isEmpty()) << driver.strayWindows.join(",").toStdString();
}

TEST(ShowQtFileDialog, TypedNameGetsTheDefaultSuffixAndTheChosenFilterIsReported)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    FileDialogRequest request;
    request.save = true;
    request.initialDirectory = dir.path().toStdString();
    request.defaultExtension = "*.avi";
    request.filters = {{"Avi Files (*.avi)", "*.avi"}, {"All Files", "*"}};
    request.filterIndex = 1;

    QString startFilter;
    FileDialogDriver driver([&](QFileDialog* dialog) {
        startFilter = dialog->selectedNameFilter();
        dialog->selectFile(QStringLiteral("movie"));
        static_cast<QDialog*>(dialog)->accept();
    });
    const FileDialogAnswer answer = ShowQtFileDialog(request);
    ASSERT_TRUE(driver.seen);
    EXPECT_EQ(startFilter, "All Files (*)");
    EXPECT_EQ(answer.filterIndex, 1u);
    EXPECT_EQ(answer.paths, std::vector<std::string>{dir.filePath(QStringLiteral("movie.avi")).toStdString()});
}

TEST(ShowQtFileDialog, CancelAnswersNothing)
{
    FileDialogRequest request;
    FileDialogDriver driver([](QFileDialog* dialog) { dialog->reject(); });
    const FileDialogAnswer answer = ShowQtFileDialog(request);
    ASSERT_TRUE(driver.seen);
    EXPECT_FALSE(answer.accepted);
    EXPECT_TRUE(answer.paths.empty());
}

TEST(ShowQtFileDialog, MultipleSelectionThroughTheObjectFillsTheBuffer)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const char* name : {"a.avi", "b.avi"})
        ASSERT_TRUE(QFile(dir.filePath(QString::fromLatin1(name))).open(QIODevice::WriteOnly));
    FileCommonDialog object;
    object.SetInitialDirectory(dir.path().toStdString());
    bool multi = false;
    FileDialogDriver driver([&](QFileDialog* dialog) {
        multi = dialog->fileMode() == QFileDialog::ExistingFiles;
        auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(edit, nullptr);
        edit->setText(QStringLiteral("\"a.avi\" \"b.avi\""));
        static_cast<QDialog*>(dialog)->accept();
    });
    object.GetFileOpenName(true);
    ASSERT_TRUE(driver.seen);
    EXPECT_TRUE(multi);
    ASSERT_EQ(object.Count(), 2);
    EXPECT_EQ(object.GetMultiFilename(1), dir.filePath(QStringLiteral("a.avi")).toStdString());
    EXPECT_EQ(object.GetMultiFilename(2), dir.filePath(QStringLiteral("b.avi")).toStdString());
}
