// SPDX-License-Identifier: GPL-2.0-or-later
// The movie layer driven the way the build run drives it, with the movie
// read back through FFmpeg (and GStreamer where it is installed).
#include "AviMovieReader.h"
#include "TestSupport.h"
#include "mdAVI.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>

namespace {

using testsupport::Bytes;
using testsupport::GStreamerMissing;
using testsupport::GStreamerPlays;
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

std::vector<Frame> MakeFrames(unsigned count, int width, int height)
{
    std::vector<Frame> frames;
    for (unsigned i = 0; i < count; ++i)
        frames.push_back(MakeFrame(width, height, i * 7 + 3));
    return frames;
}

std::vector<const Frame*> Ptrs(const std::vector<Frame>& frames)
{
    std::vector<const Frame*> list;
    for (const Frame& f : frames)
        list.push_back(&f);
    return list;
}

AVICOMPRESSOPTIONS Choice(std::uint32_t fcc, std::uint32_t keyEvery = 0, std::uint32_t quality = 7500,
                          std::uint32_t bytesPerSecond = 0)
{
    return {mmioStringToFOURCC("vids", 0), fcc, keyEvery, quality, bytesPerSecond, 0, nullptr, 0, nullptr, 0, 0};
}

// The file and its video stream opened as the build run opens them.
HRESULT_AVI Open(const std::string& path, int width, int height, PAVIFILE& file, PAVISTREAM& stream,
                 std::uint32_t rate = 15)
{
    AVI_STREAM_INFO info{};
    info.fccType = mmioStringToFOURCC("vids", 0);
    info.dwScale = 1;
    info.dwRate = rate;
    SetRect(&info.rcFrame, 0, 0, width, height);
    const HRESULT_AVI hr = AVIFileOpen(&file, path.c_str(), OF_WRITE | OF_CREATE, nullptr);
    return hr == AVIERR_OK ? AVIFileCreateStream(file, &stream, &info) : hr;
}

constexpr std::uint32_t kBoth = ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE;

// The build run's calls, in its order, with a user who picks `choice` in the
// dialog: `first` gives the format, `frames` go to positions 1, 2, ...; stops
// at the first failure, which it answers, and always ends with the releases.
HRESULT_AVI RunMovie(const AVICOMPRESSOPTIONS& choice, const std::string& path, const Frame& first,
                     const std::vector<const Frame*>& frames, const std::function<void(std::size_t)>& afterWrite = {},
                     std::uint32_t rate = 15)
{
    const AviSaveOptionsProvider previous =
        SetAviSaveOptionsProvider([&](AviOwnerWindow, std::uint32_t flags, AVICOMPRESSOPTIONS& o) {
            o = choice;
            return flags == kBoth ? 1 : 0;
        });
    PAVIFILE file = nullptr;
    PAVISTREAM stream = nullptr, compressed = nullptr;
    AVICOMPRESSOPTIONS options{};
    AVICOMPRESSOPTIONS* optionsArray[1] = {&options};
    HRESULT_AVI hr = Open(path, first.width, first.height, file, stream, rate);
    if (hr == AVIERR_OK) {
        EXPECT_EQ(AVISaveOptions(nullptr, kBoth, 1, &stream, optionsArray), 1);
        EXPECT_EQ(AviSaveOptionsPending(), 1); // until freed
        hr = AVIMakeCompressedStream(&compressed, stream, &options, nullptr);
        AVISaveOptionsFree(1, optionsArray);
        EXPECT_EQ(AviSaveOptionsPending(), 0);
    }
    if (hr == AVIERR_OK)
        hr = AVIStreamSetFormat(compressed, 0, first.info.data(), static_cast<std::int32_t>(first.info.size()));
    for (std::size_t i = 0; hr == AVIERR_OK && i < frames.size(); ++i) {
        hr = AVIStreamWrite(compressed, static_cast<std::int32_t>(i + 1), 1, frames[i]->bits.data(),
                            static_cast<std::int32_t>(frames[i]->bits.size()), AVIIF_KEYFRAME, nullptr, nullptr);
        if (afterWrite)
            afterWrite(i);
    }
    AVIStreamRelease(stream);
    AVIStreamRelease(compressed);
    if (file)
        AVIFileRelease(file);
    SetAviSaveOptionsProvider(previous);
    return hr;
}

// Zero when the build has no such compressor: each has a FourCC.
std::uint32_t FccOf(const std::string& name)
{
    for (const AviCompressor& c : AviCompressors())
        if (c.name == name)
            return c.fccHandler;
    return 0;
}

// Runs `body` for each of `names` the build has, each with a movie path of
// its own in `dir`.
void ForEachCompressor(const TempDir& dir, std::initializer_list<const char*> names,
                       const std::function<void(const std::string& name, std::uint32_t fcc, const std::string& path)>& body)
{
    for (const std::string name : names)
        if (FccOf(name)) {
            SCOPED_TRACE(name);
            body(name, FccOf(name), dir.file(name + ".avi"));
        }
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

Frame FlatFrame(int width, int height, const Colour& c)
{
    Bytes picture;
    for (int p = 0; p < width * height; ++p)
        picture.insert(picture.end(), {c.blue, c.green, c.red});
    return MakeFrame(width, height, 0, picture);
}

// The lowest H.264 level whose frame size and macroblock rate hold the
// movie, from the level table of the H.264 standard (1b left out).
int LowestH264Level(int width, int height, double framesPerSecond)
{
    struct Level {
        int idc;
        double maxMacroblocksPerSecond, maxFrameMacroblocks;
    };
    static constexpr Level kLevels[] = {
        {10, 1485, 99},       {11, 3000, 396},      {12, 6000, 396},      {13, 11880, 396},    {20, 11880, 396},
        {21, 19800, 792},     {22, 20250, 1620},    {30, 40500, 1620},    {31, 108000, 3600},  {32, 216000, 5120},
        {40, 245760, 8192},   {41, 245760, 8192},   {42, 522240, 8704},   {50, 589824, 22080}, {51, 983040, 36864},
        {52, 2073600, 36864}, {60, 4177920, 139264}, {61, 8355840, 139264}, {62, 16711680, 139264}};
    const double macroblocks = std::ceil(width / 16.0) * std::ceil(height / 16.0);
    for (const Level& l : kLevels)
        if (macroblocks <= l.maxFrameMacroblocks && macroblocks * framesPerSecond <= l.maxMacroblocksPerSecond)
            return l.idc;
    return 0;
}

// The movie's frames as GStreamer's avdec decodes them and videoconvert
// turns them into blue, green, red and a filler byte; empty when the
// pipeline fails or the bytes are no whole number of such frames.
std::vector<Bytes> GStreamerFrames(const std::string& path, const std::string& name, int width, int height,
                                   std::string& log)
{
    const std::string raw = path + ".bgrx";
    const std::string decoder = name == "h264" ? "h264parse ! avdec_h264" : "avdec_mpeg4";
    const bool played = GStreamerPlays(
        path, "d. ! " + decoder + " ! videoconvert ! video/x-raw,format=BGRx ! filesink location='" + raw + "'", log);
    const Bytes bytes = testsupport::ReadFile(raw);
    const std::size_t frameBytes = static_cast<std::size_t>(width) * height * 4;
    std::vector<Bytes> frames;
    if (!played || bytes.empty() || bytes.size() % frameBytes != 0)
        return frames;
    for (std::size_t at = 0; at < bytes.size(); at += frameBytes)
        frames.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                            bytes.begin() + static_cast<std::ptrdiff_t>(at + frameBytes));
    return frames;
}

} // namespace

