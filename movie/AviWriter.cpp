#include "AviWriter.h"

#include "AviCompressorTable.h"
#include "BitmapFormat.h"
#include "FfmpegHandles.h"
#include "LittleEndian.h"
#include "MuxWorker.h"
#include "RiffChunk.h"

extern "C" {
#include <libavutil/imgutils.h>
}

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <optional>
#include <cstring>
#include <utility>

#include <fcntl.h>

namespace avi {
namespace {

// FFmpeg prints its statistics and notices on the terminal unless told
// otherwise; what goes wrong reaches the user through the result codes.
std::atomic<bool> libraryLog = false;

void ApplyLibraryLog()
{
    av_log_set_level(libraryLog ? AV_LOG_INFO : AV_LOG_QUIET);
}

} // namespace

void SetLibraryLog(bool on)
{
    libraryLog = on;
    ApplyLibraryLog();
}

HRESULT_AVI ParseBitmapInfo(const void* info, std::int32_t cb, FrameFormat& out)
{
    if (!info || cb < static_cast<std::int32_t>(bmp::kInfoHeaderSize))
        return AVIERR_BADFORMAT;
    const auto* p = static_cast<const std::uint8_t*>(info);
    const auto h = bmp::InfoHeader::Parse(p);
    const auto biSize = static_cast<std::uint32_t>(h.biSize);
    const std::uint32_t clrUsed = static_cast<std::uint32_t>(h.biClrUsed);
    // Top-down bitmaps (negative height) are refused like any other layout
    // the frames of a run never have.
    if (biSize < bmp::kInfoHeaderSize || biSize > static_cast<std::uint32_t>(cb) || h.biPlanes != 1 ||
        h.biCompression != bmp::kRgb || h.biWidth < 1 || h.biHeight < 1 ||
        (h.biBitCount != 24 && h.biBitCount != 8))
        return AVIERR_BADFORMAT;
    if (av_image_check_size2(static_cast<unsigned>(h.biWidth), static_cast<unsigned>(h.biHeight), INT_MAX,
                             AV_PIX_FMT_BGR0, 0, nullptr) < 0 ||
        !bmp::FitsFile(h.biWidth, h.biHeight, h.biBitCount, 0))
        return AVIERR_BADFORMAT;

    FrameFormat f;
    f.width = h.biWidth;
    f.height = h.biHeight;
    f.bitCount = h.biBitCount;
    f.stride = static_cast<std::size_t>(bmp::Stride(h.biWidth, h.biBitCount));
    f.frameBytes = f.stride * static_cast<std::size_t>(h.biHeight);
    if (h.biBitCount == 8) {
        const std::uint32_t entries = clrUsed ? clrUsed : 256;
        if (entries > 256 || biSize + static_cast<std::uint64_t>(entries) * 4 > static_cast<std::uint32_t>(cb))
            return AVIERR_BADFORMAT;
        f.palette.assign(256, 0);
        for (std::uint32_t i = 0; i < entries; ++i)
            f.palette[i] = le::GetU32(p + biSize + 4 * i) & 0xFFFFFFu;
    }
    out = std::move(f);
    return AVIERR_OK;
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
    FrameFormat format;
    AVStream* stream = nullptr;
    std::optional<wav::Format> soundFormat;
    AVStream* sound = nullptr;
    std::int64_t nextSample = 0;
    AVRational positionBase{1, 1}; // one position = dwScale / dwRate seconds
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
    CodecContextPtr encoder;
    SwsPtr sws;
    AVPixelFormat encPixFmt = AV_PIX_FMT_NONE;
    // A fixed quantiser is taken from each frame, not from the context; 0
    // where the encoder has none.
    int frameQuality = 0;
    // Pictures for the encoder come from a pool: one goes back as soon as
    // the encoder lets go of it, so frames in flight never cost a fresh
    // allocation and its page faults.
    BufferPoolPtr picturePool;
    FramePtr picture; // the caller's latest, also referenced by the queue
    std::vector<std::uint8_t> expanded; // 8-bit frames widened to 24 bits
    static constexpr int kPictureAlign = 64; // what the encoders' SIMD wants of each row

    MuxWorker worker; // last: stopped before the handles it borrows go

    HRESULT_AVI StartRaw();
    HRESULT_AVI StartSound();
    HRESULT_AVI StartEncoder(const Settings& s);
    HRESULT_AVI WriteRaw(std::int64_t position, const std::uint8_t* bits);
    HRESULT_AVI WriteEncoded(std::int64_t position, const std::uint8_t* bits);
    HRESULT_AVI Convert(const std::uint8_t* bits, AVFrame*& out);
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
    m.output.fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (m.output.fd < 0)
        return errno == ENOMEM ? AVIERR_MEMORY : AVIERR_FILEOPEN;
    m.fmt->pb = m.output.NewIo();
    if (!m.fmt->pb)
        return AVIERR_MEMORY;
    m.fmt->flags |= AVFMT_FLAG_CUSTOM_IO;
    out = std::move(w);
    return AVIERR_OK;
}

bool Writer::Started() const
{
    return impl_->stream != nullptr;
}

HRESULT_AVI Writer::Start(const Settings& s, const FrameFormat& format)
{
    Impl& m = *impl_;
    if (m.stream || m.finished)
        return AVIERR_UNSUPPORTED;
    m.entry = EntryOf(s.compressor);
    if (!m.entry)
        return AVIERR_NOCOMPRESSOR;
    if (s.rate == 0 || s.scale == 0)
        return AVIERR_BADPARAM;
    if (static_cast<std::int64_t>(format.width) * format.height < m.entry->minPixels)
        return AVIERR_BADFORMAT;
    m.format = format;
    m.positionBase = av_make_q(static_cast<int>(std::min<std::uint32_t>(s.scale, INT_MAX)),
                               static_cast<int>(std::min<std::uint32_t>(s.rate, INT_MAX)));

    m.stream = avformat_new_stream(m.fmt.get(), nullptr);
    if (!m.stream)
        return AVIERR_MEMORY;
    m.stream->time_base = m.positionBase;
    m.stream->avg_frame_rate = av_inv_q(m.positionBase);
    m.stream->r_frame_rate = m.stream->avg_frame_rate;

    HRESULT_AVI hr = m.entry->encoder ? m.StartEncoder(s) : m.StartRaw();
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
    if (err < 0)
        return MuxError(err);
    avio_flush(m.fmt->pb);
    if (m.fmt->pb->error < 0)
        return MuxError(m.fmt->pb->error);
    m.headerWritten = true;
    // Without its worker no frame could ever be written: the writer fails
    // here, so that a write answers instead of waiting on a queue nobody empties.
    if (const HRESULT_AVI hr = m.worker.Start(m.fmt.get(), m.encoder.get(), m.stream, m.path); hr != AVIERR_OK)
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
    par->format = format.bitCount == 8 ? AV_PIX_FMT_PAL8 : AV_PIX_FMT_BGR24;
    rawPool.reset(av_buffer_pool_init(format.frameBytes, av_buffer_alloc));
    return rawPool ? AVIERR_OK : AVIERR_MEMORY;
}

HRESULT_AVI Writer::Impl::StartEncoder(const Settings& s)
{
    const AVCodec* codec = avcodec_find_encoder_by_name(entry->encoder);
    if (!codec)
        return AVIERR_NOCOMPRESSOR;
    encoder.reset(avcodec_alloc_context3(codec));
    if (!encoder)
        return AVIERR_MEMORY;
    AVCodecContext* c = encoder.get();
    const bool odd = (format.width | format.height) & 1;
    encPixFmt = odd ? entry->oddPixFmt : entry->pixFmt;
    c->width = format.width;
    c->height = format.height;
    c->pix_fmt = encPixFmt;
    c->time_base = positionBase;
    c->framerate = av_inv_q(positionBase);
    c->sample_aspect_ratio = av_make_q(1, 1);
    c->thread_count = 0; // one per core
    // AVI has no presentation times: without B-frames every packet is
    // stored in the order it is shown.
    c->max_b_frames = 0;
    // Studio range unless the entry's set-up asks for full range; BT.601
    // either way, as players assume for these sizes.
    const bool yuv = encPixFmt == AV_PIX_FMT_YUV420P || encPixFmt == AV_PIX_FMT_YUV444P;
    if (yuv) {
        c->color_range = AVCOL_RANGE_MPEG;
        c->colorspace = AVCOL_SPC_SMPTE170M;
        c->color_primaries = AVCOL_PRI_SMPTE170M;
        c->color_trc = AVCOL_TRC_SMPTE170M;
    }
    EncoderChoice choice;
    choice.quality = std::min<std::uint32_t>(s.quality, 10000) / 10000.0;
    choice.byRate = s.bytesPerSecond > 0 && entry->pub.hasDataRate;
    if (choice.byRate) {
        c->bit_rate = static_cast<std::int64_t>(s.bytesPerSecond) * 8;
        c->bit_rate_tolerance = static_cast<int>(std::min<std::int64_t>(c->bit_rate, INT_MAX));
    }
    if (s.keyFrameEvery > 0)
        c->*entry->keyInterval = static_cast<int>(std::min<std::uint32_t>(s.keyFrameEvery, 1u << 20));
    AVDictionary* opts = nullptr;
    if (entry->setUp)
        entry->setUp(c, &opts, choice);
    const bool fullRange = c->color_range == AVCOL_RANGE_JPEG;
    int err = avcodec_open2(c, codec, &opts);
    av_dict_free(&opts);
    if (err < 0)
        return err == AVERROR(ENOMEM) ? AVIERR_MEMORY : AVIERR_COMPRESSOR;
    if (c->flags & AV_CODEC_FLAG_QSCALE)
        frameQuality = c->global_quality;

    err = avcodec_parameters_from_context(stream->codecpar, c);
    if (err < 0)
        return AVIERR_MEMORY;
    stream->codecpar->codec_tag = entry->pub.fccHandler;

    sws.reset(sws_getContext(format.width, format.height, AV_PIX_FMT_BGR24, format.width, format.height,
                             encPixFmt, SWS_POINT | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr, nullptr,
                             nullptr));
    if (!sws)
        return AVIERR_MEMORY;
    if (yuv) {
        const int* coefs = sws_getCoefficients(SWS_CS_ITU601);
        sws_setColorspaceDetails(sws.get(), coefs, 1, coefs, fullRange ? 1 : 0, 0, 1 << 16, 1 << 16);
    }
    const int pictureBytes = av_image_get_buffer_size(encPixFmt, format.width, format.height, kPictureAlign);
    if (pictureBytes < 0)
        return AVIERR_BADFORMAT;
    // Zeroed: the converter leaves the alignment padding alone, and some
    // encoders read it, so unzeroed memory would change the movie run to run.
    picturePool.reset(av_buffer_pool_init(static_cast<std::size_t>(pictureBytes), av_buffer_allocz));
    picture.reset(av_frame_alloc());
    return picturePool && picture ? AVIERR_OK : AVIERR_MEMORY;
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
    if (format.bitCount == 8 && nextPosition == 0) {
        std::uint8_t* side = av_packet_new_side_data(pkt.get(), AV_PKT_DATA_PALETTE, AVPALETTE_SIZE);
        if (!side) {
            Fail(AVIERR_MEMORY);
            return failure;
        }
        for (std::size_t i = 0; i < 256; ++i) {
            const std::uint32_t argb = format.palette[i] | 0xFF000000u;
            std::memcpy(side + 4 * i, &argb, 4); // native order, as FFmpeg's palettes are
        }
    }
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

HRESULT_AVI Writer::Impl::Convert(const std::uint8_t* bits, AVFrame*& out)
{
    AVFrame* f = picture.get();
    av_frame_unref(f);
    f->buf[0] = av_buffer_pool_get(picturePool.get());
    if (!f->buf[0])
        return AVIERR_MEMORY;
    f->format = encPixFmt;
    f->width = format.width;
    f->height = format.height;
    if (av_image_fill_arrays(f->data, f->linesize, f->buf[0]->data, encPixFmt, format.width, format.height,
                             kPictureAlign) < 0)
        return AVIERR_INTERNAL;
    const std::uint8_t* src = bits;
    std::size_t srcStride = format.stride;
    if (format.bitCount == 8) {
        const std::size_t outStride = static_cast<std::size_t>(format.width) * 3;
        expanded.resize(outStride * static_cast<std::size_t>(format.height));
        for (int y = 0; y < format.height; ++y) {
            const std::uint8_t* in = bits + static_cast<std::size_t>(y) * format.stride;
            std::uint8_t* o = expanded.data() + static_cast<std::size_t>(y) * outStride;
            for (int x = 0; x < format.width; ++x) {
                const std::uint32_t rgb = format.palette[in[x]];
                o[3 * x] = static_cast<std::uint8_t>(rgb);
                o[3 * x + 1] = static_cast<std::uint8_t>(rgb >> 8);
                o[3 * x + 2] = static_cast<std::uint8_t>(rgb >> 16);
            }
        }
        src = expanded.data();
        srcStride = outStride;
    }
    // Bottom-up rows: start at the last row and step backwards.
    const std::uint8_t* srcSlice[4] = {src + srcStride * static_cast<std::size_t>(format.height - 1), nullptr,
                                       nullptr, nullptr};
    const int srcLines[4] = {-static_cast<int>(srcStride), 0, 0, 0};
    const int rows = sws_scale(sws.get(), srcSlice, srcLines, 0, format.height, f->data, f->linesize);
    if (rows != format.height)
        return AVIERR_INTERNAL;
    out = f;
    return AVIERR_OK;
}

HRESULT_AVI Writer::Impl::Enqueue(AVFrame* frame, std::int64_t position)
{
    Job job;
    job.frame.reset(av_frame_clone(frame));
    if (!job.frame)
        return AVIERR_MEMORY;
    job.frame->pts = position;
    job.frame->pict_type = AV_PICTURE_TYPE_NONE;
    if (frameQuality)
        job.frame->quality = frameQuality;
    return worker.Enqueue(std::move(job));
}

HRESULT_AVI Writer::Impl::WriteEncoded(std::int64_t position, const std::uint8_t* bits)
{
    if (const HRESULT_AVI hr = worker.Failure(); hr != AVIERR_OK) {
        Fail(hr);
        return failure;
    }
    AVFrame* frame = nullptr;
    HRESULT_AVI hr = Convert(bits, frame);
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
    m.picture.reset();
    return m.failure;
}

} // namespace avi
