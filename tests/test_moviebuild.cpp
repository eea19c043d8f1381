// The movie build run, end to end, through a front end made of plain
// members: generated Targa sequences in, movies read back with FFmpeg out.
#include "AviMovieReader.h"
#include "DoEvents.h"
#include "MovieBuild.h"
#include "TestSupport.h"
#include "mdAVI.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

using namespace testsupport;

namespace {

class FakeHost : public MovieBuildHost {
public:
    std::string caption = "Create !";
    std::string w = "512", h = "384", fps = "15", dir, out;
    int chkF = 0;
    std::vector<std::string> statuses;
    std::vector<float> progress;
    std::vector<std::string> captions;
    std::vector<std::string> opened;
    std::vector<std::string> loaded;
    bool closing = false;

    std::string CreateCaption() const override { return caption; }
    void SetCreateCaption(const std::string& c) override
    {
        caption = c;
        captions.push_back(c);
    }
    std::string WidthText() const override { return w; }
    std::string HeightText() const override { return h; }
    std::string FpsText() const override { return fps; }
    std::string DirectoryText() const override { return dir; }
    std::string OutputText() const override { return out; }
    int ForceValue() const override { return chkF; }
    void SetStatus(const std::string& s) override { statuses.push_back(s); }
    void ShowProgress(float p) override { progress.push_back(p); }
    std::string FormatPercent(double p) const override
    {
        char text[32];
        std::snprintf(text, sizeof text, "%.1f", p);
        return text;
    }
    std::string loadPic(const std::string& f, bool, bool, bool) override
    {
        loaded.push_back(f);
        if (!std::filesystem::exists(f))
            throw std::runtime_error("cannot load " + f);
        return f;
    }
    AviOwnerWindow OwnerWindow() override { return nullptr; }
    void OpenMovie(const std::string& p) override { opened.push_back(p); }
    bool Closing() const override { return closing; }
};

// Answers the compression dialog with a compressor, or refuses it.
class DialogAnswer {
public:
    explicit DialogAnswer(const std::string& codec, bool accept = true)
    {
        std::uint32_t fcc = 0;
        for (const auto& c : AviCompressors())
            if (c.name == codec)
                fcc = c.fccHandler;
        previous_ = SetAviSaveOptionsProvider([=, this](AviOwnerWindow, std::uint32_t flags, AVICOMPRESSOPTIONS& o) {
            ++shown;
            lastFlags = flags;
            o.fccType = mmioStringToFOURCC("vids", 0);
            o.fccHandler = fcc;
            o.dwQuality = 7500;
            return accept ? 1 : 0;
        });
    }
    ~DialogAnswer() { SetAviSaveOptionsProvider(previous_); }
    int shown = 0;
    std::uint32_t lastFlags = 0;

private:
    AviSaveOptionsProvider previous_;
};

// Counts yields and runs an action at the k-th one.
class YieldHook {
public:
    YieldHook(int at, std::function<void()> action)
    {
        previous_ = SetDoEventsHandler([=, this] {
            if (++count == at)
                action();
        });
    }
    ~YieldHook() { SetDoEventsHandler(previous_); }
    int count = 0;

private:
    std::function<void()> previous_;
};

struct Sequence {
    TempDir dir;
    std::vector<Bytes> pictures; // top row first
    int width, height;

    Sequence(int n, int w, int h, const std::string& prefix = "shot") : width(w), height(h)
    {
        for (int i = 0; i < n; ++i) {
            pictures.push_back(PatternPixels(w, h, static_cast<unsigned>(i * 5 + 1)));
            char name[64];
            std::snprintf(name, sizeof name, "%s%04d.tga", prefix.c_str(), i);
            TargaOptions o;
            o.topFirst = i % 2 == 1; // both origins in one movie
            WriteFile(dir.file(name), MakeTarga(w, h, pictures.back(), o));
        }
    }
    std::string frames() const { return dir.path().string(); }
    std::vector<std::string> Files() const
    {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir.path()))
            if (e.is_regular_file())
                names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::map<std::string, Bytes> Contents() const
    {
        std::map<std::string, Bytes> all;
        for (const auto& name : Files())
            all[name] = ReadFile(dir.file(name));
        return all;
    }
};

