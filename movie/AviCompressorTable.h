// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The compressors of this build: for each, the encoder behind its FourCC,
// the pictures that encoder is fed, and how its context is set up.
#include "AviCompressor.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

#include <cstdint>
#include <vector>

struct AVCodecContext;
struct AVDictionary;

namespace avi {

// The user's choices, as an encoder's set-up reads them.
struct EncoderChoice {
    double quality = 0;   // 0..1
    bool byRate = false;  // the bit rate was set from the data rate, and rules
};

struct CompressorEntry {
    AviCompressor pub;
    const char* encoder; // null: the DIB bytes as passed
    AVPixelFormat pixFmt;
    // The encoder takes 4:2:0 in whole pairs of pixels only: an odd width or
    // height is encoded one pixel larger, the picture's edge repeated.
    bool evenSize;
    int minPixels;           // smaller pictures are refused
    int AVCodecContext::*keyInterval; // where the encoder takes its key-frame interval from
    // What this encoder needs beyond the set-up all encoders share (context
    // fields, private options) before the context is opened; may be null.
    void (*setUp)(AVCodecContext* c, AVDictionary** opts, const EncoderChoice& choice);
};

// Looks a compressor of this build up by the FourCC of the options (letter
// case ignored; 0 and "DIB " name the uncompressed frames, "FMP4" and "DIVX"
// the MPEG-4 Part 2 one). Null when this build has no such compressor.
const AviCompressor* CompressorForFourCC(std::uint32_t fccHandler);
// The compressors of AviCompressors().
const std::vector<AviCompressor>& CompressorList();
// The entry behind a compressor that CompressorForFourCC() answered; null
// for any other.
const CompressorEntry* EntryOf(const AviCompressor* compressor);

} // namespace avi
