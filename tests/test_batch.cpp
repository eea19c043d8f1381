// reelcast-batch: the command line, its answers to the run's questions, and
// the program as a script would call it.
#include "AviMovieReader.h"
#include "BatchFrontEnd.h"
#include "TestSupport.h"
#include "mdAVI.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <thread>

#include <sys/mount.h>
#include <sys/resource.h>

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

Outcome RunLimited(std::vector<std::string> args, long limit);

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
    std::istringstream lines(list.out);
    for (const auto& c : AviCompressors()) {
        std::string line, name;
        std::getline(lines, line);
        std::istringstream(line) >> name; // what scripts and the completion read
        EXPECT_EQ(name, c.name);
        EXPECT_FALSE(c.advice.empty()) << c.name;
        EXPECT_TRUE(line.find(c.description) != std::string::npos && line.ends_with("  " + c.advice)) << line;
    }
    EXPECT_NE(Batch({"--help"}).out.find("Usage: reelcast-batch"), std::string::npos);
    EXPECT_EQ(Batch({"--version"}).out, "reelcast-batch " REELCAST_VERSION "\n");
    // FFmpeg's own lines, x264's statistics among them, only when asked for.
    for (const bool verbose : {false, true}) {
        std::vector<std::string> args{dir, outDir.file("h.avi"), "--codec", "h264", "--overwrite"};
        if (verbose)
            args.push_back("--verbose");
        const Outcome h = RunLimited(args, -1);
        EXPECT_EQ(h.code, 0) << h.err;
        EXPECT_EQ(h.err.find("kb/s") != std::string::npos, verbose) << h.err;
        EXPECT_EQ(h.err.empty(), !verbose) << h.err;
    }

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

