// SPDX-License-Identifier: GPL-2.0-or-later
#include "BitmapInfo.h"

#include "BitmapFormat.h"
#include "LittleEndian.h"

#include <utility>

namespace bmp {

bool ParseBitmapInfo(const void* info, std::int32_t cb, FrameFormat& out)
{
    if (!info || cb < static_cast<std::int32_t>(kInfoHeaderSize))
        return false;
    const auto* p = static_cast<const std::uint8_t*>(info);
    const auto h = InfoHeader::Parse(p);
    const auto biSize = static_cast<std::uint32_t>(h.biSize);
    const std::uint32_t clrUsed = static_cast<std::uint32_t>(h.biClrUsed);
    // Top-down bitmaps (negative height) are refused: a stream's frames are
    // stored bottom-up, as the format's positive height says.
    if (biSize < kInfoHeaderSize || biSize > static_cast<std::uint32_t>(cb) || h.biPlanes != 1 ||
        h.biCompression != kRgb || h.biWidth < 1 || h.biHeight < 1 || (h.biBitCount != 24 && h.biBitCount != 8))
        return false;
    if (!FitsFile(h.biWidth, h.biHeight, h.biBitCount, 0))
        return false;

    FrameFormat f;
    f.width = h.biWidth;
    f.height = h.biHeight;
    f.bitCount = h.biBitCount;
    f.stride = static_cast<std::size_t>(Stride(h.biWidth, h.biBitCount));
    f.frameBytes = f.stride * static_cast<std::size_t>(h.biHeight);
    if (h.biBitCount == 8) {
        const std::uint32_t entries = clrUsed ? clrUsed : 256;
        if (entries > 256 || biSize + static_cast<std::uint64_t>(entries) * 4 > static_cast<std::uint32_t>(cb))
            return false;
        f.palette.assign(256, 0);
        for (std::uint32_t i = 0; i < entries; ++i)
            f.palette[i] = le::GetU32(p + biSize + 4 * i) & 0xFFFFFFu;
    }
    out = std::move(f);
    return true;
}

} // namespace bmp
