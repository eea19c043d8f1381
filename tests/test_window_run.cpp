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
    for (const int sig : {0, SIGHUP, SIGTERM, kCancelPress}) {
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
        EXPECT_TRUE(OnlyFrames(frames));
        EXPECT_EQ(w.CloseRequested(), sig > 0);
        if (sig == kCancelPress) {
            EXPECT_EQ(std::tuple(w.Status->text(), w.CmdCreate->text(), boxes.shown().back().title),
                      std::tuple("Movie's Creation Completed!", "Create !", "Open Avi File?"));
        }
        if (sig)
            continue;
        // Each frame's status text divides by N + 1.
        for (const char* text : {"File's Creation Status: 9.1%", "File's Creation Status: 81.8%"})
            EXPECT_NE(std::find(statuses.begin(), statuses.end(), text), statuses.end()) << text;
        EXPECT_EQ(std::tuple(w.Status->text(), w.Barra->width(), w.CmdCreate->text()),
                  std::tuple("Movie's Creation Completed!", w.PB->width(), "Create !"));
        // The same movie again: the window asks before replacing it, and a
        // No leaves it as it was.
        const Bytes made = ReadFile(out);
        w.CmdCreate->click();
        EXPECT_EQ(ReadFile(out), made);
        ASSERT_EQ(boxes.shown().size(), 2u);
        EXPECT_EQ(std::tuple(boxes.shown()[0].prompt, boxes.shown()[0].title, boxes.shown()[0].style),
                  std::tuple("Movie's Creation Completed!\r\nDo you want to watch it?", "Open Avi File?",
                             vbQuestion | vbYesNo));
        EXPECT_EQ(std::tuple(boxes.shown()[1].prompt, boxes.shown()[1].title, boxes.shown()[1].style),
                  std::tuple(out + " already exists.\r\nOverwrite it?", "Overwrite?", vbQuestion | vbYesNo));
        w.DropPath(home.path().string());
        EXPECT_EQ(w.TxtDir->text().toStdString(), home.path().string());
    }
    EXPECT_EQ(boxes.shown().size(), 3u) << "no question after a stop signal, the offer to watch after Cancel";
    EXPECT_TRUE(std::filesystem::is_empty(appDir.path()));
    ::unsetenv("XDG_CONFIG_HOME");
    ::setenv("HOME", wasHome.c_str(), 1);
    SetDoEventsHandler({});
    SetAviSaveOptionsProvider({});
}