std::vector<std::string> TgaNames(int n)
{
    std::vector<std::string> names;
    char name[64];
    for (int i = 0; i < n; ++i) {
        std::snprintf(name, sizeof name, "shot%04d.tga", i);
        names.push_back(name);
    }
    return names;
}

FakeHost HostFor(const Sequence& seq, const std::string& out)
{
    FakeHost host;
    host.dir = seq.frames();
    host.out = out;
    return host;
}

BuildResult Press(FakeHost& host, BuildState& state)
{
    return CmdCreate_Click(host, state, SharedFrameImage());
}

} // namespace

class LosslessRun : public ::testing::TestWithParam<std::string> {};

TEST_P(LosslessRun, NFilesGiveNFramesWithFilesTwoToNAsPictures)
{
    const int n = 5;
    Sequence seq(n, 33, 17);
    TempDir outDir;
    FakeHost host = HostFor(seq, outDir.file("movie.avi"));
    host.fps = "25";
    DialogAnswer dialog(GetParam());
    MsgBoxRecorder boxes(vbNo);
    BuildState state;

    const BuildResult result = Press(host, state);
    EXPECT_EQ(result.outcome, BuildOutcome::Created);
    EXPECT_EQ(result.framesWritten, n - 1);
    EXPECT_EQ(dialog.shown, 1);
    EXPECT_EQ(dialog.lastFlags, ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE);

    const auto movie = avitest::ReadMovie(host.out);
    ASSERT_TRUE(movie.opened) << movie.error;
    EXPECT_EQ(movie.width, 33);
    EXPECT_EQ(movie.height, 17);
    EXPECT_EQ(movie.rateNum * 1.0 / movie.rateDen, 25.0);
    ASSERT_EQ(movie.frames.size(), static_cast<std::size_t>(n));
    for (int k = 1; k < n; ++k)
        EXPECT_EQ(movie.frames[static_cast<std::size_t>(k)], seq.pictures[static_cast<std::size_t>(k)])
            << "movie frame " << k;
    EXPECT_TRUE(movie.warnings.empty()) << movie.warnings.front();

    // Nothing left beside the frames, and the frames as they were.
    EXPECT_EQ(seq.Files(), TgaNames(n));
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].title, "Open Avi File?");
    EXPECT_EQ(boxes.shown()[0].prompt, "Movie's Creation Completed!\r\nDo you want to watch it?");
    EXPECT_EQ(host.caption, "Create !");
    EXPECT_TRUE(state.CancelRequested);
}

INSTANTIATE_TEST_SUITE_P(Compressors, LosslessRun, ::testing::Values("raw", "ffv1", "huffyuv", "utvideo", "zmbv"));

TEST(MovieBuild, FrameRateTextsGiveTheHeaderRate)
{
    const std::pair<const char*, int> cases[] = {{"", 15},  {"0", 15},   {"-3", 15},   {"51", 15},  {"60", 15},
                                                 {"40", 30}, {"50", 30}, {"31", 30},  {"30", 30},  {"25", 25},
                                                 {"15.5", 16}, {"14.5", 14}, {"12abc", 12}, {"1 0", 10}};
    Sequence seq(2, 8, 8);
    TempDir outDir;
    DialogAnswer dialog("raw");
    MsgBoxRecorder boxes(vbNo);
    for (const auto& [text, rate] : cases) {
        FakeHost host = HostFor(seq, outDir.file("rate.avi"));
        host.fps = text;
        BuildState state;
        std::filesystem::remove(host.out);
        ASSERT_EQ(Press(host, state).outcome, BuildOutcome::Created) << text;
        const auto movie = avitest::ReadMovie(host.out, false, false);
        ASSERT_TRUE(movie.opened);
        EXPECT_EQ(movie.rateNum * 1.0 / movie.rateDen, rate) << "\"" << text << "\"";
    }
}

