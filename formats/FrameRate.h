// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// A movie's frame rate as its stream header holds it: rate / scale frames a
// second, each a 32-bit field.
#include <cstdint>

struct FrameRate {
    std::uint32_t rate = 0;
    std::uint32_t scale = 1;
    double PerSecond() const { return static_cast<double>(rate) / scale; }
};

// The largest rate or scale a header can be given: FFmpeg's AVI muxer, and
// the time bases behind it, keep both as signed 32-bit numbers.
constexpr std::uint32_t kMaxRateField = 2147483647;

// The fraction closest to num / den (den > 0) whose rate and scale both fit
// kMaxRateField, and whose rate is not 0; num / den itself, reduced, when it
// fits.
FrameRate ClosestRate(std::uint64_t num, std::uint64_t den);
