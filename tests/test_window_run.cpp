// The build run driven through the real window (offscreen): the button, the
// status line, the bar, the questions and closing the window mid-run.
#include "AviMovieReader.h"
#include "DoEvents.h"
#include "FrmMain.h"
#include "TestSupport.h"
#include "mdAVI.h"

#include <QApplication>
#include <QLocale>
#include <QSettings>

#include <gtest/gtest.h>

#include <cstdio>

using namespace testsupport;

namespace {

class WindowRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromStdString(config_.file("")));
        previousProvider_ = SetAviSaveOptionsProvider([this](AviOwnerWindow owner, std::uint32_t, AVICOMPRESSOPTIONS& o) {
            owners_.push_back(owner);
            o.fccType = mmioStringToFOURCC("vids", 0);
            o.fccHandler = mmioStringToFOURCC("FFV1", 0);
            return 1;
        });
        previousPump_ = SetDoEventsHandler([this] {
            QCoreApplication::processEvents();
            ++yields_;
            if (onYield_)
                onYield_(yields_);
        });
    }
    void TearDown() override
    {
        SetDoEventsHandler(previousPump_);
        SetAviSaveOptionsProvider(previousProvider_);
    }

    std::vector<Bytes> MakeFrames(int n, int w, int h)
    {
        std::vector<Bytes> pictures;
        for (int i = 0; i < n; ++i) {
            pictures.push_back(PatternPixels(w, h, static_cast<unsigned>(i * 3)));
            char name[32];
            std::snprintf(name, sizeof name, "demo%03d.tga", i);
            WriteFile(frames_.file(name), MakeTarga(w, h, pictures.back()));
        }
        return pictures;
    }

    std::size_t Leftovers() const
    {
        std::size_t n = 0;
        for (const auto& e : std::filesystem::directory_iterator(frames_.path()))
            n += e.path().extension() != ".tga";
        return n;
    }

    TempDir appDir_, frames_, config_;
    std::vector<AviOwnerWindow> owners_;
    int yields_ = 0;
    std::function<void(int)> onYield_;

private:
    AviSaveOptionsProvider previousProvider_;
    std::function<void()> previousPump_;
};

} // namespace

TEST_F(WindowRun, CreateBuildsTheMovieAndReportsProgress)
{
    const auto pictures = MakeFrames(4, 24, 10);
    FrmMain w(appDir_.path().string());
    w.show();
    w.TxtDir->setText(QString::fromStdString(frames_.path().string()));
    const std::string out = w.TxtOut->text().toStdString();
    EXPECT_EQ(out, appDir_.file("OutPut/Demo000.avi"));
    w.txtFps->setText("25");

    std::vector<std::string> statuses;
    std::vector<std::pair<int, bool>> bars;
    onYield_ = [&](int) {
        statuses.push_back(w.Status->text().toStdString());
        bars.emplace_back(w.Barra->width(), w.Barra->isVisible());
        EXPECT_EQ(w.CmdCreate->text(), "Cancel");
    };
    MsgBoxRecorder boxes(vbNo);
    yields_ = 0; // count the run's yields only, not the start-up's
    w.CmdCreate->click();

    EXPECT_EQ(w.CmdCreate->text(), "Create !");
    EXPECT_EQ(w.Status->text(), "Movie's Creation Completed!");
    EXPECT_EQ(w.Barra->width(), w.PB->width());
    EXPECT_TRUE(w.Barra->isVisible());
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].title, "Open Avi File?");
    ASSERT_EQ(owners_.size(), 1u);
    EXPECT_EQ(owners_[0], static_cast<QWidget*>(&w)); // the dialog is the window's
    // The yield before the loop sees the bar at 1; each frame's status text
    // divides by N + 1, the bar by N.
    ASSERT_FALSE(bars.empty());
    EXPECT_TRUE(bars[0].second);
    EXPECT_EQ(bars[0].first, static_cast<int>(std::lround(w.PB->width() / 100.0 * 1)));
    for (const char* text : {"File's Creation Status: 20.0%", "File's Creation Status: 40.0%",
                             "File's Creation Status: 60.0%"})
        EXPECT_NE(std::find(statuses.begin(), statuses.end(), text), statuses.end()) << text;
    EXPECT_NE(std::find(bars.begin(), bars.end(), std::make_pair(static_cast<int>(std::lround(w.PB->width() * 0.5)), true)),
              bars.end());

    const auto movie = avitest::ReadMovie(out);
    ASSERT_TRUE(movie.opened) << movie.error;
    EXPECT_EQ(movie.rateNum * 1.0 / movie.rateDen, 25.0);
    ASSERT_EQ(movie.frames.size(), 4u);
    for (std::size_t k = 1; k < 4; ++k)
        EXPECT_EQ(movie.frames[k], pictures[k]);
    EXPECT_EQ(Leftovers(), 0u);
}

