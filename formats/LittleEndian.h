// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Little-endian fields of the file formats, and their four-character codes.
#include <cstdint>

namespace le {

inline std::uint16_t GetU16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t GetU32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::int16_t GetI16(const std::uint8_t* p)
{
    return static_cast<std::int16_t>(GetU16(p));
}
inline std::int32_t GetI32(const std::uint8_t* p)
{
    return static_cast<std::int32_t>(GetU32(p));
}

inline void PutU16(std::uint8_t* p, std::uint32_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutU32(std::uint8_t* p, std::uint32_t v)
{
    PutU16(p, v);
    PutU16(p + 2, v >> 16);
}

} // namespace le
