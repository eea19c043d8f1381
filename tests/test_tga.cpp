#include "FileError.h"
#include "TGA.h"
#include "TestSupport.h"
#include "cDIB.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include <unistd.h>

using namespace testsupport;

namespace {

Bytes Row(const Bytes& rows, int width, int r)
{
    const std::size_t len = static_cast<std::size_t>(width) * 3;
    return Bytes(rows.begin() + static_cast<std::ptrdiff_t>(r * len),
                 rows.begin() + static_cast<std::ptrdiff_t>((r + 1) * len));
}

std::uint32_t U32At(const Bytes& b, std::size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

FrameImage Image24(int width, int height, unsigned seed = 0)
{
    FrameImage image;
    image.Width = width;
    image.Height = height;
    image.BitCount = 24;
    image.Bits = PatternPixels(width, height, seed);
    return image;
}

} // namespace

TEST(ReadTGA, BottomFirstFileLandsTopRowFirst)
{
    TempDir dir;
    // R0 is stored first: in a bottom-first file that is the bottom row.
    const Bytes r0 = {1, 2, 3, 4, 5, 6};
    const Bytes r1 = {7, 8, 9, 10, 11, 12};
    Bytes file = MakeTarga(2, 2, PatternPixels(2, 2));
    std::copy(r0.begin(), r0.end(), file.begin() + 18);
    std::copy(r1.begin(), r1.end(), file.begin() + 24);
    WriteFile(dir.file("a.tga"), file);

    FrameImage image;
    image.Palette.assign(1024, 9);
    ReadTGA(dir.file("a.tga"), image);
    EXPECT_EQ(image.Width, 2);
    EXPECT_EQ(image.Height, 2);
    EXPECT_EQ(image.BitCount, 24);
    EXPECT_TRUE(image.Palette.empty());
    Bytes expected = r1;
    expected.insert(expected.end(), r0.begin(), r0.end());
    EXPECT_EQ(image.Bits, expected);
}

TEST(ReadTGA, TopFirstIdFieldColourMapAndFooterAllGiveThePicture)
{
    TempDir dir;
    const int w = 5, h = 3;
    const Bytes picture = PatternPixels(w, h, 4);
    const TargaOptions variants[] = {
        {false, 0, 0, 2, 24, false},
        {true, 0, 0, 2, 24, true},   // as FFmpeg writes them
        {false, 17, 0, 2, 24, false},
        {true, 255, 4, 2, 24, true},
    };
    for (const auto& o : variants) {
        WriteFile(dir.file("f.tga"), MakeTarga(w, h, picture, o));
        FrameImage image;
        EXPECT_TRUE(ReadTGA(dir.file("f.tga"), image));
        EXPECT_EQ(image.Bits, picture) << "topFirst " << o.topFirst << " id " << int(o.idLength) << " map "
                                       << o.colorMapLength;
        EXPECT_EQ(LastTargaHeader().IdLength, o.idLength);
    }
}

TEST(ReadTGA, UnsupportedOrImpossibleFilesArePassedOver)
{
    TempDir dir;
    const Bytes picture = PatternPixels(4, 4, 1);
    FrameImage before = Image24(3, 2, 9);

    struct Case {
        const char* what;
        Bytes file;
    };
    std::vector<Case> cases;
    TargaOptions rle;
    rle.imageType = 10;
    cases.push_back({"run-length encoded", MakeTarga(4, 4, picture, rle)});
    TargaOptions deep;
    deep.depth = 32;
    cases.push_back({"32 bits", MakeTarga(4, 4, picture, deep)});
    Bytes zeroWidth = MakeTarga(4, 4, picture);
    zeroWidth[12] = zeroWidth[13] = 0;
    cases.push_back({"width 0", zeroWidth});
    Bytes negativeHeight = MakeTarga(4, 4, picture);
    negativeHeight[15] = 0x80; // 32768 or more reads as negative
    cases.push_back({"negative height", negativeHeight});
    Bytes truncated = MakeTarga(4, 4, picture);
    truncated.pop_back(); // not resize(size() - 1): GCC 12 under -fsanitize=address warns it could wrap
    cases.push_back({"one byte short", truncated});
    cases.push_back({"header only", Bytes(truncated.begin(), truncated.begin() + 18)});
    cases.push_back({"shorter than a header", Bytes(10, 2)});
    cases.push_back({"empty", Bytes()});

    for (const auto& c : cases) {
        WriteFile(dir.file("x.tga"), c.file);
        FrameImage image = before;
        EXPECT_FALSE(ReadTGA(dir.file("x.tga"), image)) << c.what;
        EXPECT_EQ(image.Width, before.Width) << c.what;
        EXPECT_EQ(image.Height, before.Height) << c.what;
        EXPECT_EQ(image.BitCount, before.BitCount) << c.what;
        EXPECT_EQ(image.Bits, before.Bits) << c.what;
    }
}

TEST(ReadTGA, RereadIsIndependentOfWhatTheImageHeld)
{
    TempDir dir;
    WriteFile(dir.file("a.tga"), MakeTarga(3, 4, PatternPixels(3, 4, 2)));
    FrameImage image;
    ReadTGA(dir.file("a.tga"), image);
    const Bytes first = image.Bits;
    EXPECT_EQ(first.size(), 3u * 3 * 4); // rows of 9 bytes, nothing between them
    WriteBMP(dir.file("a.bmp"), image);  // leaves the rows reversed
    ReadTGA(dir.file("a.tga"), image);
    EXPECT_EQ(image.Bits, first);
}

TEST(ReadTGA, MissingFileIsAnErrorNamingThePath)
{
    TempDir dir;
    FrameImage image = Image24(2, 2);
    const std::string path = dir.file("missing.tga");
    try {
        ReadTGA(path, image);
        FAIL() << "no error";
    } catch (const FileError& e) {
        EXPECT_EQ(e.path(), path);
        EXPECT_NE(std::string(e.what()).find(path), std::string::npos);
    }
    EXPECT_EQ(image.Bits, PatternPixels(2, 2));
}

TEST(WriteBMP, HeadersAndPaddingOfA3x2Picture)
{
    TempDir dir;
    FrameImage image = Image24(3, 2, 5);
    const Bytes picture = image.Bits;
    WriteBMP(dir.file("p.bmp"), image);
    const Bytes f = ReadFile(dir.file("p.bmp"));
    ASSERT_EQ(f.size(), 78u);
    EXPECT_EQ(f[0], 'B');
    EXPECT_EQ(f[1], 'M');
    EXPECT_EQ(U32At(f, 2), 78u);
    EXPECT_EQ(U32At(f, 10), 54u);
    EXPECT_EQ(U32At(f, 14), 40u);
    EXPECT_EQ(U32At(f, 18), 3u);
    EXPECT_EQ(U32At(f, 22), 2u);
    EXPECT_EQ(f[26] | (f[27] << 8), 1);
    EXPECT_EQ(f[28] | (f[29] << 8), 24);
    EXPECT_EQ(U32At(f, 34), 24u);
    EXPECT_EQ(U32At(f, 38), 2835u);
    EXPECT_EQ(U32At(f, 42), 2835u);
    EXPECT_EQ(U32At(f, 46), 0u);
    // The file's first row is the image's second row, padded with 3 zeros.
    const Bytes second = Row(picture, 3, 1);
    EXPECT_TRUE(std::equal(second.begin(), second.end(), f.begin() + 54));
    EXPECT_EQ(Bytes(f.begin() + 63, f.begin() + 66), Bytes(3, 0));
    // And the image comes back with its rows reversed.
    EXPECT_EQ(Row(image.Bits, 3, 0), second);
}

TEST(WriteBMP, SizesOfLargeAndEightBitPictures)
{
    TempDir dir;
    FrameImage big = Image24(640, 480);
    WriteBMP(dir.file("big.bmp"), big);
    const Bytes f = ReadFile(dir.file("big.bmp"));
    EXPECT_EQ(f.size(), 54u + 921600u);
    EXPECT_EQ(U32At(f, 34), 921600u);

    FrameImage eight;
    eight.Width = 4;
    eight.Height = 4;
    eight.BitCount = 8;
    for (int i = 0; i < 16; ++i)
        eight.Bits.push_back(static_cast<std::uint8_t>(i));
    for (int i = 0; i < 1024; ++i)
        eight.Palette.push_back(static_cast<std::uint8_t>(i * 7));
    WriteBMP(dir.file("eight.bmp"), eight);
    const Bytes e = ReadFile(dir.file("eight.bmp"));
    ASSERT_EQ(e.size(), 1094u);
    EXPECT_EQ(U32At(e, 2), 1094u);
    EXPECT_EQ(U32At(e, 10), 1078u);
    EXPECT_EQ(U32At(e, 34), 16u);
    EXPECT_EQ(U32At(e, 46), 256u);
    EXPECT_EQ(Bytes(e.begin() + 54, e.begin() + 1078), eight.Palette);
    EXPECT_EQ(e[1078], 12); // bottom row first: the last stored row, index 12..15
}

TEST(WriteBMP, ReplacesALongerFileEntirely)
{
    TempDir dir;
    WriteFile(dir.file("old.bmp"), Bytes(5000, 0xEE));
    FrameImage image = Image24(3, 2);
    WriteBMP(dir.file("old.bmp"), image);
    EXPECT_EQ(ReadFile(dir.file("old.bmp")).size(), 78u);
}

TEST(WriteBMP, UnsupportedDepthWritesHeadersOnlyAndTheNextFrameWorks)
{
    TempDir dir;
    FrameImage image; // as at program start: nothing read yet
    {
        MsgBoxRecorder boxes;
        WriteBMP(dir.file("z.bmp"), image);
        ASSERT_EQ(boxes.shown().size(), 1u);
        EXPECT_EQ(boxes.shown()[0].prompt, "Image format unsupported");
        EXPECT_EQ(boxes.shown()[0].title, "Error");
        EXPECT_EQ(boxes.shown()[0].style, unsigned(vbCritical | vbOKOnly));
    }
    const Bytes f = ReadFile(dir.file("z.bmp"));
    ASSERT_EQ(f.size(), 54u);
    EXPECT_EQ(U32At(f, 2), 54u);
    EXPECT_EQ(U32At(f, 34), 0u);
    EXPECT_EQ(f[28], 0);

    WriteFile(dir.file("n.tga"), MakeTarga(2, 2, PatternPixels(2, 2)));
    ReadTGA(dir.file("n.tga"), image);
    WriteBMP(dir.file("z.bmp"), image);
    EXPECT_EQ(ReadFile(dir.file("z.bmp")).size(), 54u + 16u);
}

TEST(WriteBMP, FailuresAreErrorsAndNeverTouchADirectory)
{
    TempDir dir;
    FrameImage image = Image24(2, 2);
    EXPECT_THROW(WriteBMP(dir.file("no/such/dir/x.bmp"), image), FileError);
    std::filesystem::create_directory(dir.file("d.bmp"));
    WriteFile(dir.file("d.bmp/keep"), Bytes{1});
    EXPECT_THROW(WriteBMP(dir.file("d.bmp"), image), FileError);
    EXPECT_TRUE(std::filesystem::exists(dir.file("d.bmp/keep")));
}

// Targa file -> FrameImage -> bitmap file -> cDIB: the movie frame's pixel
// bytes must be the picture, byte for byte, whatever the width and origin.
struct RoundTripCase {
    int width;
    int height;
    bool topFirst;
    std::uint8_t idLength;
};

class TargaToDib : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(TargaToDib, PixelBytesMatchTheSource)
{
    const auto c = GetParam();
    TempDir dir;
    const Bytes picture = PatternPixels(c.width, c.height, static_cast<unsigned>(c.width));
    TargaOptions o;
    o.topFirst = c.topFirst;
    o.idLength = c.idLength;
    const Bytes targa = MakeTarga(c.width, c.height, picture, o);
    WriteFile(dir.file("f.tga"), targa);

