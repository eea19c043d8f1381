#include "WaveFormat.h"

#include "LittleEndian.h"

namespace wav {

bool Format::Usable() const
{
    const unsigned bits = bitsPerSample;
    const bool pcm = tag == kFormatPcm && (bits == 8 || bits == 16 || bits == 24 || bits == 32);
    return (pcm || (tag == kFormatFloat && bits == 32)) && channels >= 1 && sampleRate >= 1 &&
           blockAlign == channels * bits / 8 &&
           static_cast<std::uint64_t>(bytesPerSecond) == static_cast<std::uint64_t>(sampleRate) * blockAlign;
}

Format ParseFormat(const std::uint8_t* p)
{
    Format f;
    f.tag = le::GetU16(p);
    f.channels = le::GetU16(p + 2);
    f.sampleRate = le::GetU32(p + 4);
    f.bytesPerSecond = le::GetU32(p + 8);
    f.blockAlign = le::GetU16(p + 12);
    f.bitsPerSample = le::GetU16(p + 14);
    return f;
}

void PutWaveFormatEx(const Format& f, std::uint8_t (&out)[kWaveFormatExSize])
{
    le::PutU16(out, f.tag);
    le::PutU16(out + 2, f.channels);
    le::PutU32(out + 4, f.sampleRate);
    le::PutU32(out + 8, f.bytesPerSecond);
    le::PutU16(out + 12, f.blockAlign);
    le::PutU16(out + 14, f.bitsPerSample);
    le::PutU16(out + 16, 0);
}

} // namespace wav
