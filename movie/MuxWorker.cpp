// SPDX-License-Identifier: GPL-2.0-or-later
#include "MuxWorker.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include <sys/resource.h>
#include <sys/statvfs.h>

namespace avi {

HRESULT_AVI MuxError(int err)
{
    return err == AVERROR(ENOMEM) ? AVIERR_MEMORY : AVIERR_FILEWRITE;
}

namespace {

HRESULT_AVI EncoderError(int err)
{
    return err == AVERROR(ENOMEM) ? AVIERR_MEMORY : AVIERR_INTERNAL;
}

} // namespace

HRESULT_AVI MuxWorker::Start(AVFormatContext* fmt, AVCodecContext* encoder, AVStream* stream, std::string path)
{
    fmt_ = fmt;
    encoder_ = encoder;
    stream_ = stream;
    path_ = std::move(path);
    shared_.Lock()->goodEnd = avio_tell(fmt->pb);
    try {
        thread_ = std::thread([this] { Loop(); });
    } catch (const std::system_error&) {
        return AVIERR_INTERNAL;
    }
    return AVIERR_OK;
}

HRESULT_AVI MuxWorker::Enqueue(Job job)
{
    auto s = shared_.Lock();
    s.Wait([](const Shared& v) { return v.queue.size() < kQueueDepth || v.failure != AVIERR_OK; });
    if (s->failure != AVIERR_OK)
        return s->failure;
    if (job.packet) {
        ++s->queuedPackets;
        s->queuedBytes += job.fileBytes;
    }
    s->queue.push_back(std::move(job));
    s.NotifyAll();
    return AVIERR_OK;
}

HRESULT_AVI MuxWorker::Admit(std::int64_t bytes, std::int64_t packets) const
{
    std::int64_t end = 0, queued = 0, pending = 0;
    {
        auto s = shared_.Lock();
        if (s->failure != AVIERR_OK)
            return s->failure;
        pending = s->queuedBytes;
        end = s->goodEnd + pending;
        queued = s->packetsMuxed + s->queuedPackets;
    }
    return RoomFor(bytes, end, queued + packets - 1, pending) ? AVIERR_OK : AVIERR_FILEWRITE;
}

HRESULT_AVI MuxWorker::Failure() const
{
    return shared_.Lock()->failure;
}

std::int64_t MuxWorker::PacketsMuxed() const
{
    return shared_.Lock()->packetsMuxed;
}

std::int64_t MuxWorker::FramesMuxed() const
{
    return shared_.Lock()->framesMuxed;
}

bool MuxWorker::WriteBroken() const
{
    return shared_.Lock()->writeBroken;
}

void MuxWorker::Loop()
{
    PacketPtr pkt(av_packet_alloc());
    for (;;) {
        Job item;
        {
            auto s = shared_.Lock();
            s.Wait([](const Shared& v) { return !v.queue.empty() || v.stopping; });
            if (s->queue.empty())
                break;
            item = std::move(s->queue.front());
            s->queue.pop_front();
            s.NotifyAll();
            if (s->failure != AVIERR_OK)
                continue; // drop what is left once the movie cannot go on
        }
        HRESULT_AVI hr = AVIERR_OK;
        const bool sound = item.packet && item.packet->stream_index != stream_->index;
        if (sound) {
            // Still counted as queued: its bytes are on their way to the file.
            heldSound_.push_back(std::move(item));
            hr = MuxHeldSound(false);
        } else if (item.packet) {
            hr = MuxPicture(item.packet.get());
        } else {
            hr = pkt ? EncodeAndMux(item.frame.get(), pkt.get()) : AVIERR_MEMORY;
        }
        auto s = shared_.Lock();
        if (item.packet && !sound) {
            --s->queuedPackets;
            s->queuedBytes -= item.fileBytes;
        }
        if (hr != AVIERR_OK) {
            if (s->failure == AVIERR_OK)
                s->failure = hr;
            s.NotifyAll();
        }
    }
}

HRESULT_AVI MuxWorker::Stop()
{
    if (!thread_.joinable())
        return AVIERR_OK;
    {
        auto s = shared_.Lock();
        s->stopping = true;
        s.NotifyAll();
    }
    thread_.join();
    return Failure();
}

HRESULT_AVI MuxWorker::Drain()
{
    PacketPtr pkt(av_packet_alloc());
    return pkt ? EncodeAndMux(nullptr, pkt.get()) : AVIERR_MEMORY;
}

HRESULT_AVI MuxWorker::EncodeAndMux(AVFrame* frame, AVPacket* pkt)
{
    int err = avcodec_send_frame(encoder_, frame);
    if (err < 0 && err != AVERROR_EOF)
        return EncoderError(err);
    for (;;) {
        err = avcodec_receive_packet(encoder_, pkt);
        if (err == AVERROR(EAGAIN) || err == AVERROR_EOF)
            return AVIERR_OK;
        if (err < 0)
            return EncoderError(err);
        av_packet_rescale_ts(pkt, encoder_->time_base, stream_->time_base);
        pkt->stream_index = stream_->index;
        const HRESULT_AVI hr = MuxPicture(pkt);
        av_packet_unref(pkt);
        if (hr != AVIERR_OK)
            return hr;
    }
}

HRESULT_AVI MuxWorker::MuxPicture(AVPacket* pkt)
{
    if (const HRESULT_AVI hr = Mux(pkt); hr != AVIERR_OK)
        return hr;
    // A picture without a duration lasts one tick, as the muxer counts it.
    picturesEnd_ = std::max(picturesEnd_, pkt->pts + std::max<std::int64_t>(pkt->duration, 1));
    return MuxHeldSound(false);
}

HRESULT_AVI MuxWorker::MuxHeldSound(bool all)
{
    while (!heldSound_.empty()) {
        Job& job = heldSound_.front();
        AVPacket* pkt = job.packet.get();
        const AVRational soundBase = fmt_->streams[pkt->stream_index]->time_base;
        if (!all && av_compare_ts(pkt->pts + pkt->duration, soundBase, picturesEnd_, stream_->time_base) > 0)
            break;
        const HRESULT_AVI hr = Mux(pkt);
        {
            auto s = shared_.Lock();
            --s->queuedPackets;
            s->queuedBytes -= job.fileBytes;
        }
        heldSound_.pop_front();
        if (hr != AVIERR_OK)
            return hr;
    }
    return AVIERR_OK;
}

HRESULT_AVI MuxWorker::ReleaseSound()
{
    return MuxHeldSound(true);
}

// Whether a packet of that size still leaves room on the disk, and within the
// process's file-size limit, for the indexes that close the movie. A frame
// refused here leaves the muxer as it was, so the movie is closed complete and
// indexed with every frame before it; FFmpeg cannot close a file properly
// once a write has failed.
bool MuxWorker::RoomFor(std::int64_t bytes, std::int64_t end, std::int64_t packets, std::int64_t pending) const
{
    // The size limit counts bytes; the disk counts blocks, which the file
    // and whatever else writes there fill only in part.
    constexpr std::int64_t kLimitMargin = 1024;       // index chunk headers, with slack
    constexpr std::int64_t kDiskMargin = 32 * 1024;
    constexpr std::int64_t kIndexBytesPerPacket = 40; // idx1 and OpenDML entries, with slack
    const std::int64_t need = bytes + 64 + kIndexBytesPerPacket * (packets + 2);
    rlimit limit{};
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        end + need + kLimitMargin > static_cast<std::int64_t>(limit.rlim_cur))
        return false;
    struct statvfs disk {};
    if (::statvfs(path_.c_str(), &disk) == 0 &&
        static_cast<std::int64_t>(disk.f_bavail) * static_cast<std::int64_t>(disk.f_frsize) <
            need + kDiskMargin + pending)
        return false;
    return true;
}

HRESULT_AVI MuxWorker::Mux(AVPacket* pkt)
{
    if (!RoomFor(pkt->size, avio_tell(fmt_->pb), PacketsMuxed(), 0))
        return AVIERR_FILEWRITE;
    // Through FFmpeg's buffer, in writes of its size: one write of a whole
    // frame of several megabytes costs the kernel far more than the copy
    // into the buffer saves (three times the system time, measured on
    // 1920 x 1080 frames).
    int err = av_write_frame(fmt_, pkt);
    // Flushed per frame, so that a full disk is seen at the frame it hits.
    if (err >= 0) {
        avio_flush(fmt_->pb);
        err = fmt_->pb->error;
    }
    const std::int64_t end = err < 0 ? 0 : avio_tell(fmt_->pb);
    auto s = shared_.Lock();
    if (err < 0) {
        s->writeBroken = true;
        return MuxError(err);
    }
    s->goodEnd = end;
    ++s->packetsMuxed;
    if (pkt->stream_index == stream_->index)
        ++s->framesMuxed;
    return AVIERR_OK;
}

} // namespace avi
