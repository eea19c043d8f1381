// SPDX-License-Identifier: GPL-2.0-or-later
#include "FrameRate.h"

#include <algorithm>

namespace {

// Products of two 64-bit terms, which 64 bits cannot hold.
__extension__ typedef unsigned __int128 Wide;

// |h / k - num / den| scaled by den: compared between candidates of the same
// den, the smaller is the closer once divided by its own k.
Wide Distance(Wide h, Wide k, Wide num, Wide den)
{
    const Wide a = h * den, b = num * k;
    return a > b ? a - b : b - a;
}

} // namespace

FrameRate ClosestRate(std::uint64_t num, std::uint64_t den)
{
    // The continued fraction's convergents are the closest fractions with
    // terms that small; where the next one would not fit, the closest
    // fraction that fits is the last convergent or the largest
    // semiconvergent between it and the next.
    const Wide limit = kMaxRateField;
    Wide h0 = 0, h1 = 1, k0 = 1, k1 = 0;
    Wide n = num, d = den;
    while (d != 0) {
        const Wide a = n / d;
        const Wide h2 = a * h1 + h0, k2 = a * k1 + k0;
        if (h2 > limit || k2 > limit) {
            Wide t = h1 ? (limit - h0) / h1 : a;
            if (k1)
                t = std::min(t, (limit - k0) / k1);
            const Wide hs = t * h1 + h0, ks = t * k1 + k0;
            // Keep the semiconvergent only where it is the closer of the two.
            if (t > 0 && k1 != 0 && Distance(hs, ks, num, den) * k1 < Distance(h1, k1, num, den) * ks)
                h1 = hs, k1 = ks;
            else if (k1 == 0) // num / den is past the limit itself
                h1 = limit, k1 = 1;
            break;
        }
        h0 = h1, h1 = h2, k0 = k1, k1 = k2;
        const Wide r = n - a * d;
        n = d, d = r;
    }
    // A rate of nothing is no rate: the slowest a header holds instead.
    if (h1 == 0)
        return {1, kMaxRateField};
    return {static_cast<std::uint32_t>(h1), static_cast<std::uint32_t>(k1)};
}
