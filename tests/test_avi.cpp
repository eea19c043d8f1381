// SPDX-License-Identifier: GPL-2.0-or-later
// The movie layer driven the way the build run drives it, with the movie
// read back through FFmpeg (and GStreamer where it is installed).
#include "AviMovieReader.h"
#include "TestSupport.h"
#include "mdAVI.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>

namespace {

using testsupport::Bytes;
using testsupport::InfoHeader;
using testsupport::TempDir;

// A frame as the run hands it over: its format (a BITMAPINFO) and its bits,
// with the picture they show (top row first, blue-green-red).
struct Frame {
    int width, height;
    Bytes info, bits, picture;
};

Frame MakeFrame(int width, int height, unsigned seed, Bytes picture = {})
{
    if (picture.empty())
        picture = testsupport::PatternPixels(width, height, seed);
    Bytes bits = testsupport::BitmapRows(width, height, picture);
    Bytes info = InfoHeader(width, height, 24, static_cast<std::uint32_t>(bits.size()));
    return {width, height, std::move(info), std::move(bits), std::move(picture)};
}

AVICOMPRESSOPTIONS Choice(std::uint32_t fcc, std::uint32_t keyEvery = 0, std::uint32_t quality = 7500,
                          std::uint32_t bytesPerSecond = 0)
{
    return {mmioStringToFOURCC("vids", 0), fcc, keyEvery, quality, bytesPerSecond, 0, nullptr, 0, nullptr, 0, 0};
}

AVI_STREAM_INFO VideoInfo(int width, int height, std::uint32_t rate)
{
    AVI_STREAM_INFO info{};
    info.fccType = mmioStringToFOURCC("vids", 0);
    info.dwScale = 1;
    info.dwRate = rate;
    SetRect(&info.rcFrame, 0, 0, width, height);
    return info;
}

// The file and its video stream opened as the build run opens them.
HRESULT_AVI Open(const std::string& path, int width, int height, PAVIFILE& file, PAVISTREAM& stream,
                 std::uint32_t rate = 15)
{
    const AVI_STREAM_INFO info = VideoInfo(width, height, rate);
    const HRESULT_AVI hr = AVIFileOpen(&file, path.c_str(), OF_WRITE | OF_CREATE, nullptr);
    return hr == AVIERR_OK ? AVIFileCreateStream(file, &stream, &info) : hr;
}

// The build run's calls, in its order: the first frame's size and format
// (or `format`), then the frames at positions 1, 2, ...; stops at the first
// failure, which it answers, and always ends with the releases, whose failure
// it answers too. As in a run, the frames go through one buffer, overwritten
// as soon as a write returns, while the layer's own thread may still be
// encoding the frame.
HRESULT_AVI RunMovie(const AVICOMPRESSOPTIONS& choice, const std::string& path, const std::vector<Frame>& frames,
                     std::uint32_t rate = 15, const Bytes* format = nullptr)
{
    PAVIFILE file = nullptr;
    PAVISTREAM stream = nullptr, compressed = nullptr;
    const Bytes& info = format ? *format : frames[0].info;
    HRESULT_AVI hr = Open(path, frames[0].width, frames[0].height, file, stream, rate);
    if (hr == AVIERR_OK)
        hr = AVIMakeCompressedStream(&compressed, stream, &choice, nullptr);
    if (hr == AVIERR_OK)
        hr = AVIStreamSetFormat(compressed, 0, info.data(), static_cast<std::int32_t>(info.size()));
    Bytes buffer;
    for (std::size_t i = 0; hr == AVIERR_OK && i < frames.size(); ++i) {
        buffer.assign(frames[i].bits.begin(), frames[i].bits.end());
        hr = AVIStreamWrite(compressed, static_cast<std::int32_t>(i + 1), 1, buffer.data(),
                            static_cast<std::int32_t>(buffer.size()), AVIIF_KEYFRAME, nullptr, nullptr);
        std::ranges::fill(buffer, 0x5A);
    }
    AVIStreamRelease(stream);
    AVIStreamRelease(compressed);
    // As the run counts them, once the compressor has given up the frames it held.
    if (AVIFILEINFO counted{}; hr == AVIERR_OK && AVIFileInfo(file, &counted, sizeof counted) == AVIERR_OK) {
        EXPECT_EQ(counted.dwLength, frames.size() + 1) << path;
    }
    const HRESULT_AVI closed = file ? AVIFileRelease(file) : AVIERR_OK;
    return hr == AVIERR_OK ? closed : hr;
}

// Zero when the build has no such compressor: each has a FourCC.
std::uint32_t FccOf(const std::string& name)
{
    const auto found = std::ranges::find(AviCompressors(), name, &AviCompressor::name);
    return found == AviCompressors().end() ? 0 : found->fccHandler;
}

// The size H.264 pictures of `width` x `height` are encoded at: 4:2:0 in
// whole pairs of pixels.
std::pair<int, int> CodedSize(const std::string& name, int width, int height)
{
    return name == "h264" ? std::pair{width + width % 2, height + height % 2} : std::pair{width, height};
}

struct Colour {
    const char* name;
    std::uint8_t blue, green, red;
};
constexpr Colour kColours[] = {{"black", 0, 0, 0},     {"white", 255, 255, 255}, {"red", 0, 0, 255},
                               {"green", 0, 128, 0},   {"blue", 255, 0, 0},      {"lime", 0, 255, 0},
                               {"grey 128", 128, 128, 128}};

// How far the pixels of `picture` (blue, green, red first in each of its
// `bytesPerPixel`) from `from` on, every `step` pixels, `count` of them, lie
// from a colour: the largest difference of any channel.
int Farthest(const Bytes& picture, int bytesPerPixel, const Colour& c, std::size_t from = 0, std::size_t step = 1,
             std::size_t count = SIZE_MAX)
{
    int worst = 0;
    for (std::size_t p = from, n = 0; n < count && (p + 1) * bytesPerPixel <= picture.size(); p += step, ++n)
        for (const auto& [channel, want] : {std::pair{0, c.blue}, {1, c.green}, {2, c.red}})
            worst = std::max(worst, std::abs(picture[p * bytesPerPixel + channel] - want));
    return worst;
}

// Movies of one pure colour a frame, position 0 repeating the first, at
// heights on either side of the players' matrix rule (BT.709 above 576
// lines), one of them odd; H.264's odd one at a rate that lifts its level.
// 64 x 576 and 64 x 578 are 144 and 148 macroblocks: the H.264 table's
// lowest level for them is 1.1 (396 a frame, 3000 a second) at 15 frames a
// second, and 1.3 (11880 a second) at 60. Motion JPEG is BT.601 at every
// height, so only its odd one tells.
struct ColourMovie {
    const char* name;
    int height;
    std::uint32_t rate;
    int level; // H.264's; -1 for the lossless compressors
    std::string path = {};
    HRESULT_AVI written = AVIERR_ERROR;
};
constexpr int kColourWidth = 64;

std::vector<ColourMovie>& ColourMovies()
{
    static const TempDir dir;
    static std::vector<ColourMovie> movies = [] {
        std::vector<ColourMovie> list = {
            {"mjpeg", 577, 15, 0}, {"mpeg4", 576, 15, 0}, {"mpeg4", 577, 15, 0}, {"h264", 576, 15, 11},
            {"h264", 577, 60, 13}, {"raw", 577, 15, -1},   {"ffv1", 577, 15, -1},  {"huffyuv", 577, 15, -1},
            {"zmbv", 577, 15, -1}};
        std::erase_if(list, [](const ColourMovie& movie) { return !FccOf(movie.name); });
        for (ColourMovie& movie : list) {
            std::vector<Frame> frames;
            for (const Colour& c : kColours) {
                Bytes picture;
                for (int p = 0; p < kColourWidth * movie.height; ++p)
                    picture.insert(picture.end(), {c.blue, c.green, c.red});
                frames.push_back(MakeFrame(kColourWidth, movie.height, 0, picture));
            }
            movie.path = dir.file(movie.name + std::to_string(movie.height) + "-" + std::to_string(movie.rate) + ".avi");
            movie.written = RunMovie(Choice(FccOf(movie.name)), movie.path, frames, movie.rate);
        }
        return list;
    }();
    return movies;
}

// Each frame shows its colour; a wrong matrix is about 40 levels off on the
// saturated colours.
void ExpectColours(const std::vector<Bytes>& frames, int bytesPerPixel, const std::string& why)
{
    ASSERT_EQ(frames.size(), std::size(kColours) + 1) << why;
    for (std::size_t i = 0; i < frames.size(); ++i)
        EXPECT_LE(Farthest(frames[i], bytesPerPixel, kColours[i == 0 ? 0 : i - 1]), 10) << "frame " << i;
}

} // namespace

