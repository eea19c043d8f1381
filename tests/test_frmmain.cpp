// SPDX-License-Identifier: GPL-2.0-or-later
#include "FileError.h"
#include "FrmMain.h"
#include "TestSupport.h"

#include <QDir>
#include <QMimeData>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

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
    const std::string a = app.toStdString();
    MsgBoxRecorder messages;
};

// Notes what the settings file holds each time the close hook runs.
struct WatchedWindow : FrmMain {
    using FrmMain::FrmMain;
    QStringList stored;
    void OnClosing() override
    {
        const QSettings settings(QSettings::IniFormat, QSettings::UserScope, "Reelcast", "RCT");
        stored << settings.value("FileInfo/FrameDirectory").toString();
    }
};

} // namespace

// Beside its build tree (by any path; not a copy or a staged install) the window proposes the first free Demo number;
// elsewhere it keeps to the user's folders, writes nothing beside the program and tells when the videos folder cannot
// be made. The frame directory, even empty, is stored before the close hook runs, once, and offered at the next start.
TEST_F(FrmMainTest, TheWindowKeepsItsMoviesBesideItsBuildTreeElseInTheUsersFoldersAndRemembersTheFrameDirectory)
{
    const QString copy = root.filePath("stage/usr/bin"), link = root.filePath("link");
    ASSERT_TRUE(QDir().mkpath(copy) && QFile::link(app, link));
    for (const auto& [program, expected] : std::initializer_list<std::pair<std::string, bool>>{
             {a, true}, {link.toStdString(), true}, {a + "/../app", true}, {copy.toStdString(), false}, {"", false}})
        EXPECT_EQ(RunsFromBuildTree(program, a), expected) << program;
    // Numbers from..to taken (none: the folder is made); all 999 taken, the last is proposed. Trailing separators are
    // dropped; the title gives the version.
    const std::tuple<int, int, int> cases[] = {{0, -1, 0}, {0, 1, 2}, {1, 1, 0}, {0, 998, 998}};
    for (const auto& [from, to, proposed] : cases) {
        const QString dir = root.filePath(QStringLiteral("app%1-%2").arg(from).arg(to)), out = dir + "/OutPut/";
        auto demo = [&](int n) { return out + QStringLiteral("Demo%1.avi").arg(n, 3, 10, QLatin1Char('0')); };
        ASSERT_TRUE(QDir().mkpath(from <= to ? out : dir));
        for (int n = from; n <= to; ++n)
            WriteFile(demo(n).toStdString(), {});
        FrmMain w((dir + "//").toStdString(), dir.toStdString());
        EXPECT_EQ(std::tuple(w.TxtOut->text(), w.TxtDir->text(), QFileInfo(out).isDir(), w.StartupProblems().empty()),
                  std::tuple(demo(proposed), dir, true, true));
        EXPECT_EQ(w.windowTitle(), "Reelcast " + QString(REELCAST_VERSION).section('.', 0, 1));
    }

    const QString blocked = root.filePath("not-a-directory"), home = root.filePath("home");
    const std::string build = root.filePath("build").toStdString();
    WriteFile(blocked.toStdString(), {});
    const QByteArray wasHome = qgetenv("HOME");
    qputenv("XDG_CONFIG_HOME", root.filePath("config").toUtf8()); // where the videos folder could be named
    for (const QString& fakeHome : {home, blocked}) {
        qputenv("HOME", fakeHome.toUtf8());
        WatchedWindow w(a, build);
        EXPECT_EQ(std::tuple(w.TxtOut->text(), w.TxtDir->text(), w.OutputFolder()),
                  std::tuple(fakeHome + "/Videos/Reelcast/Demo000.avi", fakeHome == home ? home : "/no/such/frames ",
                             (fakeHome + "/Videos/Reelcast").toStdString()));
        w.show();
        // The first showing gives the path boxes' ends and, once, tells the startup problem.
        ASSERT_TRUE(QTest::qWaitFor([&] { return w.PB->hasFocus() && messages.shown().size() == (fakeHome == blocked); }));
        w.TxtDir->setText(fakeHome == home ? "/no/such/frames " : "");
        EXPECT_TRUE(w.close());
        w.show();
        EXPECT_TRUE(w.close());
        EXPECT_EQ(w.stored, QStringList{w.TxtDir->text()});
    }
    const std::string c = copy.toStdString();
    WriteFile(c + "/OutPut", {}); // a plain file of that name is taken as there
    const FrmMain again(a, build), top("/", build), own, plain(c, c); // "/" stays itself; none: the program's folder
    EXPECT_EQ(std::tuple(again.TxtDir->text(), top.AppDirectory(), own.AppDirectory(), plain.OutputFolder()),
              std::tuple("", "/", QCoreApplication::applicationDirPath().toStdString(), c + "/OutPut"));
    qputenv("HOME", wasHome);
    EXPECT_EQ(QDir(app).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
    ASSERT_EQ(messages.shown().size(), 1u);
    const auto& [told, style, title] = messages.shown()[0];
    EXPECT_EQ(std::tuple(told.find((blocked + "/Videos/Reelcast").toStdString()) != std::string::npos, style, title),
              std::tuple(true, unsigned{vbExclamation}, "Reelcast"));
}

// Every control in its place (pixels at 96 dots per inch), with its text, face and focus order; at 100 %, 150 % and
// 200 % the help text's four lines as far apart as at 100 %. A path box shows its path's end once a path is put in it
// or the focus leaves it for where the user put it; a picker fills its box or changes nothing. The hidden picture box
// hands on the bitmap, and names a file it cannot decode.
TEST_F(FrmMainTest, ControlsKeepTheirPlacesTextsFacesAndOrderPickersFillTheirBoxAndLoadPicNamesTheBitmap)
{
    FrmMain w(a, a);
    EXPECT_EQ(std::tuple(w.minimumSize(), w.maximumSize()), std::tuple(QSize(354, 359), QSize(354, 359)));
    enum Face { Plain, Bold, Italic, Small };
    const std::tuple<const char*, QRect, const char*, Face> controls[] = {
        {"Frame2", {8, 8, 337, 81}, "How it works:", Bold},        {"Label6", {8, 18, 321, 58}, nullptr, Plain},
        {"FrameFile", {8, 96, 337, 89}, "File's Info:", Bold},     {"TxtDir", {112, 24, 185, 21}, nullptr, Plain},
        {"Label1", {8, 26, 102, 17}, "Frames' Directory:", Italic}, {"CmdBrowse", {304, 26, 17, 17}, "...", Small},
        {"Label2", {8, 58, 102, 17}, "OutPut File:", Italic},      {"TxtOut", {112, 56, 185, 21}, nullptr, Plain},
        {"CmdBrowse2", {304, 58, 17, 17}, "...", Small},           {"Frame1", {8, 192, 337, 89}, "Options:", Bold},
        {"Label4", {8, 26, 102, 17}, "Frame Per Second:", Italic}, {"txtFps", {112, 24, 33, 21}, "15", Plain},
        {"ChkF", {8, 58, 164, 17}, "Force Movie's Dimentions:", Italic},
        {"Label3", {176, 58, 34, 17}, "Width:", Plain},            {"TxtW", {210, 56, 33, 21}, "512", Plain},
        {"Label5", {250, 58, 38, 17}, "Height:", Plain},           {"TxtH", {288, 56, 33, 21}, "384", Plain},
        {"CmdCreate", {8, 288, 73, 25}, "Create !", Plain},        {"Status", {88, 292, 257, 17}, "Ready.", Plain},
        {"PB", {8, 320, 337, 9}, nullptr, Plain},                  {"lblMail", {165, 336, 180, 17}, nullptr, Bold},
        {"lblSite", {8, 336, 150, 17}, "reelcast.example.org", Bold}, {"imL", {8, 8, 32, 32}, nullptr, Plain}};
    for (const auto& [name, place, text, face] : controls) {
        SCOPED_TRACE(name);
        const QWidget* c = w.findChild<QWidget*>(name);
        ASSERT_TRUE(c);
        const QString shown = c->property(qobject_cast<const QGroupBox*>(c) ? "title" : "text").toString();
        const QFont f = c->font();
        EXPECT_EQ(std::tuple(c->geometry(), text ? shown : "", f.family(), f.pointSizeF(), f.bold(), f.italic()),
                  std::tuple(place, text ? text : "", WindowFontFamily(), face == Small ? 6.75 : 8.25, face == Bold,
                             face == Italic));
    }
    // The bar dark red and empty, the hidden picture box grey, the links blue.
    EXPECT_EQ(std::tuple(w.Barra->palette().color(QPalette::Window), w.Barra->autoFillBackground(), w.Barra->width(),
                         w.imL->palette().color(QPalette::Window), w.imL->autoFillBackground(), w.imL->isHidden(),
                         w.lblSite->palette().color(QPalette::WindowText)),
              std::tuple(QColor(128, 0, 0), true, 0, QColor(128, 128, 128), true, true, QColor(0, 0, 255)));
    EXPECT_EQ(w.lblMail->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    QStringList order;
    for (QWidget* next = w.PB->nextInFocusChain(); next != w.PB; next = next->nextInFocusChain())
        if (next->focusPolicy() & Qt::TabFocus)
            order << next->objectName();
    EXPECT_EQ(order.join(' '), "TxtDir CmdBrowse TxtOut CmdBrowse2 txtFps ChkF TxtW TxtH CmdCreate");
    const QRect help(w.Frame2->mapTo(&w, w.Label6->geometry().topLeft()), w.Label6->size());
    std::vector<double> topsAtFull;
    for (const qreal dpr : {1.0, 1.5, 2.0}) {
        SCOPED_TRACE(testing::Message() << "scale " << dpr);
        QImage image((QSizeF(w.size()) * dpr).toSize(), QImage::Format_RGB32);
        image.setDevicePixelRatio(dpr);
        image.fill(Qt::white);
        w.render(&image);
        const QRect pixels = QRectF(QPointF(help.topLeft()) * dpr, QSizeF(help.size()) * dpr).toRect();
        // Where each run of pixel rows holding ink starts, in the window's pixels: a line of the help text each.
        std::vector<double> tops;
        for (int y = pixels.top(), inked = 0; y <= pixels.bottom(); ++y) {
            const int above = std::exchange(inked, 0);
            for (int x = pixels.left(); x <= pixels.right(); ++x)
                inked |= qGray(image.pixel(x, y)) < 160;
            if (inked && !above)
                tops.push_back((y - pixels.top()) / dpr);
        }
        ASSERT_EQ(tops.size(), 4u) << "four lines, none touching the next";
        if (dpr == 1.0)
            topsAtFull = tops;
        for (std::size_t i = 1; i < tops.size(); ++i)
            EXPECT_NEAR(tops[i] - tops[i - 1], topsAtFull[i] - topsAtFull[i - 1], 1.0) << "below line " << i;
    }

    const QString longPath = QString("/a/very/long/way/down").repeated(8);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    // A file dropped on the window gives its folder; a web link is not taken.
    for (const QUrl& url : {QUrl("https://reelcast.example.org/a"), QUrl::fromLocalFile(longPath + "/shot0001.tga")}) {
        QMimeData data;
        data.setUrls({url});
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&w, &enter);
        QCoreApplication::sendEvent(&w, &drop);
        EXPECT_EQ(std::tuple(enter.isAccepted(), drop.isAccepted()), std::tuple(url.isLocalFile(), url.isLocalFile()));
    }
    EXPECT_EQ(std::tuple(w.acceptDrops(), w.TxtDir->text(), w.TxtDir->cursorPosition(), w.PB->hasFocus()),
              std::tuple(true, longPath, static_cast<int>(longPath.size()), true));
    for (QLineEdit* box : {w.TxtDir, w.TxtOut}) {
        box->setText(longPath);
        box->setFocus(Qt::MouseFocusReason);
        box->setCursorPosition(0);
        w.txtFps->setFocus(Qt::TabFocusReason);
        EXPECT_EQ(std::tuple(box->cursorPosition(), box->hasSelectedText(), w.txtFps->hasFocus()),
                  std::tuple(longPath.size(), false, true))
            << box->objectName().toStdString();
    }

    std::string chosen;
    FileDialogRequest r; // the output picker's last request
    w.SetFolderBrowser([&](QWidget* owner, const QString& title) {
        EXPECT_EQ(std::tuple(owner, title), std::tuple(&w, "Select Frame's Directory:"));
        return chosen;
    });
    w.cDialog.SetPresenter([&](const FileDialogRequest& request) {
        r = request;
        return chosen.empty() ? FileDialogAnswer{} : FileDialogAnswer{true, {chosen}, 0};
    });
    for (auto [button, box] : {std::pair{w.CmdBrowse, w.TxtDir}, std::pair{w.CmdBrowse2, w.TxtOut}}) {
        chosen = {};
        button->click();
        EXPECT_EQ(box->text(), longPath);
        chosen = "/home/someone/a long way/to/the/final cut";
        w.txtFps->setFocus();
        w.TxtDir->setCursorPosition(0);
        w.TxtOut->setCursorPosition(0);
        button->click();
        EXPECT_EQ(std::tuple(box->text().toStdString(), w.TxtDir->cursorPosition(), w.TxtOut->cursorPosition(),
                             w.PB->hasFocus()),
                  std::tuple(chosen, w.TxtDir->text().size(), w.TxtOut->text().size(), true));
    }
    EXPECT_EQ(std::tuple(r.save, r.title, r.defaultExtension, r.initialDirectory, r.filters.at(0).pattern),
              std::tuple(true, "Select Output Avi File...", "*.avi", a + "/OutPut", "*.avi"));

    const Bytes picture = PatternPixels(5, 3, 4);
    const std::string bmp = root.filePath("f.tga.bmp").toStdString(), broken = root.filePath("broken.bmp").toStdString();
    WriteFile(bmp, BitmapFileOf(5, 3, picture));
    WriteFile(broken, {'B', 'M', ' ', 'n', 'o', ' ', 'b', 'i', 't'});
    EXPECT_EQ(w.loadPic(bmp, true, true, true), bmp);
    EXPECT_EQ(w.imL->picture().pixel(4, 0), qRgb(picture[14], picture[13], picture[12])) << "top right, blue first";
    EXPECT_THAT([&] { w.loadPic(broken, false, false, true); },
                testing::Throws<FileError>(testing::Property(&FileError::path, broken)));
    EXPECT_EQ(w.imL->picture().size(), QSize(5, 3)) << "the picture shown stays";
}
