// SPDX-License-Identifier: GPL-2.0-or-later
// The build run driven through the real window (offscreen): the button, the
// status line, the bar, the questions and closing the window mid-run.
#include "AviMovieReader.h"
#include "DoEvents.h"
#include "FrmMain.h"
#include "StopSignals.h"
#include "TestSupport.h"
#include "mdAVI.h"

#include <QApplication>
#include <QLocale>
#include <QSettings>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>

using namespace testsupport;

// Installed, with the user's folders (the window's own tests hold which): a
// drop sets the frame directory; a run shows its progress and offers the
// movie, a second asks before replacing it; a stop signal closes the window
// as the user would, and a press of "Cancel" stops the run after the frame
// in hand. The program's own folder stays as it was.
TEST(WindowRun, InstalledWindowRunsAsksAndClosesOnAStopSignal)
{
    TempDir appDir, frames, config, home;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromStdString(config.file("")));
    std::vector<AviOwnerWindow> owners;
    SetAviSaveOptionsProvider([&](AviOwnerWindow owner, std::uint32_t flags, AVICOMPRESSOPTIONS& o) {
        owners.push_back(owner);
        EXPECT_EQ(flags, ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE); // the key frames and the data rate offered
        o.fccType = mmioStringToFOURCC("vids", 0);
        o.fccHandler = mmioStringToFOURCC("FFV1", 0);
        return 1;
    });
    std::function<void()> onYield;
    SetDoEventsHandler([&] {
        QCoreApplication::processEvents();
        if (onYield)
            onYield();
    });
    const std::string wasHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::setenv("HOME", home.path().c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", home.file(".config").c_str(), 1);
    const StopSignals stopSignals;
    MsgBoxRecorder boxes(vbNo);
    const std::vector<Bytes> pictures = WriteFrames(frames, 10, 24, 10);
    std::string out;
    constexpr int kCancelPress = -1;
    // Which stop signal closes the window does not matter: the batch
    // program's tests go through every one.
    for (const int sig : {0, SIGTERM, kCancelPress}) {
        SCOPED_TRACE(sig > 0 ? strsignal(sig) : sig ? "Cancel pressed" : "a whole run");
        FrmMain w(appDir.path().string());
        CloseOnStopSignal(w);
        w.show();
        QCoreApplication::processEvents();
        if (sig == 0)
            out = w.TxtOut->text().toStdString(); // in the user's videos folder
        w.DropPath(frames.file("f001.tga"));
        EXPECT_EQ(w.TxtDir->text().toStdString(), frames.path().string());
        w.TxtOut->setText(QString::fromStdString(out + (sig > 0 ? strsignal(sig) : sig ? "cancel" : "")));
        std::vector<std::string> statuses;
        onYield = [&, n = 0]() mutable {
            statuses.push_back(w.Status->text().toStdString());
            EXPECT_EQ(w.CmdCreate->text(), "Cancel");
            if (++n == 1 + 6 * 2 + 1 && sig > 0) // frame 3's first yield: the next one sees the signal
                ::raise(sig);
            if (n == 1 + 6 * 2 + 2 && sig == kCancelPress) // frame 3 is still written
                w.CmdCreate->click();
        };
        w.CmdCreate->click();
        onYield = nullptr;
        EXPECT_EQ(owners, std::vector<AviOwnerWindow>{&w}); // the dialog is the window's
        owners.clear();
        const auto movie = avitest::ReadMovie(w.TxtOut->text().toStdString());
        ASSERT_EQ(movie.frames.size(), sig > 0 ? 3u : sig ? 4u : 10u) << movie.error;
        EXPECT_TRUE(movie.warnings.empty()) << movie.warnings.front();
        EXPECT_EQ(movie.frames[2], pictures[2]);
        // The window's frames pass through its bitmaps into its picture box.
        EXPECT_EQ(w.imL->picture().size(), QSize(movie.width, movie.height));
        EXPECT_TRUE(OnlyFrames(frames));
        EXPECT_EQ(std::tuple(w.CloseRequested(), w.Status->text(), w.CmdCreate->text()),
                  std::tuple(sig > 0, sig > 0 ? "Movie's creation stopped: the window was closed."
                                              : "Movie's Creation Completed!", "Create !"));
        if (sig)
            continue;
        // Each frame's status text divides by N + 1; the bar ends full.
        for (const char* text : {"File's Creation Status: 9.1%", "File's Creation Status: 81.8%"})
            EXPECT_NE(std::find(statuses.begin(), statuses.end(), text), statuses.end()) << text;
        EXPECT_EQ(w.Barra->width(), w.PB->width());
        // The same movie again: the window asks before replacing it, and a
        // No leaves it as it was.
        const Bytes made = ReadFile(out);
        w.CmdCreate->click();
        EXPECT_EQ(ReadFile(out), made);
        w.DropPath(home.path().string());
        EXPECT_EQ(w.TxtDir->text().toStdString(), home.path().string());
    }
    // The offer to watch after the whole run and after Cancel, none after a
    // stop signal.
    using Box = std::tuple<std::string, std::string, unsigned>; // prompt, title, style
    std::vector<Box> asked;
    for (const auto& shown : boxes.shown())
        asked.emplace_back(shown.prompt, shown.title, shown.style);
    const Box watch{"Movie's Creation Completed!\r\nDo you want to watch it?", "Open Avi File?", vbQuestion | vbYesNo};
    EXPECT_EQ(asked, (std::vector<Box>{watch, {out + " already exists.\r\nOverwrite it?", "Overwrite?", vbQuestion | vbYesNo},
                                       watch}));
    EXPECT_TRUE(std::filesystem::is_empty(appDir.path()));
    ::unsetenv("XDG_CONFIG_HOME");
    ::setenv("HOME", wasHome.c_str(), 1);
    SetDoEventsHandler({});
    SetAviSaveOptionsProvider({});
}