// FFmpeg decodes by the tags H.264 carries, by JPEG's own rule (full range,
// BT.601) for Motion JPEG, and by the size rule where MPEG-4 Part 2 carries
// nothing.
TEST(AviColour, FfmpegShowsEachColourAndH264NamesItsColoursAndLevel)
{
    ASSERT_FALSE(ColourMovies().empty());
    for (const ColourMovie& movie : ColourMovies()) {
        SCOPED_TRACE(movie.path);
        ASSERT_EQ(movie.written, AVIERR_OK);
        const avitest::Movie m = avitest::ReadMovie(movie.path);
        const int height = CodedSize(movie.name, kColourWidth, movie.height).second;
        EXPECT_EQ(std::tuple(m.width, m.height), std::tuple(kColourWidth, height));
        EXPECT_TRUE(m.aspectNum == 0 || m.aspectNum == m.aspectDen) << "square pixels, not " << m.aspectNum << ":" << m.aspectDen;
        EXPECT_TRUE(movie.level < 0 || m.pixFmt == (movie.name == std::string("mjpeg") ? "yuvj420p" : "yuv420p"))
            << m.pixFmt;
        ExpectColours(m.frames, 3, m.error);
        if (movie.level > 0) {
            EXPECT_EQ(std::tuple(m.colorRange, m.colorSpace, m.colorPrimaries, m.colorTransfer, m.level),
                      std::tuple("tv", height > 576 ? "bt709" : "smpte170m", "bt709", "bt709", movie.level));
        }
    }
}

