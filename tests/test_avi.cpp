// The movie layer driven the way the build run drives it, with the movie
// read back through FFmpeg (and GStreamer where it is installed).
#include "AviMovieReader.h"
#include "TestSupport.h"
#include "cDIB.h"
#include "mdAVI.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using testsupport::Bytes;
using testsupport::TempDir;

void PutLe32(Bytes& b, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

Bytes InfoHeader(int width, int height, int bitCount, std::uint32_t sizeImage, std::uint32_t clrUsed = 0)
{
    Bytes h(40, 0);
    PutLe32(h, 0, 40);
    PutLe32(h, 4, static_cast<std::uint32_t>(width));
    PutLe32(h, 8, static_cast<std::uint32_t>(height));
    h[12] = 1;
    h[14] = static_cast<std::uint8_t>(bitCount);
    PutLe32(h, 20, sizeImage);
    PutLe32(h, 32, clrUsed);
    return h;
}

// A 24-bit packed bitmap of a top-down picture.
Bytes PackedDib(int width, int height, const Bytes& picture)
{
    Bytes rows = testsupport::BitmapRows(width, height, picture);
    Bytes dib = InfoHeader(width, height, 24, static_cast<std::uint32_t>(rows.size()));
    dib.insert(dib.end(), rows.begin(), rows.end());
    return dib;
}

// A 24-bit frame made in memory; its top-down picture is kept beside it.
struct Frame {
    cDIB dib;
    Bytes picture; // top row first, blue-green-red
};

std::unique_ptr<Frame> FrameOf(int width, int height, Bytes picture)
{
    auto f = std::make_unique<Frame>();
    f->picture = std::move(picture);
    EXPECT_TRUE(f->dib.CreateFromPackedDIBPointer(PackedDib(width, height, f->picture).data()));
    return f;
}

std::unique_ptr<Frame> MakeFrame(int width, int height, unsigned seed)
{
    return FrameOf(width, height, testsupport::PatternPixels(width, height, seed));
}

// Frames of moving pictures, and the list of them the run takes.
struct Frames {
    std::vector<std::unique_ptr<Frame>> owned;
    std::vector<const cDIB*> list;
    Frames(int count, int width, int height)
    {
        for (int i = 0; i < count; ++i) {
            owned.push_back(MakeFrame(width, height, static_cast<unsigned>(i)));
            list.push_back(&owned.back()->dib);
        }
    }
};

// Top half one colour, bottom half another, for the compressors that only
// come close to their input.
constexpr int kTopBgr[3] = {30, 60, 220}, kBottomBgr[3] = {220, 40, 30};
std::unique_ptr<Frame> MakeTwoToneFrame(int width, int height)
{
    Bytes picture(static_cast<std::size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                // A little texture: flat pictures make FFmpeg's JPEG decoder
                // warn about its own encoder's output.
                picture[(static_cast<std::size_t>(y) * width + x) * 3 + c] = static_cast<std::uint8_t>(
                    (y < height / 2 ? kTopBgr : kBottomBgr)[c] + (x * 7 + y * 13) % 41 - 20);
    return FrameOf(width, height, std::move(picture));
}

// Installs a provider for as long as it lives, answering like a user who
// picks `choice` (or refuses, with answer 0); notes how it was asked.
struct ScriptedDialog {
    int asked = 0;
    std::uint32_t flags = 0;
    AviSaveOptionsProvider previous;
    explicit ScriptedDialog(AVICOMPRESSOPTIONS choice, int answer = 1)
        : previous(SetAviSaveOptionsProvider([this, choice, answer](AviOwnerWindow, std::uint32_t f,
                                                                    AVICOMPRESSOPTIONS& o) {
              ++asked;
              flags = f;
              if (answer == 1)
                  o = choice;
              return answer;
          }))
    {
    }
    ~ScriptedDialog() { SetAviSaveOptionsProvider(previous); }
};

AVICOMPRESSOPTIONS Choice(std::uint32_t fcc, std::uint32_t keyEvery = 0, std::uint32_t quality = 7500,
                          std::uint32_t bytesPerSecond = 0)
{
    AVICOMPRESSOPTIONS o{};
    o.fccType = mmioStringToFOURCC("vids", 0);
    o.fccHandler = fcc;
    o.dwKeyFrameEvery = keyEvery;
    o.dwQuality = quality;
    o.dwBytesPerSecond = bytesPerSecond;
    return o;
}

// The file and its video stream opened as the build run opens them, and
// released in the run's order when this goes.
struct Output {
    PAVIFILE file = nullptr;
    PAVISTREAM stream = nullptr, compressed = nullptr;
    HRESULT_AVI opened;
    Output(const std::string& path, int width, int height, std::uint32_t suggestedBuffer = 0)
    {
        opened = AVIFileOpen(&file, path.c_str(), OF_WRITE | OF_CREATE, nullptr);
        if (opened != AVIERR_OK)
            return;
        AVI_STREAM_INFO info{};
        info.fccType = mmioStringToFOURCC("vids", 0);
        info.dwScale = 1;
        info.dwRate = 15;
        info.dwSuggestedBufferSize = suggestedBuffer;
        SetRect(&info.rcFrame, 0, 0, width, height);
        opened = AVIFileCreateStream(file, &stream, &info);
    }
    ~Output()
    {
        if (stream)
            AVIStreamRelease(stream);
        if (compressed)
            AVIStreamRelease(compressed);
        if (file)
            AVIFileRelease(file);
    }
};

constexpr std::uint32_t kBoth = ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE;

struct RunResult {
    HRESULT_AVI failed = AVIERR_OK; // the first nonzero result, as the run keeps it
    int dialog = 0;
    int written = 0;
};

// The build run's calls, in its order: `first` gives the format, `frames`
// go to positions 1, 2, ...; stops at the first failure and always ends
// with the releases.
RunResult RunMovie(const std::string& path, const cDIB& first, const std::vector<const cDIB*>& frames,
                   const std::function<void(std::size_t)>& afterWrite = {})
{
    RunResult r;
    AVICOMPRESSOPTIONS options{};
    AVICOMPRESSOPTIONS* optionsArray[1] = {&options};
    AVIFileInit();
    bool asked = false;
    {
        Output out(path, first.Width(), first.Height(), static_cast<std::uint32_t>(first.SizeImage()));
        r.failed = out.opened;
        asked = r.failed == AVIERR_OK;
        if (asked && (r.dialog = AVISaveOptions(nullptr, kBoth, 1, &out.stream, optionsArray)) != 1)
            r.failed = r.dialog;
        auto going = [&] { return r.failed == AVIERR_OK && r.dialog == 1; };
        if (going())
            r.failed = AVIMakeCompressedStream(&out.compressed, out.stream, &options, nullptr);
        if (going())
            r.failed = AVIStreamSetFormat(out.compressed, 0, first.PointerToBitmapInfo(), first.SizeBitmapInfo());
        for (std::size_t i = 0; going() && i < frames.size(); ++i) {
            r.failed = AVIStreamWrite(out.compressed, static_cast<std::int32_t>(i + 1), 1, frames[i]->PointerToBits(),
                                      frames[i]->SizeImage(), AVIIF_KEYFRAME, nullptr, nullptr);
            r.written += r.failed == AVIERR_OK;
            if (afterWrite)
                afterWrite(i);
        }
    }
    if (asked)
        AVISaveOptionsFree(1, optionsArray);
    AVIFileExit();
    return r;
}

// Zero when the build has no such compressor: each has a FourCC.
std::uint32_t FccOf(const std::string& name)
{
    for (const AviCompressor& c : AviCompressors())
        if (c.name == name)
            return c.fccHandler;
    return 0;
}

// The run with a user who picks `choice` in the dialog.
RunResult RunWith(const AVICOMPRESSOPTIONS& choice, const std::string& path, const cDIB& first,
                  const std::vector<const cDIB*>& frames, const std::function<void(std::size_t)>& afterWrite = {})
{
    ScriptedDialog dialog(choice);
    return RunMovie(path, first, frames, afterWrite);
}

// Runs `body` for each of `names` the build has, each with a movie path of
// its own in `dir`.
void ForEachCompressor(const TempDir& dir, std::initializer_list<const char*> names,
                       const std::function<void(const std::string& name, const std::string& path)>& body)
{
    for (const std::string name : names)
        if (FccOf(name)) {
            SCOPED_TRACE(name);
            body(name, dir.file(name + ".avi"));
        }
}

std::uintmax_t FileSize(const std::string& path)
{
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    return ec ? static_cast<std::uintmax_t>(-1) : size;
}

// Average blue, green and red over a band of rows of a decoded picture.
std::array<double, 3> BandMean(const Bytes& bgr, int width, int fromRow, int toRow)
{
    std::array<double, 3> sum{};
    for (int y = fromRow; y < toRow; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                sum[c] += bgr[(static_cast<std::size_t>(y) * width + x) * 3 + c];
    for (double& s : sum)
        s /= static_cast<double>(width) * (toRow - fromRow);
    return sum;
}

std::string CaseName(const std::string& name, int width, int height)
{
    return name + "_" + std::to_string(width) + "x" + std::to_string(height);
}

} // namespace

TEST(AviCompressors, OfferFullFramesFirstAndEveryEncoderTheBuildHas)
{
    const auto& list = AviCompressors();
    ASSERT_FALSE(list.empty());
    EXPECT_EQ(list.front().description, "Full Frames (Uncompressed)");
    for (auto [name, encoder] : {std::pair{"mjpeg", "mjpeg"}, {"ffv1", "ffv1"}, {"huffyuv", "huffyuv"},
                                 {"utvideo", "utvideo"}, {"zmbv", "zmbv"}, {"mpeg4", "mpeg4"}, {"h264", "libx264"}})
        EXPECT_EQ(FccOf(name) != 0, avcodec_find_encoder_by_name(encoder) != nullptr) << name;
    for (std::size_t i = 0; i < list.size(); ++i)
        for (std::size_t j = i + 1; j < list.size(); ++j)
            EXPECT_NE(list[i].fccHandler, list[j].fccHandler) << list[i].name << " / " << list[j].name;

    // A FourCC is its four characters in file order: short names padded with
    // spaces, and upper case on request.
    for (auto [given, flags, stored] :
         {std::tuple{"vids", 0u, "vids"}, {"ab", 0u, "ab  "}, {"xvid", 0x0010u, "XVID"}}) {
        const std::uint32_t fcc = mmioStringToFOURCC(given, flags);
        EXPECT_EQ(std::memcmp(&fcc, stored, 4), 0) << given;
    }
}

// ---- Pixel-exact round trips --------------------------------------------

class AviLossless : public ::testing::TestWithParam<std::tuple<std::string, int, int>> {};

TEST_P(AviLossless, FramesComeBackIdenticalAndUprightWithPositionZeroFilled)
{
    const auto& [name, width, height] = GetParam();
    if (!FccOf(name))
        GTEST_SKIP() << name << " is not in this build";
    TempDir dir;
    const std::string path = dir.file("movie.avi");
    auto first = MakeFrame(width, height, 1), second = MakeFrame(width, height, 2), third = MakeFrame(width, height, 3);
    const RunResult r = RunWith(Choice(FccOf(name)), path, first->dib, {&second->dib, &third->dib});
    if (name == "utvideo" && width * height < 4) {
        // Refused before any frame rather than written undecodable.
        EXPECT_EQ(r.failed, AVIERR_BADFORMAT);
        EXPECT_EQ(FileSize(path), 0u);
        return;
    }
    ASSERT_EQ(r.failed, AVIERR_OK);

    const avitest::Movie m = avitest::ReadMovie(path, name == "raw");
    ASSERT_TRUE(m.opened) << m.error;
    EXPECT_TRUE(m.warnings.empty()) << m.warnings.front();
    EXPECT_EQ(std::tuple(m.width, m.height, m.rateNum, m.rateDen), std::tuple(width, height, 15, 1));
    // Position 0 repeats the first written frame; the format frame is not in the movie.
    ASSERT_EQ(m.frames.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_TRUE(m.frames[i] == (i < 2 ? second : third)->picture) << "position " << i;
    // Full frames are BI_RGB, 24 bits, and the DIB's own bytes, row padding included.
    EXPECT_EQ(m.codecTag, name == "raw" ? 0u : FccOf(name));
    if (name == "raw") {
        EXPECT_EQ(m.bitsPerCodedSample, 24);
        ASSERT_EQ(m.packets.size(), 3u);
        EXPECT_TRUE(m.packets[2] ==
                    Bytes(third->dib.PointerToBits(), third->dib.PointerToBits() + third->dib.SizeImage()));
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, AviLossless,
                         ::testing::Combine(::testing::Values("raw", "ffv1", "huffyuv", "utvideo", "zmbv"),
                                            ::testing::Values(1, 2, 3, 5, 640), ::testing::Values(1, 2, 480)),
                         [](const auto& info) { return std::apply(CaseName, info.param); });

// An 8-bit bitmap with a colour table, as the bitmap writer may produce.
TEST(AviEightBit, PaletteFramesComeBackAsTheirColours)
{
    TempDir dir;
    const int width = 7, height = 5, stride = 8;
    const std::uint32_t header = 14 + 40 + 1024, rows = stride * height;
    Bytes palette(1024, 0), picture;
    for (int i = 0; i < 256; ++i) {
        palette[4 * i] = static_cast<std::uint8_t>(i);           // blue
        palette[4 * i + 1] = static_cast<std::uint8_t>(255 - i); // green
        palette[4 * i + 2] = static_cast<std::uint8_t>(i * 7);   // red
    }
    Bytes file{'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    PutLe32(file, 2, header + rows);
    PutLe32(file, 10, header);
    for (const Bytes& part : {InfoHeader(width, height, 8, rows, 256), palette, Bytes(rows, 0)})
        file.insert(file.end(), part.begin(), part.end());
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const auto index = static_cast<std::uint8_t>(x * 31 + y * 17);
            file[header + static_cast<std::size_t>(height - 1 - y) * stride + x] = index;
            picture.insert(picture.end(), &palette[4u * index], &palette[4u * index] + 3);
        }
    testsupport::WriteFile(dir.file("frame.bmp"), file);
    cDIB frame;
    ASSERT_TRUE(frame.CreateFromFile(dir.file("frame.bmp")));
    ASSERT_EQ(frame.SizeBitmapInfo(), 1064);

    ForEachCompressor(dir, {"raw", "ffv1", "utvideo"}, [&](const std::string& name, const std::string& path) {
        ASSERT_EQ(RunWith(Choice(FccOf(name)), path, frame, {&frame}).failed, AVIERR_OK);
        const avitest::Movie m = avitest::ReadMovie(path);
        ASSERT_TRUE(m.opened) << m.error;
        EXPECT_TRUE(m.warnings.empty()) << m.warnings.front();
        ASSERT_EQ(m.frames.size(), 2u);
        EXPECT_TRUE(m.frames[1] == picture);
    });
}

// ---- Compressors that only come close -----------------------------------

class AviLossy : public ::testing::TestWithParam<std::tuple<std::string, int, int>> {};

TEST_P(AviLossy, ColoursAndOrientationSurvive)
{
    const auto& [name, width, height] = GetParam();
    if (!FccOf(name))
        GTEST_SKIP() << name << " is not in this build";
    TempDir dir;
    const std::string path = dir.file("movie.avi");
    auto frame = MakeTwoToneFrame(width, height);
    ASSERT_EQ(RunWith(Choice(FccOf(name)), path, frame->dib, {&frame->dib, &frame->dib, &frame->dib}).failed,
              AVIERR_OK);

    const avitest::Movie m = avitest::ReadMovie(path);
    ASSERT_TRUE(m.opened) << m.error;
    EXPECT_TRUE(m.warnings.empty()) << m.warnings.front();
    EXPECT_EQ(std::tuple(m.width, m.height), std::tuple(width, height));
    ASSERT_EQ(m.frames.size(), 4u);
    for (const Bytes& f : m.frames) {
        // Away from the edge between the halves, where chroma blurs.
        const auto top = BandMean(f, width, 0, height / 2 - 2), bottom = BandMean(f, width, height / 2 + 2, height);
        for (int c = 0; c < 3; ++c) {
            EXPECT_NEAR(top[c], kTopBgr[c], 12) << "channel " << c;
            EXPECT_NEAR(bottom[c], kBottomBgr[c], 12) << "channel " << c;
        }
    }
}

// Odd sizes in both directions, and a small even one.
INSTANTIATE_TEST_SUITE_P(Sizes, AviLossy,
                         ::testing::Values(std::tuple("mjpeg", 641, 481), std::tuple("mjpeg", 64, 48),
                                           std::tuple("mpeg4", 641, 481), std::tuple("mpeg4", 64, 48),
                                           std::tuple("h264", 641, 481), std::tuple("h264", 64, 48)),
                         [](const auto& info) { return std::apply(CaseName, info.param); });

TEST(AviSettings, KeyFrameIntervalIsHonoured)
{
    TempDir dir;
    const Frames frames(12, 64, 48);
    ForEachCompressor(dir, {"mpeg4", "h264", "ffv1", "zmbv"}, [&](const std::string& name, const std::string& path) {
        ASSERT_EQ(RunWith(Choice(FccOf(name), 5), path, *frames.list[0], frames.list).failed, AVIERR_OK);
        const avitest::Movie m = avitest::ReadMovie(path, false, false);
        ASSERT_TRUE(m.opened) << m.error;
        ASSERT_EQ(m.keyFrames.size(), 13u);
        for (std::size_t i = 0; i < m.keyFrames.size(); ++i)
            EXPECT_EQ(m.keyFrames[i], i % 5 == 0) << "frame " << i;
    });
}

TEST(AviSettings, QualityAndDataRateChangeTheSize)
{
    TempDir dir;
    const Frames frames(60, 160, 120); // four seconds: rate control needs time to settle
    auto sizeWith = [&](const std::string& name, std::uint32_t quality, std::uint32_t bytesPerSecond) {
        const std::string path = dir.file(name + std::to_string(quality + bytesPerSecond) + ".avi");
        EXPECT_EQ(RunWith(Choice(FccOf(name), 0, quality, bytesPerSecond), path, *frames.list[0], frames.list).failed,
                  AVIERR_OK);
        return FileSize(path);
    };
    ForEachCompressor(dir, {"mjpeg", "mpeg4", "h264"}, [&](const std::string& name, const std::string&) {
        EXPECT_GT(sizeWith(name, 9500, 0), sizeWith(name, 1000, 0) * 2);
        EXPECT_GT(sizeWith(name, 0, 2000 * 1024), sizeWith(name, 0, 30 * 1024) * 2);
    });
}

// ---- The dialog seam and the releases ------------------------------------

TEST(AviDialog, AcceptedOptionsArePendingUntilFreedOnceAndRefusalsWriteNothing)
{
    TempDir dir;
    const int before = AviSaveOptionsPending();
    {
        ScriptedDialog dialog(Choice(FccOf("raw")));
        AVICOMPRESSOPTIONS options{};
        AVICOMPRESSOPTIONS* array[1] = {&options};
        {
            Output out(dir.file("m.avi"), 4, 4);
            ASSERT_EQ(out.opened, AVIERR_OK);
            ASSERT_EQ(AVISaveOptions(nullptr, kBoth, 1, &out.stream, array), 1);
        }
        EXPECT_EQ(dialog.flags, kBoth);
        EXPECT_EQ(options.fccHandler, FccOf("raw"));
        EXPECT_EQ(AviSaveOptionsPending(), before + 1);
        EXPECT_EQ(AVISaveOptionsFree(1, array), AVIERR_OK);
        EXPECT_EQ(AviSaveOptionsPending(), before);
    }
    auto frame = MakeFrame(4, 4, 0);
    {
        ScriptedDialog refusing(Choice(FccOf("raw")), 0);
        EXPECT_EQ(RunMovie(dir.file("refused.avi"), frame->dib, {&frame->dib}).dialog, 0);
        EXPECT_EQ(refusing.asked, 1);
        EXPECT_EQ(FileSize(dir.file("refused.avi")), 0u);
    }
    // With no provider installed the dialog counts as refused.
    const AviSaveOptionsProvider saved = SetAviSaveOptionsProvider(nullptr);
    const RunResult none = RunMovie(dir.file("none.avi"), frame->dib, {&frame->dib});
    SetAviSaveOptionsProvider(saved);
    EXPECT_EQ(none.dialog, 0);
    EXPECT_EQ(FileSize(dir.file("none.avi")), 0u);
    EXPECT_EQ(AviSaveOptionsPending(), before);
}

TEST(AviFailures, EachFailureHasItsOwnCode)
{
    TempDir dir;
    auto frame = MakeFrame(6, 4, 0);
    PAVIFILE file = reinterpret_cast<PAVIFILE>(1);
    EXPECT_EQ(AVIFileOpen(&file, dir.file("no/such/dir/m.avi").c_str(), OF_WRITE | OF_CREATE, nullptr),
              AVIERR_FILEOPEN);
    EXPECT_EQ(file, nullptr);
    EXPECT_FALSE(std::filesystem::exists(dir.file("no")));

    EXPECT_EQ(RunWith(Choice(mmioStringToFOURCC("QQQQ", 0)), dir.file("nocomp.avi"), frame->dib, {&frame->dib}).failed,
              AVIERR_NOCOMPRESSOR);
    EXPECT_EQ(FileSize(dir.file("nocomp.avi")), 0u);

    // A frame of another size than the format is refused, not garbled.
    auto other = MakeFrame(8, 4, 1);
    const RunResult r = RunWith(Choice(FccOf("raw")), dir.file("size.avi"), frame->dib, {&frame->dib, &other->dib});
    EXPECT_EQ(r.failed, AVIERR_BADSIZE);
    EXPECT_EQ(r.written, 1);
    const avitest::Movie m = avitest::ReadMovie(dir.file("size.avi"));
    ASSERT_TRUE(m.opened) << m.error;
    EXPECT_EQ(m.frames.size(), 2u);

    // Formats other than the two bitmap layouts the layer takes.
    const std::uint32_t size = 4 * 4 * 4;
    auto with = [](Bytes b, std::size_t length, int compression = 0) {
        b[16] = static_cast<std::uint8_t>(compression);
        b.resize(length);
        return b;
    };
    const struct {
        const char* what;
        Bytes info;
    } formats[] = {
        {"32 bits", InfoHeader(4, 4, 32, size)},
        {"16 bits", InfoHeader(4, 4, 16, size)},
        {"top-down", InfoHeader(4, -4, 24, size)},
        {"zero width", InfoHeader(0, 4, 24, size)},
        {"RLE8", with(InfoHeader(4, 4, 8, size), 40 + 1024, 1)},
        {"8 bits without its colour table", InfoHeader(4, 4, 8, size)},
        {"short header", with(InfoHeader(4, 4, 24, size), 30)},
        {"other size than the stream", InfoHeader(5, 4, 24, size)},
    };
    for (const auto& f : formats) {
        SCOPED_TRACE(f.what);
        const std::string path = dir.file(std::string(f.what) + ".avi");
        {
            Output out(path, 4, 4);
            ASSERT_EQ(out.opened, AVIERR_OK);
            const AVICOMPRESSOPTIONS options = Choice(FccOf("raw"));
            ASSERT_EQ(AVIMakeCompressedStream(&out.compressed, out.stream, &options, nullptr), AVIERR_OK);
            EXPECT_EQ(AVIStreamSetFormat(out.compressed, 0, f.info.data(), static_cast<std::int32_t>(f.info.size())),
                      AVIERR_BADFORMAT);
        }
        EXPECT_EQ(FileSize(path), 0u);
    }
}

TEST(AviFailures, NoFrameWrittenStillLeavesAValidMovie)
{
    TempDir dir;
    auto frame = MakeFrame(5, 3, 0);
    ForEachCompressor(dir, {"raw", "ffv1", "h264"}, [&](const std::string& name, const std::string& path) {
        ASSERT_EQ(RunWith(Choice(FccOf(name)), path, frame->dib, {}).failed, AVIERR_OK);
        const avitest::Movie m = avitest::ReadMovie(path, false, false);
        EXPECT_TRUE(m.opened) << m.error;
        EXPECT_EQ(std::tuple(m.width, m.height, m.keyFrames.size()), std::tuple(5, 3, 0u));
    });
}

TEST(AviFailures, FullDiskFailsTheWriteAndKeepsWhatWasWritten)
{
    TempDir dir;
    ForEachCompressor(dir, {"raw", "ffv1"}, [&](const std::string& name, const std::string& path) {
        // The file may grow to the limit; writes beyond fail with EFBIG, as
        // on a full disk. In a child, so that the limit spares the suite.
        // 320x240 frames are 230 KB uncompressed; the limit falls in the third.
        const pid_t pid = fork();
        if (pid == 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{600 * 1024, 600 * 1024};
            setrlimit(RLIMIT_FSIZE, &limit);
            const Frames frames(40, 320, 240);
            _exit(RunWith(Choice(FccOf(name)), path, *frames.list[0], frames.list).failed == AVIERR_FILEWRITE ? 0 : 1);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "expected AVIERR_FILEWRITE, status " << status;
        const avitest::Movie m = avitest::ReadMovie(path);
        ASSERT_TRUE(m.opened) << m.error;
        EXPECT_GE(m.frames.size(), 1u);
    });
}

TEST(AviWrites, TheCallersBytesMayChangeAsSoonAsTheWriteReturns)
{
    // As in a run: one bitmap object, loaded anew after each write, while the
    // layer's own thread may still be writing the frame before.
    TempDir dir;
    std::vector<Bytes> pictures, packed;
    for (unsigned i = 0; i < 6; ++i) {
        pictures.push_back(testsupport::PatternPixels(96, 64, i * 7 + 3));
        packed.push_back(PackedDib(96, 64, pictures.back()));
    }
    ForEachCompressor(dir, {"raw", "ffv1"}, [&](const std::string& name, const std::string& path) {
        cDIB scratch;
        ASSERT_TRUE(scratch.CreateFromPackedDIBPointer(packed[0].data()));
        const std::vector<const cDIB*> list(pictures.size(), &scratch);
        ASSERT_EQ(RunWith(Choice(FccOf(name)), path, scratch, list, [&](std::size_t i) {
                      scratch.CreateFromPackedDIBPointer(packed[(i + 1) % packed.size()].data());
                  }).failed,
                  AVIERR_OK);
        const avitest::Movie m = avitest::ReadMovie(path, name == "raw");
        ASSERT_EQ(m.frames.size(), pictures.size() + 1);
        for (std::size_t i = 0; i < pictures.size(); ++i)
            EXPECT_TRUE(m.frames[i + 1] == pictures[i]) << "position " << i + 1;
    });
}

TEST(AviGStreamer, EveryCompressorButUtVideoPlaysThroughAvidemux)
{
    if (std::system("command -v gst-launch-1.0 >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "gst-launch-1.0 is not installed";
    TempDir dir;
    auto odd = MakeFrame(33, 17, 1), even = MakeFrame(64, 48, 3);
    for (const AviCompressor& c : AviCompressors()) {
        if (c.name == "utvideo")
            continue; // GStreamer has no mapping for its FourCC
        for (const Frame* f : {odd.get(), even.get()}) {
            SCOPED_TRACE(c.name + " " + std::to_string(f->dib.Width()));
            const std::string path = dir.file(c.name + ".avi"), log = dir.file("gst.log");
            ASSERT_EQ(RunWith(Choice(c.fccHandler), path, f->dib, {&f->dib, &f->dib}).failed, AVIERR_OK);
            const std::string cmd = "gst-launch-1.0 -q filesrc location='" + path +
                                    "' ! avidemux ! decodebin ! fakesink >'" + log + "' 2>&1";
            const int rc = std::system(cmd.c_str());
            const Bytes out = testsupport::ReadFile(log);
            const std::string text(out.begin(), out.end());
            EXPECT_EQ(rc, 0) << text;
            EXPECT_EQ(text.find("ERROR"), std::string::npos) << text;
        }
    }
}
