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

namespace {

class WindowRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromStdString(config_.file("")));
        previousProvider_ = SetAviSaveOptionsProvider([this](AviOwnerWindow owner, std::uint32_t flags, AVICOMPRESSOPTIONS& o) {
            owners_.push_back(owner);
            // The dialog offers the key frames and the data rate.
            EXPECT_EQ(flags, ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE);
            o.fccType = mmioStringToFOURCC("vids", 0);
            o.fccHandler = mmioStringToFOURCC("FFV1", 0);
            return 1;
        });
        previousPump_ = SetDoEventsHandler([this] {
            QCoreApplication::processEvents();
            if (onYield_)
                onYield_();
        });
    }
    void TearDown() override
    {
        SetDoEventsHandler(previousPump_);
        SetAviSaveOptionsProvider(previousProvider_);
    }

    TempDir appDir_, frames_, config_;
    std::vector<AviOwnerWindow> owners_;
    std::function<void()> onYield_; // for the run's yields: set it after the window's start-up

private:
    AviSaveOptionsProvider previousProvider_;
    std::function<void()> previousPump_;
};

} // namespace

// A logout (SIGHUP) or a kill (SIGTERM) closes the window as the user would:
// the run stops at its next yield with its movie indexed, and nothing is left.
TEST_F(WindowRun, StopSignalsCloseTheWindowAndTheMovie)
{
    const auto pictures = WriteFrames(frames_, 10, 8, 8);
    const StopSignals stopSignals;
    for (const int sig : {SIGHUP, SIGTERM}) {
        SCOPED_TRACE(strsignal(sig));
        std::string out;
        {
            FrmMain w(appDir_.path().string());
            CloseOnStopSignal(w);
            w.show();
            w.TxtDir->setText(QString::fromStdString(frames_.path().string()));
            out = w.TxtOut->text().toStdString();
            MsgBoxRecorder boxes(vbNo);
            onYield_ = [&, n = 0]() mutable {
                EXPECT_EQ(w.CmdCreate->text(), "Cancel");
                if (++n == 1 + 6 * 2 + 1) // frame 3's first yield: the next one sees the signal
                    ::raise(sig);
            };
            w.CmdCreate->click();
            EXPECT_TRUE(w.CloseRequested());
            EXPECT_TRUE(boxes.shown().empty());
            EXPECT_EQ(owners_, std::vector<AviOwnerWindow>{&w}); // the dialog is the window's
            owners_.clear();
        }
        onYield_ = nullptr;
        const auto movie = avitest::ReadMovie(out);
        ASSERT_EQ(movie.frames.size(), 3u) << movie.error;
        EXPECT_TRUE(movie.warnings.empty()) << movie.warnings.front();
        EXPECT_EQ(movie.frames[2], pictures[2]);
        EXPECT_TRUE(OnlyFrames(frames_));
    }
}

// Installed where its directory cannot be written, the window keeps its
// movies in the user's videos folder, starts on the home folder and says
// nothing about it; a folder dropped on it, or a file inside one, sets the
// frame directory. The run then reports its progress on the window.
TEST_F(WindowRun, InstalledWindowUsesTheUsersFoldersAndTakesDrops)
{
    const ReadOnlyView bin(appDir_.path());
    if (!bin.ok())
        GTEST_SKIP() << "cannot mount a read-only view here";
    TempDir home;
    const std::string wasHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::setenv("HOME", home.path().c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", home.file(".config").c_str(), 1);
    MsgBoxRecorder boxes(vbNo);
    {
        FrmMain w(bin.path());
        w.show();
        QCoreApplication::processEvents();
        EXPECT_TRUE(boxes.shown().empty());
        EXPECT_EQ(w.TxtDir->text().toStdString(), home.path().string());
        const std::string out = w.TxtOut->text().toStdString();
        EXPECT_EQ(out, home.file("Videos/Reelcast/Demo000.avi"));

        const auto pictures = WriteFrames(frames_, 4, 24, 10);
        w.DropPath(frames_.file("f001.tga"));
        EXPECT_EQ(w.TxtDir->text().toStdString(), frames_.path().string());
        std::vector<std::string> statuses;
        onYield_ = [&] { statuses.push_back(w.Status->text().toStdString()); };
        w.CmdCreate->click();
        // Each frame's status text divides by N + 1.
        for (const char* text : {"File's Creation Status: 20.0%", "File's Creation Status: 60.0%"})
            EXPECT_NE(std::find(statuses.begin(), statuses.end(), text), statuses.end()) << text;
        EXPECT_EQ(w.Status->text(), "Movie's Creation Completed!");
        EXPECT_EQ(w.Barra->width(), w.PB->width());
        EXPECT_EQ(w.CmdCreate->text(), "Create !");
        const auto movie = avitest::ReadMovie(out);
        ASSERT_EQ(movie.frames.size(), 4u) << movie.error;
        EXPECT_EQ(movie.frames[3], pictures[3]);
        EXPECT_TRUE(OnlyFrames(frames_));
        // The same movie again: the window asks before replacing it, and a
        // No leaves it as it was.
        const Bytes made = ReadFile(out);
        w.CmdCreate->click();
        EXPECT_EQ(ReadFile(out), made);
        ASSERT_EQ(boxes.shown().size(), 2u);
        EXPECT_EQ(boxes.shown()[1].prompt, out + " already exists.\r\nOverwrite it?");
        EXPECT_EQ(boxes.shown()[1].title, "Overwrite?");
        EXPECT_EQ(boxes.shown()[1].style, vbQuestion | vbYesNo);
        w.DropPath(home.path().string());
        EXPECT_EQ(w.TxtDir->text().toStdString(), home.path().string());
    }
    ::unsetenv("XDG_CONFIG_HOME");
    ::setenv("HOME", wasHome.c_str(), 1);
    EXPECT_EQ(boxes.shown()[0].prompt, "Movie's Creation Completed!\r\nDo you want to watch it?");
    EXPECT_EQ(boxes.shown()[0].title, "Open Avi File?");
    EXPECT_EQ(boxes.shown()[0].style, vbQuestion | vbYesNo);
}