// The same movies through GStreamer's AVI reader and decoders, as GNOME
// Videos plays them. It has no mapping for Ut Video.
TEST(AviColour, GStreamerShowsEachColour)
{
    if (const std::string missing = testsupport::GStreamerMissing(); !missing.empty())
        GTEST_SKIP() << missing;
    ASSERT_FALSE(ColourMovies().empty());
    for (const ColourMovie& movie : ColourMovies()) {
        SCOPED_TRACE(movie.path);
        ASSERT_EQ(movie.written, AVIERR_OK);
        const std::string raw = movie.path + ".bgrx";
        std::string log;
        ASSERT_TRUE(testsupport::GStreamerPlays(
            movie.path, "d. ! decodebin ! videoconvert ! video/x-raw,format=BGRx ! filesink location='" + raw + "'", log))
            << log;
        const Bytes bytes = testsupport::ReadFile(raw);
        const std::ptrdiff_t frameBytes = kColourWidth * CodedSize(movie.name, kColourWidth, movie.height).second * 4;
        ASSERT_EQ(std::ssize(bytes) % frameBytes, 0);
        std::vector<Bytes> frames;
        for (auto at = bytes.begin(); at != bytes.end(); at += frameBytes)
            frames.emplace_back(at, at + frameBytes);
        ExpectColours(frames, 4, log);
    }
}

// The 4:2:0 encoders average each pair of pixels' colour. At an odd width
// the last column has no partner in the frame: what lies past it in memory
// (the row's filler, the next row, or beyond the frame) must not tint it,
// and where H.264 adds a column and a row they repeat the edge.
TEST(AviLossy, OddSizesKeepTheirEdgesColours)
{
    TempDir dir;
    const std::string path = dir.file("m.avi");
    constexpr Colour kLeft{"blue", 255, 0, 0}, kRest{"red", 0, 0, 255}, kBottom{"lime", 0, 255, 0};
    for (const std::string name : {"mjpeg", "mpeg4", "h264"})
        for (const auto& [width, height] : {std::pair{33, 17}, {1, 3}, {641, 5}}) {
            if (!FccOf(name))
                continue;
            SCOPED_TRACE(name + " " + std::to_string(width) + "x" + std::to_string(height));
            Bytes picture; // the first column blue, the rest red, the bottom row lime
            for (int p = 0; p < width * height; ++p) {
                const Colour& c = p >= width * (height - 1) ? kBottom : p % width == 0 ? kLeft : kRest;
                picture.insert(picture.end(), {c.blue, c.green, c.red});
            }
            ASSERT_EQ(RunMovie(Choice(FccOf(name)), path, {MakeFrame(width, height, 0, picture)}), AVIERR_OK);
            const avitest::Movie m = avitest::ReadMovie(path);
            const auto [codedWidth, codedHeight] = CodedSize(name, width, height);
            ASSERT_EQ(std::tuple(m.width, m.height), std::tuple(codedWidth, codedHeight));
            ASSERT_EQ(m.frames.size(), 2u) << m.error;
            const auto w = static_cast<std::size_t>(codedWidth);
            // The last column and any added one, down to two rows above the
            // bottom row, whose colour blurs into them.
            for (std::size_t x = width - 1u; x < w; ++x)
                EXPECT_LE(Farthest(m.frames[1], 3, width == 1 ? kLeft : kRest, x, w, height - 2u), 12) << "column " << x;
            // Where a row is added: the bottom row and the added one, away
            // from the first column's blur.
            for (int y = height - 1; codedHeight > height && y < codedHeight; ++y)
                EXPECT_LE(Farthest(m.frames[1], 3, kBottom, y * w + 2, 1, w - 2), 12) << "row " << y;
        }
}

