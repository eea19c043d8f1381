// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Four-character codes, the names of RIFF chunks, stream types and
// compressors.
#include <cstdint>

// A four-character code as a file stores it: the first character in the
// lowest byte. FourCC("vids"), FourCC("DIB ").
constexpr std::uint32_t FourCC(const char (&code)[5])
{
    return static_cast<std::uint32_t>(static_cast<unsigned char>(code[0])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(code[1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(code[2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(code[3])) << 24;
}
