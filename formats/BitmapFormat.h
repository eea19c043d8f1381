// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The Windows bitmap file format: its two headers, field by field, and the
// sizes that follow from them. Everything that reads or writes a bitmap, or
// takes a bitmap's info block as a format, asks here.
#include <cstddef>
#include <cstdint>

namespace bmp {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kInfoHeaderSize = 40;
constexpr std::uint16_t kType = 0x4D42; // "BM"
constexpr std::int32_t kRgb = 0;        // uncompressed

struct FileHeader {
    std::int16_t bfType = 0;
    std::int32_t bfSize = 0;
    std::int16_t bfReserved1 = 0;
    std::int16_t bfReserved2 = 0;
    std::int32_t bfOffBits = 0;

    static FileHeader Parse(const std::uint8_t* p);
    void Serialise(std::uint8_t* p) const;
};

struct InfoHeader {
    std::int32_t biSize = 0;
    std::int32_t biWidth = 0;
    std::int32_t biHeight = 0;
    std::int16_t biPlanes = 0;
    std::int16_t biBitCount = 0;
    std::int32_t biCompression = 0;
    std::int32_t biSizeImage = 0;
    std::int32_t biXPelsPerMeter = 0;
    std::int32_t biYPelsPerMeter = 0;
    std::int32_t biClrUsed = 0;
    std::int32_t biClrImportant = 0;

    static InfoHeader Parse(const std::uint8_t* p);
    void Serialise(std::uint8_t* p) const;
};

// Bytes per row: rows are padded to whole 32-bit words. Widened, so that any
// header's values can be asked about.
constexpr std::int64_t Stride(std::int64_t width, std::int64_t bitCount)
{
    return (width * bitCount + 31) / 32 * 4;
}

// Whether a picture of that size fits a bitmap file, whose sizes are signed
// 32-bit, with headers and palette taking headerBytes.
bool FitsFile(std::int64_t width, std::int64_t height, std::int64_t bitCount, std::int64_t headerBytes);

} // namespace bmp
