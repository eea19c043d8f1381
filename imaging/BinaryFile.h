#pragma once
// Little-endian field access and a file descriptor that closes itself, for the
// file-format code of this library. Every file is opened, read or written and
// closed within one call of its routine; this keeps that true on every path.
#include "FileError.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace binfile {

inline std::uint16_t GetU16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
inline std::uint32_t GetU32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::int16_t GetI16(const std::uint8_t* p) { return static_cast<std::int16_t>(GetU16(p)); }
inline std::int32_t GetI32(const std::uint8_t* p) { return static_cast<std::int32_t>(GetU32(p)); }

inline void PutU16(std::uint8_t* p, std::uint32_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutU32(std::uint8_t* p, std::uint32_t v)
{
    PutU16(p, v);
    PutU16(p + 2, v >> 16);
}

inline std::string ErrnoText(int err) { return std::strerror(err); }

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Fd& operator=(Fd&& other) noexcept
    {
        if (this != &other) {
            if (fd_ >= 0)
                ::close(fd_);
            fd_ = other.fd_;
            other.fd_ = -1;
        }
        return *this;
    }
    ~Fd()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int get() const { return fd_; }
    bool ok() const { return fd_ >= 0; }

    // Closes now and reports whether the kernel accepted the last writes.
    bool Close()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd < 0 || ::close(fd) == 0;
    }

    // The file's length, or -1.
    std::int64_t Length() const
    {
        struct stat st {};
        return ::fstat(fd_, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
    }

    // Reads up to n bytes at offset; returns how many were read (fewer only
    // at the end of the file), or -1 with errno set.
    std::int64_t ReadAt(void* buf, std::size_t n, std::int64_t offset) const
    {
        std::size_t done = 0;
        auto* out = static_cast<char*>(buf);
        while (done < n) {
            const ssize_t r = ::pread(fd_, out + done, n - done, static_cast<off_t>(offset + done));
            if (r < 0) {
                if (errno == EINTR)
                    continue;
                return -1;
            }
            if (r == 0)
                break;
            done += static_cast<std::size_t>(r);
        }
        return static_cast<std::int64_t>(done);
    }

    // Fills every piece, in order, from offset on; false with errno set
    // on failure, or with errno 0 when the file ends first.
    bool ReadAllVAt(struct iovec* pieces, int count, std::int64_t offset) const
    {
        while (count > 0) {
            const ssize_t r = ::preadv(fd_, pieces, count, static_cast<off_t>(offset));
            if (r < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            if (r == 0) {
                errno = 0;
                return false;
            }
            offset += r;
            Advance(pieces, count, static_cast<std::size_t>(r));
        }
        return true;
    }

    // Writes every byte of the pieces, in order, at the current position.
    // Returns false with errno set on failure.
    bool WriteAll(struct iovec* pieces, int count) const
    {
        while (count > 0) {
            const ssize_t w = ::writev(fd_, pieces, count);
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            Advance(pieces, count, static_cast<std::size_t>(w));
        }
        return true;
    }

    bool WriteAllAt(const void* buf, std::size_t n, std::int64_t offset) const
    {
        std::size_t done = 0;
        const auto* in = static_cast<const char*>(buf);
        while (done < n) {
            const ssize_t w = ::pwrite(fd_, in + done, n - done, static_cast<off_t>(offset + done));
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            done += static_cast<std::size_t>(w);
        }
        return true;
    }

private:
    // Drops the first n bytes from the pieces after a partial transfer.
    static void Advance(struct iovec*& pieces, int& count, std::size_t n)
    {
        while (count > 0 && n >= pieces->iov_len) {
            n -= pieces->iov_len;
            ++pieces;
            --count;
        }
        if (count > 0) {
            pieces->iov_base = static_cast<char*>(pieces->iov_base) + n;
            pieces->iov_len -= n;
        }
    }

    int fd_ = -1;
};

inline Fd OpenForReading(const std::string& path) { return Fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)); }

} // namespace binfile
