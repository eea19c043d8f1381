// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The compressors a movie can be written with, as the façade publishes them:
// the dialog lists them, the front ends name them, the writer takes one.
#include <cstdint>
#include <string>
#include <vector>

// The compressors this build offers (those whose encoder the linked
// libavcodec has), in the order the dialog lists them.
struct AviCompressor {
    std::string name;        // short name for scripts: raw, mjpeg, ffv1, ...
    std::string description; // what the dialog lists, e.g. "Full Frames (Uncompressed)"
    std::uint32_t fccHandler;
    bool hasQuality;
    bool hasKeyFrames;
    bool hasDataRate;
    // One line for someone choosing: what it suits, whether it keeps every
    // pixel, and which players open it.
    std::string advice;
};
const std::vector<AviCompressor>& AviCompressors();
