// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Owning handles for the FFmpeg objects of the movie layer.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <memory>
#include <type_traits>

namespace avi {

// Frees a writer the layer allocated itself (a MovieOutput's), buffer
// included, which avformat_free_context leaves alone; the descriptor it
// writes to stays open.
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
