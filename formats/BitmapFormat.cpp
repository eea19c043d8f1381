// SPDX-License-Identifier: GPL-2.0-or-later
#include "BitmapFormat.h"

#include "LittleEndian.h"

#include <limits>

namespace bmp {

using namespace le;

FileHeader FileHeader::Parse(const std::uint8_t* p)
{
    FileHeader h;
    h.bfType = GetI16(p + 0);
    h.bfSize = GetI32(p + 2);
    h.bfReserved1 = GetI16(p + 6);
    h.bfReserved2 = GetI16(p + 8);
    h.bfOffBits = GetI32(p + 10);
    return h;
}

void FileHeader::Serialise(std::uint8_t* p) const
{
    PutU16(p + 0, static_cast<std::uint16_t>(bfType));
    PutU32(p + 2, static_cast<std::uint32_t>(bfSize));
    PutU16(p + 6, static_cast<std::uint16_t>(bfReserved1));
    PutU16(p + 8, static_cast<std::uint16_t>(bfReserved2));
    PutU32(p + 10, static_cast<std::uint32_t>(bfOffBits));
}

InfoHeader InfoHeader::Parse(const std::uint8_t* p)
{
    InfoHeader h;
    h.biSize = GetI32(p + 0);
    h.biWidth = GetI32(p + 4);
    h.biHeight = GetI32(p + 8);
    h.biPlanes = GetI16(p + 12);
    h.biBitCount = GetI16(p + 14);
    h.biCompression = GetI32(p + 16);
    h.biSizeImage = GetI32(p + 20);
    h.biXPelsPerMeter = GetI32(p + 24);
    h.biYPelsPerMeter = GetI32(p + 28);
    h.biClrUsed = GetI32(p + 32);
    h.biClrImportant = GetI32(p + 36);
    return h;
}

void InfoHeader::Serialise(std::uint8_t* p) const
{
    PutU32(p + 0, static_cast<std::uint32_t>(biSize));
    PutU32(p + 4, static_cast<std::uint32_t>(biWidth));
    PutU32(p + 8, static_cast<std::uint32_t>(biHeight));
    PutU16(p + 12, static_cast<std::uint16_t>(biPlanes));
    PutU16(p + 14, static_cast<std::uint16_t>(biBitCount));
    PutU32(p + 16, static_cast<std::uint32_t>(biCompression));
    PutU32(p + 20, static_cast<std::uint32_t>(biSizeImage));
    PutU32(p + 24, static_cast<std::uint32_t>(biXPelsPerMeter));
    PutU32(p + 28, static_cast<std::uint32_t>(biYPelsPerMeter));
    PutU32(p + 32, static_cast<std::uint32_t>(biClrUsed));
    PutU32(p + 36, static_cast<std::uint32_t>(biClrImportant));
}

bool FitsFile(std::int64_t width, std::int64_t height, std::int64_t bitCount, std::int64_t headerBytes)
{
    constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
    if (width < 0 || height < 0 || width > kMax || height > kMax)
        return false;
    const std::int64_t stride = Stride(width, bitCount);
    return height == 0 || stride <= (kMax - headerBytes) / height;
}

} // namespace bmp
