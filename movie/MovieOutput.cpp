// SPDX-License-Identifier: GPL-2.0-or-later
#include "MovieOutput.h"

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

#include <cerrno>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace avi {

bool MovieOutput::Open(const std::string& path)
{
    Close();
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    return fd_ >= 0;
}

bool MovieOutput::Close()
{
    const int was = std::exchange(fd_, -1);
    return was < 0 || ::close(was) == 0;
}

AVIOContext* MovieOutput::NewIo()
{
    constexpr int kBufferSize = 64 * 1024;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
    AVIOContext* pb = buffer ? avio_alloc_context(buffer, kBufferSize, 1, this, nullptr, Write, Seek) : nullptr;
    if (!pb)
        av_free(buffer);
    return pb;
}

int MovieOutput::Write(void* opaque, std::uint8_t* buf, int size)
{
    const int fd = static_cast<MovieOutput*>(opaque)->fd_;
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

std::int64_t MovieOutput::Seek(void* opaque, std::int64_t offset, int whence)
{
    const int fd = static_cast<MovieOutput*>(opaque)->fd_;
    if (whence & AVSEEK_SIZE) {
        struct stat st {};
        return ::fstat(fd, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : AVERROR(errno);
    }
    const off_t at = ::lseek(fd, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : static_cast<std::int64_t>(at);
}

} // namespace avi
