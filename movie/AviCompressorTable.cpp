// SPDX-License-Identifier: GPL-2.0-or-later
#include "AviCompressorTable.h"

#include "FourCC.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cstdio>

namespace avi {
namespace {

// Compressors are named by upper-case codes; a FourCC of the options is
// taken whatever its letters' case.
std::uint32_t UpperFourCC(std::uint32_t fcc)
{
    char code[5] = {};
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>(fcc >> (8 * i));
        code[i] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return FourCC(code);
}

// The quality as a fixed quantiser, unless a data rate rules.
void SetUpFixedQuantiser(AVCodecContext* c, AVDictionary**, const EncoderChoice& choice)
{
    if (choice.byRate)
        return;
    const int qscale = 31 - static_cast<int>(choice.quality * 29.0 + 0.5); // 31 .. 2
    c->flags |= AV_CODEC_FLAG_QSCALE;
    c->global_quality = FF_QP2LAMBDA * qscale;
}

// A JPEG picture is full range and BT.601 at every size, and every player
// decodes it so; the other YUV encoders keep studio range.
void SetUpMjpeg(AVCodecContext* c, AVDictionary** opts, const EncoderChoice& choice)
{
    SetUpFixedQuantiser(c, opts, choice);
    c->color_range = AVCOL_RANGE_JPEG;
    c->colorspace = AVCOL_SPC_SMPTE170M;
}

void SetUpFfv1(AVCodecContext* c, AVDictionary**, const EncoderChoice&)
{
    // NOTE: version 3 has the slices that its threads need, but FFmpeg
    // 5.1 does not give back the exact pixels of version 3 pictures one
    // or two pixels high or wide; small pictures stay at version 1.
    if (c->width >= 16 && c->height >= 16) {
        c->level = 3;
        c->slices = 4;
    } else {
        c->level = 1;
        c->thread_count = 1;
    }
}

// x264 keeps its own B-frame count and takes the quality as a rate factor.
void SetUpX264(AVCodecContext*, AVDictionary** opts, const EncoderChoice& choice)
{
    av_dict_set(opts, "bf", "0", 0);
    if (!choice.byRate) {
        char crf[16];
        std::snprintf(crf, sizeof crf, "%.1f", 45.0 - 40.0 * choice.quality);
        av_dict_set(opts, "crf", crf, 0);
    }
}

// NOTE: every pixel format here takes odd widths and heights except
// yuv420p for H.264, which x264 refuses. 4:4:4 would keep the exact size,
// but hardware decoders, phones and browsers refuse it, so H.264 pads
// instead. Ut Video pictures of 2 or 3 pixels come out of FFmpeg's encoder in a form
// its own decoder rejects, so Ut Video refuses pictures below 4 pixels.
const std::vector<CompressorEntry>& AllEntries()
{
    static const std::vector<CompressorEntry> entries = {
        {{"raw", "Full Frames (Uncompressed)", FourCC("DIB "), false, false, false,
          "For editing, or for another program to read: keeps every pixel, but the files are very large. "
          "Plays in almost every player."},
         nullptr, AV_PIX_FMT_BGR24, false, 1, nullptr, nullptr},
        {{"mjpeg", "Motion JPEG", FourCC("MJPG"), true, false, true,
          "For editing in smaller files: each frame is a JPEG picture, losing a little detail. "
          "Plays in almost every player."},
         "mjpeg", AV_PIX_FMT_YUV420P, false, 1, &AVCodecContext::gop_size, SetUpMjpeg},
        {{"ffv1", "FFV1 (lossless)", FourCC("FFV1"), false, true, false,
          "For archiving: keeps every pixel, in files far smaller than Full Frames. "
          "Needs a player with FFmpeg's decoders, such as VLC, mpv or GNOME Videos."},
         "ffv1", AV_PIX_FMT_BGR0, false, 1, &AVCodecContext::gop_size, SetUpFfv1},
        {{"huffyuv", "HuffYUV (lossless)", FourCC("HFYU"), false, false, false,
          "For editing: keeps every pixel and decodes fast, in larger files than FFV1. "
          "Needs a player with FFmpeg's decoders, such as VLC, mpv or GNOME Videos."},
         "huffyuv", AV_PIX_FMT_RGB24, false, 1, &AVCodecContext::gop_size, nullptr},
        {{"utvideo", "Ut Video (lossless)", FourCC("ULRG"), false, false, false,
          "For editing: keeps every pixel and decodes fast. "
          "Needs a player with FFmpeg's decoders, such as VLC or mpv; GNOME Videos cannot play it."},
         "utvideo", AV_PIX_FMT_GBRP, false, 4, &AVCodecContext::gop_size, nullptr},
        {{"zmbv", "Zip Motion Blocks Video (lossless)", FourCC("ZMBV"), false, true, false,
          "For game and screen footage with flat colours: keeps every pixel, in small files. "
          "Needs a player with FFmpeg's decoders, such as VLC, mpv or GNOME Videos."},
         "zmbv", AV_PIX_FMT_BGR0, false, 1, &AVCodecContext::keyint_min, nullptr},
        {{"mpeg4", "MPEG-4 Part 2 (Xvid compatible)", FourCC("XVID"), true, true, true,
          "For sharing, also with older players and devices: small files, losing some detail. "
          "Plays in almost every player."},
         "mpeg4", AV_PIX_FMT_YUV420P, false, 1, &AVCodecContext::gop_size, SetUpFixedQuantiser},
        {{"h264", "H.264 (x264)", FourCC("H264"), true, true, true,
          "For sharing: the best picture for the file size, losing some detail. "
          "An odd width or height gains one pixel, repeating the picture's edge. "
          "Plays in almost every player, though no web browser plays AVI files."},
         "libx264", AV_PIX_FMT_YUV420P, true, 1, &AVCodecContext::gop_size, SetUpX264},
    };
    return entries;
}

const std::vector<const CompressorEntry*>& Available()
{
    static const std::vector<const CompressorEntry*> available = [] {
        std::vector<const CompressorEntry*> list;
        for (const CompressorEntry& e : AllEntries())
            if (!e.encoder || avcodec_find_encoder_by_name(e.encoder))
                list.push_back(&e);
        return list;
    }();
    return available;
}

} // namespace

const CompressorEntry* EntryOf(const AviCompressor* compressor)
{
    for (const CompressorEntry* e : Available())
        if (&e->pub == compressor)
            return e;
    return nullptr;
}

const std::vector<AviCompressor>& CompressorList()
{
    static const std::vector<AviCompressor> list = [] {
        std::vector<AviCompressor> out;
        for (const CompressorEntry* e : Available())
            out.push_back(e->pub);
        return out;
    }();
    return list;
}

const AviCompressor* CompressorForFourCC(std::uint32_t fccHandler)
{
    std::uint32_t fcc = UpperFourCC(fccHandler);
    if (fcc == 0)
        fcc = FourCC("DIB ");
    if (fcc == FourCC("FMP4") || fcc == FourCC("DIVX"))
        fcc = FourCC("XVID");
    for (const CompressorEntry* e : Available())
        if (e->pub.fccHandler == fcc)
            return &e->pub;
    return nullptr;
}

} // namespace avi
