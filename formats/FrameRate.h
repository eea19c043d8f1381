#pragma once
// A movie's frame rate as its stream header holds it: rate / scale frames a
// second, each a 32-bit field.
#include <cstdint>

struct FrameRate {
    std::uint32_t rate = 0;
    std::uint32_t scale = 1;
    double PerSecond() const { return static_cast<double>(rate) / scale; }
};
