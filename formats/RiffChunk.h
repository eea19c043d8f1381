// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// RIFF chunks, of which both AVI and WAVE files are made: an 8-byte header
// (FourCC and size), then the bytes, padded to an even count.
#include <cstdint>

namespace riff {

constexpr std::int64_t kChunkHeaderSize = 8;

// How far a chunk's body of `size` bytes reaches: the pad byte that follows
// an odd size belongs to it.
constexpr std::int64_t PaddedSize(std::int64_t size)
{
    return size + (size & 1);
}

// What a chunk of `size` bytes takes in the file, header and pad included.
constexpr std::int64_t ChunkBytes(std::int64_t size)
{
    return kChunkHeaderSize + PaddedSize(size);
}

} // namespace riff
