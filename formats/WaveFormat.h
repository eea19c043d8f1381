// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The WAVEFORMATEX record: how a WAV file's fmt chunk and a movie's sound
// stream describe PCM and float samples.
#include <cstddef>
#include <cstdint>

namespace wav {

constexpr std::uint16_t kFormatPcm = 1;
constexpr std::uint16_t kFormatFloat = 3;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;

// The record's fixed part: up to the bit count (a PCM fmt chunk), and with
// the size of what follows (cbSize).
constexpr std::size_t kPcmFormatSize = 16;
constexpr std::size_t kWaveFormatExSize = 18;
// WAVEFORMATEXTENSIBLE: valid bits, the channel mask and the sub-format.
constexpr std::size_t kExtensibleFormatSize = 40;

struct Format {
    std::uint16_t tag = 0; // kFormatPcm or kFormatFloat
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint32_t bytesPerSecond = 0;
    std::uint16_t blockAlign = 0; // bytes of one sample of every channel
    std::uint16_t bitsPerSample = 0;
    // Which speaker each channel feeds, as an extensible record says; 0 when
    // the record names none, and the channel count's usual layout holds.
    std::uint32_t channelMask = 0;

    // PCM of 8, 16, 24 or 32 bits or 32-bit float, whose fields agree with
    // one another.
    bool Usable() const;
};

// Reads a format record of cb bytes, at least kPcmFormatSize. An extensible
// record of PCM or float samples gives that tag and its channel mask; any
// other extensible record keeps the tag kFormatExtensible.
Format ParseFormat(const std::uint8_t* p, std::size_t cb);
// The record of a usable format, as a movie's sound stream takes it: a
// WAVEFORMATEX, or a WAVEFORMATEXTENSIBLE when it has a channel mask to keep.
// Answers how many bytes of out it takes.
std::size_t PutWaveFormat(const Format& format, std::uint8_t (&out)[kExtensibleFormatSize]);

} // namespace wav
