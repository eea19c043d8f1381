// SPDX-License-Identifier: GPL-2.0-or-later
#include "AviMovieReader.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <cstdarg>
#include <memory>
#include <mutex>

namespace avitest {
namespace {

// FFmpeg's own warnings and errors about the movie, from whichever thread a decoder logs on, while a read lasts.
std::mutex logMutex;
std::vector<std::string>* logSink = nullptr;

void Capture(void* avcl, int level, const char* fmt, va_list vl)
{
    char line[1024];
    int prefix = 1;
    av_log_format_line(avcl, level, fmt, vl, line, sizeof line, &prefix);
    std::lock_guard lock(logMutex);
    if (level <= AV_LOG_WARNING && logSink)
        logSink->push_back(line);
}

template <typename T, auto Free>
using Owned = std::unique_ptr<T, decltype([](T* p) { Free(&p); })>;

Bytes ToBgr(const AVFrame* f)
{
    // Motion JPEG's format is the plain one at full range; named as such, so that swscale does not warn about it.
    const bool jpeg = f->format == AV_PIX_FMT_YUVJ420P, fullRange = jpeg || f->color_range == AVCOL_RANGE_JPEG;
    std::unique_ptr<SwsContext, decltype(&sws_freeContext)> sws(
        sws_getContext(f->width, f->height, jpeg ? AV_PIX_FMT_YUV420P : static_cast<AVPixelFormat>(f->format),
                       f->width, f->height, AV_PIX_FMT_BGR24, SWS_POINT | SWS_ACCURATE_RND, nullptr, nullptr, nullptr),
        sws_freeContext);
    if (!sws)
        return {};
    // An untagged stream is BT.709 above 576 lines and BT.601 up to 576, as GStreamer, mpv and VLC take it.
    const bool bt709 = f->colorspace == AVCOL_SPC_BT709 || (f->colorspace == AVCOL_SPC_UNSPECIFIED && f->height > 576);
    const int* coefs = sws_getCoefficients(bt709 ? SWS_CS_ITU709 : SWS_CS_ITU601);
    sws_setColorspaceDetails(sws.get(), coefs, fullRange ? 1 : 0, coefs, 1, 0, 1 << 16, 1 << 16);
    // The converter's vector code writes whole blocks of pixels past a row's end: into the next row, written
    // after it, and past the last into room to spare.
    const std::size_t bytes = static_cast<std::size_t>(f->width) * 3 * static_cast<std::size_t>(f->height);
    Bytes out(bytes + 64);
    uint8_t* dst[4] = {out.data(), nullptr, nullptr, nullptr};
    const int dstLines[4] = {f->width * 3, 0, 0, 0};
    sws_scale(sws.get(), f->data, f->linesize, 0, f->height, dst, dstLines);
    out.resize(bytes);
    return out;
}

} // namespace

Movie ReadMovie(const std::string& path, bool decode)
{
    Movie m;
    logSink = &m.warnings;
    av_log_set_callback(Capture);
    const std::unique_ptr<Movie, decltype([](Movie*) {
        std::lock_guard lock(logMutex);
        logSink = nullptr;
        av_log_set_callback(av_log_default_callback);
    })> stopCapture(&m);
    const auto failed = [&m](const char* why) { return m.error = why, m; };
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0)
        return failed("cannot open");
    Owned<AVFormatContext, avformat_close_input> in(raw);
    const int audio = avformat_find_stream_info(in.get(), nullptr) < 0
                          ? -2 : av_find_best_stream(in.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (audio == -2 || in->nb_streams != (audio >= 0 ? 2u : 1u) || in->streams[0]->codecpar->codec_type != AVMEDIA_TYPE_VIDEO)
        return failed("not one video stream and at most one sound stream");
    Owned<AVCodecContext, avcodec_free_context> soundDec;
    if (audio >= 0) {
        const AVCodecParameters* a = in->streams[audio]->codecpar;
        const AVCodec* codec = avcodec_find_decoder(a->codec_id);
        soundDec.reset(codec ? avcodec_alloc_context3(codec) : nullptr);
        if (!soundDec || avcodec_parameters_to_context(soundDec.get(), a) < 0 ||
            avcodec_open2(soundDec.get(), codec, nullptr) < 0)
            return failed("no sound decoder");
        m.soundCodec = codec->name, m.sampleRate = a->sample_rate, m.channels = a->ch_layout.nb_channels;
    }
    const AVCodecParameters* par = in->streams[0]->codecpar;
    const char* pixFmt = av_get_pix_fmt_name(static_cast<AVPixelFormat>(par->format));
    m.width = par->width, m.height = par->height, m.level = par->level, m.pixFmt = pixFmt ? pixFmt : "unknown";
    m.rateNum = in->streams[0]->r_frame_rate.num, m.rateDen = in->streams[0]->r_frame_rate.den;
    m.colorRange = av_color_range_name(par->color_range), m.colorSpace = av_color_space_name(par->color_space);
    m.colorPrimaries = av_color_primaries_name(par->color_primaries), m.colorTransfer = av_color_transfer_name(par->color_trc);
    m.aspectNum = par->sample_aspect_ratio.num, m.aspectDen = par->sample_aspect_ratio.den;
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    Owned<AVCodecContext, avcodec_free_context> dec(codec ? avcodec_alloc_context3(codec) : nullptr);
    if (!dec || avcodec_parameters_to_context(dec.get(), par) < 0 || avcodec_open2(dec.get(), codec, nullptr) < 0)
        return failed(codec ? "decoder does not open" : "no decoder");
    m.codec = codec->name;
    Owned<AVPacket, av_packet_free> pkt(av_packet_alloc());
    Owned<AVFrame, av_frame_free> frame(av_frame_alloc());
    const auto decodeSent = [&](AVCodecContext* to, const AVPacket* p) {
        if (avcodec_send_packet(to, p) < 0 && p && to == dec.get())
            m.error = "packet does not decode";
        while (avcodec_receive_frame(to, frame.get()) >= 0) {
            if (to == dec.get())
                m.frames.push_back(ToBgr(frame.get()));
            else
                m.sound.insert(m.sound.end(), frame->data[0], frame->data[0] + av_samples_get_buffer_size(nullptr,
                    frame->ch_layout.nb_channels, frame->nb_samples, static_cast<AVSampleFormat>(frame->format), 1));
            av_frame_unref(frame.get());
        }
    };
    while (av_read_frame(in.get(), pkt.get()) >= 0) {
        if (pkt->stream_index == audio) {
            if (m.soundStart < 0)
                m.soundStart = static_cast<double>(pkt->pts) * av_q2d(in->streams[audio]->time_base);
            decodeSent(soundDec.get(), pkt.get());
        } else {
            m.keyFrames.push_back(pkt->flags & AV_PKT_FLAG_KEY);
            if (decode)
                decodeSent(dec.get(), pkt.get());
        }
        av_packet_unref(pkt.get());
    }
    if (decode)
        decodeSent(dec.get(), nullptr);
    m.opened = m.error.empty();
    return m;
}

} // namespace avitest
