// SPDX-License-Identifier: GPL-2.0-or-later
// reelcast-batch as a script calls it, stopped by a signal or a full disk, on a terminal; and its host's seams.
#include "AviMovieReader.h"
#include "BatchHost.h"
#include "BatchRun.h"
#include "StopSignals.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <regex>
#include <sstream>
#include <thread>

#include <sys/resource.h>
#include <sys/wait.h>

using namespace testsupport;

namespace {

// Runs the program as a script would, within a file-size limit in bytes (none when negative), calling meanwhile with
// its process id; answers its exit code (128 + the signal that ended it) and its standard error.
Outcome Program(std::vector<std::string> args, long limit = -1, const std::function<void(pid_t)>& meanwhile = {})
{
    args.insert(args.begin(), REELCAST_BATCH_EXE);
    int fds[2] = {-1, -1};
    EXPECT_EQ(::pipe(fds), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], STDERR_FILENO);
        std::freopen("/dev/null", "w", stdout);
        if (const rlimit l{static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)}; limit >= 0)
            ::setrlimit(RLIMIT_FSIZE, &l);
        std::vector<char*> argv(args.size() + 1);
        std::transform(args.begin(), args.end(), argv.begin(), [](std::string& a) { return a.data(); });
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    if (meanwhile)
        meanwhile(pid);
    std::string err;
    char buffer[4096];
    for (ssize_t got; (got = ::read(fds[0], buffer, sizeof buffer)) > 0;)
        err.append(buffer, static_cast<std::size_t>(got));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), "", err};
}

