// reelcast-batch: the command line, its answers to the run's questions, and
// the program as a script would call it.
#include "AviMovieReader.h"
#include "BatchFrontEnd.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <sstream>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

using namespace testsupport;

namespace {

void MakeFrames(const TempDir& dir, int n, int w, int h, std::vector<Bytes>* pictures = nullptr)
{
    for (int i = 0; i < n; ++i) {
        const Bytes picture = PatternPixels(w, h, static_cast<unsigned>(i + 3));
        char name[32];
        std::snprintf(name, sizeof name, "f%03d.tga", i);
        WriteFile(dir.file(name), MakeTarga(w, h, picture));
        if (pictures)
            pictures->push_back(picture);
    }
}

struct Outcome {
    int code;
    std::string out;
    std::string err;
};

Outcome Batch(std::vector<std::string> args)
{
    args.insert(args.begin(), "reelcast-batch");
    std::vector<const char*> argv;
    for (const auto& a : args)
        argv.push_back(a.c_str());
    std::ostringstream out, err;
    const int code = BatchMain(static_cast<int>(argv.size()), argv.data(), out, err);
    return {code, out.str(), err.str()};
}

} // namespace

TEST(Batch, BuildsTheMovieTheWindowWould)
{
    TempDir frames, outDir;
    std::vector<Bytes> pictures;
    MakeFrames(frames, 6, 21, 9, &pictures);
    const std::string out = outDir.file("m.avi");
    const Outcome r = Batch({frames.path().string(), out, "--fps", "40", "--codec", "ffv1", "--quality=90"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("Movie's Creation Completed!"), std::string::npos);
    const auto movie = avitest::ReadMovie(out);
    ASSERT_TRUE(movie.opened) << movie.error;
    EXPECT_EQ(movie.codec, "ffv1");
    EXPECT_EQ(movie.rateNum * 1.0 / movie.rateDen, 30.0); // as the window reads 40
    ASSERT_EQ(movie.frames.size(), 6u);
    for (std::size_t k = 1; k < 6; ++k)
        EXPECT_EQ(movie.frames[k], pictures[k]);

    const Outcome forced = Batch({frames.path().string(), out, "--overwrite", "--size", "10x 4", "--fps", "12abc"});
    EXPECT_EQ(forced.code, 0) << forced.err;
    const auto small = avitest::ReadMovie(out, false, false);
    EXPECT_EQ(small.width, 10);
    EXPECT_EQ(small.height, 4);
    EXPECT_EQ(small.rateNum * 1.0 / small.rateDen, 12.0);
}

TEST(Batch, ExistingOutputNeedsOverwrite)
{
    TempDir frames, outDir;
    MakeFrames(frames, 3, 4, 4);
    const std::string out = outDir.file("there.avi");
    WriteFile(out, Bytes(7, 'z'));
    const Outcome r = Batch({frames.path().string(), out});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("--overwrite"), std::string::npos);
    EXPECT_EQ(ReadFile(out), Bytes(7, 'z'));
    EXPECT_EQ(Batch({frames.path().string(), out, "--overwrite"}).code, 0);
    EXPECT_TRUE(avitest::ReadMovie(out, false, false).opened);
}

