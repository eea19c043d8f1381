// SPDX-License-Identifier: GPL-2.0-or-later
// TextValue and the rounding of its result, on arbitrary text.
#include "FuzzSupport.h"
#include "TextValue.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace {

template <typename Int>
void CheckRounding(double value, Int rounded)
{
    constexpr double lo = static_cast<double>(std::numeric_limits<Int>::min());
    constexpr double hi = static_cast<double>(std::numeric_limits<Int>::max());
    if (std::isnan(value)) {
        FUZZ_CHECK(rounded == 0);
    } else if (value <= lo) {
        FUZZ_CHECK(rounded == std::numeric_limits<Int>::min());
    } else if (value >= hi) {
        FUZZ_CHECK(rounded == std::numeric_limits<Int>::max());
    } else {
        const double diff = std::fabs(static_cast<double>(rounded) - value);
        FUZZ_CHECK(diff <= 0.5);
        // Halves go to the even neighbour.
        if (diff == 0.5)
            FUZZ_CHECK(rounded % 2 == 0);
    }
}

bool SameValue(double a, double b)
{
    return (std::isnan(a) && std::isnan(b)) || a == b;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const double value = TextValue(text);
    // Digits can overflow to infinity but never make a NaN.
    FUZZ_CHECK(!std::isnan(value));
    CheckRounding(value, RoundToInt32(value));
    CheckRounding(value, RoundToInt16(value));

    // Blanks, tabs and line breaks count nowhere.
    std::string squeezed;
    for (const char c : text)
        if (c != ' ' && c != '\t' && c != '\n')
            squeezed.push_back(c);
    FUZZ_CHECK(SameValue(TextValue(squeezed), value));

    // Any double at all, NaN and infinities included, rounds without overflow.
    if (size >= sizeof(double)) {
        double raw;
        std::memcpy(&raw, data, sizeof raw);
        CheckRounding(raw, RoundToInt32(raw));
        CheckRounding(raw, RoundToInt16(raw));
    }
    return 0;
}
