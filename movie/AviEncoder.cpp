// SPDX-License-Identifier: GPL-2.0-or-later
#include "AviEncoder.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

namespace avi {
namespace {

// The matrix players take for a stream that does not name one: GStreamer,
// mpv and VLC take BT.709 above 576 lines and BT.601 up to 576. An encoder
// that cannot name its matrix is right only with this one, and one that
// can is then right in players that ignore what it names as well.
AVColorSpace MatrixForHeight(int height)
{
    return height > 576 ? AVCOL_SPC_BT709 : AVCOL_SPC_SMPTE170M;
}

// Bytes the converter's vector code may read past the end of a row it is
// given, with room to spare: up to 28 in FFmpeg 5.1.
constexpr std::size_t kConverterOverread = 128;

} // namespace

HRESULT_AVI Encoder::Open(const CompressorEntry& entry, const Settings& s, const bmp::FrameFormat& format,
                          AVRational positionBase, AVStream* stream)
{
    format_ = format;
    const AVCodec* codec = avcodec_find_encoder_by_name(entry.encoder);
    if (!codec)
        return AVIERR_NOCOMPRESSOR;
    context_.reset(avcodec_alloc_context3(codec));
    if (!context_)
        return AVIERR_MEMORY;
    AVCodecContext* c = context_.get();
    pixFmt_ = entry.pixFmt;
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(pixFmt_);
    if (!desc)
        return AVIERR_INTERNAL;
    // 4:2:0 holds colour for whole pairs of pixels. The converter works at
    // the size rounded up to them, the edge repeated, so that an odd last
    // row or column gets its own colour rather than a blend with its
    // neighbour or with whatever lies past the frame.
    const auto wholePairs = [](int size, int log2) { return (size + (1 << log2) - 1) >> log2 << log2; };
    convertWidth_ = wholePairs(format.width, desc->log2_chroma_w);
    convertHeight_ = wholePairs(format.height, desc->log2_chroma_h);
    width_ = entry.evenSize ? convertWidth_ : format.width;
    height_ = entry.evenSize ? convertHeight_ : format.height;
    c->width = width_;
    c->height = height_;
    c->pix_fmt = pixFmt_;
    c->time_base = positionBase;
    c->framerate = av_inv_q(positionBase);
    c->sample_aspect_ratio = av_make_q(1, 1);
    c->thread_count = 0; // one per core
    // AVI has no presentation times: without B-frames every packet is
    // stored in the order it is shown.
    c->max_b_frames = 0;
    // Studio range and the size's matrix unless the entry's set-up asks
    // otherwise. Screenshots are sRGB: BT.709 primaries and, as video names
    // that curve, BT.709 transfer, whatever the matrix.
    const bool yuv = !(desc->flags & AV_PIX_FMT_FLAG_RGB) && desc->nb_components >= 3;
    if (yuv) {
        c->color_range = AVCOL_RANGE_MPEG;
        c->colorspace = MatrixForHeight(height_);
        c->color_primaries = AVCOL_PRI_BT709;
        c->color_trc = AVCOL_TRC_BT709;
    }
    EncoderChoice choice;
    choice.quality = std::min<std::uint32_t>(s.quality, 10000) / 10000.0;
    choice.byRate = s.bytesPerSecond > 0 && entry.pub.hasDataRate;
    if (choice.byRate) {
        c->bit_rate = static_cast<std::int64_t>(s.bytesPerSecond) * 8;
        c->bit_rate_tolerance = static_cast<int>(std::min<std::int64_t>(c->bit_rate, INT_MAX));
    }
    if (s.keyFrameEvery > 0)
        c->*entry.keyInterval = static_cast<int>(std::min<std::uint32_t>(s.keyFrameEvery, 1u << 20));
    AVDictionary* opts = nullptr;
    if (entry.setUp)
        entry.setUp(c, &opts, choice);
    const bool fullRange = c->color_range == AVCOL_RANGE_JPEG;
    int err = avcodec_open2(c, codec, &opts);
    av_dict_free(&opts);
    if (err < 0)
        return err == AVERROR(ENOMEM) ? AVIERR_MEMORY : AVIERR_COMPRESSOR;
    if (c->flags & AV_CODEC_FLAG_QSCALE)
        frameQuality_ = c->global_quality;

    err = avcodec_parameters_from_context(stream->codecpar, c);
    if (err < 0)
        return AVIERR_MEMORY;
    stream->codecpar->codec_tag = entry.pub.fccHandler;

    sws_.reset(sws_getContext(convertWidth_, convertHeight_, AV_PIX_FMT_BGR24, convertWidth_, convertHeight_, pixFmt_,
                              SWS_POINT | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr, nullptr, nullptr));
    if (!sws_)
        return AVIERR_MEMORY;
    if (yuv) {
        const int* coefs = sws_getCoefficients(c->colorspace == AVCOL_SPC_BT709 ? SWS_CS_ITU709 : SWS_CS_ITU601);
        sws_setColorspaceDetails(sws_.get(), coefs, 1, coefs, fullRange ? 1 : 0, 0, 1 << 16, 1 << 16);
    }
    expand_ = convertWidth_ != format.width || convertHeight_ != format.height;
    if (expand_) {
        expandedStride_ = static_cast<std::size_t>(convertWidth_) * 3;
        expanded_.assign(expandedStride_ * static_cast<std::size_t>(convertHeight_) + kConverterOverread, 0);
    } else {
        const std::size_t topCount = std::min<std::size_t>(
            static_cast<std::size_t>(format.height), (kConverterOverread + format.stride - 1) / format.stride);
        topRows_.assign(topCount * format.stride + kConverterOverread, 0);
    }
    const int pictureBytes = av_image_get_buffer_size(pixFmt_, convertWidth_, convertHeight_, kPictureAlign);
    if (pictureBytes < 0)
        return AVIERR_BADFORMAT;
    // Zeroed: the converter leaves the alignment padding alone, and some
    // encoders read it, so unzeroed memory would change the movie run to run.
    picturePool_.reset(av_buffer_pool_init(static_cast<std::size_t>(pictureBytes), av_buffer_allocz));
    picture_.reset(av_frame_alloc());
    return picturePool_ && picture_ ? AVIERR_OK : AVIERR_MEMORY;
}

void Encoder::Expand(const std::uint8_t* bits)
{
    const bmp::FrameFormat& format = format_;
    const auto width = static_cast<std::size_t>(format.width);
    for (int y = 0; y < format.height; ++y) {
        // Bottom-up rows: the picture's top row is the last.
        const std::uint8_t* in = bits + static_cast<std::size_t>(format.height - 1 - y) * format.stride;
        std::uint8_t* o = expanded_.data() + static_cast<std::size_t>(y) * expandedStride_;
        std::memcpy(o, in, width * 3);
        for (std::size_t x = width; x < static_cast<std::size_t>(convertWidth_); ++x)
            std::memcpy(o + 3 * x, o + 3 * (width - 1), 3);
    }
    for (int y = format.height; y < convertHeight_; ++y)
        std::memcpy(expanded_.data() + static_cast<std::size_t>(y) * expandedStride_,
                    expanded_.data() + static_cast<std::size_t>(format.height - 1) * expandedStride_, expandedStride_);
}

HRESULT_AVI Encoder::Convert(const std::uint8_t* bits, AVFrame*& out)
{
    const bmp::FrameFormat& format = format_;
    AVFrame* f = picture_.get();
    av_frame_unref(f);
    f->buf[0] = av_buffer_pool_get(picturePool_.get());
    if (!f->buf[0])
        return AVIERR_MEMORY;
    f->format = pixFmt_;
    f->width = width_;
    f->height = height_;
    // The encoder takes the picture's own size from a buffer laid out for
    // the converter's.
    if (av_image_fill_arrays(f->data, f->linesize, f->buf[0]->data, pixFmt_, convertWidth_, convertHeight_,
                             kPictureAlign) < 0)
        return AVIERR_INTERNAL;
    const auto scale = [&](const std::uint8_t* from, std::ptrdiff_t step, int first, int count) {
        const std::uint8_t* slice[4] = {from, nullptr, nullptr, nullptr};
        const int lines[4] = {static_cast<int>(step), 0, 0, 0};
        return sws_scale(sws_.get(), slice, lines, first, count, f->data, f->linesize);
    };
    int rows = 0;
    if (expand_) {
        Expand(bits);
        rows = scale(expanded_.data(), static_cast<std::ptrdiff_t>(expandedStride_), 0, convertHeight_);
    } else {
        // Bottom-up rows: the picture's top rows are the last in memory, and
        // the converter's vector code reads past the end of each row it is
        // given. Past the last rows that is no longer the caller's memory,
        // so they go from a copy with room behind it, the others in place.
        const auto stride = static_cast<std::ptrdiff_t>(format.stride);
        const std::size_t copied = topRows_.size() - kConverterOverread;
        const auto topCount = static_cast<int>(copied / format.stride);
        std::memcpy(topRows_.data(), bits + format.frameBytes - copied, copied);
        rows = scale(topRows_.data() + copied - format.stride, -stride, 0, topCount);
        if (format.height > topCount)
            rows += scale(bits + format.frameBytes - copied - format.stride, -stride, topCount,
                          format.height - topCount);
    }
    if (rows != convertHeight_)
        return AVIERR_INTERNAL;
    out = f;
    return AVIERR_OK;
}

} // namespace avi
