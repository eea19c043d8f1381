// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The movie's sound track: a WAV file's samples, written after each frame up
// to where the frames so far end, so that players stream picture and sound
// together and a stopped run keeps both in step.
#include "FrameRate.h"
#include "WaveFile.h"
#include "mdAVI.h"

#include <cstdint>
#include <vector>

class SoundTrack {
public:
    explicit SoundTrack(const wav::Reader& sound) : sound_(sound) {}
    SoundTrack(const SoundTrack&) = delete;
    SoundTrack& operator=(const SoundTrack&) = delete;
    ~SoundTrack() { Release(); }

    // The stream and its format. Its format goes into the header with the
    // picture's, so this comes before the picture's format is set.
    HRESULT_AVI Create(PAVIFILE file);
    // Writes the samples that play with the first `frames` frames at rate;
    // those written before are not written again.
    HRESULT_AVI WriteUpTo(std::int64_t frames, FrameRate rate);
    void Release();

private:
    const wav::Reader& sound_;
    PAVISTREAM stream_ = nullptr;
    std::int64_t written_ = 0; // samples
    std::vector<std::uint8_t> buffer_;
};
