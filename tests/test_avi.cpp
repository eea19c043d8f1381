// SPDX-License-Identifier: GPL-2.0-or-later
// The movie layer driven the way the build run drives it; movies read back through FFmpeg and from their bytes.
#include "AviMovieReader.h"
#include "TestSupport.h"
#include "mdAVI.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <map>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using testsupport::Bytes;
using testsupport::InfoHeader;
using testsupport::TempDir;

// A frame as the run hands it over: format (a BITMAPINFO), bits and the picture (top row first, blue-green-red).
struct Frame { int width, height; Bytes info, bits, picture; };

Frame MakeFrame(int width, int height, unsigned seed, Bytes picture = {})
{
    picture = picture.empty() ? testsupport::PatternPixels(width, height, seed) : picture;
    const Bytes bits = testsupport::BitmapRows(width, height, picture);
    return {width, height, InfoHeader(width, height, 24, static_cast<std::uint32_t>(bits.size())), bits, picture};
}

AVICOMPRESSOPTIONS Choice(std::uint32_t fcc, std::uint32_t keyEvery = 0, std::uint32_t quality = 7500, std::uint32_t rate = 0)
{
    return {mmioStringToFOURCC("vids", 0), fcc, keyEvery, quality, rate, 0, nullptr, 0, nullptr, 0, 0};
}

AVI_STREAM_INFO VideoInfo(int width, int height, std::uint32_t rate, std::uint32_t scale = 1)
{
    AVI_STREAM_INFO info{};
    info.fccType = mmioStringToFOURCC("vids", 0), info.dwScale = scale, info.dwRate = rate;
    SetRect(&info.rcFrame, 0, 0, width, height);
    return info;
}

HRESULT_AVI Open(const std::string& path, int width, int height, PAVIFILE& file, PAVISTREAM& stream, std::uint32_t rate = 15)
{
    const AVI_STREAM_INFO info = VideoInfo(width, height, rate);
    const HRESULT_AVI hr = AVIFileOpen(&file, path.c_str(), OF_WRITE | OF_CREATE, nullptr);
    return hr == AVIERR_OK ? AVIFileCreateStream(file, &stream, &info) : hr;
}

// The build run's calls in its order: the format (the first frame's or `format`), the frames at positions 1, 2,
// ... until one fails, the releases; answers the first failure. As in a run, the frames go through one buffer,
// overwritten once a write returns, while the layer may still encode it.
HRESULT_AVI RunMovie(const AVICOMPRESSOPTIONS& choice, const std::string& path, const std::vector<Frame>& frames,
                     std::uint32_t rate = 15, const Bytes* format = nullptr)
{
    PAVIFILE file = nullptr;
    PAVISTREAM stream = nullptr, compressed = nullptr;
    const Bytes& info = format ? *format : frames[0].info;
    HRESULT_AVI hr = Open(path, frames[0].width, frames[0].height, file, stream, rate);
    if (hr == AVIERR_OK && (hr = AVIMakeCompressedStream(&compressed, stream, &choice, nullptr)) == AVIERR_OK)
        hr = AVIStreamSetFormat(compressed, 0, info.data(), static_cast<std::int32_t>(info.size()));
    Bytes buffer;
    for (std::size_t i = 0; hr == AVIERR_OK && i < frames.size(); ++i) {
        buffer.assign(frames[i].bits.begin(), frames[i].bits.end());
        hr = AVIStreamWrite(compressed, static_cast<std::int32_t>(i + 1), 1, buffer.data(),
                            static_cast<std::int32_t>(buffer.size()), AVIIF_KEYFRAME, nullptr, nullptr);
        std::ranges::fill(buffer, 0x5A);
    }
    AVIStreamRelease(stream), AVIStreamRelease(compressed);
    AVIFILEINFO n{}; // the frames as the run counts them, once the compressor has given up those it held
    EXPECT_TRUE(hr || (!AVIFileInfo(file, &n, sizeof n) && n.dwLength == frames.size() + 1)) << path << ": " << n.dwLength;
    const HRESULT_AVI closed = file ? AVIFileRelease(file) : AVIERR_OK;
    return hr == AVIERR_OK ? closed : hr;
}

