#include "FileError.h"
#include "FrmMain.h"
#include "TGA.h"
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
        ASSERT_TRUE(QDir().mkpath(AppDir()));
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, Root() + "/config");
    }
    QString AppDir() const { return root_.filePath("app"); }
    QString Root() const { return root_.path(); }
    static void Touch(const QString& path) { WriteFile(path.toStdString(), {}); }
    MsgBoxRecorder messages;

private:
    QTemporaryDir root_;
};

} // namespace

TEST_F(FrmMainTest, PickersFillTheirBoxOrChangeNothingAndTheOutputPickerSetsItsValuesEachTime)
{
    FrmMain w(AppDir().toStdString());
    std::string chosen;
    w.SetFolderBrowser([&](QWidget*, const QString&) { return chosen; });
    std::vector<FileDialogRequest> requests;
    w.cDialog.SetPresenter([&](const FileDialogRequest& request) {
        requests.push_back(request);
        return chosen.empty() ? FileDialogAnswer{} : FileDialogAnswer{true, {chosen}, 0};
    });
    for (auto [button, box] : {std::pair{w.CmdBrowse, w.TxtDir}, std::pair{w.CmdBrowse2, w.TxtOut}}) {
        chosen = {};
        const QString before = box->text();
        button->click();
        EXPECT_EQ(box->text(), before);
        chosen = "/home/someone/a long way/to/the/final cut";
        button->click();
        EXPECT_EQ(box->text().toStdString(), chosen);
    }
    w.cDialog.SetWindowTitle("changed");
    w.cDialog.SetInitialDirectory("/");
    w.CmdBrowse2->click();
    ASSERT_EQ(requests.size(), 3u);
    const FileDialogRequest& r = requests.back();
    EXPECT_EQ(std::tuple(r.save, r.title, r.defaultExtension, r.initialDirectory),
              std::tuple(true, "Select Output Avi File...", "*.avi", (AppDir() + "/OutPut").toStdString()));
}

TEST_F(FrmMainTest, StartProposesTheFirstFreeDemoNumberInTheFirstOutputFolderItCanMake)
{
    for (const QString& given : {AppDir(), AppDir() + "/"}) { // a trailing separator is dropped
        FrmMain w(given.toStdString());
        EXPECT_EQ(std::tuple(w.TxtOut->text(), w.TxtDir->text()),
                  std::tuple(AppDir() + "/OutPut/Demo000.avi", AppDir()));
        EXPECT_TRUE(QFileInfo(AppDir() + "/OutPut").isDir() && w.StartupProblems().empty());
    }
    // Numbers from..to taken. All 999 taken: the last is proposed, and the
    // build asks before it replaces it.
    const std::tuple<int, int, int> cases[] = {{0, 1, 2}, {1, 1, 0}, {0, 41, 42}, {0, 998, 998}, {1, 999, 0}};
    for (const auto& [from, to, proposed] : cases) {
        const QString out = Root() + "/app" + QString::number(from + to) + "/OutPut/";
        ASSERT_TRUE(QDir().mkpath(out));
        auto demo = [&](int n) { return out + QStringLiteral("Demo%1.avi").arg(n, 3, 10, QLatin1Char('0')); };
        for (int n = from; n <= to; ++n)
            Touch(demo(n));
        EXPECT_EQ(FrmMain(QDir::cleanPath(out + "..").toStdString()).TxtOut->text(), demo(proposed));
    }
    // A file where the application directory should be: nothing can be
    // created under it, whoever runs the test. The user's videos folder takes
    // its place silently; only when that cannot be made either is the user
    // told, once the window shows.
    const QString blocked = Root() + "/not-a-directory";
    Touch(blocked);
    const QByteArray home = qgetenv("HOME");
    for (const QString& fakeHome : {Root() + "/home", blocked}) {
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

namespace {

// Notes what the settings file holds when the close hook runs.
struct WatchedWindow : FrmMain {
    using FrmMain::FrmMain;
    int closings = 0;
    QString storedAtClosing;
    void OnClosing() override
    {
        ++closings;
        const QSettings stored(QSettings::IniFormat, QSettings::UserScope, "Reelcast", "RCT");
        storedAtClosing = stored.value("FileInfo/FrameDirectory").toString();
    }
};

} // namespace

TEST_F(FrmMainTest, FrameDirectoryIsStoredBeforeTheCloseHookAndOfferedAtTheNextStartOrItsTroubleReported)
{
    {
        WatchedWindow w(AppDir().toStdString());
        w.show();
        w.TxtDir->setText("/no/such/frames dir");
        EXPECT_TRUE(w.close());
        w.show();
        EXPECT_TRUE(w.close());
        EXPECT_EQ(std::tuple(w.closings, w.storedAtClosing), std::tuple(1, QString("/no/such/frames dir")));
    }
    FrmMain next(AppDir().toStdString());
    EXPECT_EQ(next.TxtDir->text(), "/no/such/frames dir");
    next.TxtDir->clear();
    EXPECT_TRUE(next.close());
    EXPECT_EQ(FrmMain(AppDir().toStdString()).TxtDir->text(), "") << "an empty box is stored as an empty text";
    EXPECT_TRUE(messages.shown().empty());

    // A folder where the settings file should be: told at the start and at the close.
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, Root() + "/blocked");
    const std::string blocked = (Root() + "/blocked/Reelcast/RCT.ini").toStdString();
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(blocked)));
    FrmMain w(AppDir().toStdString());
    EXPECT_EQ(w.TxtDir->text(), AppDir());
    ASSERT_EQ(w.StartupProblems().size(), 1u);
    EXPECT_NE(w.StartupProblems()[0].find(blocked), std::string::npos);
    EXPECT_TRUE(w.close());
    ASSERT_EQ(messages.shown().size(), 1u);
    EXPECT_NE(messages.shown()[0].prompt.find(blocked), std::string::npos);
}

// The picture box is hidden scratch; what counts is the bitmap handed on to
// the movie, and the error that names a file which cannot be decoded.
TEST_F(FrmMainTest, LoadPicNamesTheBitmapToHandOnAndThrowsNamingAFileItCannotDecode)
{
    FrmMain w(AppDir().toStdString());
    const Bytes picture = PatternPixels(5, 3, 4);
    FrameImage frame{5, 3, 24, {}, picture};
    const std::string bmp = (Root() + "/frame0002.tga.bmp").toStdString(), png = (Root() + "/frame.PNG").toStdString();
    WriteBMP(bmp, frame);
    QImage(3, 2, QImage::Format_RGB32).save(QString::fromStdString(png), "PNG");
    WriteFile((Root() + "/broken.bmp").toStdString(), {'B', 'M', ' ', 'n', 'o', ' ', 'b', 'i', 't'});
    EXPECT_EQ(std::tuple(w.loadPic(bmp, false, false, false), w.loadPic(png, false, false, true)), std::tuple("", ""));
    EXPECT_EQ(w.loadPic(bmp, true, true, true), bmp);
    EXPECT_EQ(w.imL->picture().pixel(4, 0), qRgb(picture[14], picture[13], picture[12])) << "top right, blue first";
    for (const QString& path : {Root() + "/broken.bmp", Root() + "/missing.bmp"}) {
        try {
            w.loadPic(path.toStdString(), false, false, true);
            ADD_FAILURE() << "no error for " << path.toStdString();
        } catch (const FileError& error) {
            EXPECT_EQ(error.path(), path.toStdString());
        }
        EXPECT_EQ(w.imL->picture().size(), QSize(5, 3)) << "the picture shown stays";
    }
}
