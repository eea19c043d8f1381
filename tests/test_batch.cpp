// SPDX-License-Identifier: GPL-2.0-or-later
// reelcast-batch: the command line, its answers to the run's questions, and
// the program as a script would call it.
#include "AviMovieReader.h"
#include "BatchRun.h"
#include "TestSupport.h"
#include "WaveFormat.h"
#include "mdAVI.h"

#include <gtest/gtest.h>

#include <bit>
#include <chrono>
#include <cmath>
#include <optional>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <thread>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace testsupport;

namespace {

// Starts the program as a script would, within a file-size limit in bytes
// (none when negative); its standard error comes back through a pipe, which
// no such limit cuts short.
struct Started {
    pid_t pid;
    int err;
};
Started Start(std::vector<std::string> args, long limit = -1, const std::string& exe = REELCAST_BATCH_EXE)
{
    args.insert(args.begin(), exe);
    int fds[2];
    if (::pipe(fds) != 0)
        return {-1, -1};
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], STDERR_FILENO);
        std::freopen("/dev/null", "w", stdout);
        const rlimit l{static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
        if (limit >= 0)
            ::setrlimit(RLIMIT_FSIZE, &l);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    return {pid, fds[0]};
}

// What the program said on its standard error, and its exit code (128 + the
// signal that ended it, if one did).
Outcome Finish(const Started& s)
{
    std::string err;
    char buffer[4096];
    for (ssize_t got; (got = ::read(s.err, buffer, sizeof buffer)) > 0;)
        err.append(buffer, static_cast<std::size_t>(got));
    ::close(s.err);
    int status = 0;
    ::waitpid(s.pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), "", err};
}

