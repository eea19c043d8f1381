// SPDX-License-Identifier: GPL-2.0-or-later
#include "WaveFormat.h"

#include "LittleEndian.h"

#include <cstring>

namespace wav {

bool Format::Usable() const
{
    const unsigned bits = bitsPerSample;
    const bool pcm = tag == kFormatPcm && (bits == 8 || bits == 16 || bits == 24 || bits == 32);
    return (pcm || (tag == kFormatFloat && bits == 32)) && channels >= 1 && sampleRate >= 1 &&
           blockAlign == channels * bits / 8 &&
           static_cast<std::uint64_t>(bytesPerSecond) == static_cast<std::uint64_t>(sampleRate) * blockAlign;
}

namespace {

// The GUID of an extensible format's samples, after its first two bytes
// (which hold the plain tag).
constexpr std::uint8_t kSubFormatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                             0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

} // namespace

Format ParseFormat(const std::uint8_t* p, std::size_t cb)
{
    Format f;
    f.tag = le::GetU16(p);
    f.channels = le::GetU16(p + 2);
    f.sampleRate = le::GetU32(p + 4);
    f.bytesPerSecond = le::GetU32(p + 8);
    f.blockAlign = le::GetU16(p + 12);
    f.bitsPerSample = le::GetU16(p + 14);
    // The valid bits (p + 18) may be fewer than the container's: the samples
    // are stored, and played, in the container's size.
    if (f.tag == kFormatExtensible && cb >= kExtensibleFormatSize && le::GetU16(p + 16) >= 22 &&
        std::memcmp(p + 26, kSubFormatTail, sizeof kSubFormatTail) == 0) {
        f.tag = le::GetU16(p + 24);
        f.channelMask = le::GetU32(p + 20);
    }
    return f;
}

std::size_t PutWaveFormat(const Format& f, std::uint8_t (&out)[kExtensibleFormatSize])
{
    const bool extensible = f.channelMask != 0;
    le::PutU16(out, extensible ? kFormatExtensible : f.tag);
    le::PutU16(out + 2, f.channels);
    le::PutU32(out + 4, f.sampleRate);
    le::PutU32(out + 8, f.bytesPerSecond);
    le::PutU16(out + 12, f.blockAlign);
    le::PutU16(out + 14, f.bitsPerSample);
    if (!extensible) {
        le::PutU16(out + 16, 0);
        return kWaveFormatExSize;
    }
    le::PutU16(out + 16, kExtensibleFormatSize - kWaveFormatExSize);
    le::PutU16(out + 18, f.bitsPerSample);
    le::PutU32(out + 20, f.channelMask);
    le::PutU16(out + 24, f.tag);
    std::memcpy(out + 26, kSubFormatTail, sizeof kSubFormatTail);
    return kExtensibleFormatSize;
}

} // namespace wav
