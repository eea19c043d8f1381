// SPDX-License-Identifier: GPL-2.0-or-later
#include "AviWriter.h"

#include "AviCompressorTable.h"
#include "AviEncoder.h"
#include "FfmpegHandles.h"
#include "MovieOutput.h"
#include "MuxWorker.h"
#include "RiffChunk.h"

extern "C" {
#include <libavutil/imgutils.h>
}

#include <algorithm>
#include <bit>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <optional>
#include <utility>

#include <unistd.h>

namespace avi {
namespace {

// FFmpeg prints its statistics and notices on the terminal unless told
// otherwise; what goes wrong reaches the user through the result codes.
std::atomic<bool> libraryLog = false;

void ApplyLibraryLog()
{
    av_log_set_level(libraryLog ? AV_LOG_INFO : AV_LOG_QUIET);
}

// One stream position lasts scale / rate seconds. FFmpeg's fractions are of
// ints: a field beyond INT_MAX is taken as INT_MAX.
AVRational PositionBase(const FrameRate& frameRate)
{
    return av_make_q(static_cast<int>(std::min<std::uint32_t>(frameRate.scale, INT_MAX)),
                     static_cast<int>(std::min<std::uint32_t>(frameRate.rate, INT_MAX)));
}

} // namespace

void SetLibraryLog(bool on)
{
    libraryLog = on;
    ApplyLibraryLog();
}

// The caller's side of the movie; the worker has the muxer and the encoder
// from Start() until it stops.
struct Writer::Impl {
    std::string path;
    MovieOutput output; // outlives fmt, whose writer points at it
    FormatContextPtr fmt;
    bool headerWritten = false;
    bool finished = false;
    const CompressorEntry* entry = nullptr;
    bmp::FrameFormat format;
    AVStream* stream = nullptr;
    std::optional<wav::Format> soundFormat;
    AVStream* sound = nullptr;
    std::int64_t nextSample = 0;
    AVRational positionBase{1, 1}; // PositionBase() of the settings' frame rate
    std::int64_t nextPosition = 0;
    HRESULT_AVI failure = AVIERR_OK; // first failure, sticky
    bool streamEnded = false;
    std::int64_t framesInFile = 0;

    // Uncompressed frames: copied into a buffer of the pool, so that the
    // caller can reuse its own at once, and written on the worker.
    BufferPoolPtr rawPool;

    // Encoded frames: converted here on the caller's thread, encoded and
    // written on the worker. The worker writes uncompressed frames too, so
    // that the file's page-cache copy overlaps the caller's next frame.
    std::unique_ptr<Encoder> encoder; // null for uncompressed frames

    MuxWorker worker; // last: stopped before the handles it borrows go

    HRESULT_AVI StartRaw();
    HRESULT_AVI StartSound();
    HRESULT_AVI WriteRaw(std::int64_t position, const std::uint8_t* bits);
    HRESULT_AVI WriteEncoded(std::int64_t position, const std::uint8_t* bits);
    HRESULT_AVI Enqueue(AVFrame* frame, std::int64_t position);