// Movies of one pure colour a frame, position 0 repeating the first, for
// MPEG-4 Part 2 and H.264 at the sizes on either side of the players' matrix
// rule, an odd size, and a rate that lifts H.264's level.
class AviColour : public ::testing::Test {
protected:
    struct Movie {
        std::string name;
        int width, height;
        std::uint32_t rate;
        std::string path;
        HRESULT_AVI written;
    };

    static void SetUpTestSuite()
    {
        dir_ = new TempDir;
        const std::tuple<int, int, std::uint32_t> sizes[] = {{640, 480, 15},   {800, 600, 15},   {1280, 720, 15},
                                                            {1920, 1080, 15}, {641, 481, 15}};
        for (const char* name : {"mpeg4", "h264"}) {
            if (!FccOf(name))
                continue;
            auto list = std::vector(std::begin(sizes), std::end(sizes));
            if (std::string(name) == "h264")
                list.emplace_back(1280, 720, 60);
            for (const auto& [width, height, rate] : list) {
                std::vector<Frame> frames;
                for (const Colour& c : kColours)
                    frames.push_back(FlatFrame(width, height, c));
                const std::string path = dir_->file(std::string(name) + "-" + std::to_string(width) + "x" +
                                                    std::to_string(height) + "-" + std::to_string(rate) + ".avi");
                movies_.push_back({name, width, height, rate, path,
                                   RunMovie(Choice(FccOf(name)), path, frames[0], Ptrs(frames), {}, rate)});
            }
        }
    }
    static void TearDownTestSuite()
    {
        movies_.clear();
        delete dir_;
        dir_ = nullptr;
    }

