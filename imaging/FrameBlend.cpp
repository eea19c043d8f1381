#include "FrameBlend.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

namespace {

// Linear light is held as integers of 0..kLinearMax. At that scale one step
// moves the encoded value by at most 0.05 (at black, where the curve is
// steepest), so rounding to the nearest step keeps a sample's value, and a
// group of identical pictures comes back exactly.
constexpr std::int32_t kLinearMax = 65535;

double ToLinear(double c)
{
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double ToSrgb(double l)
{
    return l <= 0.0031308 ? 12.92 * l : 1.055 * std::pow(l, 1 / 2.4) - 0.055;
}

struct Tables {
    std::array<std::uint16_t, 256> linear;
    // Indexed by a linear value, rounded: one entry per step, so that
    // encoding is a single look-up instead of a power per sample.
    std::array<std::uint8_t, kLinearMax + 1> srgb;
};

const Tables& Curve()
{
    static const Tables tables = [] {
        Tables t;
        for (int c = 0; c < 256; ++c)
            t.linear[c] = static_cast<std::uint16_t>(std::lround(ToLinear(c / 255.0) * kLinearMax));
        for (int l = 0; l <= kLinearMax; ++l)
            t.srgb[l] = static_cast<std::uint8_t>(std::lround(ToSrgb(double(l) / kLinearMax) * 255));
        return t;
    }();
    return tables;
}

// The first picture of a group stores, so that the sums need no clearing.
void Accumulate(std::uint32_t* sum, const std::uint8_t* bytes, std::size_t n, const std::uint16_t* linear, bool first)
{
    if (first)
        for (std::size_t i = 0; i < n; ++i)
            sum[i] = linear[bytes[i]];
    else
        for (std::size_t i = 0; i < n; ++i)
            sum[i] += linear[bytes[i]];
}

} // namespace

void FrameBlend::Start()
{
    count_ = 0;
    width_ = 0;
    height_ = 0;
}

bool FrameBlend::Add(const FrameImage& picture)
{
    if (picture.Width <= 0 || picture.Height <= 0 || count_ >= kMaxCount)
        return false;
    if (count_ > 0 && (picture.Width != width_ || picture.Height != height_))
        return false;
    const std::size_t pixels = std::size_t(picture.Width) * std::size_t(picture.Height);
    if (picture.BitCount != 24 || picture.Bits.size() / 3 < pixels)
        return false;

    const bool first = count_ == 0;
    if (first) {
        width_ = picture.Width;
        height_ = picture.Height;
        sum_.resize(pixels * 3);
    }
    const std::uint16_t* linear = Curve().linear.data();
    Accumulate(sum_.data(), picture.Bits.data(), pixels * 3, linear, first);
    ++count_;
    return true;
}

bool FrameBlend::Result(FrameImage& out) const
{
    if (count_ == 0)
        return false;
    const std::size_t n = std::size_t(width_) * std::size_t(height_) * 3;
    out.Width = width_;
    out.Height = height_;
    out.BitCount = 24;
    out.Palette.clear();
    out.Bits.resize(n);

    const std::uint8_t* srgb = Curve().srgb.data();
    const std::uint32_t* sum = sum_.data();
    std::uint8_t* bytes = out.Bits.data();
    // Sums stay below 2^24 (kMaxCount), so float holds them exactly, and a
    // sum of identical values times the rounded reciprocal lands within far
    // less than half a step of that value.
    const float reciprocal = 1.0f / float(count_);
    // In two passes over short runs: the conversion vectorises only apart
    // from the look-up, and the run's levels stay in the first-level cache.
    constexpr std::size_t kRun = 1024;
    std::int32_t level[kRun];
    for (std::size_t start = 0; start < n; start += kRun) {
        const std::size_t run = std::min(kRun, n - start);
        for (std::size_t i = 0; i < run; ++i) {
            const float mean = static_cast<float>(static_cast<std::int32_t>(sum[start + i])) * reciprocal;
            level[i] = std::min(static_cast<std::int32_t>(mean + 0.5f), kLinearMax);
        }
        for (std::size_t i = 0; i < run; ++i)
            bytes[start + i] = srgb[level[i]];
    }
    return true;
}
