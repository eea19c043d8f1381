// SPDX-License-Identifier: GPL-2.0-or-later
#include "SoundTrack.h"

#include <algorithm>

HRESULT_AVI SoundTrack::Create(PAVIFILE file)
{
    const wav::Format& format = sound_.format();
    AVI_STREAM_INFO info{};
    info.fccType = mmioStringToFOURCC("auds", 0);
    info.dwScale = format.blockAlign;
    info.dwRate = format.bytesPerSecond;
    info.dwSampleSize = format.blockAlign;
    if (const HRESULT_AVI hr = AVIFileCreateStream(file, &stream_, &info); hr != AVIERR_OK)
        return hr;
    std::uint8_t waveFormat[wav::kExtensibleFormatSize];
    const std::size_t size = wav::PutWaveFormat(format, waveFormat);
    return AVIStreamSetFormat(stream_, 0, waveFormat, static_cast<std::int32_t>(size));
}

HRESULT_AVI SoundTrack::WriteUpTo(std::int64_t frames, FrameRate rate)
{
    // Samples up to the end of those frames: frames * scale / rate seconds.
    const std::uint64_t perFrame = static_cast<std::uint64_t>(rate.scale) * sound_.format().sampleRate;
    const auto n = static_cast<std::uint64_t>(frames);
    const std::uint64_t whole = perFrame / rate.rate, part = perFrame % rate.rate;
    const bool beyond = whole > 0 && n > static_cast<std::uint64_t>(sound_.frames()) / whole;
    const std::int64_t end =
        beyond ? sound_.frames()
               : std::min<std::int64_t>(static_cast<std::int64_t>(n * whole + n * part / rate.rate), sound_.frames());
    // In pieces of at most a second, so that the rest of a long track after
    // the last frame is no single huge chunk; and of at most 16 MiB, so that
    // a second of a very fast sound is neither held whole nor refused.
    constexpr std::int64_t kMostPieceBytes = 16 << 20;
    const std::int64_t most =
        std::max<std::int64_t>(1, std::min<std::int64_t>(sound_.format().sampleRate,
                                                         kMostPieceBytes / sound_.format().blockAlign));
    while (written_ < end) {
        const std::int64_t count = std::min<std::int64_t>(end - written_, most);
        sound_.Read(written_, count, buffer_);
        const HRESULT_AVI hr =
            AVIStreamWrite(stream_, static_cast<std::int32_t>(written_), static_cast<std::int32_t>(count),
                           buffer_.data(), static_cast<std::int32_t>(buffer_.size()), 0, nullptr, nullptr);
        if (hr != AVIERR_OK)
            return hr;
        written_ += count;
    }
    return AVIERR_OK;
}

void SoundTrack::Release()
{
    if (stream_)
        AVIStreamRelease(stream_);
    stream_ = nullptr;
}