// A refused write took nothing, an accepted one all it was given.
HRESULT_AVI Write(PAVISTREAM to, std::int32_t at, std::int32_t count, const void* bits, std::int32_t cb = 48)
{
    std::int32_t samples = -1, bytes = -1;
    const HRESULT_AVI hr = AVIStreamWrite(to, at, count, bits, cb, 0, &samples, &bytes);
    EXPECT_EQ(std::tuple(samples, bytes), hr == AVIERR_OK ? std::tuple(count, cb) : std::tuple(0, 0)) << hr;
    return hr;
}

std::uint32_t FccOf(const std::string& name) // zero when the build has no such compressor
{
    const auto found = std::ranges::find(AviCompressors(), name, &AviCompressor::name);
    return found == AviCompressors().end() ? 0 : found->fccHandler;
}

std::uint32_t U32(const Bytes& b, std::size_t at)
{
    return at + 4 > b.size() ? ~0u : b[at] | b[at + 1] << 8 | b[at + 2] << 16 | std::uint32_t{b[at + 3]} << 24;
}

// A movie file's chunks by name, in file order, lists opened (a list's data is its type); `order` names the
// streams' chunks and the index as they come; (id, at, n) is the nth `id` chunk's 32-bit field at `at`.
struct Riff {
    Bytes file;
    std::map<std::string, std::vector<Bytes>> chunks;
    std::string order;
    explicit Riff(const std::string& path) : file(testsupport::ReadFile(path))
    {
        for (std::size_t at = 12, size = 0; at + 8 <= file.size(); at += 8 + size + size % 2) {
            const std::string id(file.begin() + at, file.begin() + at + 4);
            size = id == "LIST" ? 4 : std::min<std::size_t>(U32(file, at + 4), file.size() - at - 8);
            chunks[id].emplace_back(file.begin() + at + 8, file.begin() + at + 8 + size);
            order += id[0] <= '9' || id == "idx1" ? id + " " : "";
        }
    }
    std::uint32_t operator()(const std::string& id, std::size_t at, int n = 0) const { return U32(chunks.at(id).at(n), at); }
};

using Colour = std::array<int, 3>; // blue, green, red

// How far `count` pixels of a blue-green-red picture, from `from` every `step`, lie from a colour in any channel.
int Farthest(const Bytes& picture, const Colour& c, std::size_t from, std::size_t step, std::size_t count)
{
    int worst = 0;
    for (std::size_t p = from, n = 0; n < count && p * 3 + 3 <= picture.size(); p += step, ++n)
        for (int channel = 0; channel < 3; ++channel)
            worst = std::max({worst, picture[p * 3 + channel] - c[channel], c[channel] - picture[p * 3 + channel]});
    return worst;
}

} // namespace