TEST(MovieBuild, ForcedDimensionsGiveTheForcedSize)
{
    Sequence seq(3, 40, 30);
    TempDir outDir;
    DialogAnswer dialog("raw");
    MsgBoxRecorder boxes(vbNo);
    FakeHost host = HostFor(seq, outDir.file("forced.avi"));
    host.chkF = 1;
    host.w = "20";
    host.h = "4 5";
    BuildState state;
    ASSERT_EQ(Press(host, state).outcome, BuildOutcome::Created);
    const auto movie = avitest::ReadMovie(host.out);
    ASSERT_TRUE(movie.opened);
    EXPECT_EQ(movie.width, 20);
    EXPECT_EQ(movie.height, 45);
    ASSERT_EQ(movie.frames.size(), 3u);
    // Column 0 and row 0 of the output are the source's, the right way up.
    EXPECT_TRUE(std::equal(seq.pictures[1].begin(), seq.pictures[1].begin() + 3, movie.frames[1].begin()));

    // Unchecked, any width and height text is accepted and has no effect.
    host.chkF = 0;
    host.w = "abc";
    host.h = "-7";
    std::filesystem::remove(host.out);
    ASSERT_EQ(Press(host, state).outcome, BuildOutcome::Created);
    EXPECT_EQ(avitest::ReadMovie(host.out, false, false).width, 40);
}

TEST(MovieBuild, ProgressTextsAndBarValues)
{
    DialogAnswer dialog("raw");
    MsgBoxRecorder boxes(vbNo);
    {
        Sequence seq(4, 4, 4);
        TempDir outDir;
        FakeHost host = HostFor(seq, outDir.file("p.avi"));
        BuildState state;
        Press(host, state);
        EXPECT_EQ(host.statuses,
                  (std::vector<std::string>{"File's Creation Status: 20.0%", "File's Creation Status: 40.0%",
                                            "File's Creation Status: 60.0%", "Movie's Creation Completed!"}));
        EXPECT_EQ(host.progress, (std::vector<float>{1, 0, 25, 50, 75, 100}));
        EXPECT_EQ(host.captions, (std::vector<std::string>{"Cancel", "Create !"}));
    }
    {
        Sequence seq(2, 4, 4);
        TempDir outDir;
        FakeHost host = HostFor(seq, outDir.file("p.avi"));
        BuildState state;
        Press(host, state);
        EXPECT_EQ(host.statuses[0], "File's Creation Status: 33.3%");
        EXPECT_EQ(host.progress, (std::vector<float>{1, 0, 50, 100}));
    }
}

TEST(MovieBuild, CancelDuringAFrameKeepsThePlayableMovieSoFar)
{
    const int n = 8;
    Sequence seq(n, 16, 8);
    TempDir outDir;
    DialogAnswer dialog("ffv1");
    MsgBoxRecorder boxes(vbYes);
    FakeHost host = HostFor(seq, outDir.file("c.avi"));
    BuildState state;
    // One yield before the loop, six per frame: the 1 + 6 * 2 + 2nd yield
    // falls inside frame 3, where a press of the button (now "Cancel") comes.
    YieldHook press(1 + 6 * 2 + 2, [&] {
        ASSERT_EQ(host.caption, "Cancel");
        EXPECT_EQ(Press(host, state).outcome, BuildOutcome::CancelPressed);
    });
    const BuildResult result = Press(host, state);
    EXPECT_EQ(result.outcome, BuildOutcome::Cancelled);
    EXPECT_EQ(result.framesWritten, 3); // the frame in hand is still written
    const auto movie = avitest::ReadMovie(host.out);
    ASSERT_TRUE(movie.opened);
    ASSERT_EQ(movie.frames.size(), 4u);
    EXPECT_EQ(movie.frames[3], seq.pictures[3]);
    EXPECT_EQ(seq.Files(), TgaNames(n));
    EXPECT_EQ(host.statuses.back(), "Movie's Creation Completed!");
    EXPECT_EQ(host.progress.back(), 100);
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(host.opened, std::vector<std::string>{host.out});
}

TEST(MovieBuild, ClosingTheWindowStopsAtTheNextYieldAndClosesTheMovie)
{
    Sequence seq(6, 8, 8);
    TempDir outDir;
    DialogAnswer dialog("raw");
    MsgBoxRecorder boxes(vbYes);
    FakeHost host = HostFor(seq, outDir.file("closed.avi"));
    BuildState state;
    YieldHook close(1 + 6 * 2 + 1, [&] { host.closing = true; }); // before frame 3's write
    const BuildResult result = Press(host, state);
    EXPECT_EQ(result.framesWritten, 2);
    const auto movie = avitest::ReadMovie(host.out);
    ASSERT_TRUE(movie.opened);
    EXPECT_EQ(movie.frames.size(), 3u);
    EXPECT_EQ(seq.Files(), TgaNames(6));
    EXPECT_TRUE(boxes.shown().empty()); // no offer to open a movie nobody will see
    EXPECT_TRUE(host.opened.empty());
}

