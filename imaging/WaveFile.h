// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// WAV sound files as a game writes them beside its frames: a RIFF WAVE file
// with a fmt chunk and a data chunk of PCM or 32-bit float samples. The
// header is checked against the file before anything uses it, so that a file
// cut short, or whose header claims more than it holds, is refused.
#include "FileIO.h"
#include "WaveFormat.h"

#include <cstdint>
#include <string>
#include <vector>

namespace wav {

class Reader {
public:
    // Throws std::runtime_error with a message naming the file and what is
    // wrong with it.
    explicit Reader(const std::string& path);

    const std::string& path() const { return path_; }
    const Format& format() const { return format_; }
    // Samples of every channel in the file.
    std::int64_t frames() const { return frames_; }
    double seconds() const { return static_cast<double>(frames_) / format_.sampleRate; }
    // Reads the samples [first, first + count) as stored; count is cut at
    // the end. Throws when the file cannot be read.
    void Read(std::int64_t first, std::int64_t count, std::vector<std::uint8_t>& out) const;

private:
    std::string path_;
    fileio::File file_;
    Format format_;
    std::int64_t dataOffset_ = 0;
    std::int64_t frames_ = 0;
};

} // namespace wav
