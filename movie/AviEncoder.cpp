#include "AviEncoder.h"

extern "C" {
#include <libavutil/imgutils.h>
}

#include <algorithm>
#include <cerrno>
#include <climits>

namespace avi {

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
    const bool odd = (format.width | format.height) & 1;
    pixFmt_ = odd ? entry.oddPixFmt : entry.pixFmt;
    c->width = format.width;
    c->height = format.height;
    c->pix_fmt = pixFmt_;
    c->time_base = positionBase;
    c->framerate = av_inv_q(positionBase);
    c->sample_aspect_ratio = av_make_q(1, 1);
    c->thread_count = 0; // one per core
    // AVI has no presentation times: without B-frames every packet is
    // stored in the order it is shown.
    c->max_b_frames = 0;
    // Studio range unless the entry's set-up asks for full range; BT.601
    // either way, as players assume for these sizes.
    const bool yuv = pixFmt_ == AV_PIX_FMT_YUV420P || pixFmt_ == AV_PIX_FMT_YUV444P;
    if (yuv) {
        c->color_range = AVCOL_RANGE_MPEG;
        c->colorspace = AVCOL_SPC_SMPTE170M;
        c->color_primaries = AVCOL_PRI_SMPTE170M;
        c->color_trc = AVCOL_TRC_SMPTE170M;
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

    sws_.reset(sws_getContext(format.width, format.height, AV_PIX_FMT_BGR24, format.width, format.height, pixFmt_,
                              SWS_POINT | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr, nullptr, nullptr));
    if (!sws_)
        return AVIERR_MEMORY;
    if (yuv) {
        const int* coefs = sws_getCoefficients(SWS_CS_ITU601);
        sws_setColorspaceDetails(sws_.get(), coefs, 1, coefs, fullRange ? 1 : 0, 0, 1 << 16, 1 << 16);
    }
    const int pictureBytes = av_image_get_buffer_size(pixFmt_, format.width, format.height, kPictureAlign);
    if (pictureBytes < 0)
        return AVIERR_BADFORMAT;
    // Zeroed: the converter leaves the alignment padding alone, and some
    // encoders read it, so unzeroed memory would change the movie run to run.
    picturePool_.reset(av_buffer_pool_init(static_cast<std::size_t>(pictureBytes), av_buffer_allocz));
    picture_.reset(av_frame_alloc());
    return picturePool_ && picture_ ? AVIERR_OK : AVIERR_MEMORY;
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
    f->width = format.width;
    f->height = format.height;
    if (av_image_fill_arrays(f->data, f->linesize, f->buf[0]->data, pixFmt_, format.width, format.height,
                             kPictureAlign) < 0)
        return AVIERR_INTERNAL;
    const std::uint8_t* src = bits;
    std::size_t srcStride = format.stride;
    if (format.bitCount == 8) {
        const std::size_t outStride = static_cast<std::size_t>(format.width) * 3;
        expanded_.resize(outStride * static_cast<std::size_t>(format.height));
        for (int y = 0; y < format.height; ++y) {
            const std::uint8_t* in = bits + static_cast<std::size_t>(y) * format.stride;
            std::uint8_t* o = expanded_.data() + static_cast<std::size_t>(y) * outStride;
            for (int x = 0; x < format.width; ++x) {
                const std::uint32_t rgb = format.palette[in[x]];
                o[3 * x] = static_cast<std::uint8_t>(rgb);
                o[3 * x + 1] = static_cast<std::uint8_t>(rgb >> 8);
                o[3 * x + 2] = static_cast<std::uint8_t>(rgb >> 16);
            }
        }
        src = expanded_.data();
        srcStride = outStride;
    }
    // Bottom-up rows: start at the last row and step backwards.
    const std::uint8_t* srcSlice[4] = {src + srcStride * static_cast<std::size_t>(format.height - 1), nullptr,
                                       nullptr, nullptr};
    const int srcLines[4] = {-static_cast<int>(srcStride), 0, 0, 0};
    const int rows = sws_scale(sws_.get(), srcSlice, srcLines, 0, format.height, f->data, f->linesize);
    if (rows != format.height)
        return AVIERR_INTERNAL;
    out = f;
    return AVIERR_OK;
}

} // namespace avi
