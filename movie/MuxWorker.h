// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The movie's worker thread: encodes the pictures and muxes the packets that
// the caller queues, in the order queued, so that the encoder and the disk
// work while the caller prepares its next frame.
#include "AviResult.h"
#include "FfmpegHandles.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace avi {

// What a failed write of the muxer means to the caller: the disk (full,
// file too large, I/O) unless it ran out of memory.
HRESULT_AVI MuxError(int err);

// One item for the worker: a picture to encode, or a packet ready for the
// muxer (its stream_index set).
struct Job {
    FramePtr frame;
    PacketPtr packet;
    std::int64_t fileBytes = 0; // what the packet adds to the file
};

// A value that can only be reached with its mutex held.
template <typename T>
class LockedValue {
public:
    class Access {
    public:
        T* operator->() const { return &owner_.value_; }
        // Lets the lock go until `ready(value)` holds.
        template <typename Ready>
        void Wait(Ready ready)
        {
            owner_.changed_.wait(lock_, [&] { return ready(std::as_const(owner_.value_)); });
        }
        void NotifyAll() const { owner_.changed_.notify_all(); }

    private:
        friend class LockedValue;
        explicit Access(LockedValue& owner) : owner_(owner), lock_(owner.mutex_) {}
        LockedValue& owner_;
        std::unique_lock<std::mutex> lock_;
    };

    Access Lock() { return Access(*this); }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    T value_{};
};

class MuxWorker {
public:
    MuxWorker() = default;
    ~MuxWorker() { Stop(); }
    MuxWorker(const MuxWorker&) = delete;
    MuxWorker& operator=(const MuxWorker&) = delete;

    // Starts the thread on a muxer whose header is written. The pictures go
    // to `encoder`, its packets to `stream`. All three, and the file at
    // `path`, belong to the worker until Stop().
    HRESULT_AVI Start(AVFormatContext* fmt, AVCodecContext* encoder, AVStream* stream, std::string path);

    // Waits while the queue is full. Answers the worker's failure, if any,
    // instead of queueing.
    HRESULT_AVI Enqueue(Job job);

    // The worker's failure, if any; else AVIERR_FILEWRITE unless `packets`
    // more packets of `bytes` in all, behind what is queued, still leave room
    // to close the file. Asked on the caller's side, so that the frame that
    // would not fit is the one whose write fails.
    HRESULT_AVI Admit(std::int64_t bytes, std::int64_t packets) const;
    HRESULT_AVI Failure() const;

    // The worker muxes what is queued and ends. Answers its first failure.
    HRESULT_AVI Stop();
    // Once stopped: the encoder gives up the pictures it holds back.
    HRESULT_AVI Drain();
    // Once every picture is in: the sound still held back follows them.
    HRESULT_AVI ReleaseSound();

    std::int64_t PacketsMuxed() const;
    // The packets of the picture's stream among them.
    std::int64_t FramesMuxed() const;
    // A write reached the disk only in part: the muxer's picture of the file
    // no longer matches it, so no index written after could be trusted.
    bool WriteBroken() const;

private:
    // Everything both threads touch.
    struct Shared {
        std::deque<Job> queue;
        bool stopping = false;
        HRESULT_AVI failure = AVIERR_OK; // the worker's first
        std::int64_t goodEnd = 0;        // end of the last chunk known to be on disk
        // Each packet muxed costs an entry in the closing indexes.
        std::int64_t packetsMuxed = 0;
        std::int64_t framesMuxed = 0;
        // Packets queued and not yet muxed, and the bytes they will add.
        std::int64_t queuedPackets = 0;
        std::int64_t queuedBytes = 0;
        bool writeBroken = false;
    };
    static constexpr std::size_t kQueueDepth = 3;

    void Loop();
    HRESULT_AVI EncodeAndMux(AVFrame* frame, AVPacket* pkt);
    HRESULT_AVI Mux(AVPacket* pkt);
    // A picture's packet, then the sound it has caught up with.
    HRESULT_AVI MuxPicture(AVPacket* pkt);
    // Muxes the held sound that ends by the pictures' end in the file; all
    // of it with `all`.
    HRESULT_AVI MuxHeldSound(bool all);
    // pending: bytes queued for the file that the disk has not yet seen.
    bool RoomFor(std::int64_t bytes, std::int64_t end, std::int64_t packets, std::int64_t pending) const;

    mutable LockedValue<Shared> shared_;
    // Set before the thread starts and not changed after.
    AVFormatContext* fmt_ = nullptr;
    AVCodecContext* encoder_ = nullptr;
    AVStream* stream_ = nullptr;
    std::string path_;
    std::thread thread_;
    // On the worker's side only (and the caller's once it has stopped).
    // Sound goes into the file beside the pictures it plays with, however
    // many pictures the encoder holds back: a chunk waits here until the
    // pictures muxed reach its end. A movie cut short then holds no sound
    // beyond its last picture.
    std::deque<Job> heldSound_;
    std::int64_t picturesEnd_ = 0; // in the picture stream's time base

};

} // namespace avi