// Holds the program still (SIGSTOP) once `file` holds `bytes`, so that a
// signal sent next finds the run under way on a machine of any speed. False
// when the program ended first.
bool HoldOnceWritten(pid_t pid, const std::string& file, std::uintmax_t bytes)
{
    for (std::error_code ec;;) {
        ::kill(pid, SIGSTOP);
        int status = 0;
        if (::waitpid(pid, &status, WUNTRACED) != pid || !WIFSTOPPED(status))
            return false;
        if (const auto size = std::filesystem::file_size(file, ec); !ec && size >= bytes)
            return true;
        ::kill(pid, SIGCONT);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// What the program said after its look at the whole sequence, whose first
// line counts the frame files of each kind.
std::string AfterScan(const std::string& err)
{
    const auto counted = err.find(" frame files: ");
    return counted == std::string::npos || counted > err.find('\n') ? err : err.substr(err.find('\n') + 1);
}

// The frames the program says the movie holds ("holds the N frames"), or -1.
long FramesSaid(const std::string& err)
{
    const auto at = err.find("holds the ");
    return at == std::string::npos ? -1 : std::stol(err.substr(at + 10));
}

// A WAV file written here, independently of the program's reader: seconds
// of samples whose bytes all differ from their neighbours', as a float or not.
Bytes Wav(std::uint16_t tag, int channels, int rate, int bits, double seconds, Bytes* samples = nullptr)
{
    Bytes f{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0};
    const auto put = [&](std::uint64_t v, int n) {
        for (int i = 0; i < n; ++i)
            f.push_back(static_cast<std::uint8_t>(v >> 8 * i));
    };
    const int block = channels * bits / 8;
    const auto bytes = static_cast<std::size_t>(rate * seconds) * block;
    put(tag, 2), put(channels, 2), put(rate, 4), put(rate * block, 4), put(block, 2), put(bits, 2);
    f.insert(f.end(), {'L', 'I', 'S', 'T', 3, 0, 0, 0, 'a', 'b', 'c', 0, 'd', 'a', 't', 'a'}); // odd, padded
    put(bytes, 4);
    for (std::size_t i = 0; i < bytes / 4 * 4; i += 4) // floats of -1 to 1 are whole words
        put(tag == 3 ? std::bit_cast<std::uint32_t>(std::sin(i * 0.001f)) : i * 2654435761u >> 7, 4);
    f.resize(56 + bytes, 0x5A);
    for (int i = 0; i < 4; ++i)
        f[4 + i] = static_cast<std::uint8_t>((f.size() - 8) >> 8 * i);
    if (samples)
        samples->assign(f.begin() + 56, f.end());
    return f;
}

} // namespace

TEST(Batch, CommandLineErrorsWriteNothingAndARunBuildsTheMovieTheWindowWould)
{
    TempDir frames, outDir;
    const auto pictures = WriteFrames(frames, 6, 21, 9);
    const std::string dir = frames.path().string(), out = outDir.file("m.avi");
    const std::tuple<std::vector<std::string>, int, std::string> errors[] = {
        {{dir}, 2, "expected FRAMES_DIR and OUTPUT.avi"},
        {{dir, out, "--codec", "divx"}, 2, "unknown or unavailable compressor \"divx\""},
        {{dir, out, "--size", "640"}, 2, "--size takes WIDTHxHEIGHT"},
        {{dir, out, "--fps"}, 2, "--fps needs a value"},
        {{dir, out, "--bogus"}, 2, "unknown option --bogus"},
        {{dir + "/nothing", out}, 1, "There's no TGA files in:\n" + dir + "/nothing"},
        {{dir, out, "--size", "0x480"}, 1, "The forced movie dimensions"},
    };
    for (const auto& [args, code, says] : errors) {
        const Outcome r = Batch(args);
        EXPECT_EQ(r.code, code) << says;
        EXPECT_NE(r.err.find(says), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(out));
    }
    const Outcome list = Batch({"--list-codecs"});
    EXPECT_EQ(list.code, 0);
    std::istringstream lines(list.out);
    for (std::string line; const auto& c : AviCompressors()) // scripts and the completion read the name
        EXPECT_TRUE(std::getline(lines, line) && line.starts_with(c.name + " ") && line.ends_with("  " + c.advice))
            << line;
    EXPECT_NE(Batch({"--help"}).out.find("Usage: reelcast-batch"), std::string::npos);
    EXPECT_EQ(Batch({"--version"}).out, "reelcast-batch " REELCAST_VERSION "\n");
    // FFmpeg's own lines, x264's statistics among them, only when asked for.
    for (const bool verbose : {false, true}) {
        const Outcome h = Finish(
            Start({dir, outDir.file("h.avi"), "--codec", "h264", "--overwrite", verbose ? "--verbose" : "--fps=15"}));
        EXPECT_TRUE(h.code == 0 && AfterScan(h.err).empty() != verbose &&
                    (h.err.find("kb/s") != std::string::npos) == verbose)
            << h.err;
    }

    const Outcome r = Batch({dir, out, "--fps", "40", "--codec", "ffv1", "--keyframe-every=2"});
    EXPECT_EQ(std::tuple(r.code, r.out), std::tuple(0, "Movie's Creation Completed!\n5 frames written to " + out + "\n"));
    const auto movie = avitest::ReadMovie(out);
    EXPECT_EQ(std::tuple(movie.codec, movie.rateNum * 1.0 / movie.rateDen), std::tuple("ffv1", 30.0)) << movie.error;
    ASSERT_EQ(movie.frames.size(), 6u);
    for (std::size_t k = 1; k < 6; ++k)
        EXPECT_TRUE(movie.frames[k] == pictures[k] && movie.keyFrames[k] == (k % 2 == 0)) << k;

    // Replaced only when told.
    const Bytes made = ReadFile(out);
    EXPECT_EQ(Batch({dir, out}).err, "reelcast-batch: " + out + " already exists; use --overwrite to replace it\n");
    EXPECT_EQ(ReadFile(out), made);
    EXPECT_EQ(Batch({dir, out, "--overwrite", "--size", "10x 4"}).code, 0);
    EXPECT_EQ(avitest::ReadMovie(out, false, false).width, 10);
}

// The program itself, in a directory and configuration of its own (an OutPut
// folder or a setting would show): every stop signal ends the run as Ctrl-C
// does, the movie indexed with the frames it says it holds, and its sound.
TEST(BatchProgram, StopSignalsKeepAnIndexedMovieAndLeaveNothingBehind)
{
    TempDir home, few, many;
    const std::string exe = home.file("reelcast-batch");
    std::filesystem::copy_file(REELCAST_BATCH_EXE, exe);
    ::setenv("XDG_CONFIG_HOME", home.file("config").c_str(), 1);
    WriteFrames(few, 3, 8, 8);
    EXPECT_EQ(Finish(Start({few.path().string(), home.file("movie.avi"), "--codec", "huffyuv"}, -1, exe)).code, 0);
    EXPECT_EQ(avitest::ReadMovie(home.file("movie.avi")).frames.size(), 3u);

    WriteFrames(many, 300, 320, 240);
    // With a sound track that outlasts the frames: it stops with them.
    WriteFile(home.file("s.wav"), Wav(1, 2, 44100, 16, 30));
    for (const int sig : {SIGHUP, SIGTERM, SIGINT, SIGQUIT}) {
        SCOPED_TRACE(strsignal(sig));
        const std::string out = home.file("stopped.avi");
        std::filesystem::remove(out); // so that the wait below sees this run's movie
        const Started run =
            Start({many.path().string(), out, "--overwrite", "--rate", "60", "--audio", home.file("s.wav")}, -1, exe);
        // Stopped once the movie holds a few frames.
        const bool held = HoldOnceWritten(run.pid, out, 5 * 230400);
        ::kill(run.pid, sig);
        ::kill(run.pid, SIGCONT);
        const Outcome r = Finish(run);
        ASSERT_TRUE(held) << "the run ended before it held five frames: " << r.err;
        EXPECT_TRUE(OnlyFrames(many));
        const auto movie = avitest::ReadMovie(out);
        ASSERT_TRUE(movie.opened) << movie.error;
        EXPECT_TRUE(movie.warnings.empty()) << movie.warnings.front(); // indexed: nothing to scan
        EXPECT_EQ(r.code, 130);
        EXPECT_EQ(static_cast<long>(movie.frames.size()), FramesSaid(r.err) + 1) << r.err;
        EXPECT_GT(movie.frames.size(), 1u);
        EXPECT_NEAR(movie.sound.size() / (4 * 44100.0), movie.frames.size() / 60.0, 1 / 60.0);
    }
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_FALSE(std::filesystem::exists(home.file("OutPut")));
    EXPECT_FALSE(std::filesystem::exists(home.file("config")));
}

// Writes cut short anywhere by file-size limits (a full disk fails the same
// writes, with another errno): each run succeeds with every frame, or fails
// with a message and leaves no movie or one that decodes cleanly and holds
// what the message says.
TEST(BatchProgram, FailedWritesAnywhereNeverClaimAFrameTheMovieDoesNotHold)
{
    TempDir frames, outDir;
    const int n = 30;
    const auto pictures = WriteFrames(frames, n, 96, 64);
    const long kb = 1024;
    int partial = 0;
    for (const std::string codec : {"raw", "mjpeg", "ffv1", "h264", "utvideo"}) {
        int succeeded = 0;
        for (const long limit : {0L, 8 * kb, 16 * kb, 24 * kb, 40 * kb, 64 * kb, 100 * kb, 160 * kb, 260 * kb,
                                 400 * kb, 700 * kb, 1200 * kb}) {
            const std::string movie = outDir.file("m.avi");
            SCOPED_TRACE(codec + " limit " + std::to_string(limit));
            std::filesystem::remove(movie);
            const Outcome r = Finish(Start({frames.path().string(), movie, "--codec", codec}, limit));
            EXPECT_TRUE(r.code == 0 || r.code == 1) << r.code << " " << r.err;
            EXPECT_TRUE(OnlyFrames(frames));
            const auto m = avitest::ReadMovie(movie);
            if (r.code == 0) {
                ++succeeded;
                EXPECT_EQ(m.frames.size(), static_cast<std::size_t>(n)) << m.error;
                continue;
            }
            EXPECT_NE(r.err.find("reelcast-batch: "), std::string::npos);
            if (!std::filesystem::exists(movie)) {
                EXPECT_EQ(FramesSaid(r.err), -1) << r.err;
                continue;
            }
            ++partial;
            EXPECT_TRUE(m.error.empty() && m.warnings.empty()) << m.error;
            ASSERT_GT(m.frames.size(), 1u);
            EXPECT_EQ(static_cast<long>(m.frames.size()), FramesSaid(r.err) + 1) << r.err;
            if (codec != "mjpeg" && codec != "h264") {
                EXPECT_EQ(m.frames.back(), pictures[m.frames.size() - 1]);
            }
        }
        EXPECT_GT(succeeded, 0) << codec;
    }
    EXPECT_GT(partial, 5);
}

// GStreamer plays a movie cut short by a file-size limit to its end, and a
// movie's picture and sound streams together. It has no decoder for Ut
// Video; its AVI reader is what matters there.
TEST(BatchProgram, GStreamerPlaysMoviesCutShortAndTheirSound)
{
    if (const std::string missing = testsupport::GStreamerMissing(); !missing.empty())
        GTEST_SKIP() << missing;
    TempDir frames, outDir;
    WriteFrames(frames, 30, 96, 64);
    const std::string movie = outDir.file("m.avi"), wav = outDir.file("s.wav");
    std::string said;
    for (const std::string codec : {"raw", "mjpeg", "ffv1", "h264", "utvideo"}) {
        SCOPED_TRACE(codec);
        bool cut = false; // the smallest limit that leaves a movie
        for (const long limit : {40 * 1024, 100 * 1024, 260 * 1024}) {
            std::filesystem::remove(movie);
            cut = Finish(Start({frames.path().string(), movie, "--codec", codec}, limit)).code == 1 &&
                  std::filesystem::exists(movie);
            if (cut)
                break;
        }
        ASSERT_TRUE(cut);
        EXPECT_TRUE(testsupport::GStreamerPlays(
            movie, codec == "utvideo" ? "d. ! fakesink" : "d. ! decodebin ! fakesink", said)) << said;
    }
    WriteFile(wav, Wav(1, 2, 48000, 16, 2));
    ASSERT_EQ(Batch({frames.path().string(), movie, "--overwrite", "--rate", "15", "--audio", wav}).code, 0);
    EXPECT_TRUE(testsupport::GStreamerPlays(movie, "d.video_0 ! queue ! fakesink d.audio_0 ! queue ! fakesink", said))
        << said;
}

// Exact rates; sound tracks of each kind kept sample for sample from time 0, as long as the
// movie; a sound file that cannot be used stops the program before anything is written.
TEST(Batch, ExactRatesAndSoundTracksKeepEverySample)
{
    TempDir frames, outDir;
    WriteFrames(frames, 120, 8, 6);
    const std::string dir = frames.path().string(), out = outDir.file("m.avi"), wav = outDir.file("s.wav");
    // The sound's tag, channels, rate, bits and seconds; --rate, the header's rate and FFmpeg's decoder.
    const std::tuple<int, int, int, int, double, const char*, double, const char*> cases[] = {
        {1, 2, 48000, 16, 2, "60", 60, "pcm_s16le"},
        {1, 1, 22050, 16, 120 / (30000 / 1001.0), "30000/1001", 30000 / 1001.0, "pcm_s16le"},
        {1, 2, 48000, 24, 2, "60", 60, "pcm_s24le"},
        {3, 2, 48000, 32, 2, "60", 60, "pcm_f32le"},
        {1, 2, 44100, 8, 1.5, "audio", 80, "pcm_u8"}};
    for (const auto& [tag, channels, rate, bits, seconds, rateText, header, decoder] : cases) {
        SCOPED_TRACE(std::string(decoder) + " " + rateText);
        Bytes samples;
        WriteFile(wav, Wav(tag, channels, rate, bits, seconds, &samples));
        const Outcome r = Batch({dir, out, "--overwrite", "--rate", rateText, "--audio", wav});
        EXPECT_EQ(std::tuple(r.code, AfterScan(r.err)), std::tuple(0, "")) << r.err;
        const auto m = avitest::ReadMovie(out, false, false);
        EXPECT_DOUBLE_EQ(m.rateNum * 1.0 / m.rateDen, header);
        EXPECT_EQ(std::tuple(m.soundCodec, m.sampleRate, m.channels, m.soundStart),
                  std::tuple(decoder, rate, channels, 0.0)) << m.error;
        EXPECT_NEAR(samples.size() / (channels * bits / 8.0) / rate, m.keyFrames.size() / header, 1 / header);
        Bytes decoded = samples; // FFmpeg gives 24-bit samples as the top of 32 bits
        for (std::size_t i = 0; bits == 24 && i < samples.size() / 3; ++i)
            decoded.resize(4 * (i + 1)), decoded[4 * i] = 0,
            std::copy_n(samples.begin() + 3 * i, 3, decoded.begin() + 4 * i + 1);
        EXPECT_TRUE(m.sound == decoded) << m.sound.size() << " bytes decoded, " << decoded.size() << " expected";
    }
    // A sound of another length than the movie, or a rate the window changes, is kept and told.
    EXPECT_NE(Batch({dir, out, "--overwrite", "--rate", "60", "--audio", wav}).err.find(
                  "the movie lasts 2 s, its sound 1.5 s; --rate 80 (or --rate audio) makes them end together"),
              std::string::npos);
    EXPECT_NE(Batch({dir, out, "--overwrite", "--fps", "60"}).err.find("--fps 60 gives 15 frames a second"),
              std::string::npos);

    // The movie's record of the sound: its size field written, nothing past it; with a
    // channel mask, the extensible record, which reads back as it was.
    struct { std::uint8_t record[wav::kExtensibleFormatSize], after; } w;
    std::memset(&w, 0xFF, sizeof w);
    EXPECT_EQ(wav::PutWaveFormat({1, 2, 48000, 192000, 4, 16}, w.record), wav::kWaveFormatExSize);
    EXPECT_EQ(std::tuple(w.record[16], w.record[17], w.record[18]), std::tuple(0, 0, 0xFF));
    const wav::Format quad{3, 4, 44100, 705600, 16, 32, 0x33};
    EXPECT_EQ(wav::PutWaveFormat(quad, w.record), wav::kExtensibleFormatSize);
    const wav::Format back = wav::ParseFormat(w.record, sizeof w.record);
    EXPECT_EQ(std::tuple(back.tag, back.channels, back.channelMask, back.bitsPerSample, w.after),
              std::tuple(3, 4, 0x33u, 32, 0xFF));
    Bytes cut = Wav(1, 2, 48000, 16, 1), contradicting = cut, noData = cut;
    cut.resize(cut.size() - 10), contradicting[32] = 3, noData.resize(36);
    noData[4] = 28, noData[5] = noData[6] = 0;
    const std::tuple<const char*, std::optional<Bytes>, const char*> bad[] = {
        {"missing", std::nullopt, "cannot be read: No such file"},
        {"not a WAV file", Bytes{'R', 'I', 'F', 'F'}, "is not a WAV file"},
        {"cut short", cut, "is cut short or its header is wrong"},
        {"ADPCM", Wav(2, 2, 48000, 16, 1), "holds samples of format 2"},
        {"a block size that contradicts the rest", contradicting,
         "has a format Reelcast cannot use or that contradicts itself"},
        {"no data chunk", noData, "has no sound data"}};
    // 8-bit mono, one sample past what a movie's sound can number; sparse, so it costs no disk.
    Bytes tooLong = Wav(1, 1, 8000, 8, 0);
    const std::uint32_t samples = 1u << 31;
    for (int i = 0; i < 4; ++i)
        tooLong[52 + i] = std::uint8_t(samples >> 8 * i), tooLong[4 + i] = std::uint8_t((samples + 48) >> 8 * i);
    std::filesystem::remove(out);
    WriteFile(wav, tooLong);
    std::filesystem::resize_file(wav, 56 + std::uintmax_t(samples));
    const Outcome r = Batch({dir, out, "--audio", wav});
    EXPECT_EQ(std::tuple(r.code, std::filesystem::exists(out)), std::tuple(1, false));
    EXPECT_NE(r.err.find(wav + " holds 2147483648 samples a channel, more than a movie's sound can (2147483647)"),
              std::string::npos) << r.err;
    for (const auto& [what, file, says] : bad) {
        std::filesystem::remove(wav);
        if (file)
            WriteFile(wav, *file);
        const Outcome r = Batch({dir, out, "--audio", wav});
        EXPECT_EQ(r.code, 1) << what;
        EXPECT_NE(r.err.find("The sound file " + wav + " " + says), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(out)) << what;
    }
}
