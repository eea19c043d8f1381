// SPDX-License-Identifier: GPL-2.0-or-later
#include "BitmapInfo.h"

#include "BitmapFormat.h"

namespace bmp {

bool ParseBitmapInfo(const void* info, std::int32_t cb, FrameFormat& out)
{
    if (!info || cb < static_cast<std::int32_t>(kInfoHeaderSize))
        return false;
    const auto* p = static_cast<const std::uint8_t*>(info);
    const auto h = InfoHeader::Parse(p);
    const auto biSize = static_cast<std::uint32_t>(h.biSize);
    // Top-down bitmaps (negative height) are refused: a stream's frames are
    // stored bottom-up, as the format's positive height says.
    if (biSize < kInfoHeaderSize || biSize > static_cast<std::uint32_t>(cb) || h.biPlanes != 1 ||
        h.biCompression != kRgb || h.biWidth < 1 || h.biHeight < 1 || h.biBitCount != 24)
        return false;
    if (!FitsFile(h.biWidth, h.biHeight, h.biBitCount, 0))
        return false;

    FrameFormat f;
    f.width = h.biWidth;
    f.height = h.biHeight;
    f.bitCount = h.biBitCount;
    f.stride = static_cast<std::size_t>(Stride(h.biWidth, h.biBitCount));
    f.frameBytes = f.stride * static_cast<std::size_t>(h.biHeight);
    out = f;
    return true;
}

} // namespace bmp
