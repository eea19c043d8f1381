// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The decoded frame that every picture passes through on its way from the
// Targa file to the movie. One instance lives for the whole program.
#include <cstdint>
#include <vector>

struct FrameImage {
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    std::uint8_t BitCount = 0; // 24, or 8 with Palette; 0 until a frame is read
    // 256 entries of 4 bytes (blue, green, red, reserved) when BitCount is 8.
    std::vector<std::uint8_t> Palette;
    // Rows of Width * BitCount / 8 bytes, no filler between them.
    std::vector<std::uint8_t> Bits;
};