    static inline TempDir* dir_ = nullptr;
    static inline std::vector<Movie> movies_;
};

// FFmpeg decodes by the tags H.264 carries and by the size rule where
// MPEG-4 Part 2 carries none; a wrong matrix is about 40 levels off on the
// saturated colours.
TEST_F(AviColour, FfmpegShowsEachColourAndH264NamesItsColoursAndLevel)
{
    ASSERT_FALSE(movies_.empty());
    for (const Movie& movie : movies_) {
        SCOPED_TRACE(movie.path);
        ASSERT_EQ(movie.written, AVIERR_OK);
        const avitest::Movie m = avitest::ReadMovie(movie.path);
        const auto [width, height] = CodedSize(movie.name, movie.width, movie.height);
        EXPECT_EQ(std::tuple(m.width, m.height, m.pixFmt), std::tuple(width, height, "yuv420p"));
        ASSERT_EQ(m.frames.size(), std::size(kColours) + 1) << m.error;
        for (std::size_t i = 0; i < m.frames.size(); ++i) {
            const Colour& c = kColours[i == 0 ? 0 : i - 1];
            EXPECT_LE(Farthest(m.frames[i], 3, c), 10) << c.name;
        }
        if (movie.name == "h264") {
            EXPECT_EQ(std::tuple(m.colorRange, m.colorSpace, m.colorPrimaries, m.colorTransfer),
                      std::tuple("tv", height > 576 ? "bt709" : "smpte170m", "bt709", "bt709"));
            EXPECT_EQ(m.level, LowestH264Level(width, height, movie.rate));
        }
    }
}

TEST_F(AviColour, GStreamersLibavDecodersShowEachColour)
{
    if (const std::string missing = GStreamerMissing(); !missing.empty())
        GTEST_SKIP() << missing;
    ASSERT_FALSE(movies_.empty());
    for (const Movie& movie : movies_) {
        SCOPED_TRACE(movie.path);
        ASSERT_EQ(movie.written, AVIERR_OK);
        const auto [width, height] = CodedSize(movie.name, movie.width, movie.height);
        std::string log;
        const std::vector<Bytes> frames = GStreamerFrames(movie.path, movie.name, width, height, log);
        ASSERT_EQ(frames.size(), std::size(kColours) + 1) << log;
        for (std::size_t i = 0; i < frames.size(); ++i) {
            const Colour& c = kColours[i == 0 ? 0 : i - 1];
            EXPECT_LE(Farthest(frames[i], 4, c), 10) << c.name;
        }
    }
}