    FrameImage image;
    ReadTGA(dir.file("f.tga"), image);
    WriteBMP(dir.file("f.tga.bmp"), image);
    cDIB dib;
    ASSERT_TRUE(dib.CreateFromFile(dir.file("f.tga.bmp")));
    ASSERT_EQ(dib.Width(), c.width);
    ASSERT_EQ(dib.Height(), c.height);
    const Bytes expected = BitmapRows(c.width, c.height, picture);
    ASSERT_EQ(dib.SizeImage(), static_cast<std::int32_t>(expected.size()));
    EXPECT_EQ(0, std::memcmp(dib.PointerToBits(), expected.data(), expected.size()));
    if (!c.topFirst && c.idLength == 0) {
        // The bitmap's rows are the Targa file's rows in file order.
        const std::size_t row = static_cast<std::size_t>(c.width) * 3, stride = (row + 3) / 4 * 4;
        for (int r = 0; r < c.height; ++r)
            ASSERT_EQ(0, std::memcmp(dib.PointerToBits() + r * stride, targa.data() + 18 + r * row, row));
    }
}

std::vector<RoundTripCase> RoundTripCases()
{
    std::vector<RoundTripCase> cases;
    for (int w = 1; w <= 8; ++w)
        for (bool top : {false, true})
            for (std::uint8_t id : {0, 12})
                cases.push_back({w, 3, top, id});
    cases.push_back({1920, 1080, false, 0});
    cases.push_back({1920, 1080, true, 26});
    cases.push_back({640, 480, false, 0});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Sizes, TargaToDib, ::testing::ValuesIn(RoundTripCases()),
                         [](const auto& info) {
                             return std::to_string(info.param.width) + "x" + std::to_string(info.param.height) +
                                    (info.param.topFirst ? "_top" : "_bottom") + "_id" +
                                    std::to_string(info.param.idLength);
                         });

namespace {

// Every name in dir, hidden ones included.
std::vector<std::string> AllNames(const TempDir& dir)
{
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(RetireBMP, KeptFileTakesTheNextBitmapsWholeAndGoesOnRelease)
{
    TempDir dir;
    FrameImage big = Image24(40, 30, 1), small = Image24(3, 2, 2);
    FrameImage bigAgain = big, smallAgain = small;
    WriteBMP(dir.file("reference-big.bmp"), bigAgain);
    WriteBMP(dir.file("reference-small.bmp"), smallAgain);
    WriteBMP(dir.file("a.bmp"), big);
    ASSERT_EQ(RetireBMP(dir.file("a.bmp")), 0);
    std::vector<std::string> names = AllNames(dir);
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[0][0], '.') << "the name is gone; the file is kept hidden";

    // Shrinking and then growing the kept file: each time exactly what a
    // fresh file would hold.
    WriteBMP(dir.file("b.bmp"), small);
    EXPECT_EQ(AllNames(dir), (std::vector<std::string>{"b.bmp", "reference-big.bmp", "reference-small.bmp"}));
    EXPECT_EQ(ReadFile(dir.file("b.bmp")), ReadFile(dir.file("reference-small.bmp")));
    ASSERT_EQ(RetireBMP(dir.file("b.bmp")), 0);
    FrameImage bigOnceMore = Image24(40, 30, 1); // a written image has its rows reversed
    WriteBMP(dir.file("c.bmp"), bigOnceMore);
    EXPECT_EQ(ReadFile(dir.file("c.bmp")), ReadFile(dir.file("reference-big.bmp")));

    // One file is kept at most; a second retired one is deleted.
    ASSERT_EQ(RetireBMP(dir.file("c.bmp")), 0);
    ASSERT_EQ(RetireBMP(dir.file("reference-big.bmp")), 0);
    EXPECT_EQ(AllNames(dir).size(), 2u);
    EXPECT_EQ(RetireBMP(dir.file("never-written.bmp")), 0);

    std::string failed;
    EXPECT_EQ(ReleaseRetiredBMP(failed), 0);
    EXPECT_EQ(AllNames(dir), (std::vector<std::string>{"reference-small.bmp"}));
    EXPECT_EQ(ReleaseRetiredBMP(failed), 0) << "nothing left to release";
}

TEST(RetireBMP, AKeptFileSwappedForALinkIsNeverWrittenThrough)
{
    TempDir dir;
    const Bytes victim(100, 0x5A);
    WriteFile(dir.file("victim"), victim);
    FrameImage image = Image24(4, 4), again = image;
    WriteBMP(dir.file("a.bmp"), image);
    ASSERT_EQ(RetireBMP(dir.file("a.bmp")), 0);
    const std::vector<std::string> names = AllNames(dir);
    ASSERT_EQ(names.size(), 2u);
    const std::string kept = dir.file(names[0]);
    ASSERT_EQ(::unlink(kept.c_str()), 0);
    ASSERT_EQ(::symlink(dir.file("victim").c_str(), kept.c_str()), 0);

    WriteBMP(dir.file("b.bmp"), again);
    EXPECT_EQ(ReadFile(dir.file("victim")), victim);
    EXPECT_FALSE(std::filesystem::is_symlink(dir.file("b.bmp")));
    EXPECT_EQ(ReadFile(dir.file("b.bmp")).size(), 54u + 4 * 12);
    EXPECT_EQ(AllNames(dir), (std::vector<std::string>{"b.bmp", "victim"}));
}

TEST(ReadBMPRows, GivesWriteBMPsFramesTopRowFirstAndDeclinesEverythingElseUntouched)
{
    TempDir dir;
    for (const int width : {1, 2, 3, 5, 8}) {
        SCOPED_TRACE(width);
        FrameImage image = Image24(width, 3, static_cast<unsigned>(width));
        const Bytes picture = image.Bits;
        WriteBMP(dir.file("f.bmp"), image);
        const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4;
        Bytes rows(stride * 3, 0xEE);
        std::int32_t gotWidth = 0, gotHeight = 0;
        std::size_t gotStride = 0;
        ASSERT_TRUE(ReadBMPRows(dir.file("f.bmp"), [&](std::int32_t w, std::int32_t h, std::size_t s) {
            gotWidth = w, gotHeight = h, gotStride = s;
            return rows.data();
        }));
        EXPECT_EQ(std::tuple(gotWidth, gotHeight, gotStride), std::tuple(width, 3, stride));
        for (int r = 0; r < 3; ++r)
            EXPECT_EQ(Bytes(rows.begin() + static_cast<std::ptrdiff_t>(r * stride),
                            rows.begin() + static_cast<std::ptrdiff_t>(r * stride + width * 3)),
                      Row(picture, width, r))
                << "row " << r;
    }

    FrameImage eight;
    eight.Width = 4;
    eight.Height = 2;
    eight.BitCount = 8;
    eight.Bits.assign(8, 1);
    eight.Palette.assign(1024, 0);
    WriteBMP(dir.file("eight.bmp"), eight);
    FrameImage image = Image24(4, 4);
    WriteBMP(dir.file("short.bmp"), image);
    Bytes cut = ReadFile(dir.file("short.bmp"));
    cut.pop_back();
    WriteFile(dir.file("short.bmp"), cut);
    WriteFile(dir.file("frame.tga"), MakeTarga(4, 4, PatternPixels(4, 4)));
    for (const char* name : {"eight.bmp", "short.bmp", "frame.tga", "missing.bmp"}) {
        bool asked = false;
        EXPECT_FALSE(ReadBMPRows(dir.file(name), [&](std::int32_t, std::int32_t, std::size_t) {
            asked = true;
            return static_cast<std::uint8_t*>(nullptr);
        })) << name;
        EXPECT_FALSE(asked) << name;
    }
}
