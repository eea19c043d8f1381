#include "TestSupport.h"
#include "modImageEffects.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace testsupport;

TEST(ResampleImage, ShrinkingTakesTheNearestPixelWithHalvesToEven)
{
    // Every pixel names its own source column (two bytes) and row.
    FrameImage image{640, 480, 24, {}, {}};
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x)
            image.Bits.insert(image.Bits.end(), {std::uint8_t(x), std::uint8_t(x >> 8), std::uint8_t(y)});
    ResampleImage(image, 512, 384);
    ASSERT_EQ(std::tuple(image.Width, image.Height, image.Bits.size()), std::tuple(512, 384, 512u * 384 * 3));
    // Source position 1.25 * i: 2.5 goes to 2, 7.5 to 8.
    const int expected[] = {0, 1, 2, 4, 5, 6, 8, 9, 10, 11};
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(image.Bits[i * 3] | image.Bits[i * 3 + 1] << 8, expected[i]) << "column " << i;
        EXPECT_EQ(image.Bits[i * 512 * 3 + 2], expected[i]) << "row " << i;
    }
    EXPECT_EQ(image.Bits[511 * 3] | image.Bits[511 * 3 + 1] << 8, 639);

    FrameImage same{7, 5, 24, {}, PatternPixels(7, 5, 8)};
    ResampleImage(same, 7, 5);
    EXPECT_EQ(same.Bits, PatternPixels(7, 5, 8));
}

// Positions past a row's end read on into the next row; past the last row
// they give zero pixels.
TEST(ResampleImage, EnlargingPastTheEdgeReadsOnThenZeroes)
{
    FrameImage image{2, 2, 24, {}, {1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4}};
    ResampleImage(image, 5, 5);
    const int source[5][5] = {{1, 1, 2, 2, 3}, {1, 1, 2, 2, 3}, {3, 3, 4, 4, 0}, {3, 3, 4, 4, 0}, {0, 0, 0, 0, 0}};
    ASSERT_EQ(image.Bits.size(), 75u);
    for (int i = 0; i < 75; ++i)
        EXPECT_EQ(image.Bits[i], source[i / 15][i % 15 / 3]) << "pixel " << i / 3;
}

TEST(ResampleImage, OtherDepthsAreLeftAloneAndDegenerateSizesStayInsideTheArrays)
{
    for (std::uint8_t depth : {0, 32}) {
        FrameImage image{3, 3, depth, {}, Bytes(36, 7)};
        ResampleImage(image, 10, 10);
        EXPECT_EQ(std::tuple(image.Width, image.Height, image.Bits), std::tuple(3, 3, Bytes(36, 7))) << int(depth);
    }
    // Both negative: a positive product, but no position inside the source.
    const std::tuple<int, int, std::size_t> cases[] = {{0, 384, 0}, {512, 0, 0}, {-5, 10, 0}, {-5, -5, 75},
                                                       {70000, 70000, 0}, {2147483647, 2147483647, 0}, {20, 20, 1200}};
    FrameImage image{64, 48, 24, {}, PatternPixels(64, 48)};
    for (const auto& [w, h, bytes] : cases) { // from the second on, resampling an emptied image
        ResampleImage(image, w, h);
        EXPECT_EQ(std::tuple(image.Width, image.Height, image.Bits), std::tuple(w, h, Bytes(bytes, 0)))
            << w << "x" << h;
    }
}
