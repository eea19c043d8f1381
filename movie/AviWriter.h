// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The movie file behind the AVIFile handles: FFmpeg's AVI muxer, one video
// stream, and either the DIB bytes as they come or one of the encoders.
// Private to the movie layer; mdAVI.cpp turns handles and records into calls
// of this class.
#include "AviCompressor.h"
#include "AviResult.h"
#include "BitmapInfo.h"
#include "FrameRate.h"
#include "WaveFormat.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace avi {

struct Settings {
    const AviCompressor* compressor = nullptr; // one that CompressorForFourCC() answered
    std::uint32_t keyFrameEvery = 0;
    std::uint32_t quality = 0;        // 0..10000
    std::uint32_t bytesPerSecond = 0; // 0: quality rules
    FrameRate frameRate;              // one stream position a frame
};

// What AviSetLibraryLog() does.
void SetLibraryLog(bool on);

class Writer {
public:
    // Creates the (empty) file now, so that a path that cannot be written
    // fails at once with AVIERR_FILEOPEN.
    static HRESULT_AVI Create(const std::string& path, std::unique_ptr<Writer>& out);
    // Whether FFmpeg can hold pictures of the format's size; a format it
    // cannot is no stream format, whatever the compressor.
    static bool CanHold(const bmp::FrameFormat& format);
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    // A sound track beside the picture, in samples as the format says; only
    // before Start(), which writes it into the header.
    HRESULT_AVI AddSound(const wav::Format& format);

    // Sets up the encoder and writes the file header. Once only.
    HRESULT_AVI Start(const Settings& settings, const bmp::FrameFormat& format);
    bool Started() const;

    // One frame at stream position `position`. The caller's bytes are
    // copied or converted before this returns, so the caller may reuse them
    // at once; the file is written on the layer's worker thread. A frame that
    // would leave no room to close the file is refused here; any other
    // failure of an earlier frame that surfaced since is answered here.
    HRESULT_AVI Write(std::int64_t position, const void* bits, std::size_t cb);

    // `count` samples of the sound track from sample `first` on, which must
    // follow those written before. Copied before this returns; written
    // between the frames in the order of the calls.
    HRESULT_AVI WriteSound(std::int64_t first, std::int64_t count, const void* data, std::size_t cb);

    // No more frames: the worker finishes what is queued and the encoder
    // gives up the frames it holds, so that FramesInFile() is final short of
    // the indexes. Safe to call more than once; Finish() calls it.
    HRESULT_AVI EndStream();

    // Frames in the file, position 0 included: once Finish() has answered,
    // what a reader finds (0 when the file had to be removed).
    std::int64_t FramesInFile() const;

    // Writes the indexes and closes the file, whatever happened before. A
    // file that cannot be closed as a complete movie (its header, a frame or
    // its indexes failed to reach the disk) is removed: a reader could not
    // make sense of it. Safe to call more than once. Answers the first
    // failure of the whole movie, if any.
    HRESULT_AVI Finish();

private:
    Writer();
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace avi
