// SPDX-License-Identifier: GPL-2.0-or-later
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

// Where the curve's straight segment near black ends: as a byte when
// decoding, in linear light when encoding.
constexpr int kLastStraightByte = 10; // 10 / 255 <= 0.04045 < 11 / 255
constexpr double kLastStraightLinear = 0.0031308;

double ToLinear(double c)
{
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double ToSrgb(double l)
{
    return l <= kLastStraightLinear ? 12.92 * l : 1.055 * std::pow(l, 1 / 2.4) - 0.055;
}

// Sums stay below 2^24 (kMaxCount), so float holds them exactly, and a sum
// of identical values times the rounded reciprocal lands within far less
// than half a step of that value.
float Reciprocal(int count)
{
    return 1.0f / float(count);
}

// Look-up tables: a scalar loop, about a processor cycle a sample on any
// processor.
struct Tables {
    std::array<std::uint16_t, 256> linear;
    // Indexed by a linear value, rounded: one entry per step, so that
    // encoding is a single look-up instead of a power per sample.
    std::array<std::uint8_t, kLinearMax + 1> srgb;
};

const Tables& TheTables()
{
    static const Tables tables = [] {
        Tables t{};
        for (int c = 0; c < 256; ++c)
            t.linear[c] = static_cast<std::uint16_t>(std::lround(ToLinear(c / 255.0) * kLinearMax));
        for (int l = 0; l <= kLinearMax; ++l)
            t.srgb[l] = static_cast<std::uint8_t>(std::lround(ToSrgb(double(l) / kLinearMax) * 255));
        return t;
    }();
    return tables;
}

// The first picture of a group stores, so that the sums need no clearing.
void AccumulateByTable(std::uint32_t* sum, const std::uint8_t* bytes, std::size_t n, bool first)
{
    const std::uint16_t* linear = TheTables().linear.data();
    if (first)
        for (std::size_t i = 0; i < n; ++i)
            sum[i] = linear[bytes[i]];
    else
        for (std::size_t i = 0; i < n; ++i)
            sum[i] += linear[bytes[i]];
}

void EncodeByTable(std::uint8_t* bytes, const std::uint32_t* sum, std::size_t n, int count)
{
    const std::uint8_t* srgb = TheTables().srgb.data();
    const float reciprocal = Reciprocal(count);
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
}

// Fitted polynomials: plain arithmetic the compiler turns into vector
// instructions, which a table look-up per sample would leave scalar. They
// are fitted at Chebyshev nodes to the exact curve when the program starts.
// Decoding lands within 0.6 of a step of linear light (0.02 of an encoded
// value, at the darkest bytes), encoding within 0.003 of an encoded value;
// rounding to nearest then agrees with the exact curve but for values all
// but halfway between.
template <int Degree>
struct Polynomial {
    static_assert(Degree >= 1);
    float scale = 0;
    float offset = 0;
    std::array<float, Degree + 1> power{};

    // Fits f over [from, to]; the polynomial is in t = x * scale + offset,
    // which runs over [-1, 1], where powers of t stay well conditioned.
    static Polynomial Fit(double (*f)(double), double from, double to)
    {
        constexpr int n = Degree + 1;
        constexpr double pi = 3.14159265358979323846;
        std::array<double, n> chebyshev{};
        for (int j = 0; j < n; ++j) {
            for (int k = 0; k < n; ++k) {
                const double angle = pi * (k + 0.5) / n;
                chebyshev[j] += f((from + to) / 2 + (to - from) / 2 * std::cos(angle)) * std::cos(j * angle);
            }
            chebyshev[j] *= (j == 0 ? 1.0 : 2.0) / n;
        }
        // T(j+1) = 2 t T(j) - T(j-1), each as its powers of t.
        std::array<double, n> sum{}, before{}, now{};
        before[0] = 1;
        now[1] = 1;
        sum[0] = chebyshev[0];
        for (int j = 1; j < n; ++j) {
            for (int i = 0; i < n; ++i)
                sum[i] += chebyshev[j] * now[i];
            std::array<double, n> next{};
            for (int i = 0; i < n; ++i)
                next[i] = (i > 0 ? 2 * now[i - 1] : 0) - before[i];
            before = now;
            now = next;
        }
        Polynomial p;
        p.scale = static_cast<float>(2 / (to - from));
        p.offset = static_cast<float>(-(from + to) / (to - from));
        for (int i = 0; i < n; ++i)
            p.power[i] = static_cast<float>(sum[i]);
        return p;
    }

    float operator()(float x) const
    {
        const float t = x * scale + offset;
        float v = power[Degree];
        for (int i = Degree - 1; i >= 0; --i)
            v = v * t + power[i];
        return v;
    }
};

struct Curve {
    // A byte above the straight segment, to its linear value in steps.
    Polynomial<6> decode;
    // The fourth root of a linear value in the curved segment (0..1), to
    // its encoded value (0..255). The root evens out the curve's steep
    // start, so that a low degree fits it.
    Polynomial<5> encode;
};

const Curve& TheCurve()
{
    static const Curve curve{
        Polynomial<6>::Fit([](double c) { return ToLinear(c / 255) * kLinearMax; }, kLastStraightByte, 255),
        Polynomial<5>::Fit([](double q) { return ToSrgb(q * q * q * q) * 255; },
                           std::sqrt(std::sqrt(kLastStraightLinear)), 1)};
    return curve;
}

// Where the compiler can, each loop is also built for the 512-bit vector
// units of newer processors, and the build the machine runs is chosen when
// the program starts. Only there are the polynomials clearly faster, about
// twice as fast as the tables. With 256 bits the two ran within 15 % of
// each other, either way round, and with 128 bits the polynomials took
// three times as long.
// Naming architecture levels here takes GCC 12, and choosing a build at
// start-up takes the C library's indirect functions.
#if defined(__GNUC__) && __GNUC__ >= 12 && !defined(__clang__) && defined(__x86_64__) && defined(__GLIBC__)
#define REELCAST_VECTOR_CLONES __attribute__((target_clones("default", "arch=x86-64-v4")))
bool HasWideVectorUnits()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("x86-64-v4");
}
#else
#define REELCAST_VECTOR_CLONES
bool HasWideVectorUnits()
{
    return false;
}
#endif