// The exit code, or 128 + the signal that ended the process.
int Wait(pid_t pid)
{
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string Text(const std::string& file)
{
    const Bytes b = ReadFile(file);
    return {b.begin(), b.end()};
}

// Runs the program within a file-size limit in bytes (none when negative).
// Its standard error goes through a pipe, which no such limit cuts short.
Outcome RunLimited(std::vector<std::string> args, long limit)
{
    args.insert(args.begin(), REELCAST_BATCH_EXE);
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return {-1, "", "no pipe"};
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFds[1], STDERR_FILENO);
        std::freopen("/dev/null", "w", stdout);
        if (limit >= 0) {
            const rlimit l{static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
            ::setrlimit(RLIMIT_FSIZE, &l);
        }
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    std::string err;
    char buffer[4096];
    for (ssize_t got; (got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        err.append(buffer, static_cast<std::size_t>(got));
    ::close(pipeFds[0]);
    return {Wait(pid), "", err};
}

// The frames the program says the movie holds ("holds the N frames"), or -1.
long FramesSaid(const std::string& err)
{
    const auto at = err.find("holds the ");
    return at == std::string::npos ? -1 : std::stol(err.substr(at + 10));
}

// Names in dir that are not frames: temporary bitmaps, hidden or not.
std::vector<std::string> Leftovers(const TempDir& dir)
{
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        if (e.path().extension() != ".tga")
            names.push_back(e.path().filename().string());
    return names;
}

} // namespace

// The program itself, run from a directory of its own, so that an OutPut
// folder beside it would show, and with a configuration directory of its own.
// Every stop signal ends the run as Ctrl-C does: the movie closed and
// indexed with the frames it says it holds.
TEST(BatchProgram, StopSignalsKeepAnIndexedMovieAndLeaveNothingBehind)
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
    for (const int sig : {SIGHUP, SIGTERM, SIGINT, SIGQUIT}) {
        SCOPED_TRACE(strsignal(sig));
        const std::string out = home.file("stopped.avi");
        std::filesystem::remove(out); // so that the wait below sees this run's movie
        const pid_t pid = Start(exe, {many.path().string(), out, "--overwrite"}, err);
        // Stopped once the movie holds a few frames.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        std::error_code ec;
        while (std::chrono::steady_clock::now() < deadline &&
               (!std::filesystem::exists(out) || std::filesystem::file_size(out, ec) < 5 * 230400))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ::kill(pid, sig);
        const int code = Wait(pid);
        EXPECT_TRUE(Leftovers(many).empty());
        const auto movie = avitest::ReadMovie(out);
        ASSERT_TRUE(movie.opened) << movie.error;
        EXPECT_TRUE(movie.warnings.empty()) << movie.warnings.front(); // indexed: nothing to scan
        if (code == 0)
            GTEST_SKIP() << "the run ended before the signal arrived";
        EXPECT_EQ(code, 130);
        EXPECT_EQ(static_cast<long>(movie.frames.size()), FramesSaid(Text(err)) + 1) << Text(err);
        EXPECT_GT(movie.frames.size(), 1u);
    }
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_FALSE(std::filesystem::exists(home.file("OutPut")));
    EXPECT_FALSE(std::filesystem::exists(home.file("config")));
}

// Writes cut short anywhere (the temporary bitmaps, the frames, the
// compressor's last frames, the indexes), by a file-size limit from nothing to
// more than the movie needs, and by a file system that fills up. Each run
// either succeeds with every frame, or fails with a message and leaves no
// movie or one that decodes cleanly and holds what the message says.
TEST(BatchProgram, FailedWritesAnywhereNeverClaimAFrameTheMovieDoesNotHold)
{
    TempDir frames, outDir, mountPoint;
    const int n = 30;
    const auto pictures = MakeFrames(frames, n, 96, 64);
    const std::string out = outDir.file("m.avi");
    const bool mounted = ::mount("reelcast-test", mountPoint.path().c_str(), "tmpfs", 0, "size=300k") == 0;
    const long kb = 1024;
    const bool gstreamer = std::system("command -v gst-launch-1.0 >/dev/null 2>&1") == 0;
    int runs = 0, partial = 0;
    for (const char* codec : {"raw", "mjpeg", "ffv1", "h264", "utvideo"}) {
        int succeeded = 0;
        for (const long limit : {0L, 8 * kb, 16 * kb, 24 * kb, 40 * kb, 64 * kb, 100 * kb, 160 * kb, 260 * kb,
                                 400 * kb, 700 * kb, 1200 * kb, -2L}) {
            const std::string movie = limit == -2 ? mountPoint.file("m.avi") : out;
            if (limit == -2 && !mounted)
                continue;
            SCOPED_TRACE(std::string(codec) + " limit " + std::to_string(limit) + " " + movie);
            std::filesystem::remove(movie);
            const Outcome r = RunLimited({frames.path().string(), movie, "--codec", codec}, limit == -2 ? -1 : limit);
            const int code = r.code;
            const std::string& said = r.err;
            ++runs;
            EXPECT_TRUE(code == 0 || code == 1) << code << " " << said;
            EXPECT_TRUE(Leftovers(frames).empty());
            const auto m = avitest::ReadMovie(movie);
            if (code == 0) {
                ++succeeded;
                EXPECT_EQ(m.frames.size(), static_cast<std::size_t>(n)) << m.error;
                continue;
            }
            EXPECT_NE(said.find("reelcast-batch: "), std::string::npos);
            if (!std::filesystem::exists(movie)) {
                EXPECT_EQ(FramesSaid(said), -1) << said;
                continue;
            }
            ++partial;
            EXPECT_TRUE(m.error.empty() && m.warnings.empty()) << m.error;
            ASSERT_GT(m.frames.size(), 1u);
            EXPECT_EQ(static_cast<long>(m.frames.size()), FramesSaid(said) + 1) << said;
            if (std::string(codec) != "mjpeg" && std::string(codec) != "h264") {
                EXPECT_EQ(m.frames.back(), pictures[m.frames.size() - 1]);
            }
            // GStreamer has no decoder for Ut Video; its demuxer is what matters.
            const std::string sink = std::string(codec) == "utvideo" ? " ! fakesink" : " ! decodebin ! fakesink";
            if (gstreamer) {
                EXPECT_EQ(std::system(("gst-launch-1.0 -q filesrc location='" + movie + "' ! avidemux" + sink +
                                       " >/dev/null 2>&1").c_str()),
                          0);
            }
        }
        EXPECT_GT(succeeded, 0) << codec;
    }
    if (mounted)
        ::umount(mountPoint.path().c_str());
    EXPECT_GT(partial, 5);
    RecordProperty("runs", runs);
}