TEST_F(WindowRun, SecondPressCancelsAfterTheFrameInHand)
{
    MakeFrames(10, 8, 8);
    FrmMain w(appDir_.path().string());
    w.show();
    w.TxtDir->setText(QString::fromStdString(frames_.path().string()));
    const std::string out = w.TxtOut->text().toStdString();
    onYield_ = [&](int n) {
        if (n == 1 + 6 * 3 + 1)
            w.CmdCreate->click(); // reads "Cancel" now
    };
    MsgBoxRecorder boxes(vbNo);
    yields_ = 0;
    w.CmdCreate->click();
    EXPECT_EQ(w.CmdCreate->text(), "Create !");
    EXPECT_EQ(w.Status->text(), "Movie's Creation Completed!");
    EXPECT_EQ(avitest::ReadMovie(out).frames.size(), 5u); // position 0 and frames 1 to 4
    EXPECT_EQ(Leftovers(), 0u);
    EXPECT_TRUE(w.CancelRequested);
}

TEST_F(WindowRun, ClosingTheWindowMidRunClosesTheMovieAndKeepsTheSetting)
{
    MakeFrames(10, 8, 8);
    std::string out;
    {
        FrmMain w(appDir_.path().string());
        w.show();
        const std::string dir = frames_.path().string();
        w.TxtDir->setText(QString::fromStdString(dir));
        out = w.TxtOut->text().toStdString();
        onYield_ = [&](int n) {
            if (n == 1 + 6 * 2 + 4)
                w.close();
        };
        MsgBoxRecorder boxes(vbYes);
        yields_ = 0;
        w.CmdCreate->click();
        EXPECT_TRUE(boxes.shown().empty()); // no offer to open: the window is gone
        EXPECT_TRUE(w.CloseRequested());
    }
    onYield_ = nullptr;
    const auto movie = avitest::ReadMovie(out);
    ASSERT_TRUE(movie.opened) << movie.error;
    EXPECT_EQ(movie.frames.size(), 4u); // frame 3 was in hand and written; the run stopped after it
    EXPECT_EQ(Leftovers(), 0u);
    FrmMain again(appDir_.path().string());
    EXPECT_EQ(again.TxtDir->text().toStdString(), frames_.path().string());
}

TEST_F(WindowRun, NoFramesIsOneMessageAndTheWindowStaysUsable)
{
    FrmMain w(appDir_.path().string());
    w.show();
    w.TxtDir->setText(QString::fromStdString(frames_.path().string()));
    MsgBoxRecorder boxes;
    w.CmdCreate->click();
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].title, "Error!");
    EXPECT_EQ(boxes.shown()[0].prompt, "There's no TGA files in:\r\n" + frames_.path().string());
    EXPECT_EQ(w.CmdCreate->text(), "Create !");
    EXPECT_EQ(w.Status->text(), "Ready.");
    MakeFrames(2, 4, 4);
    MsgBoxRecorder again(vbNo);
    w.CmdCreate->click();
    EXPECT_EQ(w.Status->text(), "Movie's Creation Completed!");
}