// Sends `sig` while the program is held still once `file` holds `bytes`, so that it finds the run under way; false if
// the run ended first.
bool SignalOnceWritten(pid_t pid, const std::string& file, std::uintmax_t bytes, int sig)
{
    for (std::error_code ec;;) {
        ::kill(pid, SIGSTOP);
        int status = 0;
        if (::waitpid(pid, &status, WUNTRACED) != pid || !WIFSTOPPED(status))
            return false;
        if (const auto size = std::filesystem::file_size(file, ec); !ec && size >= bytes) {
            ::kill(pid, sig);
            ::kill(pid, SIGCONT);
            return true;
        }
        ::kill(pid, SIGCONT);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

extern "C" void Before(int) {}

} // namespace

TEST(Batch, CommandLineErrorsWriteNothingAndARunBuildsTheMovieTheWindowWould)
{
    TempDir frames, outDir;
    WriteFrames(frames, 6, 21, 9);
    const std::string dir = frames.path().string(), out = outDir.file("m.avi"), usage = Batch({"--help"}).out;
    EXPECT_TRUE(usage.starts_with("Usage: reelcast-batch FRAMES_DIR OUTPUT.avi ") && Batch({"-h"}).out == usage);
    const auto misused = [&](const std::string& why) { return "reelcast-batch: " + why + "\n\n" + usage; };
    std::string codecs;
    for (const auto& c : AviCompressors())
        codecs += " " + c.name;
    const std::tuple<std::vector<std::string>, int, std::string> refused[] = {
        {{dir}, 2, misused("expected FRAMES_DIR and OUTPUT.avi")},
        {{dir, out, "--size", "640"}, 2, misused("--size takes WIDTHxHEIGHT, as in 640x480, not \"640\"")},
        {{dir, out, "--fps"}, 2, misused("--fps needs a value")},
        {{dir, out, "--audio", ""}, 2, misused("--audio needs a value, not an empty one")},
        {{dir, out, "-x"}, 2, misused("unknown option -x")},
        {{dir, out, "--blend", "1"}, 2, misused("--blend takes a number of files from 2 to 64, not \"1\"")},
        {{dir, out, "--blend=65"}, 2, misused("--blend takes a number of files from 2 to 64, not \"65\"")},
        {{dir, out, "--rate", "audio"}, 2, misused("--rate audio needs --audio FILE")},
        {{dir, out, "--rate", "1000000000000000000"}, 2,
         misused("--rate takes N, N/D or audio, as in 60 or 30000/1001, not \"1000000000000000000\"")},
        {{dir, out, "--rate", "1/2"}, 2, misused("--rate 1/2 is not 1 to 1000 frames a second")},
        {{dir, out, "--rate", "4294967291/4294967279"}, 2,
         misused("--rate 4294967291/4294967279 cannot be held exactly: a movie's header takes a rate and a scale of "
                 "at most 2147483647 each, and 4294967291/4294967279 is as far as it reduces; the closest it holds "
                 "is --rate 357913941/357913940")},
        {{dir, out, "--codec", "divx"}, 2,
         "reelcast-batch: unknown or unavailable compressor \"divx\"; available:" + codecs + "\n"},
        {{dir + "/nothing", out}, 1,
         "reelcast-batch: There's no TGA files in:\n" + dir + "/nothing\n(No such file or directory)\n"},
    };
    for (const auto& [args, code, says] : refused) {
        const Outcome r = Batch(args);
        EXPECT_EQ(std::tuple(r.code, r.out, r.err, std::filesystem::exists(out)),
                  std::tuple(code, "", says, false));
    }
    // --rate audio takes the same rates as --rate N/D.
    EXPECT_TRUE(batch::IsMovieRate({1000, 1}) && batch::IsMovieRate({30000, 1001}) &&
                !batch::IsMovieRate({1001, 1}) && !batch::IsMovieRate({999, 1000}));
    EXPECT_EQ(Batch({"--version"}).out, "reelcast-batch " REELCAST_VERSION "\n");
    // FFmpeg's own lines, x264's statistics among them, when asked for.
    const Outcome h = Program({dir, outDir.file("h.avi"), "--codec", "h264", "--verbose"});
    EXPECT_TRUE(h.code == 0 && h.err.find("kb/s") != std::string::npos) << h.err;
    // A rate the window changes is told, with the exact rate that keeps it.
    const std::string window = " frames a second, as the window would (1 to 50, the header at most 30)";
    for (const auto& [fps, says] : {std::pair("12.25", "12" + window + "; --rate 49/4 keeps 12.25"),
                                    std::pair("0.5", "15" + window)})
        EXPECT_TRUE(Batch({dir, out, "--overwrite", "--fps", fps})
                        .err.starts_with("reelcast-batch: --fps " + std::string(fps) + " gives " + says + "\n")) << fps;
    const Outcome r = Batch({dir, out, "--overwrite", "--fps", "40"});
    EXPECT_EQ(std::tuple(r.code, r.out, r.err.substr(0, r.err.find('\n') + 1)),
              std::tuple(0, "Movie's Creation Completed!\n5 frames written to " + out + "\n",
                         "reelcast-batch: --fps 40 gives 30" + window + "; --rate 40 keeps 40\n"));
    const Bytes made = ReadFile(out); // replaced only when told
    EXPECT_EQ(Batch({dir, out}).err, "reelcast-batch: " + out + " already exists; use --overwrite to replace it\n");
    EXPECT_EQ(ReadFile(out), made);
}

// Every stop signal ends the run as Ctrl-C does, the movie indexed with the frames it says it holds and their sound.
// The watch takes each signal and, when it ends, gives each back the handler it had, its own one.
TEST(BatchProgram, StopSignalsKeepAnIndexedMovieWithItsSoundAndTheirHandlersComeBack)
{
    const int signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
    const auto handler = [](int s) { struct sigaction a {}; return ::sigaction(s, nullptr, &a), a.sa_handler; };
    struct sigaction outside[std::size(signals)];
    for (std::size_t i = 0; i < std::size(signals); ++i)
        ::sigaction(signals[i], nullptr, &outside[i]), std::signal(signals[i], i % 2 ? SIG_IGN : Before);
    {
        const StopSignals watch; // that it takes each signal shows in the program stopped by each
        EXPECT_THROW(StopSignals{}, std::logic_error);
    }
    for (std::size_t i = 0; i < std::size(signals); ++i) {
        EXPECT_EQ(handler(signals[i]), i % 2 ? SIG_IGN : Before) << signals[i];
        ::sigaction(signals[i], &outside[i], nullptr);
    }
    TempDir home, many;
    const std::string out = home.file("stopped.avi");
    WriteFrames(many, 300, 320, 240);
    WriteFile(home.file("s.wav"), Wav(1, 2, 44100, 16, 30)); // it outlasts the frames
    for (const auto& [sig, codec] :
         {std::pair(SIGHUP, "raw"), std::pair(SIGTERM, "h264"), std::pair(SIGINT, "ffv1"), std::pair(SIGQUIT, "raw")}) {
        SCOPED_TRACE(std::string(strsignal(sig)) + " " + codec);
        std::filesystem::remove(out); // so that the wait below sees this run's movie
        bool held = false;
        const Outcome r = Program(
            {many.path().string(), out, "--overwrite", "--rate", "48", "--codec", codec, "--audio", home.file("s.wav")},
            -1, [&](pid_t pid) { held = SignalOnceWritten(pid, out, 600000, sig); });
        ASSERT_TRUE(held) << "the run ended before its movie had frames: " << r.err;
        const auto movie = avitest::ReadMovie(out);
        ASSERT_TRUE(movie.opened && movie.warnings.empty()) << movie.error; // indexed: nothing to scan
        // Stopped is not completed, whatever the window's status line says.
        EXPECT_EQ(std::tuple(r.code, r.err.substr(r.err.find('\n') + 1)), // all said after the scan's line
                  std::tuple(130, "reelcast-batch: interrupted; " + out + " holds the " +
                                      std::to_string(movie.frames.size() - 1) + " frames written so far\n"));
        // 918.75 samples a frame, position 0 included, rounded down.
        EXPECT_EQ(movie.sound.size(), movie.frames.size() * 44100 / 48 * 4);
    }
}

// Writes cut short by file-size limits (a full disk fails the same writes): a run succeeds whole, or fails leaving no
// movie or one that holds what the message says, decodes cleanly and GStreamer plays (Ut Video by its AVI reader).
TEST(BatchProgram, FailedWritesAnywhereNeverClaimAFrameTheMovieDoesNotHold)
{
    TempDir frames, outDir;
    WriteFrames(frames, 30, 96, 64);
    const std::string movie = outDir.file("m.avi"), wav = outDir.file("s.wav"), gstreamer = GStreamerMissing();
    const std::string failed = "reelcast-batch: cannot write " + movie + ": its disk is full, the file-size limit "
                               "is reached, or the disk failed\nreelcast-batch: ";
    WriteFile(wav, Wav(1, 1, 22050, 16, 1.5));
    int partial = 0, played = 0;
    for (const std::string codec : {"raw", "mjpeg", "ffv1", "h264", "utvideo"}) {
        for (const long kb : {0, 8, 24, 64, 100, 260, 700, 1200}) {
            SCOPED_TRACE(codec + " limit " + std::to_string(kb) + " KiB");
            std::filesystem::remove(movie);
            const Outcome r =
                Program({frames.path().string(), movie, "--codec", codec, "--rate", "30", "--audio", wav}, kb * 1024);
            const auto m = avitest::ReadMovie(movie);
            if (r.code == 0 || kb == 1200) { // the whole sound, past the last picture
                EXPECT_EQ(std::tuple(r.code, m.frames.size(), m.sound.size()), std::tuple(0, 30u, 66150u)) << r.err;
                continue;
            }
            const bool kept = std::filesystem::exists(movie);
            const std::string says = kept ? movie + " holds the " + std::to_string(m.frames.size() - 1) +
                                                " frames written before the failure\n"
                                          : "no movie was written: no frame reached " + movie + "\n";
            EXPECT_TRUE(r.code == 1 && r.err.ends_with(failed + says)) << r.err;
            EXPECT_TRUE(!kept || (m.frames.size() > 1 && m.error.empty() && m.warnings.empty())) << m.error;
            EXPECT_LE(m.sound.size(), m.frames.size() * 1470) << "sound past the frames' 735 samples each";
            partial += kept;
            if (kept && kb == 100 && gstreamer.empty() && ++played) {
                std::string said;
                const std::string video = codec == "utvideo" ? "d.video_0 ! queue" : "d.video_0 ! queue ! decodebin";
                EXPECT_TRUE(GStreamerPlays(movie, video + " ! fakesink d.audio_0 ! queue ! fakesink", said)) << said;
            }
        }
    }
    EXPECT_EQ(std::tuple(partial > 5, played), std::tuple(true, gstreamer.empty() ? 5 : 0));
    if (!gstreamer.empty())
        GTEST_SKIP() << "all but GStreamer's checks passed: " << gstreamer;
}

// On a terminal a bar counts the frames written, 30 cells filled by the share done, rounded down, its line ended at
// the end. Speed and time left vary.
TEST(BatchProgram, OnATerminalABarCountsTheFramesWritten)
{
    TempDir frames, outDir;
    WriteFrames(frames, 8, 8, 6);
    const Outcome r = Batch({frames.path().string(), outDir.file("m.avi")}, true);
    std::string bars;
    for (int done = 1; done <= 7; ++done) // the first file is frame 0, as in "5 frames written" for 6 files
        bars += "\r[" + std::string(30 * done / 7, '#') + std::string(30 - 30 * done / 7, '.') + "] " +
                std::to_string(done) + "/7 frames" + (done > 1 ? "  F fps  T left" : "") + "   ";
    const std::regex figures("  [0-9]+\\.[0-9] fps  [0-9]+(:[0-9]{2}){1,2} left");
    EXPECT_EQ(std::tuple(r.code, std::regex_replace(r.err, figures, "  F fps  T left")),
              std::tuple(0, "reelcast-batch: 8 frame files: 8 true colour, 24-bit (type 2)\n" + bars + "\n"));
}

// --quality, --keyframe-every and --datarate read as TextValue reads, rounded half to even: the quality of 0 to 100
// in hundredths, key frames never negative, at most 4194303 KB/s (32 bits of bytes); an option not given: no change.
// The time left on the bar, to the nearest second, halves up.
TEST(BatchHost, TheCompressorsSettingsAreTheOptionsScaledAndClampedAndTimeLeftIsToTheSecond)
{
    const std::tuple<const char*, const char*, const char*, std::uint32_t, std::uint32_t, std::uint32_t> rows[] = {
        {"55", "", "", 5500, 7, 7}, {"150", "-4", "-5", 10000, 0, 0}, {"-3", "2.5", "4194303", 0, 2, 4194303u * 1024},
        {"49.6", "&H10", "4194304", 5000, 16, 4194303u * 1024}, {"48.5", "3e9", "1e12", 4800, 2147483647, 4194303u * 1024},
        {"x", "0", "1.5", 0, 0, 2048}};
    const auto& codecs = AviCompressors();
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const auto& [quality, keys, rate, q, k, bytes] = rows[i];
        batch::Options o;
        o.quality = quality, o.keyFrameEvery = keys, o.dataRate = rate;
        const AviCompressor& codec = codecs[i % codecs.size()];
        BuildState state;
        std::ostringstream err;
        batch::BatchHost host(o, codec, state, err, false);
        AVICOMPRESSOPTIONS c{};
        c.dwKeyFrameEvery = c.dwBytesPerSecond = 7;
        EXPECT_TRUE(host.ChooseCompressor(nullptr, c));
        EXPECT_EQ(std::tuple(c.fccType, c.fccHandler, c.dwQuality, c.dwKeyFrameEvery, c.dwBytesPerSecond, err.str()),
                  std::tuple(0x73646976u /* "vids" */, codec.fccHandler, q, k, bytes, ""))
            << quality << " " << keys << " " << rate;
    }
    const std::pair<double, const char*> cases[] = {
        {0, "0:00"}, {0.49, "0:00"}, {59.5, "1:00"}, {599.4, "9:59"}, {3599.4, "59:59"},
        {3599.5, "1:00:00"}, {3600, "1:00:00"}, {36061, "10:01:01"}, {360000, "100:00:00"}};
    for (const auto& [seconds, text] : cases)
        EXPECT_EQ(batch::Duration(seconds), text) << seconds;
}
