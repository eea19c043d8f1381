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

std::vector<Bytes> MakeFrames(const TempDir& dir, int n, int w, int h)
{
    std::vector<Bytes> pictures;
    for (int i = 0; i < n; ++i) {
        pictures.push_back(PatternPixels(w, h, static_cast<unsigned>(i + 3)));
        char name[32];
        std::snprintf(name, sizeof name, "f%03d.tga", i);
        WriteFile(dir.file(name), MakeTarga(w, h, pictures.back()));
    }
    return pictures;
}

struct Outcome {
    int code;
    std::string out, err;
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

TEST(Batch, CommandLineErrorsWriteNothingAndARunBuildsTheMovieTheWindowWould)
{
    TempDir frames, outDir;
    const auto pictures = MakeFrames(frames, 6, 21, 9);
    const std::string dir = frames.path().string(), out = outDir.file("m.avi");
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string says;
    };
    const Case errors[] = {
        {{dir}, 2, "expected FRAMES_DIR and OUTPUT.avi"},
        {{dir, out, "--codec", "divx"}, 2, "unknown or unavailable compressor \"divx\""},
        {{dir, out, "--size", "640"}, 2, "--size takes WIDTHxHEIGHT"},
        {{dir, out, "--fps"}, 2, "--fps needs a value"},
        {{dir, out, "--bogus"}, 2, "unknown option --bogus"},
        {{dir + "/nothing", out}, 1, "There's no TGA files in:\n" + dir + "/nothing"},
        {{dir, out, "--size", "0x480"}, 1, "The forced movie dimensions"},
    };
    for (const auto& c : errors) {
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

    const Outcome r = Batch({dir, out, "--fps", "40", "--codec", "ffv1", "--quality=90"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("Movie's Creation Completed!"), std::string::npos);
    const auto movie = avitest::ReadMovie(out);
    EXPECT_EQ(movie.codec, "ffv1") << movie.error;
    EXPECT_EQ(movie.rateNum * 1.0 / movie.rateDen, 30.0); // as the window reads 40
    ASSERT_EQ(movie.frames.size(), 6u);
    for (std::size_t k = 1; k < 6; ++k)
        EXPECT_EQ(movie.frames[k], pictures[k]);

    // Replaced only when told.
    const Bytes made = ReadFile(out);
    const Outcome kept = Batch({dir, out});
    EXPECT_EQ(kept.code, 1);
    EXPECT_NE(kept.err.find("--overwrite"), std::string::npos);
    EXPECT_EQ(ReadFile(out), made);
    const Outcome forced = Batch({dir, out, "--overwrite", "--size", "10x 4", "--fps", "12abc"});
    EXPECT_EQ(forced.code, 0) << forced.err;
    const auto small = avitest::ReadMovie(out, false, false);
    EXPECT_EQ(std::pair(small.width, small.height), std::pair(10, 4));
    EXPECT_EQ(small.rateNum * 1.0 / small.rateDen, 12.0);
}

namespace {

// Starts the program as a script would, its standard error going to errFile.
pid_t Start(const std::string& exe, std::vector<std::string> args, const std::string& errFile)
{
    args.insert(args.begin(), exe);
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::freopen(errFile.c_str(), "w", stderr);
        std::freopen("/dev/null", "w", stdout);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(exe.c_str(), argv.data());
        ::_exit(127);
    }
    return pid;
}

int Wait(pid_t pid)
{
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

// The program itself, run from a directory of its own, so that an OutPut
// folder beside it would show, and with a configuration directory of its own.
TEST(BatchProgram, LeavesNoOutPutFolderNorSettingAndAnInterruptKeepsAPlayableMovie)
{
    TempDir home, few, many;
    const std::string exe = home.file("reelcast-batch"), err = home.file("err.txt");
    std::filesystem::copy_file(REELCAST_BATCH_EXE, exe);
    ::setenv("XDG_CONFIG_HOME", home.file("config").c_str(), 1);
    MakeFrames(few, 3, 8, 8);
    EXPECT_EQ(Wait(Start(exe, {few.path().string(), home.file("movie.avi"), "--codec", "huffyuv"}, err)), 0);
    EXPECT_EQ(avitest::ReadMovie(home.file("movie.avi")).frames.size(), 3u);

    const int n = 300;
    MakeFrames(many, n, 320, 240);
    const std::string out = home.file("stopped.avi");
    const pid_t pid = Start(exe, {many.path().string(), out}, err);
    // Interrupt once the movie holds a few frames.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::error_code ec;
    while (std::chrono::steady_clock::now() < deadline &&
           (!std::filesystem::exists(out) || std::filesystem::file_size(out, ec) < 5 * 230400))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ::kill(pid, SIGINT);
    const int code = Wait(pid);
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_FALSE(std::filesystem::exists(home.file("OutPut")));
    EXPECT_FALSE(std::filesystem::exists(home.file("config")));
    for (const auto& e : std::filesystem::directory_iterator(many.path()))
        EXPECT_EQ(e.path().extension(), ".tga"); // no temporary bitmap, hidden or not

    const auto movie = avitest::ReadMovie(out);
    ASSERT_TRUE(movie.opened) << movie.error;
    if (code == 0)
        GTEST_SKIP() << "the run ended before the interrupt arrived";
    EXPECT_EQ(code, 130);
    EXPECT_GT(movie.frames.size(), 1u);
    EXPECT_LT(movie.frames.size(), static_cast<std::size_t>(n));
    EXPECT_NE(ReadFile(err).size(), 0u);
}