TEST(Batch, UsageErrorsAndFailuresSayWhy)
{
    TempDir frames, outDir;
    MakeFrames(frames, 3, 4, 4);
    const std::string dir = frames.path().string(), out = outDir.file("x.avi");
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string says;
    };
    const Case cases[] = {
        {{dir}, 2, "expected FRAMES_DIR and OUTPUT.avi"},
        {{dir, out, "--codec", "divx"}, 2, "unknown or unavailable compressor \"divx\""},
        {{dir, out, "--size", "640"}, 2, "--size takes WIDTHxHEIGHT"},
        {{dir, out, "--fps"}, 2, "--fps needs a value"},
        {{dir, out, "--bogus"}, 2, "unknown option --bogus"},
        {{dir + "/nothing", out}, 1, "There's no TGA files in:\n" + dir + "/nothing"},
        {{dir, out, "--size", "0x480"}, 1, "The forced movie dimensions"},
    };
    for (const auto& c : cases) {
        const Outcome r = Batch(c.args);
        EXPECT_EQ(r.code, c.code) << c.says;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(out));
    }
    const Outcome list = Batch({"--list-codecs"});
    EXPECT_EQ(list.code, 0);
    EXPECT_EQ(list.out.rfind("raw", 0), 0u);
    EXPECT_NE(list.out.find("Full Frames (Uncompressed)"), std::string::npos);
    EXPECT_NE(Batch({"--help"}).out.find("Usage: reelcast-batch"), std::string::npos);
}

// The program itself, as a script runs it: a copy in a directory of its own,
// so that an OutPut folder beside it would show.
class BatchProgram : public ::testing::Test {
protected:
    void SetUp() override
    {
        exe_ = home_.file("reelcast-batch");
        std::filesystem::copy_file(REELCAST_BATCH_EXE, exe_);
        ::setenv("XDG_CONFIG_HOME", home_.file("config").c_str(), 1);
    }
    void TearDown() override { ::unsetenv("XDG_CONFIG_HOME"); }

    pid_t Start(const std::vector<std::string>& args, const std::string& errFile)
    {
        std::fflush(nullptr);
        const pid_t pid = ::fork();
        if (pid == 0) {
            std::freopen(errFile.c_str(), "w", stderr);
            std::freopen("/dev/null", "w", stdout);
            std::vector<char*> argv{const_cast<char*>(exe_.c_str())};
            for (const auto& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(exe_.c_str(), argv.data());
            ::_exit(127);
        }
        return pid;
    }

    static int Wait(pid_t pid)
    {
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    TempDir home_;
    std::string exe_;
};

TEST_F(BatchProgram, LeavesNoOutPutFolderAndNoSetting)
{
    TempDir frames;
    MakeFrames(frames, 3, 8, 8);
    const std::string out = home_.file("movie.avi");
    EXPECT_EQ(Wait(Start({frames.path().string(), out, "--codec", "huffyuv"}, home_.file("err.txt"))), 0);
    EXPECT_EQ(avitest::ReadMovie(out).frames.size(), 3u);
    EXPECT_FALSE(std::filesystem::exists(home_.file("OutPut")));
    EXPECT_FALSE(std::filesystem::exists(home_.file("config")));
}

TEST_F(BatchProgram, InterruptKeepsAPlayableMovieOfTheFramesSoFar)
{
    TempDir frames;
    const int n = 300;
    MakeFrames(frames, n, 320, 240);
    const std::string out = home_.file("stopped.avi");
    const pid_t pid = Start({frames.path().string(), out}, home_.file("err.txt"));
    // Interrupt once the movie holds a few frames.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::error_code ec;
    while (std::chrono::steady_clock::now() < deadline &&
           (!std::filesystem::exists(out) || std::filesystem::file_size(out, ec) < 5 * 230400))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ::kill(pid, SIGINT);
    const int code = Wait(pid);
    const auto movie = avitest::ReadMovie(out, false, false);
    ASSERT_TRUE(movie.opened) << movie.error;
    if (code == 0)
        GTEST_SKIP() << "the run ended before the interrupt arrived";
    EXPECT_EQ(code, 130);
    const auto decoded = avitest::ReadMovie(out);
    EXPECT_GT(decoded.frames.size(), 1u);
    EXPECT_LT(decoded.frames.size(), static_cast<std::size_t>(n));
    EXPECT_NE(ReadFile(home_.file("err.txt")).size(), 0u);
    std::size_t temporaries = 0;
    for (const auto& e : std::filesystem::directory_iterator(frames.path()))
        temporaries += e.path().extension() == ".bmp";
    EXPECT_EQ(temporaries, 0u);
}
