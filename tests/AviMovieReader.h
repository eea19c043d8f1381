// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Reads a movie back with libavformat and libavcodec, independently of the movie layer's own code.
#include <cstdint>
#include <string>
#include <vector>

namespace avitest {

using Bytes = std::vector<std::uint8_t>;

struct Movie {
    bool opened = false;
    std::string error;                                   // why it could not be read, if so
    int width = 0, height = 0, rateNum = 0, rateDen = 0; // and the stream's frame rate
    std::string codec;                                   // FFmpeg's decoder name
    // As ffprobe names them: pixel format, colour tags ("unknown" where none), level; the pixels' shape (0 if none).
    std::string pixFmt, colorRange, colorSpace, colorPrimaries, colorTransfer;
    int level = 0, aspectNum = 0, aspectDen = 1;
    std::vector<bool> keyFrames; // one per packet
    // Decoded top row first, blue-green-red, no filler; YUV by the matrix named, else the one players take for its size.
    std::vector<Bytes> frames;
    std::vector<std::string> warnings; // what FFmpeg logged at warning level or worse
    // The sound track, if any: FFmpeg's decoder, its samples as given (interleaved), the time the first starts.
    std::string soundCodec;
    int sampleRate = 0, channels = 0;
    double soundStart = -1;
    Bytes sound;
};

Movie ReadMovie(const std::string& path, bool decode = true);

} // namespace avitest