// A colour a frame but a blue first column and a lime bottom row, 65 wide (no partner in 4:2:0's pairs for the
// last column: what lies past must not tint it), either side of the players' matrix rule (BT.709 above 576
// lines); H.264 a column and row larger (the edge repeated) where odd, at a rate that lifts its level (5 x 36, 5
// x 37 macroblocks: 1.1 at 15 a second, 1.3 at 60). FFmpeg and GStreamer go by H.264's tags, JPEG's rule and the
// size rule.
TEST(AviLossy, EachColourShowsToItsEdgesAndH264NamesItsColoursAndLevel)
{
    TempDir dir;
    constexpr Colour kColours[] = {{0, 0, 0}, {255, 255, 255}, {0, 0, 255}, {0, 128, 0}, {255, 0, 0}, {0, 255, 0},
                                   {128, 128, 128}}; // black, white, red, green, blue, lime, grey
    constexpr Colour kBlue{255, 0, 0}, kLime{0, 255, 0};
    constexpr int kWidth = 65;
    const std::string gstreamer = testsupport::GStreamerMissing();
    for (const auto& [name, height, rate, level] : {std::tuple{"mjpeg", 577, 15u, 0}, {"mpeg4", 576, 15u, 0},
                                                    {"mpeg4", 577, 15u, 0}, {"h264", 576, 15u, 11}, {"h264", 577, 60u, 13}}) {
        if (!FccOf(name))
            continue;
        const std::string path = dir.file(name + std::to_string(height) + ".avi");
        SCOPED_TRACE(path);
        std::vector<Frame> frames;
        for (const Colour& c : kColours) {
            Bytes picture;
            for (int p = 0; p < kWidth * height; ++p)
                for (const int v : p >= kWidth * (height - 1) ? kLime : p % kWidth == 0 ? kBlue : c)
                    picture.push_back(static_cast<std::uint8_t>(v));
            frames.push_back(MakeFrame(kWidth, height, 0, picture));
        }
        ASSERT_EQ(RunMovie(Choice(FccOf(name)), path, frames, rate), AVIERR_OK);
        const avitest::Movie m = avitest::ReadMovie(path);
        const int h264 = name == std::string("h264"), w = kWidth + h264, h = height + h264 * (height % 2);
        EXPECT_EQ(std::tuple(m.width, m.height, m.aspectNum, m.aspectDen, m.pixFmt),
                  std::tuple(w, h, 1, 1, name == std::string("mjpeg") ? "yuvj420p" : "yuv420p"));
        // A wrong matrix is some 40 levels off, a wrong range 16; FFmpeg's decoders 3 but where edges blur (7 more),
        // GStreamer's conversion of a saturated colour a level or three further.
        const auto expectColours = [&](const std::vector<Bytes>& shown, int off, const std::string& who) {
            ASSERT_EQ(shown.size(), std::size(kColours) + 1) << who;
            for (std::size_t i = 0; i < shown.size(); ++i) {
                const Colour& c = kColours[i == 0 ? 0 : i - 1]; // position 0 repeats the first frame
                for (int y = 0; y < height - 16; ++y)
                    EXPECT_LE(Farthest(shown[i], c, y * w + 16, 1, w - 24), off) << who << " " << i << ", row " << y;
                for (int x = kWidth - 1; x < w; ++x) // down to two rows above the lime one
                    EXPECT_LE(Farthest(shown[i], c, x, w, height - 2), off + 7) << who << " " << i << ", column " << x;
                for (int y = height - 1; height % 2 && y < h; ++y) // an odd height's last and any added, past the blue
                    EXPECT_LE(Farthest(shown[i], kLime, y * w + 2, 1, w - 2), off + 7) << who << " " << i << ", row " << y;
            }
        };
        expectColours(m.frames, 5, "FFmpeg " + m.error + ", frame");
        if (level > 0) {
            EXPECT_EQ(std::tuple(m.colorRange, m.colorSpace, m.colorPrimaries, m.colorTransfer, m.level),
                      std::tuple("tv", h > 576 ? "bt709" : "smpte170m", "bt709", "bt709", level));
        }
        if (!gstreamer.empty())
            continue;
        std::string said; // GStreamer goes by the same tags and rules
        const std::string raw = path + ".bgrx", play = "d. ! decodebin ! videoconvert ! video/x-raw,format=BGRx ! filesink";
        ASSERT_TRUE(testsupport::GStreamerPlays(path, play + " location='" + raw + "'", said)) << said;
        const Bytes played = testsupport::ReadFile(raw);
        const std::size_t frameBytes = std::size_t(w) * h * 4;
        ASSERT_EQ(played.size() % frameBytes, 0u) << said;
        std::vector<Bytes> shown(played.size() / frameBytes);
        for (std::size_t at = 0; at + 4 <= played.size(); at += 4)
            shown[at / frameBytes].insert(shown[at / frameBytes].end(), played.begin() + at, played.begin() + at + 3);
        expectColours(shown, 8, "GStreamer " + said + ", frame");
    }
    if (!gstreamer.empty())
        GTEST_SKIP() << "all but GStreamer's checks passed: " << gstreamer;
}

