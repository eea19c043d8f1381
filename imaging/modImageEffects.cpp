// SPDX-License-Identifier: GPL-2.0-or-later
#include "modImageEffects.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

namespace {

// Sample position: nearest integer, halves to the even neighbour (the default
// floating-point rounding mode). Positions that cannot be a byte index are
// pushed out of range, where they read as a zero pixel.
std::int64_t SamplePosition(double product)
{
    if (!std::isfinite(product) || std::fabs(product) > 4e18)
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int64_t>(std::nearbyint(product));
}

} // namespace

void ResampleImage(FrameImage& Image, std::int32_t NewWidth, std::int32_t NewHeight)
{
    const double xRatio = static_cast<double>(Image.Width) / NewWidth;
    const double yRatio = static_cast<double>(Image.Height) / NewHeight;

    std::int64_t bpp = 0;
    if (Image.BitCount == 24)
        bpp = 3;
    else if (Image.BitCount == 8)
        bpp = 1;
    else
        return;

    // Two 32-bit sizes multiply within 64 bits, but not always times 3.
    std::int64_t outSize = 0;
    const bool overflows = __builtin_mul_overflow(static_cast<std::int64_t>(NewWidth) * NewHeight, bpp, &outSize);
    std::vector<std::uint8_t> out;
    if (!overflows && outSize > 0 && outSize <= std::numeric_limits<std::int32_t>::max()) {
        try {
            out.assign(static_cast<std::size_t>(outSize), 0);
        } catch (const std::bad_alloc&) {
            out.clear();
        }
    }

    if (!out.empty()) {
        const std::int64_t srcRow = static_cast<std::int64_t>(Image.Width) * bpp;
        const auto srcSize = static_cast<std::int64_t>(Image.Bits.size());
        const std::uint8_t* src = Image.Bits.data();

        // The column offsets are the same for every row; only the row base moves.
        std::vector<std::int64_t> columns(static_cast<std::size_t>(std::max(NewWidth, 0)));
        for (std::int32_t x = 0; x < NewWidth; ++x)
            columns[static_cast<std::size_t>(x)] = SamplePosition(x * xRatio) * bpp;

        std::uint8_t* dst = out.data();
        for (std::int32_t y = 0; y < NewHeight; ++y) {
            const std::int64_t rowBase = SamplePosition(y * yRatio) * srcRow;
            for (std::int32_t x = 0; x < NewWidth; ++x, dst += bpp) {
                const std::int64_t offset = rowBase + columns[static_cast<std::size_t>(x)];
                if (offset >= 0 && offset + bpp <= srcSize)
                    std::memcpy(dst, src + offset, static_cast<std::size_t>(bpp));
            }
        }
    }

    Image.Bits = std::move(out);
    Image.Width = NewWidth;
    Image.Height = NewHeight;
}