// Every size from one pixel up, each width's rows with their own filler.
TEST(AviLossless, FramesComeBackIdenticalAndUprightWithPositionZeroFilled)
{
    TempDir dir;
    const std::string path = dir.file("m.avi");
    std::vector<std::pair<int, int>> sizes{{641, 481}};
    for (const int width : {1, 2, 3, 5, 64})
        for (const int height : {1, 2, 480})
            sizes.emplace_back(width, height);
    for (const std::string name : {"raw", "ffv1", "huffyuv", "utvideo", "zmbv"})
        for (const auto& [width, height] : sizes) {
            const std::uint32_t fcc = FccOf(name);
            if (!fcc)
                continue;
            SCOPED_TRACE(name + " " + std::to_string(width) + "x" + std::to_string(height));
            const std::vector<Frame> frames{MakeFrame(width, height, 1), MakeFrame(width, height, 2)};
            const HRESULT_AVI hr = RunMovie(Choice(fcc), path, frames);
            if (name == "utvideo" && width * height < 4) {
                // Refused before any frame rather than written undecodable.
                EXPECT_EQ(hr, AVIERR_BADFORMAT);
                EXPECT_EQ(std::filesystem::file_size(path), 0u);
                continue;
            }
            ASSERT_EQ(hr, AVIERR_OK);
            const avitest::Movie m = avitest::ReadMovie(path, name == "raw");
            EXPECT_TRUE(m.warnings.empty()) << m.warnings.front();
            EXPECT_EQ(std::tuple(m.width, m.height, m.rateNum, m.rateDen), std::tuple(width, height, 15, 1));
            // Position 0 repeats the first frame.
            ASSERT_EQ(m.frames.size(), 3u) << m.error;
            for (std::size_t i = 0; i < 3; ++i)
                EXPECT_TRUE(m.frames[i] == frames[i == 0 ? 0 : i - 1].picture) << "position " << i;
            // Full frames are BI_RGB and the DIB's own bytes, row filler included.
            EXPECT_EQ(m.codecTag, name == "raw" ? 0u : fcc);
            EXPECT_TRUE(name != "raw" || (m.packets.size() == 3 && m.packets[2] == frames[1].bits));
        }
}

// What the dialog offers for each compressor is what its encoder does: the
// key-frame interval, the quality and the data rate change the movie where
// the compressor offers them, and nothing where it does not.
TEST(AviSettings, EachCompressorHonoursExactlyTheSettingsItOffers)
{
    TempDir dir;
    std::vector<Frame> frames;
    for (unsigned i = 0; i < 60; ++i)
        frames.push_back(MakeFrame(160, 120, i * 7 + 3));
    // What the dialog offers for each: quality, key frames, data rate.
    const std::map<std::string, std::tuple<bool, bool, bool>> offers = {
        {"raw", {false, false, false}},  {"mjpeg", {true, false, true}}, {"ffv1", {false, true, false}},
        {"huffyuv", {false, false, false}}, {"utvideo", {false, false, false}}, {"zmbv", {false, true, false}},
        {"mpeg4", {true, true, true}},   {"h264", {true, true, true}}};
    for (const AviCompressor& c : AviCompressors()) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(std::tuple(c.hasQuality, c.hasKeyFrames, c.hasDataRate), offers.at(c.name));
        const std::string path = dir.file(c.name + ".avi");
        ASSERT_EQ(RunMovie(Choice(c.fccHandler, 5), path, {frames.begin(), frames.begin() + 12}), AVIERR_OK);
        const avitest::Movie m = avitest::ReadMovie(path, false, false);
        ASSERT_EQ(m.keyFrames.size(), 13u) << m.error;
        for (std::size_t i = 0; i < m.keyFrames.size(); ++i)
            EXPECT_EQ(m.keyFrames[i], !c.hasKeyFrames || i % 5 == 0) << "frame " << i;
        // Four seconds: rate control needs time to settle.
        const auto sizeWith = [&](std::uint32_t quality, std::uint32_t bytesPerSecond) {
            EXPECT_EQ(RunMovie(Choice(c.fccHandler, 0, quality, bytesPerSecond), path, frames),
                      AVIERR_OK);
            return std::filesystem::file_size(path);
        };
        EXPECT_EQ(sizeWith(9500, 0) > sizeWith(1000, 0) * 2, c.hasQuality);
        EXPECT_EQ(sizeWith(0, 2000 * 1024) > sizeWith(0, 30 * 1024) * 2, c.hasDataRate);
    }
}

