#include "AviWriter.h"

#include "BitmapFormat.h"
#include "LittleEndian.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace avi {
namespace {

using le::FourCC;

std::uint32_t UpperFourcc(std::uint32_t fcc)
{
    std::uint32_t out = 0;
    for (int i = 0; i < 4; ++i) {
        unsigned char c = static_cast<unsigned char>(fcc >> (8 * i));
        if (c >= 'a' && c <= 'z')
            c = static_cast<unsigned char>(c - 'a' + 'A');
        out |= static_cast<std::uint32_t>(c) << (8 * i);
    }
    return out;
}

enum class Tuning { None, QScale, Crf };

struct Entry {
    AviCompressor pub;
    const char* encoder; // null: the DIB bytes as passed
    AVPixelFormat pixFmt;
    AVPixelFormat oddPixFmt; // for sizes the main format cannot hold
    Tuning tuning;
    bool keyIntMin; // the encoder takes its key-frame interval from keyint_min
    int minPixels;  // smaller pictures are refused
};

// NOTE: every pixel format here takes odd widths and heights except
// yuv420p for H.264, which x264 refuses; odd sizes go to yuv444p there
// rather than being padded, so the picture keeps exactly the stream's size.
// Ut Video pictures of 2 or 3 pixels come out of FFmpeg's encoder in a form
// its own decoder rejects, so Ut Video refuses pictures below 4 pixels.
const std::vector<Entry>& AllEntries()
{
    static const std::vector<Entry> entries = {
        {{"raw", "Full Frames (Uncompressed)", FourCC("DIB "), false, false, false,
          "For editing, or for another program to read: keeps every pixel, but the files are very large. "
          "Plays in almost every player."},
         nullptr, AV_PIX_FMT_BGR24, AV_PIX_FMT_BGR24, Tuning::None, false, 1},
        {{"mjpeg", "Motion JPEG", FourCC("MJPG"), true, false, true,
          "For editing in smaller files: each frame is a JPEG picture, losing a little detail. "
          "Plays in almost every player."},
         "mjpeg", AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P, Tuning::QScale, false, 1},
        {{"ffv1", "FFV1 (lossless)", FourCC("FFV1"), false, true, false,
          "For archiving: keeps every pixel, in files far smaller than Full Frames. "
          "Needs a player with FFmpeg's decoders, such as VLC, mpv or GNOME Videos."},
         "ffv1", AV_PIX_FMT_BGR0, AV_PIX_FMT_BGR0, Tuning::None, false, 1},
        {{"huffyuv", "HuffYUV (lossless)", FourCC("HFYU"), false, false, false,
          "For editing: keeps every pixel and decodes fast, in larger files than FFV1. "
          "Needs a player with FFmpeg's decoders, such as VLC, mpv or GNOME Videos."},
         "huffyuv", AV_PIX_FMT_RGB24, AV_PIX_FMT_RGB24, Tuning::None, false, 1},
        {{"utvideo", "Ut Video (lossless)", FourCC("ULRG"), false, false, false,
          "For editing: keeps every pixel and decodes fast. "
          "Needs a player with FFmpeg's decoders, such as VLC or mpv; GNOME Videos cannot play it."},
         "utvideo", AV_PIX_FMT_GBRP, AV_PIX_FMT_GBRP, Tuning::None, false, 4},
        {{"zmbv", "Zip Motion Blocks Video (lossless)", FourCC("ZMBV"), false, true, false,
          "For game and screen footage with flat colours: keeps every pixel, in small files. "
          "Needs a player with FFmpeg's decoders, such as VLC, mpv or GNOME Videos."},
         "zmbv", AV_PIX_FMT_BGR0, AV_PIX_FMT_BGR0, Tuning::None, true, 1},
        {{"mpeg4", "MPEG-4 Part 2 (Xvid compatible)", FourCC("XVID"), true, true, true,
          "For sharing, also with older players and devices: small files, losing some detail. "
          "Plays in almost every player."},
         "mpeg4", AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P, Tuning::QScale, false, 1},
        {{"h264", "H.264 (x264)", FourCC("H264"), true, true, true,
          "For sharing: the best picture for the file size, losing some detail. "
          "Plays in almost every player, though no web browser plays AVI files."},
         "libx264", AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV444P, Tuning::Crf, false, 1},
    };
    return entries;
}

const std::vector<const Entry*>& Available()
{
    static const std::vector<const Entry*> available = [] {
        std::vector<const Entry*> list;
        for (const Entry& e : AllEntries())
            if (!e.encoder || avcodec_find_encoder_by_name(e.encoder))
                list.push_back(&e);
        return list;
    }();
    return available;
}

const Entry* EntryOf(const AviCompressor* compressor)
{
    for (const Entry* e : Available())
        if (&e->pub == compressor)
            return e;
    return nullptr;
}

// The movie's output: a descriptor of our own under FFmpeg's buffered
// writer. FFmpeg's file protocol refuses unbuffered writes above 256 KB; here
// a whole frame can go from the caller's bytes to the file in one write.
struct MovieOutput {
    int fd = -1;