// The 4:2:0 encoders average each pair of pixels' colour. At an odd width
// the last column has no partner in the frame: what lies past it in memory
// (the row's filler, the next row, or beyond the frame) must not tint it,
// and where H.264 adds a column and a row they repeat the picture's edge.
TEST(AviLossy, OddSizesKeepTheirEdgesColours)
{
    TempDir dir;
    constexpr Colour kLeft{"blue", 255, 0, 0}, kRest{"red", 0, 0, 255}, kBottom{"lime", 0, 255, 0};
    ForEachCompressor(dir, {"mjpeg", "mpeg4", "h264"}, [&](const std::string& name, std::uint32_t fcc,
                                                            const std::string& path) {
        for (const auto& [width, height] : {std::pair{33, 17}, {1, 3}, {641, 5}}) {
            SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
            // The first column blue, the rest red, the bottom row lime.
            Bytes picture;
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) {
                    const Colour& c = y == height - 1 ? kBottom : x == 0 ? kLeft : kRest;
                    picture.insert(picture.end(), {c.blue, c.green, c.red});
                }
            Frame frame = MakeFrame(width, height, 0, picture);
            const std::size_t stride = frame.bits.size() / height;
            for (int y = 0; y < height; ++y)
                std::fill(frame.bits.begin() + static_cast<std::ptrdiff_t>(y * stride + width * 3),
                          frame.bits.begin() + static_cast<std::ptrdiff_t>((y + 1) * stride), 0xFF);
            ASSERT_EQ(RunMovie(Choice(fcc), path, frame, {&frame}), AVIERR_OK);
            const avitest::Movie m = avitest::ReadMovie(path);
            const auto [codedWidth, codedHeight] = CodedSize(name, width, height);
            ASSERT_EQ(std::tuple(m.width, m.height), std::tuple(codedWidth, codedHeight));
            ASSERT_EQ(m.frames.size(), 2u) << m.error;
            const auto w = static_cast<std::size_t>(codedWidth);
            const Colour& edge = width == 1 ? kLeft : kRest;
            // The last column and any added one, down to two rows above the
            // bottom row, whose colour blurs into them.
            for (std::size_t x = static_cast<std::size_t>(width) - 1; x < w; ++x)
                EXPECT_LE(Farthest(m.frames[1], 3, edge, x, w, static_cast<std::size_t>(height) - 2), 12) << "column " << x;
            // Where a row is added: the bottom row and the added one, away
            // from the first column's blur.
            for (int y = height - 1; codedHeight > height && y < codedHeight; ++y)
                EXPECT_LE(Farthest(m.frames[1], 3, kBottom, y * w + 2, 1, w - 2), 12) << "row " << y;
        }
    });
}

// Every size from one pixel up. As in a run, one buffer is loaded anew after
// each write, while the layer's own thread may still be encoding the frame
// before.
TEST(AviLossless, FramesComeBackIdenticalAndUprightWithPositionZeroFilled)
{
    TempDir dir;
    ForEachCompressor(dir, {"raw", "ffv1", "huffyuv", "utvideo", "zmbv"}, [&](const std::string& name,
                                                                           std::uint32_t fcc, const std::string& path) {
        std::vector<std::pair<int, int>> sizes{{641, 481}};
        for (const int width : {1, 2, 3, 5, 640})
            for (const int height : {1, 2, 480})
                sizes.emplace_back(width, height);
        for (const auto& [width, height] : sizes) {
            SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
            const Frame first = MakeFrame(width, height, 1), second = MakeFrame(width, height, 2),
                        third = MakeFrame(width, height, 3);
            Frame scratch = second;
            const HRESULT_AVI hr = RunMovie(Choice(fcc), path, first, {&scratch, &scratch}, [&](std::size_t i) {
                const Bytes& next = (i == 0 ? third : first).bits; // in place: same bytes, same address
                std::copy(next.begin(), next.end(), scratch.bits.begin());
            });
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
            // Position 0 repeats the first written frame; the format frame is not in the movie.
            ASSERT_EQ(m.frames.size(), 3u) << m.error;
            for (std::size_t i = 0; i < 3; ++i)
                EXPECT_TRUE(m.frames[i] == (i < 2 ? second : third).picture) << "position " << i;
            // Full frames are BI_RGB and the DIB's own bytes, row padding included.
            EXPECT_EQ(m.codecTag, name == "raw" ? 0u : fcc);
            EXPECT_TRUE(name != "raw" || (m.packets.size() == 3 && m.packets[2] == third.bits));
        }
    });
}