// A compressor's FourCC is taken in either case, however the code was made
// (0x10 asks mmioStringToFOURCC for capitals); MPEG-4 Part 2 also by the
// codes of other encoders of it, full frames also by none.
TEST(AviSettings, FourCCsNameTheirCompressorInEitherCase)
{
    TempDir dir;
    const Frame frame = MakeFrame(4, 4, 0);
    const std::tuple<const char*, std::uint32_t, std::string> codes[] = {
        {"xvid", 0, "mpeg4"}, {"divx", 0x10, "mpeg4"}, {"FMP4", 0, "mpeg4"}, {"h264", 0, "h264"},
        {"zmbv", 0, "zmbv"},  {"DIB", 0, "raw"},       {nullptr, 0, "raw"}};
    for (const auto& [code, flags, name] : codes) {
        if (!FccOf(name))
            continue;
        ASSERT_EQ(RunMovie(Choice(code ? mmioStringToFOURCC(code, flags) : 0), dir.file("m.avi"), {frame}),
                  AVIERR_OK) << name;
        EXPECT_EQ(avitest::ReadMovie(dir.file("m.avi"), false, false).codecTag, name == "raw" ? 0u : FccOf(name))
            << (code ? code : "none");
    }
}

TEST(AviFailures, EachFailureHasItsOwnCode)
{
    TempDir dir;
    const Frame frame = MakeFrame(4, 4, 0), other = MakeFrame(8, 4, 1);
    const AVICOMPRESSOPTIONS raw = Choice(FccOf("raw"));
    PAVIFILE file = reinterpret_cast<PAVIFILE>(1);
    PAVISTREAM stream = nullptr, compressed = nullptr, extra = nullptr;
    EXPECT_EQ(AVIFileOpen(&file, dir.file("no/such/dir/m.avi").c_str(), OF_WRITE | OF_CREATE, nullptr),
              AVIERR_FILEOPEN);
    EXPECT_EQ(file, nullptr);
    EXPECT_FALSE(std::filesystem::exists(dir.file("no")));
    EXPECT_EQ(AVIFileOpen(&file, dir.file("m.avi").c_str(), OF_WRITE, nullptr), AVIERR_READONLY) << "not created";
    EXPECT_EQ(AVIFileOpen(&file, "", OF_WRITE | OF_CREATE, nullptr), AVIERR_BADPARAM);
    EXPECT_EQ(RunMovie(Choice(mmioStringToFOURCC("QQQQ", 0)), dir.file("nocomp.avi"), {frame}),
              AVIERR_NOCOMPRESSOR);
    EXPECT_EQ(std::filesystem::file_size(dir.file("nocomp.avi")), 0u);
    // A frame of another size than the format is refused, not garbled.
    EXPECT_EQ(RunMovie(raw, dir.file("size.avi"), {frame, other}), AVIERR_BADSIZE);
    EXPECT_EQ(avitest::ReadMovie(dir.file("size.avi")).frames.size(), 2u);

    // Calls out of the run's order are refused; the movie keeps the frame before them.
    ASSERT_EQ(Open(dir.file("order.avi"), 4, 4, file, stream), AVIERR_OK);
    AVI_STREAM_INFO info = VideoInfo(4, 4, 0);
    EXPECT_EQ(AVIFileCreateStream(file, &extra, &info), AVIERR_BADPARAM) << "no rate";
    info.dwRate = 15;
    EXPECT_EQ(AVIFileCreateStream(file, &extra, &info), AVIERR_UNSUPPORTED) << "a second picture stream";
    info.fccType = mmioStringToFOURCC("txts", 0);
    EXPECT_EQ(AVIFileCreateStream(file, &extra, &info), AVIERR_UNSUPPORTED) << "a text stream";
    ASSERT_EQ(AVIMakeCompressedStream(&compressed, stream, &raw, nullptr), AVIERR_OK);
    EXPECT_EQ(AVIMakeCompressedStream(&extra, stream, &raw, nullptr), AVIERR_UNSUPPORTED) << "a second compressor";
    EXPECT_EQ(AVIMakeCompressedStream(&extra, compressed, &raw, nullptr), AVIERR_BADHANDLE) << "of a compressor";
    // A refused write took nothing; an accepted one took all it was given.
    const auto write = [&](PAVISTREAM to, std::int32_t at, std::int32_t count, const void* bits, std::int32_t cb = 48) {
        std::int32_t samples = -1, bytes = -1;
        const HRESULT_AVI hr = AVIStreamWrite(to, at, count, bits, cb, 0, &samples, &bytes);
        EXPECT_EQ(std::tuple(samples, bytes), hr == AVIERR_OK ? std::tuple(count, cb) : std::tuple(0, 0)) << hr;
        return hr;
    };
    EXPECT_EQ(write(compressed, 1, 1, frame.bits.data()), AVIERR_UNSUPPORTED) << "before the format";
    ASSERT_EQ(AVIStreamSetFormat(compressed, 0, frame.info.data(), 40), AVIERR_OK);
    EXPECT_EQ(AVIStreamSetFormat(compressed, 0, frame.info.data(), 40), AVIERR_UNSUPPORTED) << "a second format";
    info.fccType = mmioStringToFOURCC("auds", 0);
    EXPECT_EQ(AVIFileCreateStream(file, &extra, &info), AVIERR_UNSUPPORTED) << "sound after the header";
    EXPECT_EQ(write(stream, 1, 1, frame.bits.data()), AVIERR_UNSUPPORTED) << "past the compressor";
    EXPECT_EQ(write(compressed, 1, 1, frame.bits.data()), AVIERR_OK);
    EXPECT_EQ(write(compressed, 1, 1, frame.bits.data()), AVIERR_BADPARAM) << "a position again";
    EXPECT_EQ(write(compressed, 2, 1, frame.bits.data(), 0), AVIERR_BADSIZE) << "no bytes";
    EXPECT_EQ(write(compressed, 2, 1, frame.bits.data(), -48), AVIERR_BADPARAM) << "fewer than no bytes";
    EXPECT_EQ(write(compressed, 2, -1, frame.bits.data()), AVIERR_BADPARAM) << "fewer than no frames";
    EXPECT_EQ(write(compressed, 2, 2, frame.bits.data()), AVIERR_BADPARAM) << "two frames at once";
    EXPECT_EQ(write(compressed, 2, 1, nullptr), AVIERR_BADPARAM) << "no bits";
    EXPECT_EQ(write(compressed, -1, 1, frame.bits.data()), AVIERR_BADPARAM) << "before the start";
    AVIStreamRelease(compressed);
    // Handles whose file is gone, or that are released or null, are refused, not followed.
    ASSERT_EQ(AVIFileRelease(file), AVIERR_OK);
    EXPECT_EQ(avitest::ReadMovie(dir.file("order.avi")).frames.size(), 2u);
    EXPECT_EQ(AVIMakeCompressedStream(&compressed, stream, &raw, nullptr), AVIERR_BADHANDLE);
    EXPECT_EQ(AVIStreamSetFormat(stream, 0, frame.info.data(), 40), AVIERR_BADHANDLE);
    EXPECT_EQ(write(stream, 1, 1, frame.bits.data()), AVIERR_BADHANDLE);
    EXPECT_EQ(AVIFileRelease(file), AVIERR_BADHANDLE);
    AVIStreamRelease(stream);
    EXPECT_EQ(AVIStreamSetFormat(stream, 0, frame.info.data(), 40), AVIERR_BADHANDLE) << "a released stream";
    EXPECT_EQ(AVIFileCreateStream(nullptr, &stream, &info), AVIERR_BADHANDLE);

    // A sound stream takes the 16-byte PCM record as well as the 18-byte one; less is refused.
    const std::uint8_t pcm[16] = {1, 0, 2, 0, 0x80, 0xBB, 0, 0, 0, 0xEE, 2, 0, 4, 0, 16, 0};
    PAVISTREAM sound = nullptr;
    ASSERT_EQ(Open(dir.file("sound.avi"), 4, 4, file, stream), AVIERR_OK);
    ASSERT_EQ(AVIFileCreateStream(file, &sound, &info), AVIERR_OK);
    EXPECT_EQ(AVIFileCreateStream(file, &extra, &info), AVIERR_UNSUPPORTED) << "a second sound stream";
    EXPECT_EQ(AVIStreamSetFormat(sound, 0, pcm, 15), AVIERR_BADFORMAT);
    EXPECT_EQ(AVIStreamSetFormat(sound, 0, pcm, 16), AVIERR_OK);
    ASSERT_EQ(AVIStreamSetFormat(stream, 0, frame.info.data(), 40), AVIERR_OK);
    // Its samples are counted in whole blocks of four bytes; the movie keeps only the accepted ones.
    EXPECT_EQ(write(sound, 0, 0, pcm, 0), AVIERR_OK) << "no samples";
    EXPECT_EQ(write(sound, 0, -1, pcm, -4), AVIERR_BADPARAM) << "fewer than no samples";
    EXPECT_EQ(write(sound, 0, 1, pcm, -4), AVIERR_BADPARAM) << "fewer than no bytes";
    EXPECT_EQ(write(sound, 0, 2, pcm, 4), AVIERR_BADSIZE) << "the bytes of one sample";
    EXPECT_EQ(write(sound, 0, 1, pcm + 4, 4), AVIERR_OK);
    EXPECT_EQ(write(stream, 1, 1, frame.bits.data()), AVIERR_OK);
    AVIStreamRelease(stream), AVIFileRelease(file);
    EXPECT_EQ(avitest::ReadMovie(dir.file("sound.avi")).sound, Bytes(pcm + 4, pcm + 8));
    EXPECT_EQ(write(sound, 1, 1, pcm, 4), AVIERR_BADHANDLE) << "its file is gone";
    AVIStreamRelease(sound);

    // Each way a format can differ from the one layout the layer takes:
    // 24 bits, one plane, uncompressed, bottom-up, the stream's size, and a
    // header size of 40 up to the bytes given.
    const std::uint32_t size = 4 * 4 * 4;
    const auto patched = [&](std::size_t at, std::uint8_t value) {
        Bytes header = frame.info;
        header[at] = value;
        return header;
    };
    const std::pair<const char*, Bytes> formats[] = {
        {"32 bits", InfoHeader(4, 4, 32, size)},     {"8 bits", InfoHeader(4, 4, 8, size)},
        {"top-down", InfoHeader(4, -4, 24, size)},   {"zero width", InfoHeader(0, 4, 24, size)},
        {"zero height", InfoHeader(4, 0, 24, size)},
        {"two planes", patched(12, 2)},              {"RLE8", patched(16, 1)},
        {"header size 39", patched(0, 39)},          {"header size 41", patched(0, 41)},
        {"short header", Bytes(frame.info.begin(), frame.info.begin() + 30)},
        {"other size than the stream", InfoHeader(5, 4, 24, size)},
    };
    for (const auto& [what, format] : formats) {
        const std::string path = dir.file(std::string(what) + ".avi");
        EXPECT_EQ(RunMovie(raw, path, {frame}, 15, &format), AVIERR_BADFORMAT) << what;
        EXPECT_EQ(std::filesystem::file_size(path), 0u) << what;
    }
    // Its rows would fit a bitmap file, but not FFmpeg's pictures of four
    // bytes a pixel.
    const Frame huge{30000, 20000, InfoHeader(30000, 20000, 24, 0), {}, {}};
    EXPECT_EQ(RunMovie(raw, dir.file("huge.avi"), {huge}), AVIERR_BADFORMAT);
    EXPECT_EQ(std::filesystem::file_size(dir.file("huge.avi")), 0u);
}