// The first picture of a group stores, so that the sums need no clearing.
REELCAST_VECTOR_CLONES
void AccumulateByCurve(std::uint32_t* __restrict sum, const std::uint8_t* __restrict bytes, std::size_t n,
                       const Polynomial<6>& decode, bool first)
{
    // A copy the stores to the sums cannot touch, so that its coefficients
    // stay in registers.
    const Polynomial<6> curve = decode;
    constexpr float straight = float(kLinearMax / (255 * 12.92));
    for (std::size_t i = 0; i < n; ++i) {
        // Both segments for every sample, so that choosing is a vector blend.
        const float c = bytes[i];
        const float curved = curve(c);
        const float l = c <= kLastStraightByte ? c * straight : curved;
        const auto step = static_cast<std::uint32_t>(static_cast<std::int32_t>(l + 0.5f));
        sum[i] = (first ? 0 : sum[i]) + step;
    }
}

REELCAST_VECTOR_CLONES
void EncodeByCurve(std::uint8_t* __restrict bytes, const std::uint32_t* __restrict sum, std::size_t n, int count,
                   const Polynomial<5>& encode)
{
    const Polynomial<5> curve = encode; // as in AccumulateByCurve
    const float toUnit = Reciprocal(count) / kLinearMax;
    constexpr float straight = float(12.92 * 255);
    for (std::size_t i = 0; i < n; ++i) {
        const float l = static_cast<float>(static_cast<std::int32_t>(sum[i])) * toUnit;
        const float curved = curve(std::sqrt(std::sqrt(l)));
        const float v = l <= float(kLastStraightLinear) ? l * straight : curved;
        bytes[i] = static_cast<std::uint8_t>(std::clamp(static_cast<std::int32_t>(v + 0.5f), 0, 255));
    }
}

} // namespace

FrameBlend::Method FrameBlend::Fastest()
{
    static const Method fastest = HasWideVectorUnits() ? Method::Polynomials : Method::Tables;
    return fastest;
}

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
    if (method_ == Method::Tables)
        AccumulateByTable(sum_.data(), picture.Bits.data(), pixels * 3, first);
    else
        AccumulateByCurve(sum_.data(), picture.Bits.data(), pixels * 3, TheCurve().decode, first);
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

    if (method_ == Method::Tables)
        EncodeByTable(out.Bits.data(), sum_.data(), n, count_);
    else
        EncodeByCurve(out.Bits.data(), sum_.data(), n, count_, TheCurve().encode);
    return true;
}
