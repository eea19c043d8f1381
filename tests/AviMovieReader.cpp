#include "AviMovieReader.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>

namespace avitest {
namespace {

std::mutex logMutex;
std::vector<std::string>* logSink = nullptr;

void Collect(void* avcl, int level, const char* fmt, va_list vl)
{
    if (level > AV_LOG_WARNING)
        return;
    char line[1024];
    int prefix = 1;
    av_log_format_line(avcl, level, fmt, vl, line, sizeof line, &prefix);
    std::lock_guard lock(logMutex);
    if (logSink)
        logSink->push_back(line);
}

struct LogCapture {
    explicit LogCapture(std::vector<std::string>& sink)
    {
        std::lock_guard lock(logMutex);
        logSink = &sink;
        av_log_set_callback(Collect);
    }
    ~LogCapture()
    {
        std::lock_guard lock(logMutex);
        av_log_set_callback(av_log_default_callback);
        logSink = nullptr;
    }
};

struct InputFree {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwsFree {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};

Bytes ToBgr(const AVFrame* f)
{
    Bytes out(static_cast<std::size_t>(f->width) * f->height * 3);
    auto fmt = static_cast<AVPixelFormat>(f->format);
    // The JPEG formats are the plain ones at full range; named as such, so
    // that swscale does not warn about them.
    bool fullRange = f->color_range == AVCOL_RANGE_JPEG;
    for (auto [j, plain] : {std::pair{AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUV420P},
                            std::pair{AV_PIX_FMT_YUVJ422P, AV_PIX_FMT_YUV422P},
                            std::pair{AV_PIX_FMT_YUVJ444P, AV_PIX_FMT_YUV444P}})
        if (fmt == j) {
            fmt = plain;
            fullRange = true;
        }
    std::unique_ptr<SwsContext, SwsFree> sws(sws_getContext(f->width, f->height, fmt, f->width, f->height,
                                                           AV_PIX_FMT_BGR24, SWS_POINT | SWS_ACCURATE_RND,
                                                           nullptr, nullptr, nullptr));
    if (!sws)
        return {};
    if (fullRange) {
        const int* coefs = sws_getCoefficients(SWS_CS_ITU601);
        sws_setColorspaceDetails(sws.get(), coefs, 1, coefs, 1, 0, 1 << 16, 1 << 16);
    }
    uint8_t* dst[4] = {out.data(), nullptr, nullptr, nullptr};
    const int dstLines[4] = {f->width * 3, 0, 0, 0};
    sws_scale(sws.get(), f->data, f->linesize, 0, f->height, dst, dstLines);
    return out;
}

} // namespace

Movie ReadMovie(const std::string& path, bool keepPackets, bool decode)
{
    Movie m;
    LogCapture capture(m.warnings);
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) {
        m.error = "cannot open";
        return m;
    }
    std::unique_ptr<AVFormatContext, InputFree> in(raw);
    if (avformat_find_stream_info(in.get(), nullptr) < 0) {
        m.error = "no stream info";
        return m;
    }
    if (in->nb_streams != 1 || in->streams[0]->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) {
        m.error = "not one video stream";
        return m;
    }
    AVStream* st = in->streams[0];
    m.width = st->codecpar->width;
    m.height = st->codecpar->height;
    m.rateNum = st->r_frame_rate.num;
    m.rateDen = st->r_frame_rate.den;
    m.codecTag = st->codecpar->codec_tag;
    m.bitsPerCodedSample = st->codecpar->bits_per_coded_sample;
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    if (!codec) {
        m.error = "no decoder";
        return m;
    }
    m.codec = codec->name;
    std::unique_ptr<AVCodecContext, CodecFree> dec(avcodec_alloc_context3(codec));
    avcodec_parameters_to_context(dec.get(), st->codecpar);
    if (avcodec_open2(dec.get(), codec, nullptr) < 0) {
        m.error = "decoder does not open";
        return m;
    }
    std::unique_ptr<AVPacket, PacketFree> pkt(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
    auto drain = [&] {
        while (avcodec_receive_frame(dec.get(), frame.get()) >= 0) {
            m.frames.push_back(ToBgr(frame.get()));
            av_frame_unref(frame.get());
        }
    };
    while (av_read_frame(in.get(), pkt.get()) >= 0) {
        if (keepPackets)
            m.packets.emplace_back(pkt->data, pkt->data + pkt->size);
        m.keyFrames.push_back(pkt->flags & AV_PKT_FLAG_KEY);
        if (decode) {
            if (avcodec_send_packet(dec.get(), pkt.get()) < 0)
                m.error = "packet does not decode";
            drain();
        }
        av_packet_unref(pkt.get());
    }
    if (decode) {
        avcodec_send_packet(dec.get(), nullptr);
        drain();
    }
    m.opened = m.error.empty();
    return m;
}

} // namespace avitest
