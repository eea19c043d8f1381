#include "FileError.h"
#include "FrmMain.h"
#include "BitmapFile.h"
#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <tuple>

using namespace testsupport;

namespace {

class FrmMainTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDir().mkpath(app));
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, root.path() + "/config");
    }
    QTemporaryDir root;
    const QString app = root.filePath("app");
    MsgBoxRecorder messages;
};

// Notes what the settings file holds when the close hook runs.
struct WatchedWindow : FrmMain {
    using FrmMain::FrmMain;
    int closings = 0;
    QString storedAtClosing;
    void OnClosing() override
    {
        ++closings;
        storedAtClosing = QSettings(QSettings::IniFormat, QSettings::UserScope, "Reelcast", "RCT")
                              .value("FileInfo/FrameDirectory")
                              .toString();
    }
};

} // namespace

// The picture box is hidden scratch; what counts is the bitmap handed on to
// the movie, and the error that names a file which cannot be decoded.
TEST_F(FrmMainTest, PickersFillTheirBoxOrChangeNothingAndLoadPicNamesTheBitmapOrThrowsNamingTheFile)
{
    FrmMain w(app.toStdString());
    std::string chosen;
    std::vector<FileDialogRequest> requests;
    w.SetFolderBrowser([&](QWidget*, const QString&) { return chosen; });
    w.cDialog.SetPresenter([&](const FileDialogRequest& request) {
        requests.push_back(request);
        return chosen.empty() ? FileDialogAnswer{} : FileDialogAnswer{true, {chosen}, 0};
    });
    for (auto [button, box] : {std::pair{w.CmdBrowse, w.TxtDir}, std::pair{w.CmdBrowse2, w.TxtOut}}) {
        const QString before = box->text();
        chosen = {};
        button->click();
        EXPECT_EQ(box->text(), before);
        chosen = "/home/someone/a long way/to/the/final cut";
        button->click();
        EXPECT_EQ(box->text().toStdString(), chosen);
    }
    // The output picker sets its values each time.
    w.cDialog.SetWindowTitle("changed");
    w.cDialog.SetInitialDirectory("/");
    w.CmdBrowse2->click();
    ASSERT_EQ(requests.size(), 3u);
    const FileDialogRequest& r = requests[2];
    EXPECT_EQ(std::tuple(r.save, r.title, r.defaultExtension, r.initialDirectory),
              std::tuple(true, "Select Output Avi File...", "*.avi", (app + "/OutPut").toStdString()));

    const Bytes picture = PatternPixels(5, 3, 4);
    FrameImage frame{5, 3, 24, {}, picture};
    const std::string bmp = root.filePath("f.tga.bmp").toStdString(), png = root.filePath("f.PNG").toStdString();
    Notice why;
    ASSERT_TRUE(WriteBMP(bmp, frame, why)) << why.text;
    QImage(3, 2, QImage::Format_RGB32).save(QString::fromStdString(png), "PNG");
    WriteFile(root.filePath("broken.bmp").toStdString(), {'B', 'M', ' ', 'n', 'o', ' ', 'b', 'i', 't'});
    EXPECT_EQ(std::tuple(w.loadPic(bmp, false, false, false), w.loadPic(png, false, false, true)), std::tuple("", ""));
    EXPECT_EQ(w.loadPic(bmp, true, true, true), bmp);
    EXPECT_EQ(w.imL->picture().pixel(4, 0), qRgb(picture[14], picture[13], picture[12])) << "top right, blue first";
    for (const QString& path : {root.filePath("broken.bmp"), root.filePath("missing.bmp")}) {
        std::string named;
        try {
            w.loadPic(path.toStdString(), false, false, true);
        } catch (const FileError& error) {
            named = error.path();
        }
        EXPECT_EQ(std::tuple(named, w.imL->picture().size()), std::tuple(path.toStdString(), QSize(5, 3)))
            << "named, and the picture shown stays";
    }
}

TEST_F(FrmMainTest, StartProposesTheFirstFreeDemoNumberInTheFirstOutputFolderItCanMake)
{
    // Numbers from..to taken (none: the folder is made). All 999 taken: the
    // last is proposed, and the build asks before it replaces it. A trailing
    // separator is dropped.
    const std::tuple<int, int, int> cases[] = {
        {0, -1, 0}, {0, 1, 2}, {1, 1, 0}, {0, 41, 42}, {0, 998, 998}, {1, 999, 0}};
    for (const auto& [from, to, proposed] : cases) {
        const QString dir = root.filePath(QStringLiteral("app%1-%2").arg(from).arg(to)), out = dir + "/OutPut/";
        auto demo = [&](int n) { return out + QStringLiteral("Demo%1.avi").arg(n, 3, 10, QLatin1Char('0')); };
        ASSERT_TRUE(QDir().mkpath(from <= to ? out : dir));
        for (int n = from; n <= to; ++n)
            WriteFile(demo(n).toStdString(), {});
        FrmMain w((dir + "/").toStdString());
        EXPECT_EQ(std::tuple(w.TxtOut->text(), w.TxtDir->text(), QFileInfo(out).isDir(), w.StartupProblems().size()),
                  std::tuple(demo(proposed), dir, true, 0u));
    }
    // A file where the application directory should be: the user's videos
    // folder takes its place silently; when that fails too, the user is told.
    const QString blocked = root.filePath("not-a-directory");
    WriteFile(blocked.toStdString(), {});
    const QByteArray home = qgetenv("HOME");
    for (const QString& fakeHome : {root.filePath("home"), blocked}) {
        qputenv("HOME", fakeHome.toUtf8());
        FrmMain w(blocked.toStdString());
        EXPECT_EQ(w.TxtOut->text(), fakeHome + "/Videos/Reelcast/Demo000.avi");
        w.show();
        w.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
        QTest::qWait(50);
    }
    qputenv("HOME", home);
    ASSERT_EQ(messages.shown().size(), 1u);
    EXPECT_NE(messages.shown()[0].prompt.find((blocked + "/Videos/Reelcast").toStdString()), std::string::npos);
}

TEST_F(FrmMainTest, FrameDirectoryIsStoredBeforeTheCloseHookAndOfferedAtTheNextStart)
{
    {
        WatchedWindow w(app.toStdString());
        w.show();
        w.TxtDir->setText("/no/such/frames dir");
        EXPECT_TRUE(w.close());
        w.show();
        EXPECT_TRUE(w.close());
        EXPECT_EQ(std::tuple(w.closings, w.storedAtClosing), std::tuple(1, QString("/no/such/frames dir")));
    }
    FrmMain next(app.toStdString());
    EXPECT_EQ(next.TxtDir->text(), "/no/such/frames dir");
    next.TxtDir->clear();
    EXPECT_TRUE(next.close());
    EXPECT_EQ(FrmMain(app.toStdString()).TxtDir->text(), "") << "an empty box is stored as an empty text";
    EXPECT_TRUE(messages.shown().empty());
}
