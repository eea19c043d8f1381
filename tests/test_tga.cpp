#include "FileError.h"
#include "TGA.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <tuple>

#include <unistd.h>

using namespace testsupport;

namespace {

// A bitmap file of the picture (top row first), palette included.
Bytes Bmp(int width, int height, int bitCount, const Bytes& topDownRows, const Bytes& palette = {})
{
    const Bytes rows = BitmapRows(width, height, topDownRows, bitCount / 8);
    Bytes info = InfoHeader(width, height, bitCount, static_cast<std::uint32_t>(rows.size()),
                            static_cast<std::uint32_t>(palette.size() / 4));
    info.insert(info.end(), palette.begin(), palette.end());
    return BitmapFile(info, rows);
}

std::vector<std::string> Names(const TempDir& dir) // hidden ones included
{
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

// Targa file -> frame -> bitmap file -> the window's direct read: each step
// holds the picture byte for byte, whatever the padding, origin, ID field,
// colour map or footer. One frame and one bitmap path serve every case in
// turn, as in a run.
TEST(TargaToBitmap, EveryStepHoldsThePictureByteForByte)
{
    std::vector<std::tuple<int, int, TargaOptions>> cases = {
        {5, 1100, {}}, // more rows than one scattered read or write takes
        {5, 4, {false, 17, 0, false}}, {5, 4, {true, 255, 4, true}}, {7, 1, {false, 0, 3, false}}};
    for (int w = 1; w <= 8; ++w)
        cases.insert(cases.end(), {{w, 3, {}}, {w, 2, {true, 12, 0, true}}}); // the latter as FFmpeg writes
    TempDir dir;
    const std::string tga = dir.file("f.tga"), bmp = dir.file("f.tga.bmp");
    FrameImage image; // as at program start: nothing read yet, nothing to write
    {
        MsgBoxRecorder boxes;
        WriteBMP(bmp, image);
        ASSERT_EQ(boxes.shown().size(), 1u);
        EXPECT_EQ(std::tuple(boxes.shown()[0].prompt, boxes.shown()[0].title, boxes.shown()[0].style),
                  std::tuple("Image format unsupported", "Error", unsigned(vbCritical | vbOKOnly)));
        EXPECT_EQ(ReadFile(bmp), Bmp(0, 0, 0, {}));
    }
    for (const auto& [w, h, o] : cases) {
        SCOPED_TRACE(testing::Message() << w << "x" << h << " top " << o.topFirst << " id " << int(o.idLength));
        const Bytes picture = PatternPixels(w, h, static_cast<unsigned>(w + h));
        WriteFile(tga, MakeTarga(w, h, picture, o));
        image.Palette.assign(1024, 9);
        ASSERT_TRUE(ReadTGA(tga, image));
        EXPECT_EQ(std::tuple(image.Width, image.Height, image.BitCount, image.Palette.size(), image.Bits),
                  std::tuple(w, h, 24, 0u, picture));

        WriteBMP(bmp, image);
        EXPECT_EQ(ReadFile(bmp), Bmp(w, h, 24, picture));
        EXPECT_TRUE(std::equal(picture.end() - w * 3, picture.end(), image.Bits.begin())) << "rows left reversed";

        const std::size_t row = w * 3u, stride = (row + 3) / 4 * 4;
        Bytes rows;
        ASSERT_TRUE(ReadBMPRows(bmp, [&](std::int32_t gotW, std::int32_t gotH, std::size_t gotStride) {
            EXPECT_EQ(std::tuple(gotW, gotH, gotStride), std::tuple(w, h, stride));
            return rows.assign(stride * h, 0xEE), rows.data();
        }));
        for (int r = 0; r < h; ++r)
            ASSERT_TRUE(
                std::equal(picture.begin() + r * row, picture.begin() + (r + 1) * row, rows.begin() + r * stride));
    }
}

TEST(WriteBMP, FailuresNeverTouchADirectory)
{
    TempDir dir;
    FrameImage image{2, 2, 24, {}, PatternPixels(2, 2)};
    EXPECT_THROW(WriteBMP(dir.file("no/such/dir/x.bmp"), image), FileError);
    std::filesystem::create_directories(dir.file("d.bmp/keep"));
    EXPECT_THROW(WriteBMP(dir.file("d.bmp"), image), FileError);
    EXPECT_TRUE(std::filesystem::exists(dir.file("d.bmp/keep")));
}

TEST(ReadTGA, FilesThatAreNoWholeTrueColourPictureArePassedOverAndAMissingOneIsAnError)
{
    TempDir dir;
    const Bytes picture = PatternPixels(4, 4, 1);
    Bytes rle = MakeTarga(4, 4, picture), deep = rle, zeroWidth = rle, negativeHeight = rle, truncated = rle;
    rle[2] = 10, deep[16] = 32, zeroWidth[12] = 0, zeroWidth[13] = 0;
    negativeHeight[15] = 0x80; // 32768 or more reads as negative
    truncated.pop_back();
    const std::pair<const char*, Bytes> cases[] = {
        {"run-length encoded", rle}, {"32 bits", deep}, {"width 0", zeroWidth}, {"negative height", negativeHeight},
        {"one byte short", truncated}, {"header only", Bytes(truncated.begin(), truncated.begin() + 18)},
        {"shorter than a header", Bytes(10, 2)}, {"empty", Bytes()}};
    const FrameImage before{3, 2, 24, {}, PatternPixels(3, 2, 9)};
    FrameImage image = before;
    for (const auto& [what, file] : cases) {
        WriteFile(dir.file("x.tga"), file);
        EXPECT_FALSE(ReadTGA(dir.file("x.tga"), image)) << what;
        EXPECT_EQ(std::tuple(image.Width, image.Height, image.BitCount, image.Bits),
                  std::tuple(before.Width, before.Height, before.BitCount, before.Bits)) << what;
    }
    try {
        ReadTGA(dir.file("missing.tga"), image);
        ADD_FAILURE() << "no error";
    } catch (const FileError& e) {
        EXPECT_EQ(e.path(), dir.file("missing.tga"));
    }
}

TEST(ReadBMPRows, DeclinesEveryOtherFileBeforeAskingForRows)
{
    TempDir dir;
    FrameImage image{4, 4, 24, {}, PatternPixels(4, 4)};
    WriteFile(dir.file("eight.bmp"), Bmp(4, 2, 8, Bytes(8, 1), Bytes(1024, 0)));
    WriteBMP(dir.file("short.bmp"), image);
    Bytes cut = ReadFile(dir.file("short.bmp"));
    cut.pop_back();
    WriteFile(dir.file("short.bmp"), cut);
    WriteFile(dir.file("frame.tga"), MakeTarga(4, 4, PatternPixels(4, 4)));
    for (const char* name : {"eight.bmp", "short.bmp", "frame.tga", "missing.bmp"}) {
        bool asked = false;
        EXPECT_FALSE(ReadBMPRows(dir.file(name), [&](std::int32_t, std::int32_t, std::size_t) {
            return asked = true, static_cast<std::uint8_t*>(nullptr);
        })) << name;
        EXPECT_FALSE(asked) << name;
    }
}

TEST(RetireBMP, OneKeptFileTakesTheNextBitmapsWholeIsNeverWrittenThroughALinkAndGoesOnRelease)
{
    TempDir dir, elsewhere;
    FrameImage first{40, 30, 24, {}, PatternPixels(40, 30)};
    WriteBMP(dir.file("a.bmp"), first);
    ASSERT_EQ(RetireBMP(dir.file("a.bmp")), 0);
    ASSERT_EQ(Names(dir).size(), 1u);
    EXPECT_EQ(Names(dir)[0][0], '.') << "the name is gone; the file is kept hidden";
    // Shrinking and then growing the kept file: each time what a fresh file holds.
    for (const auto& [w, h, name] : {std::tuple(3, 2, "b.bmp"), std::tuple(40, 30, "c.bmp")}) {
        FrameImage image{w, h, 24, {}, PatternPixels(w, h, 2)};
        WriteBMP(dir.file(name), image);
        EXPECT_EQ(Names(dir), std::vector<std::string>{name});
        EXPECT_EQ(ReadFile(dir.file(name)), Bmp(w, h, 24, PatternPixels(w, h, 2)));
        ASSERT_EQ(RetireBMP(dir.file(name)), 0);
    }
    // The kept file swapped for a link: the link goes, its target stays.
    WriteFile(elsewhere.file("victim"), Bytes(100, 0x5A));
    const std::string kept = dir.file(Names(dir)[0]);
    ASSERT_EQ(::unlink(kept.c_str()), 0);
    ASSERT_EQ(::symlink(elsewhere.file("victim").c_str(), kept.c_str()), 0);
    FrameImage again{40, 30, 24, {}, PatternPixels(40, 30)}; // WriteBMP leaves the rows reversed
    WriteBMP(dir.file("d.bmp"), again);
    EXPECT_EQ(ReadFile(elsewhere.file("victim")), Bytes(100, 0x5A));
    EXPECT_EQ(ReadFile(dir.file("d.bmp")), Bmp(40, 30, 24, PatternPixels(40, 30)));
    EXPECT_EQ(Names(dir), std::vector<std::string>{"d.bmp"});

    ASSERT_EQ(RetireBMP(dir.file("d.bmp")), 0);
    WriteFile(dir.file("second.bmp"), Bytes(10, 1));
    EXPECT_EQ(RetireBMP(dir.file("second.bmp")), 0);
    EXPECT_EQ(RetireBMP(dir.file("never-written.bmp")), 0);
    EXPECT_EQ(Names(dir).size(), 1u) << "one file is kept at most";
    std::string failed;
    EXPECT_EQ(ReleaseRetiredBMP(failed), 0);
    EXPECT_TRUE(Names(dir).empty());
    EXPECT_EQ(ReleaseRetiredBMP(failed), 0) << "nothing left to release";
}