TEST(MovieBuild, EarlyExitsCreateNothing)
{
    DialogAnswer dialog("raw");
    TempDir outDir;
    const std::string out = outDir.file("m.avi");
    struct Case {
        const char* what;
        std::function<void(FakeHost&, Sequence&)> setUp;
        const char* messageStart;
    };
    const Case cases[] = {
        {"no files", [](FakeHost& h, Sequence& s) { h.dir = s.frames() + "/empty"; std::filesystem::create_directory(h.dir); },
         "There's no TGA files in:\r\n"},
        {"missing directory", [](FakeHost& h, Sequence& s) { h.dir = s.frames() + "/gone"; }, "There's no TGA files in:\r\n"},
        {"one file", [](FakeHost& h, Sequence& s) { h.dir = s.frames() + "/one"; std::filesystem::create_directory(h.dir);
                                                   std::filesystem::copy(s.dir.file("shot0000.tga"), h.dir); },
         "There's only one TGA file in:\r\n"},
        {"zero width", [](FakeHost& h, Sequence&) { h.chkF = 1; h.w = ""; }, "The forced movie dimensions"},
        {"negative height", [](FakeHost& h, Sequence&) { h.chkF = 1; h.h = "-384"; }, "The forced movie dimensions"},
        {"absurd size", [](FakeHost& h, Sequence&) { h.chkF = 1; h.w = "100000"; h.h = "100000"; }, "The forced movie dimensions"},
    };
    for (const auto& c : cases) {
        Sequence seq(3, 4, 4);
        FakeHost host = HostFor(seq, out);
        c.setUp(host, seq);
        const auto before = seq.Contents();
        MsgBoxRecorder boxes;
        BuildState state;
        EXPECT_EQ(Press(host, state).outcome, BuildOutcome::NotStarted) << c.what;
        ASSERT_EQ(boxes.shown().size(), 1u) << c.what;
        EXPECT_EQ(boxes.shown()[0].prompt.rfind(c.messageStart, 0), 0u) << c.what << ": " << boxes.shown()[0].prompt;
        EXPECT_EQ(boxes.shown()[0].style, unsigned(vbExclamation));
        EXPECT_EQ(boxes.shown()[0].title, "Error!");
        EXPECT_FALSE(std::filesystem::exists(out)) << c.what;
        EXPECT_EQ(seq.Contents(), before) << c.what;
        EXPECT_EQ(host.caption, "Create !");
        EXPECT_TRUE(host.statuses.empty() && host.progress.empty()) << c.what;
        EXPECT_EQ(dialog.shown, 0);
    }
}

TEST(MovieBuild, ExistingOutputIsReplacedOnlyOnYes)
{
    Sequence seq(3, 4, 4);
    TempDir outDir;
    DialogAnswer dialog("raw");
    FakeHost host = HostFor(seq, outDir.file("old.avi"));
    WriteFile(host.out, Bytes(10, 'x'));
    {
        MsgBoxRecorder boxes(vbNo);
        BuildState state;
        EXPECT_EQ(Press(host, state).outcome, BuildOutcome::NotStarted);
        ASSERT_EQ(boxes.shown().size(), 1u);
        EXPECT_EQ(boxes.shown()[0].title, "Overwrite?");
        EXPECT_EQ(boxes.shown()[0].prompt, host.out + " already exists.\r\nOverwrite it?");
        EXPECT_EQ(boxes.shown()[0].style, unsigned(vbQuestion | vbYesNo));
        EXPECT_EQ(ReadFile(host.out), Bytes(10, 'x'));
        EXPECT_EQ(host.caption, "Create !");
    }
    MsgBoxRecorder boxes([](const MsgBoxRecorder::Shown& s) { return s.title == "Overwrite?" ? vbYes : vbNo; });
    BuildState state;
    EXPECT_EQ(Press(host, state).outcome, BuildOutcome::Created);
    EXPECT_EQ(avitest::ReadMovie(host.out, false, false).width, 4);
}