// Every size from one pixel up, rows with their own filler.
TEST(AviLossless, FramesComeBackIdenticalAndUprightWithPositionZeroFilled)
{
    TempDir dir;
    const std::string path = dir.file("m.avi");
    const std::pair<int, int> sizes[] = {{641, 481}, {1, 1}, {1, 2}, {1, 480}, {2, 1}, {2, 2}, {3, 1}, {3, 2}, {64, 2}};
    for (const std::string name : {"raw", "ffv1", "huffyuv", "utvideo", "zmbv"})
        for (const auto& [width, height] : sizes) {
            if (!FccOf(name))
                continue;
            SCOPED_TRACE(name + " " + std::to_string(width) + "x" + std::to_string(height));
            const std::vector<Frame> frames{MakeFrame(width, height, 1), MakeFrame(width, height, 2)};
            const HRESULT_AVI hr = RunMovie(Choice(FccOf(name)), path, frames);
            if (name == "utvideo" && width * height < 4) { // refused before any frame rather than written undecodable
                EXPECT_EQ(std::tuple(hr, std::filesystem::file_size(path)), std::tuple(AVIERR_BADFORMAT, 0u));
                continue;
            }
            ASSERT_EQ(hr, AVIERR_OK);
            const avitest::Movie m = avitest::ReadMovie(path);
            EXPECT_TRUE(m.warnings.empty()) << m.warnings.front();
            ASSERT_EQ(m.frames.size(), 3u) << m.error;
            for (std::size_t i = 0; i < 3; ++i) // position 0 repeats the first frame
                EXPECT_TRUE(m.frames[i] == frames[i == 0 ? 0 : i - 1].picture) << "position " << i;
        }
}

// What the dialog offers for a compressor is what its encoder does: key frames, quality and data rate change the
// movie where offered, not elsewhere, as x264's options, Motion JPEG's quantiser and the header say.
TEST(AviSettings, EachCompressorHonoursExactlyTheSettingsItOffers)
{
    TempDir dir;
    std::vector<Frame> all;
    for (unsigned i = 0; i < 60; ++i)
        all.push_back(MakeFrame(160, 120, i * 7 + 3));
    // Key frames every 5, as the encoder likes, or only the first; the quality or data rates (4 s to settle).
    const std::string x264 = "bframes=0 keyint=";
    const std::tuple<std::uint32_t, std::uint32_t, std::uint32_t, std::string, std::string> runs[] = {
        {5, 9500, 0, x264 + "5 keyint_min=1 crf=7.0 ", "q3"},
        {~0u, 1000, 0, x264 + "1048576 keyint_min=15 crf=41.0 ", "q28"},
        {0, 0, 2048000, x264 + "250 keyint_min=15 bitrate=16384 ", ""},
        {0, 0, 30000, x264 + "250 keyint_min=15 bitrate=240 ", ""}};
    for (const AviCompressor& c : AviCompressors()) {
        SCOPED_TRACE(c.name);
        std::vector<std::pair<std::size_t, std::uint32_t>> got; // the file's size and its bytes a second
        for (const auto& [keyEvery, quality, rate, h264, mjpeg] : runs) {
            SCOPED_TRACE(std::to_string(quality) + " " + std::to_string(rate));
            const std::string path = dir.file(c.name + ".avi");
            ASSERT_EQ(RunMovie(Choice(c.fccHandler, keyEvery, quality, rate), path, all), AVIERR_OK);
            const avitest::Movie m = avitest::ReadMovie(path, false);
            ASSERT_EQ(m.keyFrames.size(), all.size() + 1) << m.error;
            for (std::size_t i = 0; keyEvery && i < m.keyFrames.size(); ++i)
                EXPECT_EQ(m.keyFrames[i], !c.hasKeyFrames || i % keyEvery == 0) << "frame " << i;
            const Riff riff(path);
            const std::string text(riff.file.begin(), riff.file.end());
            std::string says; // x264's options, Motion JPEG's quantiser (half its tables' second entry)
            for (const char* key : {" bframes=", " keyint=", " keyint_min=", " crf=", " bitrate="})
                if (const std::size_t at = text.find(key); c.name == "h264" && at != std::string::npos)
                    says += text.substr(at + 1, text.find(' ', at + 1) - at);
            if (c.name == "mjpeg")
                says = rate ? "" : "q" + std::to_string(std::uint8_t(text[text.find("\xFF\xDB") + 6]) / 2);
            EXPECT_EQ(says, c.name == "h264" ? h264 : c.name == "mjpeg" ? mjpeg : "");
            const std::uint32_t tag = c.name == "raw" ? 0 : c.fccHandler, n = 61;
            EXPECT_EQ(std::tuple(riff("strh", 4), riff("strf", 16), riff("strf", 14) & 0xFFFF, riff("avih", 16),
                                 riff("strh", 32), riff("strf", 4), riff("strf", 8), riff("strh", 20), riff("strh", 24)),
                      std::tuple(tag, tag, 24u, n, n, 160u, 120u, 1u, 15u));
            got.emplace_back(riff.file.size(), riff("avih", 4));
        }
        // The header's bytes a second: the rate chosen where it rules, else the encoder's own.
        const std::uint32_t own = got[0].second;
        EXPECT_EQ(std::tuple(got[0].first > got[1].first * 2, got[2].first > got[3].first * 2, got[2].second,
                             got[3].second),
                  std::tuple(c.hasQuality, c.hasDataRate, c.hasDataRate ? 2048000u : own, c.hasDataRate ? 30000u : own));
    }
}

