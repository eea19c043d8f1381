// reelcast-batch's sound in the file: each chunk beside the pictures it plays
// with, whatever the compressor holds back, whether the run completes, is
// stopped or fails.
#include "BatchFrontEnd.h"
#include "StopSignals.h"
#include "TestSupport.h"
#include "WaveFormat.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <sstream>
#include <thread>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace testsupport;

namespace {

constexpr int kRate = 30;

int RunBatch(std::vector<std::string> args)
{
    args.insert(args.begin(), "reelcast-batch");
    std::vector<const char*> argv;
    for (const auto& a : args)
        argv.push_back(a.c_str());
    std::ostringstream out, err;
    return BatchMain(static_cast<int>(argv.size()), argv.data(), out, err);
}

// Stereo 16-bit at 48 kHz, through the movie's own record of the format.
void WriteSound(const std::string& path, double seconds)
{
    const wav::Format f{wav::kFormatPcm, 2, 48000, 192000, 4, 16};
    std::uint8_t record[wav::kExtensibleFormatSize];
    const auto fmt = static_cast<std::uint32_t>(wav::PutWaveFormat(f, record));
    const auto data = static_cast<std::uint32_t>(48000 * seconds) * 4;
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
        ASSERT_EQ(RunBatch({rec.frames, movie, "--codec", codec, "--rate", "30", "--audio", rec.sound}), 0);
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
        ::_exit(RunBatch({rec.frames, limited, "--codec", "h264", "--rate", "30", "--audio", rec.sound}));
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
    const int code = RunBatch({rec.frames, movie, "--codec", "h264", "--rate", "30", "--audio", rec.sound});
    stopper.join();
    EXPECT_EQ(code, 130);
    const auto order = FileOrder(movie);
    EXPECT_LT(std::count_if(order.begin(), order.end(), [](const Chunk& c) { return !c.sound; }), 1500);
    EXPECT_TRUE(Interleaved(order, true));
}