TEST(MovieBuild, RefusedDialogLeavesNothingAndClaimsNothing)
{
    Sequence seq(3, 4, 4);
    const auto before = seq.Contents();
    TempDir outDir;
    DialogAnswer dialog("raw", false);
    MsgBoxRecorder boxes;
    FakeHost host = HostFor(seq, outDir.file("refused.avi"));
    BuildState state;
    const BuildResult result = Press(host, state);
    EXPECT_EQ(result.framesWritten, 0);
    EXPECT_NE(result.outcome, BuildOutcome::Created);
    EXPECT_FALSE(std::filesystem::exists(host.out));
    EXPECT_EQ(seq.Contents(), before); // both temporary bitmaps gone
    EXPECT_TRUE(boxes.shown().empty());
    EXPECT_EQ(host.statuses, std::vector<std::string>{"Movie's creation cancelled: no compressor chosen."});
    EXPECT_EQ(host.progress, std::vector<float>{100});
    EXPECT_EQ(AviSaveOptionsPending(), 0);
}

TEST(MovieBuild, PassedOverFilesRepeatThePreviousFrameTheRightWayUp)
{
    Sequence seq(5, 6, 4);
    // Frame 3 of another kind; so are the two first files of a second movie.
    Bytes rle = MakeTarga(6, 4, seq.pictures[3]);
    rle[2] = 10;
    WriteFile(seq.dir.file("shot0003.tga"), rle);
    TempDir outDir;
    DialogAnswer dialog("raw");
    MsgBoxRecorder boxes(vbNo);
    FakeHost host = HostFor(seq, outDir.file("repeat.avi"));
    BuildState state;
    ASSERT_EQ(Press(host, state).outcome, BuildOutcome::Created);
    auto movie = avitest::ReadMovie(host.out);
    ASSERT_EQ(movie.frames.size(), 5u);
    EXPECT_EQ(movie.frames[3], seq.pictures[2]);
    EXPECT_EQ(movie.frames[4], seq.pictures[4]);
    EXPECT_EQ(boxes.shown().size(), 1u); // the closing question only

    // The second file passed over: it repeats the first file's picture.
    WriteFile(seq.dir.file("shot0001.tga"), rle);
    std::filesystem::remove(host.out);
    ASSERT_EQ(Press(host, state).outcome, BuildOutcome::Created);
    movie = avitest::ReadMovie(host.out);
    ASSERT_EQ(movie.frames.size(), 5u);
    EXPECT_EQ(movie.frames[1], seq.pictures[0]);
    EXPECT_EQ(movie.frames[2], seq.pictures[2]);
    EXPECT_EQ(movie.frames[3], seq.pictures[2]);
}

TEST(MovieBuild, NoSupportedTargaIsOneMessage)
{
    Sequence seq(6, 4, 4);
    for (const auto& name : TgaNames(6)) {
        Bytes f = ReadFile(seq.dir.file(name));
        f[16] = 32;
        WriteFile(seq.dir.file(name), f);
    }
    const auto before = seq.Contents();
    TempDir outDir;
    DialogAnswer dialog("raw");
    MsgBoxRecorder boxes;
    FakeHost host = HostFor(seq, outDir.file("none.avi"));
    BuildState state;
    SharedFrameImage() = FrameImage(); // as at program start
    EXPECT_EQ(Press(host, state).outcome, BuildOutcome::Failed);
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_NE(boxes.shown()[0].prompt.find(seq.dir.file("shot0000.tga")), std::string::npos);
    EXPECT_EQ(seq.Contents(), before);
    EXPECT_FALSE(std::filesystem::exists(host.out));
    EXPECT_EQ(host.caption, "Create !");
    EXPECT_EQ(dialog.shown, 0);
}

// The faults below need permissions that hold even for root, or limits that
// end the process: each runs in a child process and reports by exit code.
namespace {

void OpenUp(const std::filesystem::path& p)
{
    ::chmod(p.c_str(), 0777);
}

} // namespace

