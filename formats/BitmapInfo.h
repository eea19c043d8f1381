// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// A BITMAPINFO (info header and colour table) taken as the format of a
// stream of frames, as a movie's picture stream takes the first bitmap's:
// what every frame of the stream then is.
#include <cstddef>
#include <cstdint>

namespace bmp {

struct FrameFormat {
    int width = 0;
    int height = 0;
    int bitCount = 0;           // 24: every frame the run makes is a 24-bit picture
    std::size_t stride = 0;     // bytes per row, padded to 4
    std::size_t frameBytes = 0; // stride * height
};

// Reads the `cb` bytes at `info`. Only an uncompressed bottom-up bitmap of
// 24 bits whose frames would fit a bitmap file is taken; anything else
// answers false and leaves `out` alone.
bool ParseBitmapInfo(const void* info, std::int32_t cb, FrameFormat& out);

} // namespace bmp