TEST(AviFailures, EachFailureHasItsOwnCodeAndAnUnfitSoundNamesItsLimit)
{
    TempDir dir;
    const Frame frame = MakeFrame(4, 4, 0), other = MakeFrame(8, 4, 1);
    const std::uint8_t* bits = frame.bits.data();
    const AVICOMPRESSOPTIONS raw = Choice(FccOf("raw"));
    PAVIFILE file = reinterpret_cast<PAVIFILE>(1);
    PAVISTREAM stream = nullptr, compressed = nullptr;
    EXPECT_EQ(AVIFileOpen(&file, dir.file("no/such/dir/m.avi").c_str(), OF_WRITE | OF_CREATE, nullptr), AVIERR_FILEOPEN);
    EXPECT_EQ(std::tuple(file, std::filesystem::exists(dir.file("no"))), std::tuple(nullptr, false));
    EXPECT_EQ(AVIFileOpen(&file, "", OF_WRITE | OF_CREATE, nullptr), AVIERR_BADPARAM);
    EXPECT_EQ(RunMovie(Choice(mmioStringToFOURCC("QQQQ", 0)), dir.file("nocomp.avi"), {frame}), AVIERR_NOCOMPRESSOR);
    EXPECT_EQ(RunMovie(raw, dir.file("size.avi"), {frame, other}), AVIERR_BADSIZE);

    // A released compressor is forgotten by its file: its handle is refused, not followed, and another may follow
    // it; frames wait for the format, and refused writes take nothing, the movie keeping the frame before them.
    ASSERT_EQ(Open(dir.file("order.avi"), 4, 4, file, stream), AVIERR_OK);
    ASSERT_EQ(AVIMakeCompressedStream(&compressed, stream, &raw, nullptr), AVIERR_OK);
    AVIStreamRelease(compressed);
    EXPECT_EQ(Write(compressed, 1, 1, bits), AVIERR_BADHANDLE) << "a released compressor";
    ASSERT_EQ(AVIMakeCompressedStream(&compressed, stream, &raw, nullptr), AVIERR_OK);
    EXPECT_EQ(Write(compressed, 1, 1, bits), AVIERR_UNSUPPORTED) << "before the format";
    ASSERT_EQ(AVIStreamSetFormat(compressed, 0, frame.info.data(), 40), AVIERR_OK);
    EXPECT_EQ(Write(compressed, 1, 1, bits), AVIERR_OK);
    // A position again, fewer than no bytes, fewer than no frames, two at once, no bits, before the start.
    for (const auto& [at, count, data, cb] : {std::tuple{1, 1, bits, 48}, {2, 1, bits, -48}, {2, -1, bits, 48},
                                              {2, 2, bits, 48}, {2, 1, nullptr, 48}, {-1, 1, bits, 48}})
        EXPECT_EQ(Write(compressed, at, count, data, cb), AVIERR_BADPARAM) << at << " " << count << " " << cb;
    AVIStreamRelease(compressed), AVIStreamRelease(stream);
    ASSERT_EQ(AVIFileRelease(file), AVIERR_OK);
    EXPECT_EQ(avitest::ReadMovie(dir.file("order.avi")).frames.size(), 2u);

    // Each way a format can differ from the one layout taken, refused before a byte is written: a short header,
    // rows that fit a bitmap but not FFmpeg's pictures of 4 bytes a pixel, 32 or 8 bits, top-down, no width or
    // height, two planes, RLE8, header sizes 39 or 41 (40 up to the bytes given), another width than the stream's,
    // 30000 x 20000 (past 2 GiB) and a side past the 65535 pixels an AVI header holds.
    std::vector<std::pair<Frame, Bytes>> formats{{frame, Bytes(frame.info.begin(), frame.info.begin() + 30)},
                                                 {{30000, 20000, {}, {}, {}}, InfoHeader(30000, 20000, 24, 0)},
                                                 {{65536, 1, {}, {}, {}}, InfoHeader(65536, 1, 24, 0)}};
    for (const auto& [at, value] : {std::pair{14, 32}, {14, 8}, {11, 255}, {4, 0}, {8, 0}, {12, 2}, {16, 1}, {0, 39},
                                    {0, 41}, {4, 5}})
        formats.emplace_back(frame, frame.info), formats.back().second[at] = static_cast<std::uint8_t>(value);
    for (std::size_t i = 0; i < formats.size(); ++i) {
        const std::string path = dir.file(std::to_string(i) + ".avi");
        EXPECT_EQ(RunMovie(raw, path, {formats[i].first}, 15, &formats[i].second), AVIERR_BADFORMAT) << i;
        EXPECT_EQ(std::filesystem::file_size(path), 0u) << i;
    }
    // A sound at each limit's last value that fits, and past one (which the batch tests do not reach), named by it.
    const std::tuple<wav::Format, std::int64_t, std::string> cases[] = {
        {{1, 512, 8000, 4096000, 512, 8}, 2147483647, ""}, {{1, 1, 2147483647, 2147483647, 1, 8}, 1, ""},
        {{1, 2, 536870912, 2147483648u, 4, 16}, 1,
         "takes 2147483648 bytes a second (536870912 samples a second), more than a movie's sound can (2147483647)"}};
    for (const auto& [format, samples, says] : cases)
        EXPECT_EQ(AviSoundUnfit(format, samples), says) << format.channels << " " << format.bytesPerSecond;
}