    void Fail(HRESULT_AVI code)
    {
        if (failure == AVIERR_OK)
            failure = code;
    }
};

Writer::Writer() : impl_(std::make_unique<Impl>()) {}

Writer::~Writer()
{
    Finish();
}

HRESULT_AVI Writer::Create(const std::string& path, std::unique_ptr<Writer>& out)
{
    // Here, before the first FFmpeg call that can print: the layer has no
    // start-up of its own that every caller goes through.
    ApplyLibraryLog();
    std::unique_ptr<Writer> w(new Writer());
    Impl& m = *w->impl_;
    m.path = path;
    AVFormatContext* raw = nullptr;
    int err = avformat_alloc_output_context2(&raw, nullptr, "avi", path.c_str());
    if (err < 0 || !raw)
        return err == AVERROR(ENOMEM) ? AVIERR_MEMORY : AVIERR_INTERNAL;
    m.fmt.reset(raw);
    if (!m.output.Open(path))
        return errno == ENOMEM ? AVIERR_MEMORY : AVIERR_FILEOPEN;
    m.fmt->pb = m.output.NewIo();
    if (!m.fmt->pb)
        return AVIERR_MEMORY;
    m.fmt->flags |= AVFMT_FLAG_CUSTOM_IO;
    out = std::move(w);
    return AVIERR_OK;
}

bool Writer::CanHold(const bmp::FrameFormat& format)
{
    // As wide as any picture an encoder is fed: four bytes a pixel.
    return av_image_check_size2(static_cast<unsigned>(format.width), static_cast<unsigned>(format.height), INT_MAX,
                                AV_PIX_FMT_BGR0, 0, nullptr) >= 0;
}

bool Writer::Started() const
{
    return impl_->stream != nullptr;
}

HRESULT_AVI Writer::Start(const Settings& s, const bmp::FrameFormat& format)
{
    Impl& m = *impl_;
    if (m.stream || m.finished)
        return AVIERR_UNSUPPORTED;
    m.entry = EntryOf(s.compressor);
    if (!m.entry)
        return AVIERR_NOCOMPRESSOR;
    if (s.frameRate.rate == 0 || s.frameRate.scale == 0)
        return AVIERR_BADPARAM;
    if (static_cast<std::int64_t>(format.width) * format.height < m.entry->minPixels)
        return AVIERR_BADFORMAT;
    m.format = format;
    m.positionBase = PositionBase(s.frameRate);

    m.stream = avformat_new_stream(m.fmt.get(), nullptr);
    if (!m.stream)
        return AVIERR_MEMORY;
    m.stream->time_base = m.positionBase;
    m.stream->avg_frame_rate = av_inv_q(m.positionBase);
    m.stream->r_frame_rate = m.stream->avg_frame_rate;

    HRESULT_AVI hr = AVIERR_OK;
    if (m.entry->encoder) {
        m.encoder = std::make_unique<Encoder>();
        hr = m.encoder->Open(*m.entry, s, m.format, m.positionBase, m.stream);
    } else {
        hr = m.StartRaw();
    }
    if (hr != AVIERR_OK)
        return hr;
    if (m.soundFormat && (hr = m.StartSound()) != AVIERR_OK)
        return hr;

    AVDictionary* opts = nullptr;
    // Bottom-up rows are what BI_RGB means in a BITMAPINFOHEADER with a
    // positive height; the DIB bytes can then go to the file untouched.
    av_dict_set(&opts, "flipped_raw_rgb", "1", 0);
    const int err = avformat_write_header(m.fmt.get(), &opts);
    av_dict_free(&opts);
    // The muxer answers EINVAL for what an AVI header cannot describe (a side
    // past 65535 pixels): the frame's format is at fault, not the disk.
    if (err == AVERROR(EINVAL))
        return AVIERR_BADFORMAT;
    if (err < 0)
        return MuxError(err);
    avio_flush(m.fmt->pb);
    if (m.fmt->pb->error < 0)
        return MuxError(m.fmt->pb->error);
    m.headerWritten = true;
    // Without its worker no frame could ever be written: the writer fails
    // here, so that a write answers instead of waiting on a queue nobody empties.
    AVCodecContext* encoder = m.encoder ? m.encoder->Context() : nullptr;
    if (const HRESULT_AVI hr = m.worker.Start(m.fmt.get(), encoder, m.stream, m.path); hr != AVIERR_OK)
        m.Fail(hr);
    return m.failure;
}

HRESULT_AVI Writer::AddSound(const wav::Format& format)
{
    Impl& m = *impl_;
    if (m.stream || m.finished || m.soundFormat)
        return AVIERR_UNSUPPORTED;
    if (!format.Usable())
        return AVIERR_BADFORMAT;
    m.soundFormat = format;
    return AVIERR_OK;
}

// PCM as the WAV file stores it: the muxer writes the samples untouched and
// names them by the same format tag.
HRESULT_AVI Writer::Impl::StartSound()
{
    const wav::Format& f = *soundFormat;
    sound = avformat_new_stream(fmt.get(), nullptr);
    if (!sound)
        return AVIERR_MEMORY;
    AVCodecParameters* par = sound->codecpar;
    par->codec_type = AVMEDIA_TYPE_AUDIO;
    switch (f.bitsPerSample) {
    case 8:
        par->codec_id = AV_CODEC_ID_PCM_U8;
        break;
    case 16:
        par->codec_id = AV_CODEC_ID_PCM_S16LE;
        break;
    case 24:
        par->codec_id = AV_CODEC_ID_PCM_S24LE;
        break;
    default:
        par->codec_id = f.tag == wav::kFormatFloat ? AV_CODEC_ID_PCM_F32LE : AV_CODEC_ID_PCM_S32LE;
    }
    // The WAV's own speakers where it names as many as it has channels;
    // FFmpeg then writes an extensible record where the layout needs one.
    if (f.channelMask == 0 || std::popcount(f.channelMask) != f.channels ||
        av_channel_layout_from_mask(&par->ch_layout, f.channelMask) < 0)
        av_channel_layout_default(&par->ch_layout, f.channels);
    par->sample_rate = static_cast<int>(std::min<std::uint32_t>(f.sampleRate, INT_MAX));
    par->bits_per_coded_sample = f.bitsPerSample;
    par->block_align = f.blockAlign;
    par->bit_rate = static_cast<std::int64_t>(f.bytesPerSecond) * 8;
    sound->time_base = AVRational{1, par->sample_rate};
    return AVIERR_OK;
}

HRESULT_AVI Writer::WriteSound(std::int64_t first, std::int64_t count, const void* data, std::size_t cb)
{
    Impl& m = *impl_;
    if (!m.sound || !m.headerWritten || m.streamEnded)
        return AVIERR_UNSUPPORTED;
    if (m.failure != AVIERR_OK)
        return m.failure;
    if (first != m.nextSample || count < 0 || (count > 0 && !data))
        return AVIERR_BADPARAM;
    if (cb != static_cast<std::uint64_t>(count) * m.soundFormat->blockAlign || cb > INT_MAX / 2)
        return AVIERR_BADSIZE;
    if (count == 0)
        return AVIERR_OK;
    Job job;
    job.fileBytes = riff::ChunkBytes(static_cast<std::int64_t>(cb));
    if (const HRESULT_AVI hr = m.worker.Admit(job.fileBytes, 1); hr != AVIERR_OK) {
        m.Fail(hr);
        return hr;
    }
    job.packet.reset(av_packet_alloc());
    if (!job.packet || av_new_packet(job.packet.get(), static_cast<int>(cb)) < 0) {
        m.Fail(AVIERR_MEMORY);
        return AVIERR_MEMORY;
    }
    std::memcpy(job.packet->data, data, cb);
    job.packet->stream_index = m.sound->index;
    job.packet->pts = job.packet->dts = first;
    job.packet->duration = count;
    job.packet->flags = AV_PKT_FLAG_KEY;
    if (const HRESULT_AVI hr = m.worker.Enqueue(std::move(job)); hr != AVIERR_OK) {
        m.Fail(hr);
        return hr;
    }
    m.nextSample = first + count;
    return AVIERR_OK;
}

HRESULT_AVI Writer::Impl::StartRaw()
{
    AVCodecParameters* par = stream->codecpar;
    par->codec_type = AVMEDIA_TYPE_VIDEO;
    par->codec_id = AV_CODEC_ID_RAWVIDEO;
    par->codec_tag = 0; // BI_RGB
    par->width = format.width;
    par->height = format.height;
    par->bits_per_coded_sample = format.bitCount;
    par->format = AV_PIX_FMT_BGR24;
    rawPool.reset(av_buffer_pool_init(format.frameBytes, av_buffer_alloc));
    return rawPool ? AVIERR_OK : AVIERR_MEMORY;
}

HRESULT_AVI Writer::Write(std::int64_t position, const void* bits, std::size_t cb)
{
    Impl& m = *impl_;
    if (!m.stream || !m.headerWritten || m.streamEnded)
        return AVIERR_UNSUPPORTED;
    if (m.failure != AVIERR_OK)
        return m.failure;
    if (!bits)
        return AVIERR_BADPARAM;
    if (position < m.nextPosition)
        return AVIERR_BADPARAM;
    // A frame of another size than the format would come out garbled.
    if (cb != m.format.frameBytes)
        return AVIERR_BADSIZE;
    const auto* p = static_cast<const std::uint8_t*>(bits);
    HRESULT_AVI hr = m.encoder ? m.WriteEncoded(position, p) : m.WriteRaw(position, p);
    if (hr == AVIERR_OK)
        m.nextPosition = position + 1;
    return hr;
}

HRESULT_AVI Writer::Impl::WriteRaw(std::int64_t position, const std::uint8_t* bits)
{
    // Position 0 is never written by the run; it gets the first frame so
    // that the movie does not open on a missing picture.
    const bool fillZero = nextPosition == 0 && position > 0;
    const std::int64_t copies = fillZero ? 2 : 1;
    const auto size = static_cast<std::int64_t>(format.frameBytes);
    const std::int64_t chunkBytes = riff::ChunkBytes(size);
    if (const HRESULT_AVI hr = worker.Admit(copies * chunkBytes, copies); hr != AVIERR_OK) {
        Fail(hr);
        return failure;
    }
    PacketPtr pkt(av_packet_alloc());
    if (!pkt || !(pkt->buf = av_buffer_pool_get(rawPool.get()))) {
        Fail(AVIERR_MEMORY);
        return failure;
    }
    pkt->data = pkt->buf->data;
    pkt->size = static_cast<int>(size);
    std::memcpy(pkt->data, bits, format.frameBytes);
    pkt->stream_index = stream->index;
    pkt->flags = AV_PKT_FLAG_KEY;
    pkt->duration = av_rescale_q(1, positionBase, stream->time_base);
    HRESULT_AVI hr = AVIERR_OK;
    if (fillZero) {
        Job zero;
        zero.packet.reset(av_packet_clone(pkt.get())); // shares the copied bytes
        zero.fileBytes = chunkBytes;
        if (zero.packet) {
            zero.packet->pts = zero.packet->dts = 0;
            hr = worker.Enqueue(std::move(zero));
        } else {
            hr = AVIERR_MEMORY;
        }
    }
    if (hr == AVIERR_OK) {
        pkt->pts = pkt->dts = av_rescale_q(position, positionBase, stream->time_base);
        Job job;
        job.packet = std::move(pkt);
        job.fileBytes = chunkBytes;
        hr = worker.Enqueue(std::move(job));
    }
    if (hr != AVIERR_OK)
        Fail(hr);
    return hr;
}

HRESULT_AVI Writer::Impl::Enqueue(AVFrame* frame, std::int64_t position)
{
    Job job;
    job.frame.reset(av_frame_clone(frame));
    if (!job.frame)
        return AVIERR_MEMORY;
    job.frame->pts = position;
    job.frame->pict_type = AV_PICTURE_TYPE_NONE;
    if (const int quality = encoder->FrameQuality())
        job.frame->quality = quality;
    return worker.Enqueue(std::move(job));
}

HRESULT_AVI Writer::Impl::WriteEncoded(std::int64_t position, const std::uint8_t* bits)
{
    if (const HRESULT_AVI hr = worker.Failure(); hr != AVIERR_OK) {
        Fail(hr);
        return failure;
    }
    AVFrame* frame = nullptr;
    HRESULT_AVI hr = encoder->Convert(bits, frame);
    if (hr == AVIERR_OK && nextPosition == 0 && position > 0)
        hr = Enqueue(frame, 0);
    if (hr == AVIERR_OK)
        hr = Enqueue(frame, position);
    if (hr != AVIERR_OK)
        Fail(hr);
    return hr;
}

HRESULT_AVI Writer::EndStream()
{
    Impl& m = *impl_;
    if (m.streamEnded)
        return m.failure;
    m.streamEnded = true;
    m.Fail(m.worker.Stop());
    // The encoder may hold dozens of frames (x264's look-ahead); a failure
    // while they go out is the movie's failure like any other.
    if (m.headerWritten && m.encoder && m.failure == AVIERR_OK)
        m.Fail(m.worker.Drain());
    // Sound waits for its pictures; where they never came, it stays out.
    if (m.headerWritten && m.failure == AVIERR_OK)
        m.Fail(m.worker.ReleaseSound());
    return m.failure;
}

std::int64_t Writer::FramesInFile() const
{
    const Impl& m = *impl_;
    return m.finished ? m.framesInFile : m.worker.FramesMuxed();
}

HRESULT_AVI Writer::Finish()
{
    Impl& m = *impl_;
    if (m.finished)
        return m.failure;
    EndStream();
    m.finished = true;
    // The indexes go out even after a refused frame, so that the frames that
    // reached the disk stay playable; after a torn write they would index
    // bytes that are not there.
    // A file whose format was never set stays as it was created: empty.
    bool complete = !m.worker.WriteBroken();
    if (complete && m.headerWritten) {
        const int err = av_write_trailer(m.fmt.get());
        if (err < 0) {
            m.Fail(MuxError(err));
            complete = false;
        }
    }
    if (m.fmt && m.fmt->pb) {
        // A header the muxer gave up on part way is dropped, not flushed.
        if (m.headerWritten)
            avio_flush(m.fmt->pb);
        if (m.fmt->pb->error < 0) {
            m.Fail(MuxError(m.fmt->pb->error));
            complete = false;
        }
        FreeMovieIo(m.fmt->pb);
    }
    if (!m.output.Close()) {
        m.Fail(AVIERR_FILEWRITE);
        complete = false;
    }
    if (complete) {
        m.framesInFile = m.worker.FramesMuxed();
    } else {
        m.framesInFile = 0;
        if (m.failure == AVIERR_OK)
            m.Fail(AVIERR_FILEWRITE);
        // NOTE: nothing more to do if this fails too; the failure is answered.
        ::unlink(m.path.c_str());
    }
    m.encoder.reset();
    return m.failure;
}

} // namespace avi
