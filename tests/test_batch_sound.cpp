// SPDX-License-Identifier: GPL-2.0-or-later
// reelcast-batch's sound in the file: each chunk beside the pictures it plays
// with, whatever the compressor holds back, whether the run completes, is
// stopped or fails.
#include "AviMovieReader.h"
#include "BatchRun.h"
#include "StopSignals.h"
#include "TestSupport.h"
#include "WaveFile.h"
#include "WaveFormat.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <functional>
#include <filesystem>
#include <thread>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace testsupport;

namespace {

constexpr int kRate = 30;

// Stereo 16-bit at 48 kHz unless told otherwise, through the movie's own
// record of the format.
void WriteSound(const std::string& path, double seconds, wav::Format f = {wav::kFormatPcm, 2, 48000, 192000, 4, 16})
{
    std::uint8_t record[wav::kExtensibleFormatSize];
    const auto fmt = static_cast<std::uint32_t>(wav::PutWaveFormat(f, record));
    const auto data = static_cast<std::uint32_t>(f.sampleRate * seconds) * f.blockAlign;
    std::string w;
    const auto put = [&](const char* id, std::uint32_t size) {
        w.append(id, 4);
        for (int i = 0; i < 4; ++i)
            w.push_back(static_cast<char>(size >> 8 * i));
    };
    put("RIFF", 4 + 8 + fmt + 8 + data);
    w.append("WAVE");
    put("fmt ", fmt);
    w.append(reinterpret_cast<const char*>(record), fmt);
    put("data", data);
    w.append(data, '\x11');
    WriteFile(path, Bytes(w.begin(), w.end()));
}

// The sound stream's channel layout as FFmpeg reads it, as in "quad".
std::string SoundLayout(const std::string& path)
{
    AVFormatContext* ctx = nullptr;
    if (avformat_open_input(&ctx, path.c_str(), nullptr, nullptr) != 0)
        return "unreadable";
    avformat_find_stream_info(ctx, nullptr);
    char name[64] = "none";
    for (unsigned i = 0; i < ctx->nb_streams; ++i)
        if (ctx->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            av_channel_layout_describe(&ctx->streams[i]->codecpar->ch_layout, name, sizeof name);
    avformat_close_input(&ctx);
    return name;
}

// What stands in the file, in its order: pictures, and the sound between
// them, with the time each starts and ends, in seconds.
struct Chunk {
    bool sound;
    double start, end;
};
std::vector<Chunk> FileOrder(const std::string& path)
{
    AVFormatContext* ctx = nullptr;
    std::vector<std::pair<std::int64_t, Chunk>> found;
    if (avformat_open_input(&ctx, path.c_str(), nullptr, nullptr) != 0)
        return {};
    avformat_find_stream_info(ctx, nullptr);
    AVPacket* pkt = av_packet_alloc();
    while (av_read_frame(ctx, pkt) >= 0) {
        const AVStream* st = ctx->streams[pkt->stream_index];
        const bool sound = st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
        const double start = pkt->dts * av_q2d(st->time_base);
        const double length = sound ? pkt->duration * av_q2d(st->time_base) : 1.0 / kRate;
        found.push_back({pkt->pos, {sound, start, start + length}});
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    avformat_close_input(&ctx);
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    // FFmpeg reads a sound chunk in pieces: the pieces between two pictures
    // are one span of sound.
    std::vector<Chunk> order;
    for (const auto& [pos, chunk] : found)
        if (chunk.sound && !order.empty() && order.back().sound)
            order.back().end = chunk.end;
        else
            order.push_back(chunk);
    return order;
}

// Every span of sound that pictures follow ends within a frame of the end of
// the pictures before it; after the last picture only the sound past it may
// follow, and a movie cut short holds no sound beyond its last picture.
::testing::AssertionResult Interleaved(const std::vector<Chunk>& order, bool cutShort)
{
    const double frame = 1.0 / kRate;
    const auto last = std::find_if(order.rbegin(), order.rend(), [](const Chunk& c) { return !c.sound; });
    if (order.empty() || order.front().sound || last == order.rend())
        return ::testing::AssertionFailure() << "no picture first, or none at all";
    const auto lastPicture = std::prev(last.base());
    double pictures = 0, sound = 0;
    for (auto c = order.begin(); c != order.end(); ++c) {
        if (!c->sound) {
            pictures = std::max(pictures, c->end);
            continue;
        }
        sound = c->end;
        if (c < lastPicture && std::abs(c->end - pictures) > frame + 1e-9)
            return ::testing::AssertionFailure() << "sound ending at " << c->end << " s stands after pictures ending at "
                                                 << pictures << " s";
    }
    if (cutShort && sound > pictures + frame + 1e-9)
        return ::testing::AssertionFailure() << sound << " s of sound with " << pictures << " s of pictures";
    return ::testing::AssertionSuccess() << pictures << " s of pictures, " << sound << " s of sound";
}

struct Recording {
    TempDir dir, out;
    std::string frames = dir.file("frames"), sound = dir.file("s.wav");
    // n frames on disk: links to a few pictures, so that a long run costs no room.
    explicit Recording(int n, double seconds)
    {
        std::filesystem::create_directory(frames);
        TempDir pictures;
        WriteFrames(pictures, 4, 64, 48);
        const auto files = SortedFiles(pictures.path());
        for (int i = 0; i < n; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "/f%05d.tga", i);
            std::filesystem::copy_file(files[i % 4], frames + name);
        }
        WriteSound(sound, seconds);
    }
    static std::vector<std::filesystem::path> SortedFiles(const std::filesystem::path& dir)
    {
        std::vector<std::filesystem::path> files;
        for (const auto& e : std::filesystem::directory_iterator(dir))
            files.push_back(e.path());
        std::sort(files.begin(), files.end());
        return files;
    }
};

} // namespace

TEST(BatchSound, ChunksStandBesideTheirPicturesForEveryCompressorAndEveryEnding)
{
    Recording rec(61, 2.5);
    for (const char* codec : {"raw", "ffv1", "h264"}) {
        SCOPED_TRACE(codec);
        const std::string movie = rec.out.file(std::string(codec) + ".avi");
        ASSERT_EQ(Batch({rec.frames, movie, "--codec", codec, "--rate", "30", "--audio", rec.sound}).code, 0);
        const auto order = FileOrder(movie);
        EXPECT_EQ(std::count_if(order.begin(), order.end(), [](const Chunk& c) { return !c.sound; }), 61);
        EXPECT_TRUE(Interleaved(order, false));
        EXPECT_NEAR(order.back().end, 2.5, 1e-9) << "the whole sound, past the last picture";
    }

    // A run that fails at a file-size limit: what H.264 held back is lost, and
    // so is its sound.
    const std::string limited = rec.out.file("limited.avi");
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        const rlimit limit{300000, 300000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::_exit(Batch({rec.frames, limited, "--codec", "h264", "--rate", "30", "--audio", rec.sound}).code);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_TRUE(Interleaved(FileOrder(limited), true));
}

TEST(BatchSound, AStoppedRunKeepsItsSoundUpToItsLastPicture)
{
    Recording rec(1500, 60);
    const std::string movie = rec.out.file("stopped.avi");
    // Stopped once the movie has pictures in it, as Ctrl-C would.
    std::thread stopper([&] {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        std::error_code error;
        while ((std::filesystem::file_size(movie, error) < 60000 || error) &&
               std::chrono::steady_clock::now() < giveUp)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ::kill(::getpid(), SIGINT);
    });
    const Outcome said = Batch({rec.frames, movie, "--codec", "h264", "--rate", "30", "--audio", rec.sound});
    stopper.join();
    EXPECT_EQ(said.code, 130);
    // Stopped is not completed, whatever the window's status line says.
    EXPECT_EQ(said.err.find("Completed"), std::string::npos) << said.err;
    EXPECT_NE(said.err.find("interrupted; " + movie + " holds the "), std::string::npos) << said.err;
    const auto order = FileOrder(movie);
    EXPECT_LT(std::count_if(order.begin(), order.end(), [](const Chunk& c) { return !c.sound; }), 1500);
    EXPECT_TRUE(Interleaved(order, true));
}

// What the command line, the sound and the rates can get wrong: each is
// refused with its reason before anything is written, or written exactly.
TEST(BatchSound, RatesSoundsAndValuesAreWrittenExactlyOrRefusedWithTheirReason)
{
    Recording rec(31, 1);
    const std::string movie = rec.out.file("m.avi"), wavs = rec.dir.file("");
    WriteSound(wavs + "quad.wav", 1, {wav::kFormatPcm, 4, 48000, 384000, 8, 16, 0x33});
    WriteSound(wavs + "many.wav", 0.01, {wav::kFormatPcm, 513, 8000, 8000 * 513, 513, 8});
    WriteSound(wavs + "long.wav", 100);
    ::mkfifo((wavs + "fifo.wav").c_str(), 0600);
    const auto rate = [&] {
        const auto m = avitest::ReadMovie(movie, false, false);
        return std::to_string(m.rateNum) + "/" + std::to_string(m.rateDen);
    };
    const auto layout = [&] { return SoundLayout(movie); };
    const auto none = [&] { return std::string(std::filesystem::exists(movie) ? "a movie" : "none"); };
    struct Row {
        const char* what;
        std::vector<std::string> args;
        int code;
        std::string says; // on standard error, or anywhere for 0
        std::string held; // what the movie is, as a reader finds it
        std::function<std::string()> holds;
    };
    const Row rows[] = {
        {"a rate that reduces to one a header holds", {"--rate", "3000000000/100000000"}, 0, "30 frames written",
         "30/1", rate},
        {"a rate that does not", {"--rate", "4294967291/4294967279"}, 2,
         "cannot be held exactly: a movie's header takes a rate and a scale of at most 2147483647 each", "none", none},
        {"sound-paced, too slow for a movie", {"--audio", wavs + "long.wav", "--rate", "audio"}, 1,
         "--rate audio: 31 frames over the sound's 100 s would be 0.31 frames a second", "none", none},
        {"more channels than players read", {"--audio", wavs + "many.wav"}, 1,
         "many.wav has 513 channels, more than a movie's sound can (512)", "none", none},
        {"a quad sound keeps its speakers", {"--audio", wavs + "quad.wav", "--rate", "30"}, 0, "30 frames written",
         "quad", layout},
        {"an empty sound", {"--audio", ""}, 2, "--audio needs a value, not an empty one", "none", none},
        {"an empty rate", {"--rate="}, 2, "--rate needs a value, not an empty one", "none", none},
        {"a FIFO for a sound", {"--audio", wavs + "fifo.wav"}, 1, "fifo.wav is a FIFO, not a WAV file.", "none", none},
        {"a directory for a sound", {"--audio", rec.frames}, 1, "frames is a directory, not a WAV file.", "none",
         none},
        {"no movie, no length warning", {"--audio", wavs + "long.wav", "--codec", "nothing"}, 2,
         "unknown or unavailable compressor", "none", none},
        {"the length warning's advice is a rate --rate takes", {"--audio", wavs + "long.wav", "--rate", "30"}, 0,
         "the movie lasts 1.03333 s, its sound 100 s; no rate from 1 to 1000 frames a second makes them end together",
         "30/1", rate},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::filesystem::remove(movie);
        std::vector<std::string> args{rec.frames, movie};
        args.insert(args.end(), row.args.begin(), row.args.end());
        const Outcome said = Batch(args);
        EXPECT_EQ(said.code, row.code) << said.err;
        EXPECT_NE((said.out + said.err).find(row.says), std::string::npos) << said.out << said.err;
        EXPECT_EQ(row.holds(), row.held);
        if (row.code != 0) { // warnings only about movies that exist
            EXPECT_EQ(said.err.find("the movie lasts"), std::string::npos) << said.err;
        }
    }
}

// A blended group's file that cannot even be opened is left out of the
// group's average, as a file of another kind is, and named at the end; the
// run goes on. In an unprivileged child, where permissions apply.
TEST(BatchSound, ABlendedFileThatCannotBeOpenedIsLeftOutOfItsAverage)
{
    TempDir frames, out;
    WriteFrames(frames, 6, 16, 8);
    ::chmod(frames.path().c_str(), 0777);
    ::chmod(out.path().c_str(), 0777);
    ::chmod(frames.file("f003.tga").c_str(), 0);
    const std::string movie = out.file("m.avi");
    const int failed = RunAsUnprivileged([&] {
        const Outcome said = Batch({frames.path().string(), movie, "--blend", "2"});
        return said.code != 0                                   ? 1
               : said.out.find("2 frames written") == std::string::npos ? 2
               : said.err.find("f003.tga") == std::string::npos         ? 3
                                                                        : 0;
    });
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(avitest::ReadMovie(movie).frames.size(), 3u);
}

// A sound that shrinks while the run reads it says so, not a stale reason.
TEST(BatchSound, ASoundCutShortWhileReadSaysWhereItEnds)
{
    TempDir dir;
    const std::string path = dir.file("s.wav");
    WriteSound(path, 1);
    const wav::Reader sound(path);
    std::filesystem::resize_file(path, std::filesystem::file_size(path) - 4 * 1000);
    std::vector<std::uint8_t> samples;
    try {
        sound.Read(0, 48000, samples);
        ADD_FAILURE() << "read past the end";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), ("The sound file " + path +
                                " has become shorter than its header says: its sound ends after 47000 of its 48000 "
                                "samples.").c_str());
    }
}
