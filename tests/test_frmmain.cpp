// SPDX-License-Identifier: GPL-2.0-or-later
#include "FileError.h"
#include "FrmMain.h"
#include "BitmapFile.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QImage>
#include <QMimeData>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <fstream>
#include <tuple>
#include <vector>

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
    FrmMain w(app.toStdString(), app.toStdString());
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
    const std::string bmp = root.filePath("f.tga.bmp").toStdString(), png = root.filePath("f.PNG").toStdString(),
                      broken = root.filePath("broken.bmp").toStdString();
    Notice why;
    ASSERT_TRUE(WriteBMP(bmp, frame, why)) << why.text;
    QImage(3, 2, QImage::Format_RGB32).save(QString::fromStdString(png), "PNG");
    WriteFile(broken, {'B', 'M', ' ', 'n', 'o', ' ', 'b', 'i', 't'});
    EXPECT_EQ(std::tuple(w.loadPic(bmp, false, false, false), w.loadPic(png, false, false, true)), std::tuple("", ""));
    EXPECT_EQ(w.loadPic(bmp, true, true, true), bmp);
    EXPECT_EQ(w.imL->picture().pixel(4, 0), qRgb(picture[14], picture[13], picture[12])) << "top right, blue first";
    std::string named;
    try {
        w.loadPic(broken, false, false, true);
    } catch (const FileError& error) {
        named = error.path();
    }
    EXPECT_EQ(std::tuple(named, w.imL->picture().size()), std::tuple(broken, QSize(5, 3)))
        << "named, and the picture shown stays";
}

TEST_F(FrmMainTest, FromItsBuildTreeTheWindowProposesTheFirstFreeDemoNumberInOutPutBesideItself)
{
    // Numbers from..to taken (none: the folder is made). All 999 taken: the
    // last is proposed, and the build asks before it replaces it. A trailing
    // separator is dropped.
    const std::tuple<int, int, int> cases[] = {{0, -1, 0}, {0, 1, 2}, {1, 1, 0}, {0, 998, 998}};
    for (const auto& [from, to, proposed] : cases) {
        const QString dir = root.filePath(QStringLiteral("app%1-%2").arg(from).arg(to)), out = dir + "/OutPut/";
        auto demo = [&](int n) { return out + QStringLiteral("Demo%1.avi").arg(n, 3, 10, QLatin1Char('0')); };
        ASSERT_TRUE(QDir().mkpath(from <= to ? out : dir));
        for (int n = from; n <= to; ++n)
            WriteFile(demo(n).toStdString(), {});
        FrmMain w((dir + "/").toStdString(), dir.toStdString());
        EXPECT_EQ(std::tuple(w.TxtOut->text(), w.TxtDir->text(), QFileInfo(out).isDir(), w.StartupProblems().size()),
                  std::tuple(demo(proposed), dir, true, 0u));
    }
}

// The build tree is the folder itself, by any path to it; a copy, a staged
// install or a program beside a folder of the same name is not.
TEST_F(FrmMainTest, OnlyTheBuildsOwnFolderCountsAsTheBuildTree)
{
    const QString copy = root.filePath("stage/usr/bin"), link = root.filePath("link");
    ASSERT_TRUE(QDir().mkpath(copy) && QFile::link(app, link));
    const std::string a = app.toStdString();
    const std::tuple<std::string, std::string, bool> cases[] = {
        {a, a, true},      {link.toStdString(), a, true}, {a + "/../app", a, true}, {copy.toStdString(), a, false},
        {a, "", false},    {"", a, false},                {a, root.filePath("gone").toStdString(), false}};
    for (const auto& [program, build, expected] : cases)
        EXPECT_EQ(RunsFromBuildTree(program, build), expected) << program << " built in " << build;
}

