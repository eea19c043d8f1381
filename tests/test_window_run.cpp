// SPDX-License-Identifier: GPL-2.0-or-later
#include "AviMovieReader.h"
#include "DoEvents.h"
#include "FrmMain.h"
#include "StopSignals.h"
#include "TestSupport.h"
#include "mdAVI.h"

#include <QCoreApplication>
#include <QLocale>
#include <QMouseEvent>
#include <QSettings>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fstream>

#include <unistd.h>

using namespace testsupport;

// The real window (offscreen), installed, with the user's folders: a run takes its options, shows its progress and
// offers the movie, opened in the program's folder on a Yes; the next asks before replacing it. A stop signal closes
// the window as the user would, "Cancel" stops the run after the frame in hand; the links go to their openers.
TEST(WindowRun, InstalledWindowRunsAsksOpensItsLinksAndClosesOnAStopSignal)
{
    TempDir appDir, frames, config, home;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromStdString(config.file("")));
    AviOwnerWindow window = nullptr; // the window in hand
    SetAviSaveOptionsProvider([&](AviOwnerWindow owner, std::uint32_t flags, AVICOMPRESSOPTIONS& o) {
        EXPECT_EQ(std::tuple(owner, flags), std::tuple(window, ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE));
        o.fccHandler = mmioStringToFOURCC("FFV1", 0);
        return 1;
    });
    using Box = std::tuple<std::string, unsigned, std::string>; // prompt, style, title
    std::vector<Box> asked; // answered Yes, No, Yes, No
    SetMsgBoxHandler([&](const std::string& p, unsigned style, const std::string& t) {
        asked.emplace_back(p, style, t);
        return asked.size() % 2 ? vbYes : vbNo;
    });
    // What xdg-open starts on no desktop, and "page", the program for pages: each notes where it runs and what it got.
    const std::string player = config.file("player"), page = config.file("page"), noted = player + ".ran";
    std::ofstream(player) << "#!/bin/sh\necho \"$PWD $*\" > \"$0.ran\"\n";
    std::filesystem::permissions(player, std::filesystem::perms::owner_all);
    std::filesystem::create_symlink(player, page);
    std::filesystem::create_directory(config.file("applications"));
    std::ofstream(config.file("applications/page.desktop"))
        << "[Desktop Entry]\nType=Application\nName=Page\nExec=" << page << " %u\nMimeType=text/html;\n";
    std::ofstream(config.file("mimeapps.list")) << "[Default Applications]\ntext/html=page.desktop\n";
    const auto said = [](const std::string& note) { // what was noted there, waited for
        std::string line;
        for (int i = 0; i < 250 && line.empty(); ++i, ::usleep(20000))
            std::getline(std::ifstream(note), line);
        std::filesystem::remove(note);
        return line;
    };
    const std::string h = home.path().string(), dir = config.path().string();
    for (const auto& [name, value] :
         {std::pair{"HOME", h}, {"BROWSER", player}, {"XDG_CONFIG_HOME", dir}, {"XDG_DATA_HOME", dir}})
        ::setenv(name, value.c_str(), 1);
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "XDG_CURRENT_DESKTOP", "XDG_RUNTIME_DIR", "XDG_CACHE_HOME"})
        ::unsetenv(name);
    const StopSignals stopSignals;
    const std::vector<Bytes> pictures = WriteFrames(frames, 10, 24, 10);
    const std::string out = FrmMain(appDir.path().string()).TxtOut->text().toStdString(); // in the user's videos folder
    for (const int sig : {0, SIGTERM, -1}) { // -1: Cancel; any stop signal would do, the batch's tests try each
        SCOPED_TRACE(sig > 0 ? strsignal(sig) : sig ? "Cancel pressed" : "a whole run");
        FrmMain w(appDir.path().string());
        window = &w;
        CloseOnStopSignal(w);
        w.show();
        w.DropPath(frames.path().string());
        const bool forced = sig < 0;
        w.TxtOut->setText(QString::fromStdString(forced ? out + "cancel" : out)); // the stopped run replaces the whole
        w.ChkF->setCheckState(forced ? Qt::PartiallyChecked : Qt::Unchecked); // grayed counts as forced
        for (auto [box, text] : {std::pair{w.TxtW, "16"}, std::pair{w.TxtH, "12"}, std::pair{w.txtFps, "25"}})
            box->setText(text);
        QStringList statuses; // the status and the bar's width, -1 when hidden
        SetDoEventsHandler([&, n = 0]() mutable {
            QCoreApplication::processEvents();
            statuses << QStringLiteral("%1 %2").arg(w.Status->text()).arg(w.Barra->isHidden() ? -1 : w.Barra->width());
            EXPECT_EQ(w.CmdCreate->text(), "Cancel");
            if (++n == 1 + 6 * 2 + 1 && sig > 0) // frame 3's first yield: the next one sees the signal
                ::raise(sig);
            if (n == 1 + 6 * 2 + 2 && forced) // frame 3 is still written
                w.CmdCreate->click();
        });
        w.CmdCreate->click();
        SetDoEventsHandler({});
        const auto movie = avitest::ReadMovie(w.TxtOut->text().toStdString());
        ASSERT_EQ(std::tuple(movie.frames.size(), movie.width, movie.height, movie.rateNum, movie.rateDen),
                  std::tuple(sig > 0 ? 3u : sig ? 4u : 10u, forced ? 16 : 24, forced ? 12 : 10, 25, 1)) << movie.error;
        // The window's frames pass through its bitmaps, none left, into its picture box.
        EXPECT_EQ(std::tuple(forced || movie.frames[2] == pictures[2], w.imL->picture().size(), OnlyFrames(frames),
                             movie.warnings.size(), w.CmdCreate->text(), w.CloseRequested(), w.Status->text()),
                  std::tuple(true, QSize(movie.width, movie.height), true, 0u, "Create !", sig > 0, sig > 0
                             ? "Movie's creation stopped: the window was closed." : "Movie's Creation Completed!"));
        if (sig)
            continue;
        EXPECT_EQ(said(noted), appDir.path().string() + " " + out);
        QMouseEvent click(QEvent::MouseButtonRelease, QPointF(1, 1), QPointF(1, 1), Qt::LeftButton, {}, {});
        for (LinkLabel* link : {w.lblSite, w.lblMail})
            QCoreApplication::sendEvent(link, &click);
        EXPECT_EQ(said(page + ".ran"), h + " https://reelcast.example.org");
        EXPECT_EQ(said(noted), h + " mailto:support@reelcast.example.org");
        // The bar shows the start, hides, shows each frame and ends full; the status divides by N + 1.
        for (const char* text : {"Ready. 3", "File's Creation Status: 9,1% -1", "File's Creation Status: 81,8% 270"})
            EXPECT_TRUE(statuses.contains(text)) << text;
        EXPECT_EQ(std::tuple(w.Barra->width(), FormatPercent(1234.56)), std::tuple(w.PB->width(), "1234,6"));
        WriteFile(out, {'x'}); // which a No keeps
        w.CmdCreate->click();
        EXPECT_EQ(ReadFile(out), Bytes{'x'});
    }
    // The offer to watch after the whole run and after Cancel, none after a stop signal.
    const Box watch{"Movie's Creation Completed!\r\nDo you want to watch it?", vbQuestion | vbYesNo, "Open Avi File?"},
        replace{out + " already exists.\r\nOverwrite it?", vbQuestion | vbYesNo, "Overwrite?"};
    EXPECT_EQ(asked, (std::vector<Box>{watch, replace, replace, watch}));
    EXPECT_TRUE(std::filesystem::is_empty(appDir.path())) << "nothing beside the program";
}
