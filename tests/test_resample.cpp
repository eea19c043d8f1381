#include "TestSupport.h"
#include "modImageEffects.h"

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

// An image whose every pixel names its own source column and row, so that
// the resampled bytes tell which source pixel each output pixel took.
FrameImage Coordinates(int width, int height)
{
    FrameImage image;
    image.Width = width;
    image.Height = height;
    image.BitCount = 24;
    image.Bits.resize(static_cast<std::size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            auto* p = &image.Bits[(static_cast<std::size_t>(y) * width + x) * 3];
            p[0] = static_cast<std::uint8_t>(x & 0xFF);
            p[1] = static_cast<std::uint8_t>(x >> 8);
            p[2] = static_cast<std::uint8_t>(y & 0xFF);
        }
    return image;
}

int SourceColumn(const FrameImage& image, int x, int y = 0)
{
    const auto* p = &image.Bits[(static_cast<std::size_t>(y) * image.Width + x) * 3];
    return p[0] | (p[1] << 8);
}

int SourceRow(const FrameImage& image, int x, int y)
{
    return image.Bits[(static_cast<std::size_t>(y) * image.Width + x) * 3 + 2];
}

} // namespace

TEST(ResampleImage, HalvesRoundToEvenWhenShrinking)
{
    FrameImage image = Coordinates(640, 480);
    ResampleImage(image, 512, 384);
    ASSERT_EQ(image.Width, 512);
    ASSERT_EQ(image.Height, 384);
    ASSERT_EQ(image.Bits.size(), 512u * 384 * 3);
    const int expected[] = {0, 1, 2, 4, 5, 6, 8, 9, 10, 11};
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(SourceColumn(image, i), expected[i]) << "column " << i;
        EXPECT_EQ(SourceRow(image, 0, i), expected[i]) << "row " << i;
    }
    EXPECT_EQ(SourceColumn(image, 511), 639);

    FrameImage wide = Coordinates(800, 600);
    ResampleImage(wide, 512, 384);
    const int expected2[] = {0, 2, 3, 5, 6, 8, 9, 11, 12, 14, 16, 17};
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(SourceColumn(wide, i), expected2[i]) << "column " << i;
}

TEST(ResampleImage, OwnSizeKeepsEveryByte)
{
    FrameImage image;
    image.Width = 7;
    image.Height = 5;
    image.BitCount = 24;
    image.Bits = PatternPixels(7, 5, 8);
    const Bytes before = image.Bits;
    ResampleImage(image, 7, 5);
    EXPECT_EQ(image.Bits, before);
}

TEST(ResampleImage, EnlargingPastTheEdgeReadsOnThenZeroes)
{
    FrameImage image;
    image.Width = 2;
    image.Height = 2;
    image.BitCount = 24;
    image.Bits = {1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4}; // p00 p01 / p10 p11
    ResampleImage(image, 5, 5);
    const Bytes p00 = {1, 1, 1}, p01 = {2, 2, 2}, p10 = {3, 3, 3}, p11 = {4, 4, 4}, zero = {0, 0, 0};
    const std::vector<std::vector<Bytes>> rows = {
        {p00, p00, p01, p01, p10}, {p00, p00, p01, p01, p10}, {p10, p10, p11, p11, zero},
        {p10, p10, p11, p11, zero}, {zero, zero, zero, zero, zero}};
    ASSERT_EQ(image.Bits.size(), 75u);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 5; ++x) {
            const Bytes got(image.Bits.begin() + (y * 5 + x) * 3, image.Bits.begin() + (y * 5 + x) * 3 + 3);
            EXPECT_EQ(got, rows[y][x]) << x << "," << y;
        }
}

TEST(ResampleImage, EightBitIsOneBytePerPixelAndKeepsThePalette)
{
    FrameImage image;
    image.Width = 4;
    image.Height = 2;
    image.BitCount = 8;
    image.Bits = {10, 11, 12, 13, 20, 21, 22, 23};
    image.Palette.assign(1024, 0x33);
    ResampleImage(image, 2, 1);
    EXPECT_EQ(image.Bits, (Bytes{10, 12}));
    EXPECT_EQ(image.Palette, Bytes(1024, 0x33));
}

TEST(ResampleImage, OtherDepthsAreLeftAlone)
{
    for (std::uint8_t depth : {0, 32}) {
        FrameImage image;
        image.Width = 3;
        image.Height = 3;
        image.BitCount = depth;
        image.Bits = Bytes(36, 7);
        ResampleImage(image, 10, 10);
        EXPECT_EQ(image.Width, 3);
        EXPECT_EQ(image.Height, 3);
        EXPECT_EQ(image.Bits, Bytes(36, 7));
    }
}

TEST(ResampleImage, DegenerateSizesNeverTouchOutsideTheArrays)
{
    struct Case {
        std::int32_t w, h;
        std::size_t bytes;
    };
    const Case cases[] = {
        {0, 384, 0},
        {512, 0, 0},
        {-5, 10, 0},
        {-5, -5, 75},               // both negative: a positive product of zero bytes, no pixel produced
        {70000, 70000, 0},          // beyond 32-bit byte counts
        {2147483647, 2147483647, 0},
    };
    for (const auto& c : cases) {
        FrameImage image = Coordinates(64, 48);
        ResampleImage(image, c.w, c.h);
        EXPECT_EQ(image.Width, c.w);
        EXPECT_EQ(image.Height, c.h);
        EXPECT_EQ(image.Bits.size(), c.bytes) << c.w << "x" << c.h;
        EXPECT_EQ(image.Bits, Bytes(c.bytes, 0));
    }
    // An image already emptied that way is resampled again without harm.
    FrameImage image = Coordinates(64, 48);
    ResampleImage(image, 0, 10);
    ResampleImage(image, 20, 20);
    EXPECT_EQ(image.Bits, Bytes(20 * 20 * 3, 0));
}
