#include "FileCommonDialog.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
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

TEST(FileCommonDialog, HandsTheSettingsOverAndKeepsThem)
{
    FileCommonDialog dialog;
    ScriptedDialog script;
    dialog.SetPresenter(script.Presenter());

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

    ASSERT_EQ(script.requests.size(), 3u);
    const FileDialogRequest& save = script.requests[0];
    EXPECT_TRUE(save.save);
    EXPECT_FALSE(save.multiselect);
    EXPECT_EQ(save.flags, 0x80004u);
    EXPECT_EQ(save.owner, nullptr) << "no owner until one is given";
    EXPECT_EQ(save.title, "Select Output Avi File...");
    EXPECT_EQ(save.initialDirectory, "/home/u/OutPut");
    EXPECT_EQ(save.defaultExtension, "*.avi");
    ASSERT_EQ(save.filters.size(), 1u);
    EXPECT_EQ(save.filters[0].description, "Avi Files (*.avi)");
    EXPECT_EQ(save.filters[0].pattern, "*.avi");

    EXPECT_FALSE(script.requests[1].save);
    EXPECT_EQ(script.requests[1].flags, 0x80004u);
    EXPECT_EQ(script.requests[1].owner, &owner);
    EXPECT_TRUE(script.requests[2].multiselect);
    EXPECT_EQ(script.requests[2].flags, 0x80204u);
    EXPECT_EQ(script.requests[2].title, "Select Output Avi File...") << "settings persist between dialogs";

    EXPECT_EQ(dialog.Record().lStructSize, 76u);
    EXPECT_EQ(dialog.Record().nMaxFile, 260u);
}

TEST(FileCommonDialog, UnsetTextsStayAbsent)
{
    FileCommonDialog dialog;
    ScriptedDialog script;
    dialog.SetPresenter(script.Presenter());
    dialog.GetFileOpenName(false);
    ASSERT_EQ(script.requests.size(), 1u);
    EXPECT_FALSE(script.requests[0].title.has_value());
    EXPECT_FALSE(script.requests[0].initialDirectory.has_value());
    EXPECT_FALSE(script.requests[0].defaultExtension.has_value());
    EXPECT_TRUE(script.requests[0].filters.empty());
}

TEST(FileCommonDialog, ReturnsTheBufferInEachLayout)
{
    FileCommonDialog dialog;
    ScriptedDialog script;
    dialog.SetPresenter(script.Presenter());
    EXPECT_EQ(dialog.Count(), -1) << "before the first dialog";

    // Cancelled.
    std::string buffer = dialog.GetFileSaveName();
    ASSERT_EQ(buffer.size(), 260u);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(buffer.find_first_not_of(' ', 1), std::string::npos);
    EXPECT_EQ(dialog.Count(), 0);

    // One name.
    script.answers = {Chose({"/home/u/OutPut/take one.avi"})};
    buffer = dialog.GetFileSaveName();
    ASSERT_EQ(buffer.size(), 260u);
    EXPECT_EQ(buffer.substr(0, 28), "/home/u/OutPut/take one.avi\0"s);
    EXPECT_EQ(buffer.find_first_not_of(' ', 28), std::string::npos);
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
    buffer = dialog.GetFileSaveName();
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(dialog.Count(), 0);
}

TEST(FileCommonDialog, NextDialogStartsWithTheFilterLastChosen)
{
    FileCommonDialog dialog;
    ScriptedDialog script;
    dialog.SetPresenter(script.Presenter());
    dialog.SetFilter("Avi (*.avi)|*.avi|All (*.*)|*.*");

    script.answers = {Chose({"/tmp/x"}, 1), FileDialogAnswer{false, {}, 0}, Chose({"/tmp/y"}, 0)};
    dialog.GetFileOpenName(false);
    dialog.GetFileSaveName();
    dialog.GetFileSaveName(); // the cancel before did not change the choice
    dialog.GetFileSaveName();

    ASSERT_EQ(script.requests.size(), 4u);
    EXPECT_EQ(script.requests[0].filterIndex, 0u);
    EXPECT_EQ(script.requests[1].filterIndex, 1u);
    EXPECT_EQ(script.requests[2].filterIndex, 1u);
    EXPECT_EQ(script.requests[3].filterIndex, 0u);
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
    {
        QFile file(existing);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }

    FileDialogRequest request;
    request.save = true;
    request.title = "Select Output Avi File...";
    request.initialDirectory = dir.path().toStdString();
    request.defaultExtension = "*.avi";
    request.filters = {{"Avi Files (*.avi)", "*.avi"}};

    QString title, directory, suffix;
    QStringList filters;
    bool confirmsOverwrite = true;
    QFileDialog::AcceptMode mode = QFileDialog::AcceptOpen;
    FileDialogDriver driver([&](QFileDialog* dialog) {
        title = dialog->windowTitle();
        directory = dialog->directory().path();
        suffix = dialog->defaultSuffix();
        filters = dialog->nameFilters();
        confirmsOverwrite = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
        mode = dialog->acceptMode();
        dialog->selectFile(existing);
        static_cast<QDialog*>(dialog)->accept();
    });
    const FileDialogAnswer answer = ShowQtFileDialog(request);

    ASSERT_TRUE(driver.seen);
    EXPECT_EQ(title, "Select Output Avi File...");
    EXPECT_EQ(QDir(directory), QDir(dir.path()));
    EXPECT_EQ(suffix, "avi");
    EXPECT_EQ(filters, QStringList{"Avi Files (*.avi)"});
    EXPECT_FALSE(confirmsOverwrite);
    EXPECT_EQ(mode, QFileDialog::AcceptSave);
    EXPECT_TRUE(answer.accepted);
    ASSERT_EQ(answer.paths.size(), 1u);
    EXPECT_EQ(answer.paths[0], existing.toStdString());
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
    ASSERT_EQ(answer.paths.size(), 1u);
    EXPECT_EQ(answer.paths[0], QDir(dir.path()).filePath(QStringLiteral("movie.avi")).toStdString());
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
    for (const char* name : {"a.avi", "b.avi"}) {
        QFile file(dir.filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
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
