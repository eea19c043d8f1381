#pragma once
// The Targa file format's 18-byte header, field by field, and where the
// pixels it describes begin. The reader hands it the bytes.
#include "LittleEndian.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

struct TargaHeader {
    static constexpr std::size_t kSize = 18;
    static constexpr std::uint8_t kTypeTrueColour = 2; // uncompressed, no colour map needed
    static constexpr std::uint8_t kDescriptorTopFirst = 0x20;

    std::uint8_t IdLength = 0;
    std::uint8_t ColorMapType = 0;
    std::uint8_t ImageType = 0;
    std::uint8_t ColorMapSpec[5] = {}; // first entry, length, bits per entry
    // The screen position (bytes 8 to 11) places nothing in a movie: not read.
    // Signed as read, so that 32768 and above come out as sizes no reader
    // takes; widened so that arithmetic on them cannot overflow.
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    std::uint8_t PixelDepth = 0;
    std::uint8_t Descriptor = 0;

    // p holds kSize bytes.
    static TargaHeader Parse(const std::uint8_t* p)
    {
        TargaHeader t;
        t.IdLength = p[0];
        t.ColorMapType = p[1];
        t.ImageType = p[2];
        std::copy(p + 3, p + 8, t.ColorMapSpec);
        t.Width = le::GetI16(p + 12);
        t.Height = le::GetI16(p + 14);
        t.PixelDepth = p[16];
        t.Descriptor = p[17];
        return t;
    }

    // A colour map is stored even where the image type does not use it, so
    // its length counts whenever the header announces one.
    std::int64_t ColorMapBytes() const
    {
        if (ColorMapType == 0)
            return 0;
        const std::int64_t length = le::GetU16(ColorMapSpec + 2);
        const std::int64_t entryBits = ColorMapSpec[4];
        return length * ((entryBits + 7) / 8);
    }

    // The offset of the first pixel byte: after the image-ID field and the
    // colour map.
    std::int64_t PixelStart() const { return static_cast<std::int64_t>(kSize) + IdLength + ColorMapBytes(); }

    bool TopRowFirst() const { return (Descriptor & kDescriptorTopFirst) != 0; }
};