    MovieOutput() = default;
    MovieOutput(const MovieOutput&) = delete;
    MovieOutput& operator=(const MovieOutput&) = delete;
    ~MovieOutput() { Close(); }

    bool Close()
    {
        const int was = std::exchange(fd, -1);
        return was < 0 || ::close(was) == 0;
    }

    static int Write(void* opaque, std::uint8_t* buf, int size)
    {
        const int fd = static_cast<MovieOutput*>(opaque)->fd;
        int done = 0;
        while (done < size) {
            const ssize_t w = ::write(fd, buf + done, static_cast<std::size_t>(size - done));
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                return AVERROR(errno);
            }
            done += static_cast<int>(w);
        }
        return size;
    }

    static std::int64_t Seek(void* opaque, std::int64_t offset, int whence)
    {
        const int fd = static_cast<MovieOutput*>(opaque)->fd;
        if (whence & AVSEEK_SIZE) {
            struct stat st {};
            return ::fstat(fd, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : AVERROR(errno);
        }
        const off_t at = ::lseek(fd, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
        return at < 0 ? AVERROR(errno) : static_cast<std::int64_t>(at);
    }
};

// Frees the writer context of a MovieOutput (not its descriptor).
void FreeMovieIo(AVIOContext*& pb)
{
    if (!pb)
        return;
    av_freep(&pb->buffer);
    avio_context_free(&pb);
}

struct FormatContextFree {
    void operator()(AVFormatContext* ctx) const
    {
        if (ctx)
            FreeMovieIo(ctx->pb);
        avformat_free_context(ctx);
    }
};
struct CodecContextFree {
    void operator()(AVCodecContext* ctx) const { avcodec_free_context(&ctx); }
};
struct FrameFree {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketFree {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct SwsFree {
    void operator()(SwsContext* ctx) const { sws_freeContext(ctx); }
};
struct DictFree {
    void operator()(AVDictionary* dict) const { av_dict_free(&dict); }
};
struct BufferPoolFree {
    void operator()(AVBufferPool* pool) const { av_buffer_pool_uninit(&pool); }
};
using FormatContextPtr = std::unique_ptr<AVFormatContext, FormatContextFree>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFree>;
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;
using SwsPtr = std::unique_ptr<SwsContext, SwsFree>;
using BufferPoolPtr = std::unique_ptr<AVBufferPool, BufferPoolFree>;

// One frame for the worker: a picture to encode, or an uncompressed frame
// already in its packet.
struct Job {
    FramePtr frame;
    PacketPtr packet;
    std::int64_t fileBytes = 0; // what the packet adds to the file (uncompressed only)
};

// What a failed write of the muxer means to the caller: the disk (full,
// file too large, I/O) unless it ran out of memory.
HRESULT_AVI MuxError(int err)
{
    return err == AVERROR(ENOMEM) ? AVIERR_MEMORY : AVIERR_FILEWRITE;
}

HRESULT_AVI EncoderError(int err)
{
    return err == AVERROR(ENOMEM) ? AVIERR_MEMORY : AVIERR_INTERNAL;
}


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

const std::vector<AviCompressor>& CompressorList()
{
    static const std::vector<AviCompressor> list = [] {
        std::vector<AviCompressor> out;
        for (const Entry* e : Available())
            out.push_back(e->pub);
        return out;
    }();
    return list;
}

const AviCompressor* FindCompressor(std::uint32_t fccHandler)
{
    std::uint32_t fcc = UpperFourcc(fccHandler);
    if (fcc == 0)
        fcc = FourCC("DIB ");
    if (fcc == FourCC("FMP4") || fcc == FourCC("DIVX"))
        fcc = FourCC("XVID");
    for (const Entry* e : Available())
        if (e->pub.fccHandler == fcc)
            return &e->pub;
    return nullptr;
}

bool IsUncompressed(const AviCompressor& compressor)
{
    const Entry* e = EntryOf(&compressor);
    return e && !e->encoder;
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

struct Writer::Impl {
    std::string path;
    MovieOutput output; // outlives fmt, whose writer points at it
    FormatContextPtr fmt;
    bool headerWritten = false;
    bool finished = false;
    const Entry* entry = nullptr;
    FrameFormat format;
    AVStream* stream = nullptr;
    AVRational positionBase{1, 1}; // one position = dwScale / dwRate seconds
    std::int64_t nextPosition = 0;
    HRESULT_AVI failure = AVIERR_OK; // first failure, sticky
    // End of the last chunk known to be on disk. Guarded by mutex while the
    // worker runs.
    std::int64_t goodEnd = 0;
    // A write reached the disk only in part: the muxer's picture of the file
    // no longer matches it, so no index written after could be trusted.
    // Worker side; read once the worker has stopped.
    bool writeBroken = false;
    bool streamEnded = false;
    std::int64_t framesInFile = 0;
    // Packets muxed so far: each costs an entry in the closing indexes.
    // Guarded by mutex while the worker runs.
    std::int64_t packetsMuxed = 0;
    // Uncompressed packets handed to the worker and not yet muxed, and the
    // bytes they will add to the file. Guarded by mutex.
    std::int64_t queuedPackets = 0;
    std::int64_t queuedBytes = 0;
    // A frame was refused because it would not have left room to close the file.
    std::atomic<bool> refusedForRoom = false;

    // Uncompressed frames: copied into a buffer of the pool, so that the
    // caller can reuse its own at once, and written on the worker.
    BufferPoolPtr rawPool;

    // Encoded frames: converted here on the caller's thread, encoded and
    // written on the worker. The worker writes uncompressed frames too, so
    // that the file's page-cache copy overlaps the caller's next frame.
    CodecContextPtr encoder;
    SwsPtr sws;
    AVPixelFormat encPixFmt = AV_PIX_FMT_NONE;
    // Pictures for the encoder come from a pool: one goes back as soon as
    // the encoder lets go of it, so frames in flight never cost a fresh
    // allocation and its page faults.
    BufferPoolPtr picturePool;
    int pictureBytes = 0;
    FramePtr picture; // the caller's latest, also referenced by the queue
    std::vector<std::uint8_t> expanded; // 8-bit frames widened to 24 bits

    std::thread worker;
    std::mutex mutex;
    std::condition_variable cv;
    std::deque<Job> queue;
    bool stopping = false;
    HRESULT_AVI workerFailure = AVIERR_OK;
    static constexpr std::size_t kQueueDepth = 3;
    static constexpr int kPictureAlign = 64; // what the encoders' SIMD wants of each row

    HRESULT_AVI StartRaw();
    HRESULT_AVI StartEncoder(const Settings& s);
    HRESULT_AVI WriteRaw(std::int64_t position, const std::uint8_t* bits);
    HRESULT_AVI WriteEncoded(std::int64_t position, const std::uint8_t* bits);
    HRESULT_AVI Convert(const std::uint8_t* bits, AVFrame*& out);
    HRESULT_AVI Enqueue(AVFrame* frame, std::int64_t position);
    HRESULT_AVI Enqueue(Job job);
    void WorkerLoop();
    HRESULT_AVI EncodeAndMux(AVFrame* frame, AVPacket* pkt); // worker side
    HRESULT_AVI Mux(AVPacket* pkt);
    // pending: bytes queued for the file that the disk has not yet seen.
    bool RoomFor(std::int64_t bytes, std::int64_t end, std::int64_t packets, std::int64_t pending) const;
    void StopWorker();

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
    constexpr int kBufferSize = 64 * 1024;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
    if (buffer)
        m.fmt->pb = avio_alloc_context(buffer, kBufferSize, 1, &m.output, nullptr, MovieOutput::Write,
                                       MovieOutput::Seek);
    if (!m.fmt->pb) {
        av_free(buffer);
        return AVIERR_MEMORY;
    }
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

    AVDictionary* opts = nullptr;
    // Bottom-up rows are what BI_RGB means in a BITMAPINFOHEADER with a
    // positive height; the DIB bytes can then go to the file untouched.
    av_dict_set(&opts, "flipped_raw_rgb", "1", 0);
    std::unique_ptr<AVDictionary, DictFree> optsOwner(opts);
    int err = avformat_write_header(m.fmt.get(), &opts);
    optsOwner.release();
    optsOwner.reset(opts);
    if (err < 0)
        return MuxError(err);
    avio_flush(m.fmt->pb);
    if (m.fmt->pb->error < 0)
        return MuxError(m.fmt->pb->error);
    m.headerWritten = true;
    m.goodEnd = avio_tell(m.fmt->pb);

    try {
        m.worker = std::thread([&m] { m.WorkerLoop(); });
    } catch (const std::system_error&) {
        return AVIERR_INTERNAL;
    }
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
    // JPEG's own full range for Motion JPEG, studio range elsewhere; both
    // BT.601, as players assume for these sizes.
    const bool fullRange = std::strcmp(entry->encoder, "mjpeg") == 0;
    const bool yuv = encPixFmt == AV_PIX_FMT_YUV420P || encPixFmt == AV_PIX_FMT_YUV444P;
    if (yuv) {
        c->color_range = fullRange ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
        c->colorspace = AVCOL_SPC_SMPTE170M;
        c->color_primaries = AVCOL_PRI_SMPTE170M;
        c->color_trc = AVCOL_TRC_SMPTE170M;
    }
    if (s.keyFrameEvery > 0) {
        const int interval = static_cast<int>(std::min<std::uint32_t>(s.keyFrameEvery, 1u << 20));
        if (entry->keyIntMin)
            c->keyint_min = interval;
        else
            c->gop_size = interval;
    }
    const double q = std::min<std::uint32_t>(s.quality, 10000) / 10000.0;
    const bool byRate = s.bytesPerSecond > 0 && entry->pub.hasDataRate;
    if (byRate) {
        c->bit_rate = static_cast<std::int64_t>(s.bytesPerSecond) * 8;
        c->bit_rate_tolerance = static_cast<int>(std::min<std::int64_t>(c->bit_rate, INT_MAX));
    }
    AVDictionary* opts = nullptr;
    std::unique_ptr<AVDictionary, DictFree> optsOwner;
    if (std::strcmp(entry->encoder, "ffv1") == 0) {
        // NOTE: version 3 has the slices that its threads need, but FFmpeg
        // 5.1 does not give back the exact pixels of version 3 pictures one
        // or two pixels high or wide; small pictures stay at version 1.
        if (format.width >= 16 && format.height >= 16) {
            c->level = 3;
            c->slices = 4;
        } else {
            c->level = 1;
            c->thread_count = 1;
        }
    } else if (std::strcmp(entry->encoder, "libx264") == 0) {
        av_dict_set(&opts, "bf", "0", 0);
        if (!byRate) {
            char crf[16];
            std::snprintf(crf, sizeof crf, "%.1f", 45.0 - 40.0 * q);
            av_dict_set(&opts, "crf", crf, 0);
        }
    }
    if (entry->tuning == Tuning::QScale && !byRate) {
        const int qscale = 31 - static_cast<int>(q * 29.0 + 0.5); // 31 .. 2
        c->flags |= AV_CODEC_FLAG_QSCALE;
        c->global_quality = FF_QP2LAMBDA * qscale;
    }
    optsOwner.reset(opts);
    int err = avcodec_open2(c, codec, &opts);
    optsOwner.release();
    optsOwner.reset(opts);
    if (err < 0)
        return err == AVERROR(ENOMEM) ? AVIERR_MEMORY : AVIERR_COMPRESSOR;

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
    pictureBytes = av_image_get_buffer_size(encPixFmt, format.width, format.height, kPictureAlign);
    if (pictureBytes < 0)
        return AVIERR_BADFORMAT;
    picturePool.reset(av_buffer_pool_init(static_cast<std::size_t>(pictureBytes), av_buffer_alloc));
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
    const std::int64_t chunkBytes = 8 + size + (size & 1);
    std::int64_t end = 0, packets = 0, pending = 0;
    {
        std::lock_guard lock(mutex);
        if (workerFailure != AVIERR_OK) {
            Fail(workerFailure);
            return failure;
        }
        pending = queuedBytes;
        end = goodEnd + pending;
        packets = packetsMuxed + queuedPackets;
    }
    // Checked here rather than on the worker, so that the frame that would
    // not fit is the one whose write fails.
    if (!RoomFor(copies * chunkBytes, end, packets + copies - 1, pending)) {
        refusedForRoom = true;
        Fail(AVIERR_FILEWRITE);
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
            hr = Enqueue(std::move(zero));
        } else {
            hr = AVIERR_MEMORY;
        }
    }
    if (hr == AVIERR_OK) {
        pkt->pts = pkt->dts = av_rescale_q(position, positionBase, stream->time_base);
        Job job;
        job.packet = std::move(pkt);
        job.fileBytes = chunkBytes;
        hr = Enqueue(std::move(job));
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
    // A fixed quantiser is taken from each frame, not from the context.
    if (encoder->flags & AV_CODEC_FLAG_QSCALE)
        job.frame->quality = encoder->global_quality;
    return Enqueue(std::move(job));
}

HRESULT_AVI Writer::Impl::Enqueue(Job job)
{
    std::unique_lock lock(mutex);
    cv.wait(lock, [this] { return queue.size() < kQueueDepth || workerFailure != AVIERR_OK; });
    if (workerFailure != AVIERR_OK)
        return workerFailure;
    if (job.packet) {
        ++queuedPackets;
        queuedBytes += job.fileBytes;
    }
    queue.push_back(std::move(job));
    cv.notify_all();
    return AVIERR_OK;
}

HRESULT_AVI Writer::Impl::WriteEncoded(std::int64_t position, const std::uint8_t* bits)
{
    {
        std::lock_guard lock(mutex);
        if (workerFailure != AVIERR_OK) {
            Fail(workerFailure);
            return failure;
        }
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

void Writer::Impl::WorkerLoop()
{
    PacketPtr pkt(av_packet_alloc());
    for (;;) {
        Job item;
        {
            std::unique_lock lock(mutex);
            cv.wait(lock, [this] { return !queue.empty() || stopping; });
            if (queue.empty())
                break;
            item = std::move(queue.front());
            queue.pop_front();
            cv.notify_all();
            if (workerFailure != AVIERR_OK)
                continue; // drop what is left once the movie cannot go on
        }
        HRESULT_AVI hr = AVIERR_OK;
        if (item.packet)
            hr = Mux(item.packet.get());
        else
            hr = pkt ? EncodeAndMux(item.frame.get(), pkt.get()) : AVIERR_MEMORY;
        std::lock_guard lock(mutex);
        if (item.packet) {
            --queuedPackets;
            queuedBytes -= item.fileBytes;
        }
        if (hr != AVIERR_OK) {
            if (workerFailure == AVIERR_OK)
                workerFailure = hr;
            cv.notify_all();
        }
    }
}

HRESULT_AVI Writer::Impl::EncodeAndMux(AVFrame* frame, AVPacket* pkt)
{
    int err = avcodec_send_frame(encoder.get(), frame);
    if (err < 0 && err != AVERROR_EOF)
        return EncoderError(err);
    for (;;) {
        err = avcodec_receive_packet(encoder.get(), pkt);
        if (err == AVERROR(EAGAIN) || err == AVERROR_EOF)
            return AVIERR_OK;
        if (err < 0)
            return EncoderError(err);
        av_packet_rescale_ts(pkt, encoder->time_base, stream->time_base);
        pkt->stream_index = stream->index;
        const HRESULT_AVI hr = Mux(pkt);
        av_packet_unref(pkt);
        if (hr != AVIERR_OK)
            return hr;
    }
}

// Whether a packet of that size still leaves room on the disk, and within the
// process's file-size limit, for the indexes that close the movie. A frame
// refused here leaves the muxer as it was, so the movie is closed complete and
// indexed with every frame before it; FFmpeg cannot close a file properly
// once a write has failed.
bool Writer::Impl::RoomFor(std::int64_t bytes, std::int64_t end, std::int64_t packets, std::int64_t pending) const
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
    if (::statvfs(path.c_str(), &disk) == 0 &&
        static_cast<std::int64_t>(disk.f_bavail) * static_cast<std::int64_t>(disk.f_frsize) <
            need + kDiskMargin + pending)
        return false;
    return true;
}

HRESULT_AVI Writer::Impl::Mux(AVPacket* pkt)
{
    std::int64_t packets = 0;
    {
        std::lock_guard lock(mutex);
        packets = packetsMuxed;
    }
    if (!RoomFor(pkt->size, avio_tell(fmt->pb), packets, 0)) {
        refusedForRoom = true;
        return AVIERR_FILEWRITE;
    }
    // Unbuffered for the packet itself: its bytes go to the file in one
    // write instead of being copied through the buffer first.
    fmt->pb->direct = 1;
    const int err = av_write_frame(fmt.get(), pkt);
    fmt->pb->direct = 0;
    if (err < 0) {
        writeBroken = true;
        return MuxError(err);
    }
    // Flushed per frame, so that a full disk is seen at the frame it hits.
    avio_flush(fmt->pb);
    if (fmt->pb->error < 0) {
        writeBroken = true;
        return MuxError(fmt->pb->error);
    }
    const std::int64_t end = avio_tell(fmt->pb);
    std::lock_guard lock(mutex);
    goodEnd = end;
    ++packetsMuxed;
    return AVIERR_OK;
}

void Writer::Impl::StopWorker()
{
    if (!worker.joinable())
        return;
    {
        std::lock_guard lock(mutex);
        stopping = true;
    }
    cv.notify_all();
    worker.join();
    Fail(workerFailure);
}

HRESULT_AVI Writer::EndStream()
{
    Impl& m = *impl_;
    if (m.streamEnded)
        return m.failure;
    m.streamEnded = true;
    m.StopWorker();
    // The encoder may hold dozens of frames (x264's look-ahead); a failure
    // while they go out is the movie's failure like any other.
    if (m.headerWritten && m.encoder && m.failure == AVIERR_OK) {
        PacketPtr pkt(av_packet_alloc());
        m.Fail(pkt ? m.EncodeAndMux(nullptr, pkt.get()) : AVIERR_MEMORY);
    }
    return m.failure;
}

std::int64_t Writer::FramesInFile() const
{
    const Impl& m = *impl_;
    return m.finished ? m.framesInFile : m.packetsMuxed;
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
    bool complete = !m.writeBroken;
    if (complete && m.headerWritten) {
        const int err = av_write_trailer(m.fmt.get());
        if (err < 0) {
            m.Fail(MuxError(err));
            complete = false;
        }
    }
    if (m.fmt->pb) {
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
        m.framesInFile = m.packetsMuxed;
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
