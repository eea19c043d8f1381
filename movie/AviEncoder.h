// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The encoder of a compressed movie: its context, set up from the
// compressor's entry and the user's choices, and the conversion of each DIB
// frame into a picture of the pixel format that encoder takes. Frames stored
// as they come never pass through here.
#include "AviCompressorTable.h"
#include "AviResult.h"
#include "AviWriter.h"
#include "BitmapInfo.h"
#include "FfmpegHandles.h"

#include <cstdint>
#include <vector>

namespace avi {

class Encoder {
public:
    // Opens the entry's encoder for frames of `format`, one stream position
    // lasting `positionBase` seconds, and gives `stream` its parameters and
    // the compressor's FourCC.
    HRESULT_AVI Open(const CompressorEntry& entry, const Settings& settings, const bmp::FrameFormat& format,
                     AVRational positionBase, AVStream* stream);

    // Null until Open() has allocated it.
    AVCodecContext* Context() const { return context_.get(); }
    // A fixed quantiser is taken from each picture, not from the context; 0
    // where the encoder has none.
    int FrameQuality() const { return frameQuality_; }

    // The frame's bits, laid out as the format says, as a picture for the
    // encoder. `out` is this encoder's latest picture, valid until the next
    // call; whoever keeps it longer takes a reference of its own.
    HRESULT_AVI Convert(const std::uint8_t* bits, AVFrame*& out);

private:
    static constexpr int kPictureAlign = 64; // what the encoders' SIMD wants of each row

    void Expand(const std::uint8_t* bits);

    bmp::FrameFormat format_;
    int width_ = 0, height_ = 0;               // of the pictures the encoder is fed
    int convertWidth_ = 0, convertHeight_ = 0; // as large, or up to whole pairs of pixels
    // Whether frames reach the converter through expanded_ rather than
    // straight from the caller's bits.
    bool expand_ = false;
    std::size_t expandedStride_ = 0;
    CodecContextPtr context_;
    SwsPtr sws_;
    AVPixelFormat pixFmt_ = AV_PIX_FMT_NONE;
    int frameQuality_ = 0;
    // Pictures come from a pool: one goes back as soon as the encoder lets
    // go of it, so frames in flight never cost a fresh allocation and its
    // page faults.
    BufferPoolPtr picturePool_;
    FramePtr picture_;
    // Top row first, 24 bits a pixel, the edge repeated to the converter's size.
    std::vector<std::uint8_t> expanded_;
    std::vector<std::uint8_t> topRows_; // the picture's top rows, with room behind them
};

} // namespace avi