TEST(MovieBuildFaults, UnreadableFrameEndsWithOneMessageAndKeepsTheFramesBefore)
{
    Sequence seq(6, 8, 8);
    TempDir outDir;
    OpenUp(seq.dir.path());
    OpenUp(outDir.path());
    ::chmod(seq.dir.file("shot0004.tga").c_str(), 0);
    const auto before = seq.Contents();
    const std::string out = outDir.file("u.avi");
    const int code = RunAsUnprivileged([&] {
        DialogAnswer dialog("raw");
        MsgBoxRecorder boxes;
        FakeHost host = HostFor(seq, out);
        BuildState state;
        const BuildResult r = Press(host, state);
        if (r.outcome != BuildOutcome::Failed || boxes.shown().size() != 1)
            return 1;
        if (boxes.shown()[0].prompt.find("shot0004.tga") == std::string::npos)
            return 2;
        if (host.caption != "Create !" || r.framesWritten != 3)
            return 3;
        return avitest::ReadMovie(out, false, true).frames.size() == 4 ? 0 : 4;
    });
    EXPECT_EQ(code, 0);
    ::chmod(seq.dir.file("shot0004.tga").c_str(), 0644);
    EXPECT_EQ(seq.Contents(), before);
}

TEST(MovieBuildFaults, UnwritableFrameDirectoryEndsCleanly)
{
    Sequence seq(4, 8, 8);
    TempDir outDir;
    OpenUp(outDir.path());
    ::chmod(seq.dir.path().c_str(), 0555);
    const std::string out = outDir.file("w.avi");
    const int code = RunAsUnprivileged([&] {
        DialogAnswer dialog("raw");
        MsgBoxRecorder boxes;
        FakeHost host = HostFor(seq, out);
        BuildState state;
        const BuildResult r = Press(host, state);
        if (r.outcome != BuildOutcome::Failed || boxes.shown().size() != 1)
            return 1;
        if (boxes.shown()[0].prompt.find("shot0001.tga.bmp") == std::string::npos)
            return 2;
        return !std::filesystem::exists(out) && host.caption == "Create !" ? 0 : 3;
    });
    EXPECT_EQ(code, 0);
    ::chmod(seq.dir.path().c_str(), 0755);
    EXPECT_EQ(seq.Files(), TgaNames(4));
}

TEST(MovieBuildFaults, TemporaryBitmapThatCannotBeDeletedStopsTheRunAfterItsFrame)
{
    Sequence seq(5, 8, 8);
    TempDir outDir;
    OpenUp(seq.dir.path());
    OpenUp(outDir.path());
    const std::string out = outDir.file("d.avi");
    const std::string stuck = seq.dir.file("shot0001.tga.bmp");
    if (::geteuid() == 0) { // the unprivileged run must own the directory to lock it
        ASSERT_EQ(::chown(seq.dir.path().c_str(), 65534, 65534), 0);
    }
    const int code = RunAsUnprivileged([&] {
        DialogAnswer dialog("raw");
        MsgBoxRecorder boxes;
        FakeHost host = HostFor(seq, out);
        BuildState state;
        // Read-only from inside frame 1 on, once its bitmap is loaded.
        YieldHook lock(1 + 2, [&] { ::chmod(seq.dir.path().c_str(), 0555); });
        const BuildResult r = Press(host, state);
        if (r.outcome != BuildOutcome::Failed || boxes.shown().size() != 1)
            return 1;
        if (boxes.shown()[0].prompt.rfind("Cannot delete the temporary bitmap:\r\n" + stuck + "\r\n", 0) != 0)
            return 2;
        if (r.framesWritten != 1 || host.statuses.back() != "Movie's creation stopped after 1 frames.")
            return 3;
        return avitest::ReadMovie(out, false, true).frames.size() == 2 ? 0 : 4;
    });
    EXPECT_EQ(code, 0);
    OpenUp(seq.dir.path());
    EXPECT_TRUE(std::filesystem::exists(stuck));
}

