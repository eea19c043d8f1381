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

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

using testsupport::Bytes;
using testsupport::TempDir;

constexpr std::uint32_t Fcc(const char (&s)[5])
{
    return static_cast<std::uint32_t>(static_cast<unsigned char>(s[0])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(s[1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(s[2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(s[3])) << 24;
}

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

// A 24-bit frame made in memory; its top-down picture is kept beside it.
struct Frame {
    cDIB dib;
    Bytes picture; // top row first, blue-green-red
};

std::unique_ptr<Frame> MakeFrame(int width, int height, unsigned seed)
{
    auto f = std::make_unique<Frame>();
    f->picture = testsupport::PatternPixels(width, height, seed);
    Bytes packed = testsupport::BitmapRows(width, height, f->picture);
    Bytes header = InfoHeader(width, height, 24, static_cast<std::uint32_t>(packed.size()));
    packed.insert(packed.begin(), header.begin(), header.end());
    EXPECT_TRUE(f->dib.CreateFromPackedDIBPointer(packed.data()));
    return f;
}

// Top half one colour, bottom half another, for the compressors that only
// come close to their input.
std::unique_ptr<Frame> MakeTwoToneFrame(int width, int height)
{
    auto f = std::make_unique<Frame>();
    f->picture.resize(static_cast<std::size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = &f->picture[(static_cast<std::size_t>(y) * width + x) * 3];
            const bool top = y < height / 2;
            // A little texture: flat pictures make FFmpeg's JPEG decoder
            // warn about its own encoder's output.
            const int t = (x * 7 + y * 13) % 41 - 20;
            p[0] = static_cast<std::uint8_t>((top ? 30 : 220) + t); // blue
            p[1] = static_cast<std::uint8_t>((top ? 60 : 40) + t);  // green
            p[2] = static_cast<std::uint8_t>((top ? 220 : 30) + t); // red
        }
    Bytes packed = testsupport::BitmapRows(width, height, f->picture);
    Bytes header = InfoHeader(width, height, 24, static_cast<std::uint32_t>(packed.size()));
    packed.insert(packed.begin(), header.begin(), header.end());
    EXPECT_TRUE(f->dib.CreateFromPackedDIBPointer(packed.data()));
    return f;
}

// Installs a provider for as long as it lives, answering like a user who
// picks `choice` (or refuses, with answer 0); counts how often it was asked.
class ScriptedDialog {
public:
    ScriptedDialog(AVICOMPRESSOPTIONS choice, int answer = 1)
    {
        previous_ = SetAviSaveOptionsProvider([this, choice, answer](AviOwnerWindow, std::uint32_t flags,
                                                                     AVICOMPRESSOPTIONS& o) {
            ++asked_;
            flags_ = flags;
            if (answer == 1)
                o = choice;
            return answer;
        });
    }
    ~ScriptedDialog() { SetAviSaveOptionsProvider(previous_); }
    int asked() const { return asked_; }
    std::uint32_t flags() const { return flags_; }

private:
    AviSaveOptionsProvider previous_;
    int asked_ = 0;
    std::uint32_t flags_ = 0;
};

AVICOMPRESSOPTIONS Choice(std::uint32_t fcc, std::uint32_t keyEvery = 0, std::uint32_t quality = 7500,
                          std::uint32_t bytesPerSecond = 0)
{
    AVICOMPRESSOPTIONS o{};
    o.fccType = Fcc("vids");
    o.fccHandler = fcc;
    o.dwKeyFrameEvery = keyEvery;
    o.dwQuality = quality;
    o.dwBytesPerSecond = bytesPerSecond;
    return o;
}

struct RunResult {
    HRESULT_AVI failed = AVIERR_OK; // the first nonzero result, as the run keeps it
    int dialog = 0;
    int written = 0;
};

// The build run's calls, in its order: `first` gives the format, `frames`
// go to positions 1, 2, ...; stops at the first failure and always ends
// with the releases.
RunResult RunMovie(const std::string& path, const cDIB& first, const std::vector<const cDIB*>& frames,
                   std::uint32_t rate = 15)
{
    RunResult r;
    PAVIFILE file = nullptr;
    PAVISTREAM stream = nullptr;
    PAVISTREAM compressed = nullptr;
    AVICOMPRESSOPTIONS options{};
    AVICOMPRESSOPTIONS* optionsArray[1] = {&options};
    AVIFileInit();
    r.failed = AVIFileOpen(&file, path.c_str(), OF_WRITE | OF_CREATE, nullptr);
    if (r.failed == AVIERR_OK) {
        AVI_STREAM_INFO info{};
        info.fccType = mmioStringToFOURCC("vids", 0);
        info.dwScale = 1;
        info.dwRate = rate;
        info.dwSuggestedBufferSize = static_cast<std::uint32_t>(first.SizeImage());
        SetRect(&info.rcFrame, 0, 0, first.Width(), first.Height());
        r.failed = AVIFileCreateStream(file, &stream, &info);
    }
    if (r.failed == AVIERR_OK) {
        r.dialog = AVISaveOptions(nullptr, ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE, 1, &stream, optionsArray);
        if (r.dialog != 1) {
            AVISaveOptionsFree(1, optionsArray);
            r.failed = r.dialog;
        }
    }
    const bool accepted = r.dialog == 1;
    if (r.failed == AVIERR_OK && accepted)
        r.failed = AVIMakeCompressedStream(&compressed, stream, &options, nullptr);
    if (r.failed == AVIERR_OK && accepted)
        r.failed = AVIStreamSetFormat(compressed, 0, first.PointerToBitmapInfo(), first.SizeBitmapInfo());
    if (r.failed == AVIERR_OK && accepted) {
        std::int32_t position = 0;
        for (const cDIB* f : frames) {
            ++position;
            r.failed = AVIStreamWrite(compressed, position, 1, f->PointerToBits(), f->SizeImage(), AVIIF_KEYFRAME,
                                      nullptr, nullptr);
            if (r.failed != AVIERR_OK)
                break;
            ++r.written;
        }
    }
    if (stream)
        AVIStreamRelease(stream);
    if (compressed)
        AVIStreamRelease(compressed);
    if (file)
        AVIFileRelease(file);
    if (accepted)
        AVISaveOptionsFree(1, optionsArray);
    AVIFileExit();
    return r;
}

bool HasCompressor(const char* name)
{
    for (const AviCompressor& c : AviCompressors())
        if (c.name == name)
            return true;
    return false;
}

std::uint32_t FccOf(const char* name)
{
    for (const AviCompressor& c : AviCompressors())
        if (c.name == name)
            return c.fccHandler;
    return 0;
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
    std::size_t n = 0;
    for (int y = fromRow; y < toRow; ++y)
        for (int x = 0; x < width; ++x, ++n)
            for (int c = 0; c < 3; ++c)
                sum[c] += bgr[(static_cast<std::size_t>(y) * width + x) * 3 + c];
    for (double& s : sum)
        s /= static_cast<double>(n ? n : 1);
    return sum;
}

} // namespace

TEST(AviCompressors, OfferFullFramesFirstAndEveryEncoderTheBuildHas)
{
    const auto& list = AviCompressors();
    ASSERT_FALSE(list.empty());
    EXPECT_EQ(list.front().description, "Full Frames (Uncompressed)");
    const struct {
        const char* name;
        const char* encoder;
    } expected[] = {{"mjpeg", "mjpeg"},     {"ffv1", "ffv1"}, {"huffyuv", "huffyuv"}, {"utvideo", "utvideo"},
                    {"zmbv", "zmbv"},       {"mpeg4", "mpeg4"}, {"h264", "libx264"}};
    for (const auto& e : expected)
        EXPECT_EQ(HasCompressor(e.name), avcodec_find_encoder_by_name(e.encoder) != nullptr) << e.name;
    for (std::size_t i = 0; i < list.size(); ++i)
        for (std::size_t j = i + 1; j < list.size(); ++j)
            EXPECT_NE(list[i].fccHandler, list[j].fccHandler) << list[i].name << " / " << list[j].name;
}

TEST(AviHelpers, FourccAndRectKeepTheirByteOrder)
{
    const std::uint32_t vids = mmioStringToFOURCC("vids", 0);
    EXPECT_EQ(std::memcmp(&vids, "vids", 4), 0);
    EXPECT_EQ(mmioStringToFOURCC("ab", 0), Fcc("ab  "));
    EXPECT_EQ(mmioStringToFOURCC("xvid", 0x0010), Fcc("XVID"));
    RECT rc{};
    EXPECT_TRUE(SetRect(&rc, 0, 0, 640, 480));
    EXPECT_EQ(rc.right, 640);
    EXPECT_EQ(rc.bottom, 480);
}

// ---- Pixel-exact round trips --------------------------------------------

using LosslessCase = std::tuple<std::string, int, int>;

class AviLossless : public ::testing::TestWithParam<LosslessCase> {};

TEST_P(AviLossless, FramesComeBackIdenticalAndUprightWithPositionZeroFilled)
{
    const auto& [name, width, height] = GetParam();
    if (!HasCompressor(name.c_str()))
        GTEST_SKIP() << name << " is not in this build";
    TempDir dir;
    const std::string path = dir.file("movie.avi");
    auto first = MakeFrame(width, height, 1);
    auto second = MakeFrame(width, height, 2);
    auto third = MakeFrame(width, height, 3);
    ScriptedDialog dialog(Choice(FccOf(name.c_str())));

    const RunResult r = RunMovie(path, first->dib, {&second->dib, &third->dib});
    if (name == "utvideo" && width * height < 4) {
        // Refused before any frame rather than written undecodable.
        EXPECT_EQ(r.failed, AVIERR_BADFORMAT);
        EXPECT_EQ(FileSize(path), 0u);
        return;
    }
    ASSERT_EQ(r.failed, AVIERR_OK);
    ASSERT_EQ(r.written, 2);

    const avitest::Movie m = avitest::ReadMovie(path, name == "raw");
    ASSERT_TRUE(m.opened) << m.error;
    EXPECT_TRUE(m.warnings.empty()) << m.warnings.front();
    EXPECT_EQ(m.width, width);
    EXPECT_EQ(m.height, height);
    EXPECT_EQ(m.rateNum, 15);
    EXPECT_EQ(m.rateDen, 1);
    ASSERT_EQ(m.frames.size(), 3u);
    // Position 0 repeats the first written frame; the format frame is not in the movie.
    EXPECT_TRUE(m.frames[0] == second->picture) << "position 0";
    EXPECT_TRUE(m.frames[1] == second->picture) << "position 1";
    EXPECT_TRUE(m.frames[2] == third->picture) << "position 2";
    if (name == "raw") {
        // BI_RGB, 24 bits, and the DIB's own bytes, row padding included.
        EXPECT_EQ(m.codecTag, 0u);
        EXPECT_EQ(m.bitsPerCodedSample, 24);
        ASSERT_EQ(m.packets.size(), 3u);
        const Bytes bits(third->dib.PointerToBits(), third->dib.PointerToBits() + third->dib.SizeImage());
        EXPECT_TRUE(m.packets[2] == bits);
    } else {
        EXPECT_EQ(m.codecTag, FccOf(name.c_str()));
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, AviLossless,
                         ::testing::Combine(::testing::Values("raw", "ffv1", "huffyuv", "utvideo", "zmbv"),
                                            ::testing::Values(1, 2, 3, 5, 640), ::testing::Values(1, 2, 480)),
                         [](const auto& info) {
                             return std::get<0>(info.param) + "_" + std::to_string(std::get<1>(info.param)) + "x" +
                                    std::to_string(std::get<2>(info.param));
                         });

// An 8-bit bitmap with a colour table, as the bitmap writer may produce.
TEST(AviEightBit, PaletteFramesComeBackAsTheirColours)
{
    TempDir dir;
    const int width = 7, height = 5;
    const std::size_t stride = (width + 3) / 4 * 4;
    Bytes palette(1024, 0);
    for (int i = 0; i < 256; ++i) {
        palette[4 * i] = static_cast<std::uint8_t>(i);           // blue
        palette[4 * i + 1] = static_cast<std::uint8_t>(255 - i); // green
        palette[4 * i + 2] = static_cast<std::uint8_t>(i * 7);   // red
    }
    auto makeBmp = [&](unsigned seed, Bytes& picture) {
        Bytes bits(stride * height, 0);
        picture.assign(static_cast<std::size_t>(width) * height * 3, 0);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const auto index = static_cast<std::uint8_t>(x * 31 + y * 17 + seed * 5);
                bits[static_cast<std::size_t>(height - 1 - y) * stride + x] = index;
                std::memcpy(&picture[(static_cast<std::size_t>(y) * width + x) * 3], &palette[4u * index], 3);
            }
        Bytes file(14, 0);
        file[0] = 'B';
        file[1] = 'M';
        PutLe32(file, 2, static_cast<std::uint32_t>(14 + 40 + 1024 + bits.size()));
        PutLe32(file, 10, 14 + 40 + 1024);
        const Bytes header = InfoHeader(width, height, 8, static_cast<std::uint32_t>(bits.size()), 256);
        file.insert(file.end(), header.begin(), header.end());
        file.insert(file.end(), palette.begin(), palette.end());
        file.insert(file.end(), bits.begin(), bits.end());
        const std::string path = dir.file("f" + std::to_string(seed) + ".bmp");
        testsupport::WriteFile(path, file);
        return path;
    };
    Bytes pic1, pic2;
    cDIB first, second;
    ASSERT_TRUE(first.CreateFromFile(makeBmp(1, pic1)));
    ASSERT_TRUE(second.CreateFromFile(makeBmp(2, pic2)));
    ASSERT_EQ(first.SizeBitmapInfo(), 1064);

    for (const char* name : {"raw", "ffv1", "utvideo"}) {
        if (!HasCompressor(name))
            continue;
        SCOPED_TRACE(name);
        ScriptedDialog dialog(Choice(FccOf(name)));
        const std::string path = dir.file(std::string(name) + ".avi");
        ASSERT_EQ(RunMovie(path, first, {&second}).failed, AVIERR_OK);
        const avitest::Movie m = avitest::ReadMovie(path);
        ASSERT_TRUE(m.opened) << m.error;
        EXPECT_TRUE(m.warnings.empty()) << m.warnings.front();
        ASSERT_EQ(m.frames.size(), 2u);
        EXPECT_TRUE(m.frames[1] == pic2);
    }
}

// ---- Compressors that only come close -----------------------------------

class AviLossy : public ::testing::TestWithParam<std::tuple<std::string, int, int>> {};

TEST_P(AviLossy, ColoursAndOrientationSurvive)
{
    const auto& [name, width, height] = GetParam();
    if (!HasCompressor(name.c_str()))
        GTEST_SKIP() << name << " is not in this build";
    TempDir dir;
    const std::string path = dir.file("movie.avi");
    auto frame = MakeTwoToneFrame(width, height);
    ScriptedDialog dialog(Choice(FccOf(name.c_str())));
    ASSERT_EQ(RunMovie(path, frame->dib, {&frame->dib, &frame->dib, &frame->dib}).failed, AVIERR_OK);

    const avitest::Movie m = avitest::ReadMovie(path);
    ASSERT_TRUE(m.opened) << m.error;
    EXPECT_TRUE(m.warnings.empty()) << m.warnings.front();
    EXPECT_EQ(m.width, width);
    EXPECT_EQ(m.height, height);
    ASSERT_EQ(m.frames.size(), 4u);
    for (const Bytes& f : m.frames) {
        // Away from the edge between the halves, where chroma blurs.
        const auto top = BandMean(f, width, 0, height / 2 - 2);
        const auto bottom = BandMean(f, width, height / 2 + 2, height);
        EXPECT_NEAR(top[0], 30, 12);
        EXPECT_NEAR(top[1], 60, 12);
        EXPECT_NEAR(top[2], 220, 12);
        EXPECT_NEAR(bottom[0], 220, 12);
        EXPECT_NEAR(bottom[1], 40, 12);
        EXPECT_NEAR(bottom[2], 30, 12);
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, AviLossy,
                         ::testing::Combine(::testing::Values("mjpeg", "mpeg4", "h264"), ::testing::Values(641, 64),
                                            ::testing::Values(481, 48)),
                         [](const auto& info) {
                             return std::get<0>(info.param) + "_" + std::to_string(std::get<1>(info.param)) + "x" +
                                    std::to_string(std::get<2>(info.param));
                         });

TEST(AviSettings, KeyFrameIntervalIsHonoured)
{
    TempDir dir;
    std::vector<std::unique_ptr<Frame>> frames;
    std::vector<const cDIB*> pointers;
    for (unsigned i = 0; i < 12; ++i) {
        frames.push_back(MakeFrame(64, 48, i));
        pointers.push_back(&frames.back()->dib);
    }
    for (const char* name : {"mpeg4", "h264", "ffv1", "zmbv"}) {
        if (!HasCompressor(name))
            continue;
        SCOPED_TRACE(name);
        ScriptedDialog dialog(Choice(FccOf(name), 5));
        const std::string path = dir.file(std::string(name) + ".avi");
        ASSERT_EQ(RunMovie(path, *pointers[0], pointers).failed, AVIERR_OK);
        const avitest::Movie m = avitest::ReadMovie(path, false, false);
        ASSERT_TRUE(m.opened) << m.error;
        ASSERT_EQ(m.keyFrames.size(), 13u);
        for (std::size_t i = 0; i < m.keyFrames.size(); ++i)
            EXPECT_EQ(m.keyFrames[i], i % 5 == 0) << "frame " << i;
    }
}

TEST(AviSettings, QualityAndDataRateChangeTheSize)
{
    TempDir dir;
    std::vector<std::unique_ptr<Frame>> frames;
    std::vector<const cDIB*> pointers;
    // Four seconds of moving pictures: rate control needs time to settle.
    for (unsigned i = 0; i < 60; ++i) {
        frames.push_back(MakeFrame(160, 120, i));
        pointers.push_back(&frames.back()->dib);
    }
    auto sizeWith = [&](const char* name, AVICOMPRESSOPTIONS choice, const char* tag) {
        ScriptedDialog dialog(choice);
        const std::string path = dir.file(std::string(name) + tag + ".avi");
        EXPECT_EQ(RunMovie(path, *pointers[0], pointers).failed, AVIERR_OK);
        return FileSize(path);
    };
    for (const char* name : {"mjpeg", "mpeg4", "h264"}) {
        if (!HasCompressor(name))
            continue;
        SCOPED_TRACE(name);
        const auto high = sizeWith(name, Choice(FccOf(name), 0, 9500), "high");
        const auto low = sizeWith(name, Choice(FccOf(name), 0, 1000), "low");
        EXPECT_GT(high, low * 2);
        const auto fast = sizeWith(name, Choice(FccOf(name), 0, 0, 2000 * 1024), "fast");
        const auto slow = sizeWith(name, Choice(FccOf(name), 0, 0, 30 * 1024), "slow");
        EXPECT_GT(fast, slow * 2);
    }
}

// ---- The dialog seam and the releases ------------------------------------

TEST(AviDialog, AcceptedOptionsArePendingUntilFreedOnce)
{
    TempDir dir;
    auto frame = MakeFrame(4, 4, 0);
    ScriptedDialog dialog(Choice(FccOf("raw")));
    const int before = AviSaveOptionsPending();
    PAVIFILE file = nullptr;
    PAVISTREAM stream = nullptr;
    ASSERT_EQ(AVIFileOpen(&file, dir.file("m.avi").c_str(), OF_WRITE | OF_CREATE, nullptr), AVIERR_OK);
    AVI_STREAM_INFO info{};
    info.fccType = mmioStringToFOURCC("vids", 0);
    info.dwScale = 1;
    info.dwRate = 15;
    ASSERT_EQ(AVIFileCreateStream(file, &stream, &info), AVIERR_OK);
    AVICOMPRESSOPTIONS options{};
    AVICOMPRESSOPTIONS* array[1] = {&options};
    ASSERT_EQ(AVISaveOptions(nullptr, ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE, 1, &stream, array), 1);
    EXPECT_EQ(dialog.flags(), ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE);
    EXPECT_EQ(options.fccHandler, FccOf("raw"));
    EXPECT_EQ(AviSaveOptionsPending(), before + 1);
    AVIStreamRelease(stream);
    AVIFileRelease(file);
    EXPECT_EQ(AVISaveOptionsFree(1, array), AVIERR_OK);
    EXPECT_EQ(AviSaveOptionsPending(), before);
}

TEST(AviDialog, RefusedOrMissingDialogLeavesAtMostTheEmptyFile)
{
    TempDir dir;
    auto frame = MakeFrame(4, 4, 0);
    const int before = AviSaveOptionsPending();
    {
        ScriptedDialog refusing(Choice(FccOf("raw")), 0);
        const RunResult r = RunMovie(dir.file("refused.avi"), frame->dib, {&frame->dib});
        EXPECT_EQ(r.dialog, 0);
        EXPECT_EQ(refusing.asked(), 1);
        EXPECT_EQ(FileSize(dir.file("refused.avi")), 0u);
    }
    {
        // With no provider installed the dialog counts as refused.
        AviSaveOptionsProvider saved = SetAviSaveOptionsProvider(nullptr);
        const RunResult r = RunMovie(dir.file("none.avi"), frame->dib, {&frame->dib});
        SetAviSaveOptionsProvider(saved);
        EXPECT_EQ(r.dialog, 0);
        EXPECT_EQ(FileSize(dir.file("none.avi")), 0u);
    }
    EXPECT_EQ(AviSaveOptionsPending(), before);
}

TEST(AviFailures, EachFailureHasItsOwnCode)
{
    TempDir dir;
    auto frame = MakeFrame(6, 4, 0);
    {
        PAVIFILE file = reinterpret_cast<PAVIFILE>(1);
        EXPECT_EQ(AVIFileOpen(&file, dir.file("no/such/dir/m.avi").c_str(), OF_WRITE | OF_CREATE, nullptr),
                  AVIERR_FILEOPEN);
        EXPECT_EQ(file, nullptr);
        EXPECT_FALSE(std::filesystem::exists(dir.file("no")));
    }
    {
        ScriptedDialog dialog(Choice(Fcc("QQQQ")));
        const RunResult r = RunMovie(dir.file("nocomp.avi"), frame->dib, {&frame->dib});
        EXPECT_EQ(r.failed, AVIERR_NOCOMPRESSOR);
        EXPECT_EQ(FileSize(dir.file("nocomp.avi")), 0u);
    }
    {
        // A frame of another size than the format is refused, not garbled.
        ScriptedDialog dialog(Choice(FccOf("raw")));
        auto other = MakeFrame(8, 4, 1);
        const RunResult r = RunMovie(dir.file("size.avi"), frame->dib, {&frame->dib, &other->dib});
        EXPECT_EQ(r.failed, AVIERR_BADSIZE);
        EXPECT_EQ(r.written, 1);
        const avitest::Movie m = avitest::ReadMovie(dir.file("size.avi"));
        ASSERT_TRUE(m.opened) << m.error;
        EXPECT_EQ(m.frames.size(), 2u);
    }
}

TEST(AviFailures, FormatsOtherThanTheTwoBitmapLayoutsAreBadFormat)
{
    TempDir dir;
    const std::uint32_t size = 4 * 4 * 4;
    struct Case {
        const char* what;
        Bytes info;
    } cases[] = {
        {"32 bits", InfoHeader(4, 4, 32, size)},
        {"16 bits", InfoHeader(4, 4, 16, size)},
        {"top-down", InfoHeader(4, -4, 24, size)},
        {"zero width", InfoHeader(0, 4, 24, size)},
        {"RLE8", [&] {
             Bytes b = InfoHeader(4, 4, 8, size);
             b[16] = 1;
             b.resize(40 + 1024);
             return b;
         }()},
        {"8 bits without its colour table", InfoHeader(4, 4, 8, size)},
        {"short header", [&] {
             Bytes b = InfoHeader(4, 4, 24, size);
             b.resize(30);
             return b;
         }()},
        {"other size than the stream", InfoHeader(5, 4, 24, size)},
    };
    ScriptedDialog dialog(Choice(FccOf("raw")));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir.file("bad.avi");
        PAVIFILE file = nullptr;
        PAVISTREAM stream = nullptr, compressed = nullptr;
        ASSERT_EQ(AVIFileOpen(&file, path.c_str(), OF_WRITE | OF_CREATE, nullptr), AVIERR_OK);
        AVI_STREAM_INFO info{};
        info.fccType = mmioStringToFOURCC("vids", 0);
        info.dwScale = 1;
        info.dwRate = 15;
        SetRect(&info.rcFrame, 0, 0, 4, 4);
        ASSERT_EQ(AVIFileCreateStream(file, &stream, &info), AVIERR_OK);
        AVICOMPRESSOPTIONS options = Choice(FccOf("raw"));
        ASSERT_EQ(AVIMakeCompressedStream(&compressed, stream, &options, nullptr), AVIERR_OK);
        EXPECT_EQ(AVIStreamSetFormat(compressed, 0, c.info.data(), static_cast<std::int32_t>(c.info.size())),
                  AVIERR_BADFORMAT);
        AVIStreamRelease(stream);
        AVIStreamRelease(compressed);
        AVIFileRelease(file);
        EXPECT_EQ(FileSize(path), 0u);
        std::filesystem::remove(path);
    }
}

TEST(AviFailures, NoFrameWrittenStillLeavesAValidMovie)
{
    TempDir dir;
    auto frame = MakeFrame(5, 3, 0);
    for (const char* name : {"raw", "ffv1", "h264"}) {
        if (!HasCompressor(name))
            continue;
        SCOPED_TRACE(name);
        ScriptedDialog dialog(Choice(FccOf(name)));
        const std::string path = dir.file(std::string(name) + ".avi");
        ASSERT_EQ(RunMovie(path, frame->dib, {}).failed, AVIERR_OK);
        const avitest::Movie m = avitest::ReadMovie(path, false, false);
        EXPECT_TRUE(m.opened) << m.error;
        EXPECT_EQ(m.width, 5);
        EXPECT_EQ(m.height, 3);
        EXPECT_EQ(m.keyFrames.size(), 0u);
    }
}

// The file may grow to `limit` bytes; writes beyond fail with EFBIG, as on a
// full disk. Runs in a child so that the limit does not touch the suite.
// Answers the run's result code in the exit status's low byte.
int WriteUnderFileSizeLimit(const std::string& path, const char* compressor, rlim_t limit, int frames)
{
    const pid_t pid = fork();
    if (pid == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit rl{limit, limit};
        setrlimit(RLIMIT_FSIZE, &rl);
        std::vector<std::unique_ptr<Frame>> owned;
        std::vector<const cDIB*> list;
        for (int i = 0; i < frames; ++i) {
            owned.push_back(MakeFrame(320, 240, static_cast<unsigned>(i)));
            list.push_back(&owned.back()->dib);
        }
        ScriptedDialog dialog(Choice(FccOf(compressor)));
        const RunResult r = RunMovie(path, *list[0], list);
        _exit(r.failed == AVIERR_FILEWRITE ? 0 : r.failed == AVIERR_OK ? 1 : 2);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

TEST(AviFailures, FullDiskFailsTheWriteAndKeepsWhatWasWritten)
{
    TempDir dir;
    for (const char* name : {"raw", "ffv1"}) {
        SCOPED_TRACE(name);
        const std::string path = dir.file(std::string(name) + ".avi");
        // 320x240 frames are 230 KB uncompressed; the limit falls in the third.
        ASSERT_EQ(WriteUnderFileSizeLimit(path, name, 600 * 1024, 40), 0) << "expected AVIERR_FILEWRITE";
        const avitest::Movie m = avitest::ReadMovie(path);
        ASSERT_TRUE(m.opened) << m.error;
        EXPECT_GE(m.frames.size(), 1u);
    }
}

TEST(AviGStreamer, EveryCompressorButUtVideoPlaysThroughAvidemux)
{
    if (std::system("command -v gst-launch-1.0 >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "gst-launch-1.0 is not installed";
    TempDir dir;
    auto odd = MakeFrame(33, 17, 1);
    auto even = MakeFrame(64, 48, 3);
    for (const AviCompressor& c : AviCompressors()) {
        if (c.name == "utvideo")
            continue; // GStreamer has no mapping for its FourCC
        for (const Frame* f : {odd.get(), even.get()}) {
            SCOPED_TRACE(c.name + " " + std::to_string(f->dib.Width()));
            ScriptedDialog dialog(Choice(c.fccHandler));
            const std::string path = dir.file(c.name + ".avi");
            ASSERT_EQ(RunMovie(path, f->dib, {&f->dib, &f->dib}).failed, AVIERR_OK);
            const std::string log = dir.file("gst.log");
            const std::string cmd = "gst-launch-1.0 -q filesrc location='" + path +
                                    "' ! avidemux ! decodebin ! fakesink >'" + log + "' 2>&1";
            const int rc = std::system(cmd.c_str());
            const Bytes out = testsupport::ReadFile(log);
            EXPECT_EQ(rc, 0) << std::string(out.begin(), out.end());
            EXPECT_EQ(std::string(out.begin(), out.end()).find("ERROR"), std::string::npos);
        }
    }
}