// GStreamer's AVI reader and libav's decoders play each compressor's movie
// to its end. They have no mapping for Ut Video.
TEST(AviPlayers, GStreamerPlaysEveryCompressorsMovie)
{
    if (const std::string missing = GStreamerMissing(); !missing.empty())
        GTEST_SKIP() << missing;
    TempDir dir;
    ForEachCompressor(dir, {"raw", "ffv1", "huffyuv", "zmbv", "mjpeg", "mpeg4", "h264"},
                      [&](const std::string&, std::uint32_t fcc, const std::string& path) {
                          const Frame first = MakeFrame(5, 3, 1), second = MakeFrame(5, 3, 2);
                          ASSERT_EQ(RunMovie(Choice(fcc), path, first, {&first, &second}), AVIERR_OK);
                          std::string said;
                          EXPECT_TRUE(GStreamerPlays(path, "d. ! decodebin ! fakesink", said)) << said;
                      });
}

// What the dialog offers for each compressor is what its encoder does: the
// key-frame interval, the quality and the data rate change the movie where
// the compressor offers them, and nothing where it does not.
TEST(AviSettings, EachCompressorHonoursExactlyTheSettingsItOffers)
{
    TempDir dir;
    const std::vector<Frame> frames = MakeFrames(60, 160, 120), small = MakeFrames(12, 64, 48);
    for (const AviCompressor& c : AviCompressors()) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(c.name + ".avi");
        ASSERT_EQ(RunMovie(Choice(c.fccHandler, 5), path, small[0], Ptrs(small)), AVIERR_OK);
        const avitest::Movie m = avitest::ReadMovie(path, false, false);
        ASSERT_EQ(m.keyFrames.size(), 13u) << m.error;
        for (std::size_t i = 0; i < m.keyFrames.size(); ++i)
            EXPECT_EQ(m.keyFrames[i], !c.hasKeyFrames || i % 5 == 0) << "frame " << i;
        // Four seconds: rate control needs time to settle.
        const auto sizeWith = [&](std::uint32_t quality, std::uint32_t bytesPerSecond) {
            EXPECT_EQ(RunMovie(Choice(c.fccHandler, 0, quality, bytesPerSecond), path, frames[0], Ptrs(frames)),
                      AVIERR_OK);
            return std::filesystem::file_size(path);
        };
        EXPECT_EQ(sizeWith(9500, 0) > sizeWith(1000, 0) * 2, c.hasQuality);
        EXPECT_EQ(sizeWith(0, 2000 * 1024) > sizeWith(0, 30 * 1024) * 2, c.hasDataRate);
    }
}