// What the run asks of a movie (RunMovie checks the count of frames, position
// 0 included, for every compressor): its streams, the frame rectangle's size
// and the rate; a record too short, or none, is refused and left as it was.
TEST(AviFileInfo, DescribesTheMovieAndRefusesAShortRecordOrADeadFile)
{
    TempDir dir;
    const auto infoOf = [](PAVIFILE file, std::int32_t size = sizeof(AVIFILEINFO)) {
        AVIFILEINFO i;
        std::memset(&i, 0xAB, sizeof i);
        const HRESULT_AVI hr = AVIFileInfo(file, &i, size);
        return std::tuple(hr, i.dwStreams, i.dwWidth, i.dwHeight, i.dwRate, i.dwScale, i.dwLength,
                          std::string(i.szFileType, strnlen(i.szFileType, sizeof i.szFileType)));
    };
    AVI_STREAM_INFO vids = VideoInfo(0, 0, 30000), auds{};
    vids.dwScale = 1001, auds.fccType = mmioStringToFOURCC("auds", 0);
    SetRect(&vids.rcFrame, 2, 3, 8, 7);
    PAVIFILE file = nullptr;
    PAVISTREAM stream = nullptr, sound = nullptr;
    ASSERT_EQ(AVIFileOpen(&file, dir.file("m.avi").c_str(), OF_WRITE | OF_CREATE, nullptr), AVIERR_OK);
    ASSERT_EQ(AVIFileCreateStream(file, &stream, &vids), AVIERR_OK);
    EXPECT_EQ(std::get<1>(infoOf(file)), 1u) << "the picture alone";
    ASSERT_EQ(AVIFileCreateStream(file, &sound, &auds), AVIERR_OK);
    EXPECT_EQ(infoOf(file), std::tuple(AVIERR_OK, 2u, 6u, 4u, 30000u, 1001u, 0u, "AVI"));
    const auto cut = infoOf(file, sizeof(AVIFILEINFO) - 1);
    EXPECT_EQ(std::tuple(std::get<0>(cut), std::get<6>(cut)), std::tuple(AVIERR_BADSIZE, 0xABABABABu));
    EXPECT_EQ(AVIFileInfo(file, nullptr, sizeof(AVIFILEINFO)), AVIERR_BADSIZE);
    AVIStreamRelease(stream), AVIStreamRelease(sound);
    ASSERT_EQ(AVIFileRelease(file), AVIERR_OK);
    EXPECT_EQ(std::get<0>(infoOf(file)), AVIERR_BADHANDLE) << "a released file";
    EXPECT_EQ(std::get<0>(infoOf(nullptr)), AVIERR_BADHANDLE);
}

