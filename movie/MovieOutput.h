// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The movie's output: a descriptor of our own under FFmpeg's buffered
// writer. FFmpeg's file protocol refuses unbuffered writes above 256 KB; here
// a whole frame can go from the caller's bytes to the file in one write.
#include <cstdint>
#include <string>

struct AVIOContext;

namespace avi {

class MovieOutput {
public:
    MovieOutput() = default;
    MovieOutput(const MovieOutput&) = delete;
    MovieOutput& operator=(const MovieOutput&) = delete;
    ~MovieOutput() { Close(); }

    // Creates the file, or empties it. False with errno set when it cannot.
    bool Open(const std::string& path);
    // False when the descriptor was open and closing it failed: the last
    // bytes written may not have reached the disk.
    bool Close();

    // FFmpeg's buffered writer on this output; null when out of memory. It
    // points at this object, which must outlive it; FreeMovieIo() frees it.
    AVIOContext* NewIo();

private:
    static int Write(void* opaque, std::uint8_t* buf, int size);
    static std::int64_t Seek(void* opaque, std::int64_t offset, int whence);

    int fd_ = -1;
};

} // namespace avi