// Anywhere but its build tree, writable or not and whoever runs it, the
// window keeps to the user's folders: nothing appears beside the program,
// the site link included; when the videos folder cannot be made, the user
// is told. The frame directory is stored before the close hook runs, once
// however often the window closes, and offered at the next start; an empty
// box is stored as an empty text.
TEST_F(FrmMainTest, ElsewhereTheWindowUsesTheUsersFoldersWritesNothingBesideItselfAndRemembersTheFrameDirectory)
{
    const QString blocked = root.filePath("not-a-directory"), home = root.filePath("home");
    const std::string build = root.filePath("build").toStdString();
    WriteFile(blocked.toStdString(), {});
    const QByteArray wasHome = qgetenv("HOME");
    for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_DATA_DIRS", "XDG_CONFIG_DIRS", "XDG_RUNTIME_DIR"})
        qputenv(name, (root.filePath(name)).toUtf8());
    qunsetenv("XDG_CURRENT_DESKTOP");
    // A browser registered for pages and mail links that notes the link it was given.
    const QString browser = root.filePath("browser"), noted = root.filePath("browser.ran");
    for (const char* folder : {"XDG_DATA_HOME/applications", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR"})
        ASSERT_TRUE(QDir().mkpath(root.filePath(folder)));
    std::ofstream(browser.toStdString()) << "#!/bin/sh\necho \"$*\" > \"$0.ran\"\n";
    std::filesystem::permissions(browser.toStdString(), std::filesystem::perms::owner_all);
    std::ofstream(root.filePath("XDG_DATA_HOME/applications/b.desktop").toStdString())
        << "[Desktop Entry]\nType=Application\nName=B\nExec=" << browser.toStdString() << " %u\nMimeType=text/html;\n";
    std::ofstream(root.filePath("XDG_CONFIG_HOME/mimeapps.list").toStdString())
        << "[Default Applications]\ntext/html=b.desktop\n";
    qputenv("BROWSER", browser.toUtf8()); // what xdg-open hands a mail link to on no desktop

    for (const QString& fakeHome : {home, blocked}) {
        qputenv("HOME", fakeHome.toUtf8());
        WatchedWindow w(app.toStdString(), build);
        EXPECT_EQ(std::tuple(w.TxtOut->text(), w.TxtDir->text(), w.OutputFolder()),
                  std::tuple(fakeHome + "/Videos/Reelcast/Demo000.avi", fakeHome == home ? home : "/no/such/frames dir",
                             (fakeHome + "/Videos/Reelcast").toStdString()));
        w.show();
        w.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
        QTest::qWait(50);
        for (const auto& [link, expected] : {std::pair{w.lblSite, "https://reelcast.example.org"},
                                             std::pair{w.lblMail, "mailto:support@reelcast.example.org"}}) {
            if (fakeHome != home)
                break;
            QFile::remove(noted);
            QTest::mouseClick(link, Qt::LeftButton);
            for (int i = 0; i < 250 && QFileInfo(noted).size() == 0; ++i)
                QTest::qWait(20);
            std::string said;
            std::getline(std::ifstream(noted.toStdString()), said);
            EXPECT_EQ(said, expected);
        }
        w.TxtDir->setText(fakeHome == home ? "/no/such/frames dir" : "");
        EXPECT_TRUE(w.close());
        w.show();
        EXPECT_TRUE(w.close());
        EXPECT_EQ(std::tuple(w.closings, w.storedAtClosing), std::tuple(1, w.TxtDir->text()));
    }
    EXPECT_EQ(FrmMain(app.toStdString(), build).TxtDir->text(), "");
    qputenv("HOME", wasHome);
    qunsetenv("BROWSER");
    EXPECT_EQ(QDir(app).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
    EXPECT_EQ(QDir(root.filePath("XDG_RUNTIME_DIR")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList())
        << "the page's private folder goes with it";
    ASSERT_EQ(messages.shown().size(), 1u);
    EXPECT_NE(messages.shown()[0].prompt.find((blocked + "/Videos/Reelcast").toStdString()), std::string::npos);
}

// Every control in its place (pixels at 96 dots per inch), with its text and
// face; the focus walks the window in its order; a path box shows its path's
// end once a path is put in it or the focus leaves it.
TEST_F(FrmMainTest, ControlsKeepTheirPlacesTextsFacesAndOrder)
{
    FrmMain w(app.toStdString(), app.toStdString());
    EXPECT_EQ(std::tuple(w.minimumSize(), w.maximumSize()), std::tuple(QSize(354, 359), QSize(354, 359)));
    enum Face { Plain, Bold, Italic, Small };
    const std::tuple<const char*, QRect, const char*, Face> controls[] = {
        {"Frame2", {8, 8, 337, 81}, "How it works:", Bold},
        {"Label6", {8, 18, 321, 58}, nullptr, Plain},
        {"FrameFile", {8, 96, 337, 89}, "File's Info:", Bold},
        {"Label1", {8, 26, 102, 17}, "Frames' Directory:", Italic},
        {"TxtDir", {112, 24, 185, 21}, nullptr, Plain},
        {"CmdBrowse", {304, 26, 17, 17}, "...", Small},
        {"Label2", {8, 58, 102, 17}, "OutPut File:", Italic},
        {"TxtOut", {112, 56, 185, 21}, nullptr, Plain},
        {"CmdBrowse2", {304, 58, 17, 17}, "...", Small},
        {"Frame1", {8, 192, 337, 89}, "Options:", Bold},
        {"Label4", {8, 26, 102, 17}, "Frame Per Second:", Italic},
        {"txtFps", {112, 24, 33, 21}, "15", Plain},
        {"ChkF", {8, 58, 164, 17}, "Force Movie's Dimentions:", Italic},
        {"Label3", {176, 58, 34, 17}, "Width:", Plain},
        {"TxtW", {210, 56, 33, 21}, "512", Plain},
        {"Label5", {250, 58, 38, 17}, "Height:", Plain},
        {"TxtH", {288, 56, 33, 21}, "384", Plain},
        {"CmdCreate", {8, 288, 73, 25}, "Create !", Plain},
        {"Status", {88, 292, 257, 17}, "Ready.", Plain},
        {"PB", {8, 320, 337, 9}, nullptr, Plain},
        {"lblSite", {8, 336, 150, 17}, "reelcast.example.org", Bold},
        {"lblMail", {165, 336, 180, 17}, nullptr, Bold}};
    for (const auto& [name, place, text, face] : controls) {
        SCOPED_TRACE(name);
        const QWidget* c = w.findChild<QWidget*>(name);
        ASSERT_TRUE(c);
        EXPECT_EQ(c->geometry(), place);
        const QVariant shown = c->property(qobject_cast<const QGroupBox*>(c) ? "title" : "text");
        EXPECT_TRUE(!text || shown.toString() == QString::fromUtf8(text)) << shown.toString().toStdString();
        const QFont f = c->font();
        EXPECT_EQ(std::tuple(f.family(), f.pointSizeF(), f.bold(), f.italic()),
                  std::tuple(WindowFontFamily(), face == Small ? 6.75 : 8.25, face == Bold, face == Italic));
    }
    QWidget* next = w.PB;
    for (QWidget* expected : std::initializer_list<QWidget*>{w.TxtDir, w.CmdBrowse, w.TxtOut, w.CmdBrowse2, w.txtFps,
                                                              w.ChkF, w.TxtW, w.TxtH, w.CmdCreate}) {
        do
            next = next->nextInFocusChain();
        while (next->focusPolicy() == Qt::NoFocus || !(next->focusPolicy() & Qt::TabFocus));
        EXPECT_EQ(next->objectName(), expected->objectName());
    }

    const QString longPath = QString("/a/very/long/way/down").repeated(8);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    // A file dropped on the window gives its folder; a web link is not taken.
    QMimeData file, page;
    file.setUrls({QUrl::fromLocalFile(longPath + "/shot0001.tga")});
    page.setUrls({QUrl("https://reelcast.example.org/a")});
    for (QMimeData* data : {&page, &file}) {
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&w, &enter);
        QCoreApplication::sendEvent(&w, &drop);
        EXPECT_EQ(std::tuple(w.acceptDrops(), enter.isAccepted(), drop.isAccepted()),
                  std::tuple(true, data == &file, data == &file));
    }
    EXPECT_EQ(std::tuple(w.TxtDir->text(), w.TxtDir->cursorPosition(), w.PB->hasFocus()),
              std::tuple(longPath, static_cast<int>(longPath.size()), true));
    for (QLineEdit* box : {w.TxtDir, w.TxtOut}) {
        box->setText(longPath);
        box->setFocus(Qt::MouseFocusReason);
        box->setCursorPosition(0);
        w.txtFps->setFocus(Qt::TabFocusReason);
        EXPECT_EQ(box->cursorPosition(), longPath.size()) << box->objectName().toStdString();
    }
}

namespace {

// The window as a desktop scaled by dpr shows it.
QImage Rendered(FrmMain& w, qreal dpr)
{
    QImage image((QSizeF(w.size()) * dpr).toSize(), QImage::Format_RGB32);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::white);
    w.render(&image);
    return image;
}

// Each pixel row of part of the window (given in its own pixels): its
// darkness, in the window's pixels, and whether it holds ink.
std::vector<std::pair<double, bool>> InkRows(const QImage& image, const QRect& part)
{
    const qreal dpr = image.devicePixelRatio();
    const QRect pixels = QRectF(QPointF(part.topLeft()) * dpr, QSizeF(part.size()) * dpr).toRect();
    std::vector<std::pair<double, bool>> rows;
    for (int y = pixels.top(); y <= pixels.bottom(); ++y) {
        auto& [ink, dark] = rows.emplace_back(0, false);
        for (int x = pixels.left(); x <= pixels.right(); ++x) {
            ink += (255 - qGray(image.pixel(x, y))) / (dpr * dpr);
            dark = dark || qGray(image.pixel(x, y)) < 160;
        }
    }
    return rows;
}

} // namespace

// At 100 %, 150 % and 200 % the captions are as much bolder than their
// regular weight as at 100 %, and the help text's four lines stand apart at
// the same spacing.
TEST_F(FrmMainTest, CaptionsStayBoldAndHelpLinesStayApartAtEveryScale)
{
    FrmMain bold(app.toStdString(), app.toStdString()), regular(app.toStdString(), app.toStdString());
    // A caption's text: a group box's title above its frame, a link label whole.
    std::vector<QRect> captions;
    for (QWidget* caption : std::initializer_list<QWidget*>{regular.Frame2, regular.FrameFile, regular.Frame1,
                                                            regular.lblSite, regular.lblMail}) {
        QFont font = caption->font();
        font.setBold(false);
        caption->setFont(font);
        const QRect r = caption->geometry();
        captions.push_back(qobject_cast<QGroupBox*>(caption) ? QRect(r.x(), r.y(), r.width(), QFontMetrics(font).height())
                                                             : r);
    }
    const auto ink = [](const QImage& image, const QRect& part) {
        double sum = 0;
        for (const auto& row : InkRows(image, part))
            sum += row.first;
        return sum;
    };
    const QRect help(bold.Frame2->mapTo(&bold, bold.Label6->geometry().topLeft()), bold.Label6->size());
    std::vector<double> boldnessAtFull, topsAtFull;
    for (const qreal dpr : {1.0, 1.5, 2.0}) {
        SCOPED_TRACE(testing::Message() << "scale " << dpr);
        const QImage b = Rendered(bold, dpr), r = Rendered(regular, dpr);
        for (std::size_t i = 0; i < captions.size(); ++i) {
            const double boldness = ink(b, captions[i]) / ink(r, captions[i]);
            if (dpr == 1.0)
                boldnessAtFull.push_back(boldness);
            EXPECT_GT(boldness, dpr == 1.0 ? 1.1 : 0.95 * boldnessAtFull[i]) << "caption " << i;
        }
        // Where each run of rows holding ink starts: a line of the help text.
        const auto rows = InkRows(b, help);
        std::vector<double> tops;
        for (std::size_t y = 0; y < rows.size(); ++y)
            if (rows[y].second && (y == 0 || !rows[y - 1].second))
                tops.push_back(y / dpr);
        ASSERT_EQ(tops.size(), 4u) << "four lines, none touching the next";
        if (dpr == 1.0)
            topsAtFull = tops;
        for (std::size_t i = 1; i < tops.size(); ++i)
            EXPECT_NEAR(tops[i] - tops[i - 1], topsAtFull[i] - topsAtFull[i - 1], 1.0) << "below line " << i;
    }
}