TEST(MovieBuildFaults, OutputThatCannotBeDeletedIsReported)
{
    Sequence seq(3, 8, 8);
    TempDir outDir;
    OpenUp(seq.dir.path());
    const std::string out = outDir.file("keep.avi");
    WriteFile(out, Bytes(5, 'k'));
    ::chmod(out.c_str(), 0666);
    ::chmod(outDir.path().c_str(), 0755); // the file is writable, its directory is not
    const int code = RunAsUnprivileged([&] {
        DialogAnswer dialog("raw");
        MsgBoxRecorder boxes(vbYes);
        FakeHost host = HostFor(seq, out);
        BuildState state;
        const BuildResult r = Press(host, state);
        if (r.outcome != BuildOutcome::NotStarted || boxes.shown().size() != 2)
            return 1;
        return boxes.shown()[1].prompt.rfind("Cannot delete the existing movie:\r\n" + out, 0) == 0 ? 0 : 2;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(ReadFile(out), Bytes(5, 'k'));
    EXPECT_EQ(seq.Files(), TgaNames(3));
}

TEST(MovieBuildFaults, FullDiskKeepsTheFramesWrittenBefore)
{
    // 40 frames of 64 x 48 (9 KB each) against a 200 KB file-size limit: the
    // temporary bitmaps fit, the movie does not.
    Sequence seq(40, 64, 48);
    TempDir outDir;
    const auto before = seq.Contents();
    const std::string out = outDir.file("full.avi");
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{200 * 1024, 200 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        DialogAnswer dialog("raw");
        MsgBoxRecorder boxes;
        FakeHost host = HostFor(seq, out);
        BuildState state;
        const BuildResult r = Press(host, state);
        const bool reported = r.outcome == BuildOutcome::Failed && boxes.shown().empty() &&
                              host.statuses.back() == "There was an error creating the AVI File." &&
                              r.framesWritten > 5 && r.framesWritten < 39;
        std::FILE* note = std::fopen((out + ".count").c_str(), "w");
        if (note) {
            std::fprintf(note, "%lld", static_cast<long long>(r.framesWritten));
            std::fclose(note);
        }
        ::_exit(reported ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    long long written = -1;
    if (std::FILE* note = std::fopen((out + ".count").c_str(), "r")) {
        EXPECT_EQ(std::fscanf(note, "%lld", &written), 1);
        std::fclose(note);
    }
    const auto movie = avitest::ReadMovie(out);
    ASSERT_TRUE(movie.opened) << movie.error;
    ASSERT_EQ(static_cast<long long>(movie.frames.size()), written + 1);
    EXPECT_EQ(movie.frames.back(), seq.pictures[static_cast<std::size_t>(written)]);
    // Closed properly: indexed, with its final sizes, so that players need
    // not scan it.
    EXPECT_TRUE(movie.warnings.empty()) << movie.warnings.front();
    EXPECT_EQ(seq.Contents(), before);
}

TEST(MovieBuildFaults, FullFileSystemKeepsACompleteMovie)
{
    Sequence seq(60, 64, 48);
    TempDir mountPoint;
    const std::string options = "size=320k,mode=0777";
    if (::mount("reelcast-test", mountPoint.path().c_str(), "tmpfs", 0, options.c_str()) != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here (" << std::strerror(errno) << ")";
    const auto before = seq.Contents();
    DialogAnswer dialog("raw");
    MsgBoxRecorder boxes;
    FakeHost host = HostFor(seq, mountPoint.file("full.avi"));
    BuildState state;
    const BuildResult r = Press(host, state);
    EXPECT_EQ(r.outcome, BuildOutcome::Failed);
    EXPECT_EQ(host.statuses.back(), "There was an error creating the AVI File.");
    EXPECT_GT(r.framesWritten, 5);
    EXPECT_LT(r.framesWritten, 59);
    const auto movie = avitest::ReadMovie(host.out);
    EXPECT_TRUE(movie.opened) << movie.error;
    EXPECT_EQ(static_cast<std::int64_t>(movie.frames.size()), r.framesWritten + 1);
    EXPECT_TRUE(movie.warnings.empty()) << movie.warnings.front();
    if (std::system("command -v gst-launch-1.0 >/dev/null 2>&1") == 0) {
        const std::string play = "gst-launch-1.0 -q filesrc location=" + host.out +
                                 " ! avidemux ! decodebin ! fakesink >/dev/null 2>&1";
        EXPECT_EQ(std::system(play.c_str()), 0);
    }
    ::umount(mountPoint.path().c_str());
    EXPECT_EQ(seq.Contents(), before);
}
