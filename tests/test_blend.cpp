// SPDX-License-Identifier: GPL-2.0-or-later
#include "FrameBlend.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

void PrintTo(FrameBlend::Method method, std::ostream* out)
{
    *out << (method == FrameBlend::Method::Tables ? "Tables" : "Polynomials");
}

// Each way of converting is held to the same rules, whichever this processor runs.
class FrameBlendBy : public testing::TestWithParam<FrameBlend::Method> {};
INSTANTIATE_TEST_SUITE_P(, FrameBlendBy, testing::Values(FrameBlend::Method::Tables, FrameBlend::Method::Polynomials),
                         [](const auto& info) { return testing::PrintToString(info.param); });

// Every pair of byte values, and a third picture for a count that is no power of two: each result is the exact sRGB
// curve's value rounded to nearest, or the other way only within 0.03 of halfway. Identical pictures come back exactly;
// no columns or rows, another size or depth, too few bytes or one past the most: refused, the sums untouched.
TEST_P(FrameBlendBy, AveragesInLinearLightRoundedAsTheExactCurveAndRefusesOtherPictures)
{
    const auto linear = [](double c) { return c /= 255, c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
    const auto encoded = [](double l) { return 255 * (l <= 0.0031308 ? 12.92 * l : 1.055 * std::pow(l, 1 / 2.4) - 0.055); };
    FrameBlend blend(GetParam());
    FrameImage out, first{256, 256, 24, {}, Bytes(3 * 65536)}, second = first, third = first;
    for (int i = 0; i < 3 * 65536; ++i)
        first.Bits[i] = std::uint8_t(i / 3), second.Bits[i] = std::uint8_t(i / 3 >> 8),
        third.Bits[i] = std::uint8_t(i * 37 + i / 3 * 11);
    using Group = std::vector<const FrameImage*>;
    for (const Group& group : {Group{&first, &second}, Group{&first, &second, &third}}) {
        blend.Start();
        for (const FrameImage* picture : group)
            ASSERT_TRUE(blend.Add(*picture));
        ASSERT_TRUE(blend.Result(out));
        int wrong = 0;
        for (int i = 0; i < 3 * 65536; ++i) {
            double sum = 0;
            for (const FrameImage* picture : group)
                sum += linear(picture->Bits[i]);
            const double exact = encoded(sum / double(group.size()));
            const bool nearest = out.Bits[i] == std::lround(exact);
            wrong += !nearest && !(std::abs(out.Bits[i] - exact) < 1 && std::abs(exact - std::floor(exact) - 0.5) < 0.03);
        }
        EXPECT_EQ(wrong, 0) << group.size() << " pictures";
    }
    FrameImage colours{16, 16, 24, {}, {}}; // every byte value in every channel, no two pixels alike
    for (int i = 0; i < 256; ++i)
        colours.Bits.insert(colours.Bits.end(), {std::uint8_t(i), std::uint8_t(255 - i), std::uint8_t(i * 97)});
    const FrameImage refused[] = {{16, 15, 24, {}, Bytes(720)}, {15, 16, 24, {}, Bytes(720)},
                                  {16, 16, 32, {}, Bytes(1024)}, {16, 16, 24, {}, Bytes(767)}};
    blend.Start();
    EXPECT_FALSE(blend.Result(out)) << "no picture yet";
    for (int n : {1, 5, 25, 64, FrameBlend::kMaxCount}) {
        blend.Start();
        for (int i = 0; i < n; ++i)
            ASSERT_TRUE(blend.Add(colours));
        for (const FrameImage& other : refused)
            EXPECT_FALSE(blend.Add(other)) << &other - refused;
        EXPECT_EQ(blend.Add(colours), n < FrameBlend::kMaxCount);
        out = {1, 1, 8, Bytes(1024), {}};
        ASSERT_TRUE(blend.Result(out));
        EXPECT_EQ(std::tuple(out.Width, out.Height, out.BitCount, out.Palette.size(), out.Bits),
                  std::tuple(16, 16, 24, 0u, colours.Bits)) << n << " pictures";
    }
    const FrameImage pixel{1, 1, 24, {}, {9, 8, 7}}, noColumns{0, 1, 24, {}, {}}, noRows{1, 0, 24, {}, {}};
    blend.Start();
    const bool added[] = {blend.Add(noColumns), blend.Add(noRows), blend.Add(pixel), blend.Add(pixel)}; // in this order
    EXPECT_EQ(std::vector(added, added + 4), (std::vector{false, false, true, true}));
    ASSERT_TRUE(blend.Result(out));
    EXPECT_EQ(std::tuple(out.Width, out.Height, out.Bits), std::tuple(1, 1, pixel.Bits));
}
