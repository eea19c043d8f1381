// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The Targa file format's 18-byte header, field by field, and where the
// pixels it describes begin. The readers hand it the bytes.
#include "LittleEndian.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

struct TargaHeader {
    static constexpr std::size_t kSize = 18;
    // Image types: 0 holds no picture; 1, 2 and 3 are colour-mapped, true
    // colour and grey, uncompressed; 9, 10 and 11 the same, run-length.
    static constexpr std::uint8_t kTypeNoImage = 0;
    static constexpr std::uint8_t kTypeColourMapped = 1;
    static constexpr std::uint8_t kTypeTrueColour = 2; // uncompressed, no colour map needed
    static constexpr std::uint8_t kTypeGrey = 3;
    static constexpr std::uint8_t kTypeRunLength = 8; // added to the three above
    static constexpr std::uint8_t kDescriptorRightToLeft = 0x10;
    static constexpr std::uint8_t kDescriptorTopFirst = 0x20;
    static constexpr std::uint8_t kDescriptorInterleave = 0xC0; // a TGA 1.0 relic
    // A run-length packet: a count byte, whose top bit marks a run of one
    // repeated pixel and whose low bits hold the pixels less one.
    static constexpr std::uint8_t kPacketRun = 0x80;
    static constexpr int kPacketMost = 128;

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

    // The colour map's fields; they mean nothing when ColorMapType is 0.
    std::int32_t ColorMapFirst() const { return le::GetU16(ColorMapSpec); }
    std::int32_t ColorMapLength() const { return le::GetU16(ColorMapSpec + 2); }
    std::uint8_t ColorMapEntryBits() const { return ColorMapSpec[4]; }

    // A colour map is stored even where the image type does not use it, so
    // its length counts whenever the header announces one.
    std::int64_t ColorMapBytes() const
    {
        if (ColorMapType == 0)
            return 0;
        return static_cast<std::int64_t>(ColorMapLength()) * ((ColorMapEntryBits() + 7) / 8);
    }

    // The offset of the colour map, after the image-ID field; and of the
    // first pixel byte, after the colour map.
    std::int64_t ColorMapStart() const { return static_cast<std::int64_t>(kSize) + IdLength; }
    std::int64_t PixelStart() const { return ColorMapStart() + ColorMapBytes(); }

    bool TopRowFirst() const { return (Descriptor & kDescriptorTopFirst) != 0; }
    bool RightToLeft() const { return (Descriptor & kDescriptorRightToLeft) != 0; }
    bool Interleaved() const { return (Descriptor & kDescriptorInterleave) != 0; }
    bool RunLength() const { return (ImageType & kTypeRunLength) != 0; }
    // The image type without its run-length bit: 1, 2 or 3 for a picture.
    std::uint8_t BaseType() const { return static_cast<std::uint8_t>(ImageType & ~kTypeRunLength); }
    // Bytes a stored pixel takes: 15-bit pixels take two.
    int PixelBytes() const { return (PixelDepth + 7) / 8; }
};
