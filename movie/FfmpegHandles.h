#pragma once
// Owning handles for the FFmpeg objects of the movie layer, and the movie's
// own output under FFmpeg's buffered writer.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <cerrno>
#include <cstdint>
#include <memory>
#include <type_traits>
#include <utility>

#include <sys/stat.h>
#include <unistd.h>

namespace avi {

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

    // FFmpeg's buffered writer on this output; null when out of memory.
    AVIOContext* NewIo()
    {
        constexpr int kBufferSize = 64 * 1024;
        auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
        AVIOContext* pb = buffer ? avio_alloc_context(buffer, kBufferSize, 1, this, nullptr, Write, Seek) : nullptr;
        if (!pb)
            av_free(buffer);
        return pb;
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

// Frees the writer of a MovieOutput (not its descriptor).
inline void FreeMovieIo(AVIOContext*& pb)
{
    if (!pb)
        return;
    av_freep(&pb->buffer);
    avio_context_free(&pb);
}

// FFmpeg frees some objects by pointer and others by the pointer's address.
template <auto Free>
struct FreeWith {
    template <typename T>
    void operator()(T* p) const
    {
        if constexpr (std::is_invocable_v<decltype(Free), T**>)
            Free(&p);
        else
            Free(p);
    }
};
struct FormatContextFree {
    void operator()(AVFormatContext* ctx) const
    {
        if (ctx)
            FreeMovieIo(ctx->pb);
        avformat_free_context(ctx);
    }
};
using FormatContextPtr = std::unique_ptr<AVFormatContext, FormatContextFree>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, FreeWith<avcodec_free_context>>;
using FramePtr = std::unique_ptr<AVFrame, FreeWith<av_frame_free>>;
using PacketPtr = std::unique_ptr<AVPacket, FreeWith<av_packet_free>>;
using SwsPtr = std::unique_ptr<SwsContext, FreeWith<sws_freeContext>>;
using BufferPoolPtr = std::unique_ptr<AVBufferPool, FreeWith<av_buffer_pool_uninit>>;

} // namespace avi