// A longer file is emptied; the movie is written through a descriptor closed on exec and with the file: the header
// once the format is set, each frame once the worker has it, a sound chunk once the pictures reach its end.
TEST(AviFile, HoldsEachFrameAndSoundOnceDueAndInfoTellsOfThem)
{
    TempDir dir;
    const std::string path = dir.file("m.avi");
    testsupport::WriteFile(path, Bytes(100000, 1));
    const auto infoOf = [](PAVIFILE file) {
        AVIFILEINFO i;
        std::memset(&i, 0xAB, sizeof i);
        const HRESULT_AVI hr = AVIFileInfo(file, &i, sizeof i);
        return std::tuple(hr, i.dwStreams, i.dwWidth, i.dwHeight, i.dwRate, i.dwScale, i.dwLength,
                          std::string(i.szFileType, strnlen(i.szFileType, sizeof i.szFileType)));
    };
    // 8-bit mono, 30 samples a second: each a little shorter than a frame.
    const std::uint8_t pcm[16] = {1, 0, 1, 0, 30, 0, 0, 0, 30, 0, 0, 0, 1, 0, 8, 0}, samples[] = {1, 2, 3, 4, 5, 6};
    const Frame frame = MakeFrame(4, 4, 0);
    AVI_STREAM_INFO vids = VideoInfo(0, 0, 30000, 1001), auds{};
    auds.fccType = mmioStringToFOURCC("auds", 0);
    SetRect(&vids.rcFrame, 2, 3, 6, 7);
    PAVIFILE file = nullptr;
    PAVISTREAM stream = nullptr, sound = nullptr, extra = nullptr;
    const int fd = ::dup(0); // the lowest free descriptor, which the movie's file gets
    const mode_t mask = ::umask(0);
    ::umask(mask), ::close(fd);
    ASSERT_EQ(AVIFileOpen(&file, path.c_str(), OF_WRITE | OF_CREATE, nullptr), AVIERR_OK);
    ASSERT_EQ(AVIFileCreateStream(file, &stream, &vids), AVIERR_OK);
    EXPECT_EQ(std::tuple(std::filesystem::file_size(path), ::fcntl(fd, F_GETFL) & O_ACCMODE, ::fcntl(fd, F_GETFD),
                         std::filesystem::status(path).permissions()),
              std::tuple(0u, O_WRONLY, FD_CLOEXEC, std::filesystem::perms(0644 & ~mask)));
    ASSERT_EQ(AVIFileCreateStream(file, &sound, &auds), AVIERR_OK);
    EXPECT_EQ(infoOf(file), std::tuple(AVIERR_OK, 2u, 4u, 4u, 30000u, 1001u, 0u, "AVI"));
    EXPECT_EQ(AVIFileCreateStream(file, &extra, &auds), AVIERR_UNSUPPORTED) << "a second sound stream";
    EXPECT_EQ(AVIStreamSetFormat(sound, 0, pcm, 15), AVIERR_BADFORMAT);
    ASSERT_EQ(AVIStreamSetFormat(sound, 0, pcm, 16), AVIERR_OK);
    ASSERT_EQ(AVIStreamSetFormat(stream, 0, frame.info.data(), 40), AVIERR_OK);
    EXPECT_EQ(Write(sound, 0, 0, samples, 0), AVIERR_OK) << "no samples";
    EXPECT_EQ(Write(sound, 0, 2, samples, 1), AVIERR_BADSIZE) << "the bytes of one sample";
    EXPECT_EQ(Write(sound, 1, 1, samples, 1), AVIERR_BADPARAM) << "a gap";
    const auto sizeAt = [&](std::uintmax_t want) { // once it is so, or after five seconds
        for (int wait = 0; wait < 5000 && std::filesystem::file_size(path) != want; ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return std::filesystem::file_size(path);
    };
    // Samples 0-1 before frame 1, 2 before 2, 3-5 before 3; chunks of 56 bytes a frame, 8 + samples, even, sound.
    std::uintmax_t want = std::filesystem::file_size(path);
    for (const auto& [first, count, grown] : {std::tuple{0, 2, 56 + 56 + 10}, {2, 1, 56 + 10}, {3, 3, 56}}) {
        EXPECT_EQ(Write(sound, first, count, samples + first, count), AVIERR_OK);
        EXPECT_EQ(Write(stream, first ? first : 1, 1, frame.bits.data()), AVIERR_OK);
        want += grown;
        EXPECT_EQ(sizeAt(want), want) << "sample " << first;
    }
    AVIStreamRelease(stream), want += 12;
    EXPECT_EQ(sizeAt(want), want) << "past the frames";
    ASSERT_EQ(AVIFileRelease(file), AVIERR_OK);
    EXPECT_EQ(std::tuple(::fcntl(fd, F_GETFD), std::get<0>(infoOf(file)), std::get<0>(infoOf(nullptr))),
              std::tuple(-1, AVIERR_BADHANDLE, AVIERR_BADHANDLE)) << "a closed, released file; none";
    EXPECT_EQ(Write(sound, 6, 1, samples, 1), AVIERR_BADHANDLE) << "its file is gone";
    AVIStreamRelease(sound);
    const Riff riff(path);
    const avitest::Movie m = avitest::ReadMovie(path);
    EXPECT_EQ(std::tuple(riff.order, riff.file.size(), U32(riff.file, 4) + 8u, riff("avih", 4), riff("avih", 24)),
              std::tuple("00dc 00dc 01wb 00dc 01wb 00dc 01wb idx1 ", want + 120, want + 120, 30u, 2u));
    EXPECT_EQ(std::tuple(riff("strh", 20), riff("strh", 24), riff("strh", 32), riff("strh", 20, 1), riff("strh", 24, 1),
                         riff("strh", 32, 1), riff("strh", 44, 1), riff.chunks.at("strf").at(1), m.sound, m.frames.size()),
              std::tuple(1001u, 30000u, 4u, 1u, 30u, 6u, 1u, Bytes(pcm, pcm + 16), Bytes(samples, samples + 6), 4u));
    const Bytes& index = riff.chunks.at("idx1").at(0);
    for (std::size_t at = 4; at < index.size(); at += 16)
        EXPECT_EQ(U32(index, at), 0x10u) << "entry " << at / 16;
}

// A frame is taken under the file-size limit only with room left past its chunks to close the movie: 64 bytes,
// 40 of index for each packet the file would then hold and one more, and 1024 to spare. Position 0, when skipped,
// gets a copy of the first frame, one more chunk and packet. Frames queued behind one the worker cannot finish
// count as written: to a pipe nobody reads, the limit only a number, a second frame is taken with room for three
// chunks, 64 bytes, 4 x 40 and 1024. Files are closed readable with what was taken, their closing telling of the refusal.
TEST(AviReserves, AFrameIsTakenOnlyWithRoomLeftToCloseTheMovie)
{
    TempDir dir;
    constexpr int kWide = 33650; // a row of 100952 bytes: more than a pipe holding a header holds
    constexpr std::uintmax_t kChunk = 8 + 48, kWideChunk = 8 + 3 * kWide + 2;
    rlimit was{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &was), 0);
    // A write past the limit, or to a pipe closed unread, fails instead.
    const auto onLimit = ::signal(SIGXFSZ, SIG_IGN), onPipe = ::signal(SIGPIPE, SIG_IGN);
    for (const auto& [width, first, room, says] : {std::tuple{4, 1, 2 * kChunk + 1208, "ok full full full 2"},
             {4, 1, 2 * kChunk + 1207, "full full full full 0"}, {4, 0, kChunk + 1168, "ok full full full 1"},
             {4, 0, kChunk + 1167, "full full full full 0"}, {kWide, 1, 3 * kWideChunk + 1248, "ok ok full full"},
             {kWide, 1, 3 * kWideChunk + 1247, "ok full full full"}}) {
        const std::string path = dir.file(std::to_string(width) + "_" + std::to_string(room) + ".avi");
        const Frame frame = MakeFrame(width, width == kWide ? 1 : 4, 0);
        int pipe = -1;
        if (width == kWide) {
            ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
            pipe = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
        }
        PAVIFILE file = nullptr;
        PAVISTREAM stream = nullptr;
        ASSERT_EQ(Open(path, frame.width, frame.height, file, stream), AVIERR_OK);
        ASSERT_EQ(AVIStreamSetFormat(stream, 0, frame.info.data(), 40), AVIERR_OK);
        int header = pipe < 0 ? static_cast<int>(std::filesystem::file_size(path)) : 0; // the header fills the pipe
        ASSERT_TRUE(pipe < 0 || (!::ioctl(pipe, FIONREAD, &header) && ::fcntl(pipe, F_SETPIPE_SZ, header) >= header));
        rlimit cut = was;
        cut.rlim_cur = header + room;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &cut), 0);
        std::string said;
        for (std::int32_t at = first; at < first + 3; ++at) {
            const HRESULT_AVI hr = Write(stream, at, 1, frame.bits.data(), static_cast<std::int32_t>(frame.bits.size()));
            said += hr == AVIERR_OK ? "ok " : hr == AVIERR_FILEWRITE ? "full " : std::to_string(hr) + " ";
        }
        ::setrlimit(RLIMIT_FSIZE, &was);
        ::close(pipe);
        AVIStreamRelease(stream);
        said += AVIFileRelease(file) == AVIERR_FILEWRITE ? "full" : "closed";
        if (pipe < 0) {
            const avitest::Movie m = avitest::ReadMovie(path);
            said += " " + std::to_string(m.frames.size()) + m.error;
        }
        EXPECT_EQ(said, says) << path;
    }
    ::signal(SIGXFSZ, onLimit);
    ::signal(SIGPIPE, onPipe);
}