TEST(AviFailures, EachFailureHasItsOwnCode)
{
    TempDir dir;
    const Frame frame = MakeFrame(4, 4, 0), other = MakeFrame(8, 4, 1);
    PAVIFILE file = reinterpret_cast<PAVIFILE>(1);
    PAVISTREAM stream = nullptr, compressed = nullptr;
    EXPECT_EQ(AVIFileOpen(&file, dir.file("no/such/dir/m.avi").c_str(), OF_WRITE | OF_CREATE, nullptr),
              AVIERR_FILEOPEN);
    EXPECT_EQ(file, nullptr);
    EXPECT_FALSE(std::filesystem::exists(dir.file("no")));
    EXPECT_EQ(RunMovie(Choice(mmioStringToFOURCC("QQQQ", 0)), dir.file("nocomp.avi"), frame, {&frame}),
              AVIERR_NOCOMPRESSOR);
    EXPECT_EQ(std::filesystem::file_size(dir.file("nocomp.avi")), 0u);

    // A frame of another size than the format is refused, not garbled.
    EXPECT_EQ(RunMovie(Choice(FccOf("raw")), dir.file("size.avi"), frame, {&frame, &other}), AVIERR_BADSIZE);
    EXPECT_EQ(avitest::ReadMovie(dir.file("size.avi")).frames.size(), 2u);

    // Handles that are null, or whose file is gone, are refused, not followed.
    const AVI_STREAM_INFO none{};
    EXPECT_EQ(AVIFileCreateStream(nullptr, &stream, &none), AVIERR_BADHANDLE);
    ASSERT_EQ(Open(dir.file("released.avi"), 4, 4, file, stream), AVIERR_OK);
    ASSERT_EQ(AVIFileRelease(file), AVIERR_OK);
    const AVICOMPRESSOPTIONS raw = Choice(FccOf("raw"));
    EXPECT_EQ(AVIMakeCompressedStream(&compressed, stream, &raw, nullptr), AVIERR_BADHANDLE);
    EXPECT_EQ(AVIStreamSetFormat(stream, 0, frame.info.data(), 40), AVIERR_BADHANDLE);
    EXPECT_EQ(AVIStreamWrite(stream, 1, 1, frame.bits.data(), 48, 0, nullptr, nullptr), AVIERR_BADHANDLE);
    EXPECT_EQ(AVIFileRelease(file), AVIERR_BADHANDLE);
    AVIStreamRelease(stream);
    EXPECT_EQ(AVIStreamSetFormat(stream, 0, frame.info.data(), 40), AVIERR_BADHANDLE) << "a released stream";

    // A sound stream takes the 16-byte PCM record as well as the 18-byte one; less is refused.
    AVI_STREAM_INFO auds{};
    auds.fccType = mmioStringToFOURCC("auds", 0);
    const std::uint8_t pcm[16] = {1, 0, 2, 0, 0x80, 0xBB, 0, 0, 0, 0xEE, 2, 0, 4, 0, 16, 0};
    PAVISTREAM sound = nullptr;
    ASSERT_EQ(Open(dir.file("sound.avi"), 4, 4, file, stream), AVIERR_OK);
    ASSERT_EQ(AVIFileCreateStream(file, &sound, &auds), AVIERR_OK);
    EXPECT_EQ(AVIStreamSetFormat(sound, 0, pcm, 15), AVIERR_BADFORMAT);
    EXPECT_EQ(AVIStreamSetFormat(sound, 0, pcm, 16), AVIERR_OK);
    AVIStreamRelease(sound), AVIStreamRelease(stream), AVIFileRelease(file);

    // Formats other than the two bitmap layouts the layer takes.
    const std::uint32_t size = 4 * 4 * 4;
    Bytes rle = InfoHeader(4, 4, 8, size), shortHeader = InfoHeader(4, 4, 24, size);
    rle[16] = 1; // BI_RLE8
    rle.resize(40 + 1024);
    shortHeader.resize(30);
    const std::pair<const char*, Bytes> formats[] = {
        {"32 bits", InfoHeader(4, 4, 32, size)},     {"16 bits", InfoHeader(4, 4, 16, size)},
        {"top-down", InfoHeader(4, -4, 24, size)},   {"zero width", InfoHeader(0, 4, 24, size)},
        {"RLE8", rle},                               {"8 bits", InfoHeader(4, 4, 8, size)},
        {"short header", shortHeader},               {"other size than the stream", InfoHeader(5, 4, 24, size)},
    };
    for (const auto& [what, format] : formats) {
        const std::string path = dir.file(std::string(what) + ".avi");
        EXPECT_EQ(RunMovie(Choice(FccOf("raw")), path, {4, 4, format, frame.bits, {}}, {&frame}), AVIERR_BADFORMAT)
            << what;
        EXPECT_EQ(std::filesystem::file_size(path), 0u) << what;
    }
    // Its rows would fit a bitmap file, but not FFmpeg's pictures of four
    // bytes a pixel.
    const Frame huge{30000, 20000, InfoHeader(30000, 20000, 24, 0), {}, {}};
    EXPECT_EQ(RunMovie(Choice(FccOf("raw")), dir.file("huge.avi"), huge, {}), AVIERR_BADFORMAT);
    EXPECT_EQ(std::filesystem::file_size(dir.file("huge.avi")), 0u);
}