// Shorter texts are padded with blanks and longer ones cut at four; nothing
// past a text's end is read; only 0x10 asks for capitals.
TEST(AviFourCC, TextsArePaddedCutAndUpperCasedOnlyWhenAsked)
{
    const char ended[] = {'a', '\0', 'c', 'd'};
    const std::tuple<const char*, std::uint32_t, const char*> cases[] = {
        {"ab", 0, "ab  "},     {"", 0, "    "},     {nullptr, 0, "    "},     {nullptr, 0x10, "    "},
        {ended, 0, "a   "},    {"abcdef", 0, "abcd"}, {"aBc1", 0, "aBc1"},  {"aBc1z", 0x10, "ABC1"},
        {"ab", 0x10, "AB  "},  {"xvid", ~0x10u, "xvid"}};
    for (const auto& [text, flags, c] : cases)
        EXPECT_EQ(mmioStringToFOURCC(text, flags), std::uint32_t(c[0] | c[1] << 8 | c[2] << 16 | c[3] << 24)) << c;
}

// The options of every stream or of none: each starts from the caller's
// options, and they count as pending until freed.
TEST(AviSaveOptions, FillEveryStreamOrNoneAndCountUntilFreed)
{
    int calls = 0, refuse = 0;
    const AviSaveOptionsProvider chooser = [&](AviOwnerWindow, std::uint32_t, AVICOMPRESSOPTIONS& o) {
        o.dwQuality += 1000 * ++calls;
        return calls == refuse ? 0 : 1;
    };
    const AviSaveOptionsProvider previous = SetAviSaveOptionsProvider({});
    const int pending = AviSaveOptionsPending();
    AVICOMPRESSOPTIONS a{}, b{};
    AVICOMPRESSOPTIONS *both[] = {&a, &b}, *gap[] = {&a, nullptr};
    const std::tuple<const char*, bool, int, AVICOMPRESSOPTIONS**, int, int> cases[] = {
        {"no provider", false, 2, both, 0, 0},     {"no streams", true, 0, both, 0, 0},
        {"no options", true, 2, nullptr, 0, 0},    {"a stream without options", true, 2, gap, 0, 0},
        {"the first refused", true, 2, both, 1, 0}, {"the second refused", true, 2, both, 2, 0},
        {"both accepted", true, 2, both, 0, 1}};
    for (const auto& [what, installed, streams, options, refused, answer] : cases) {
        a.dwQuality = 1, b.dwQuality = 2, calls = 0, refuse = refused;
        SetAviSaveOptionsProvider(installed ? chooser : AviSaveOptionsProvider{});
        EXPECT_EQ(AVISaveOptions(nullptr, 0, streams, nullptr, options), answer) << what;
        EXPECT_EQ(std::tuple(a.dwQuality, b.dwQuality, AviSaveOptionsPending() - pending),
                  answer ? std::tuple(1001u, 2002u, 2) : std::tuple(1u, 2u, 0)) << what;
    }
    const std::tuple<int, AVICOMPRESSOPTIONS**, HRESULT_AVI, int> frees[] = {{-1, both, AVIERR_BADPARAM, 2},
        {1, nullptr, AVIERR_BADPARAM, 2}, {0, nullptr, AVIERR_OK, 2}, {2, gap, AVIERR_OK, 1}, {2, both, AVIERR_OK, 0}};
    for (const auto& [streams, options, result, left] : frees) {
        EXPECT_EQ(AVISaveOptionsFree(streams, options), result) << streams;
        EXPECT_EQ(AviSaveOptionsPending() - pending, left) << streams;
    }
    SetAviSaveOptionsProvider(previous);
}

// Each limit of a movie's sound at its last value that fits and its first
// that does not, where the batch tests do not reach it.
TEST(AviSound, UnfitNamesTheLimitPassedAndNothingAtTheLimit)
{
    const std::tuple<wav::Format, std::int64_t, std::string> cases[] = {
        {{1, 512, 8000, 4096000, 512, 8}, 2147483647, ""},
        {{1, 1, 2147483647, 2147483647, 1, 8}, 1, ""},
        {{1, 2, 536870912, 2147483648u, 4, 16}, 1,
         "takes 2147483648 bytes a second (536870912 samples a second), more than a movie's sound can (2147483647)"}};
    for (const auto& [format, samples, says] : cases)
        EXPECT_EQ(AviSoundUnfit(format, samples), says) << format.channels << " " << format.bytesPerSecond;
}
