// SPDX-License-Identifier: GPL-2.0-or-later
#include "FileIO.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <fnmatch.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace fileio {
namespace {

constexpr std::size_t kMaxPieces = 1024; // IOV_MAX on Linux

// Drops the first n bytes from the pieces after a partial transfer.
void Advance(iovec*& pieces, std::size_t& count, std::size_t n)
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

template <typename Transfer>
bool AllPieces(const Piece* from, std::size_t count, Transfer transfer)
{
    std::vector<iovec> pieces(std::min(count, kMaxPieces));
    while (count > 0) {
        std::size_t batch = std::min(count, kMaxPieces);
        std::transform(from, from + batch, pieces.begin(), [](const Piece& p) { return iovec{p.data, p.size}; });
        from += batch;
        count -= batch;
        iovec* at = pieces.data();
        while (batch > 0) {
            const ssize_t done = transfer(at, static_cast<int>(batch));
            // The end of the file first: errno may still say an earlier
            // call was interrupted.
            if (done == 0) {
                errno = 0;
                return false;
            }
            if (done < 0 && errno == EINTR)
                continue;
            if (done < 0)
                return false;
            Advance(at, batch, static_cast<std::size_t>(done));
        }
    }
    return true;
}

} // namespace

File::File(File&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

File& File::operator=(File&& other) noexcept
{
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

File::~File()
{
    Close();
}

File File::OpenForReading(const std::string& path)
{
    return File(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
}

const char* File::NotPlainKind() const
{
    struct stat st {};
    if (::fstat(fd_, &st) != 0)
        return "a file whose kind cannot be told";
    switch (st.st_mode & S_IFMT) {
    case S_IFREG:
        return nullptr;
    case S_IFDIR:
        return "a directory";
    case S_IFIFO:
        return "a FIFO";
    case S_IFCHR:
        return "a character device";
    case S_IFBLK:
        return "a block device";
    case S_IFSOCK:
        return "a socket";
    default:
        return "not a plain file";
    }
}

File File::Create(const std::string& path)
{
    return File(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
}

File File::OpenOwnedForOverwrite(const std::string& path, std::int64_t& size)
{
    // Without O_NONBLOCK a pipe put in the file's place would hold the open
    // until some reader came.
    File file(::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat st {};
    if (!file.ok() || ::fstat(file.fd_, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 ||
        st.st_uid != ::geteuid() || ::fcntl(file.fd_, F_SETFL, 0) != 0)
        return File();
    size = static_cast<std::int64_t>(st.st_size);
    return file;
}

bool File::Close()
{
    const int fd = std::exchange(fd_, -1);
    return fd < 0 || ::close(fd) == 0;
}

std::int64_t File::Length() const
{
    struct stat st {};
    return ::fstat(fd_, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
}

std::int64_t File::ReadAt(void* buf, std::size_t n, std::int64_t offset) const
{
    std::size_t done = 0;
    auto* out = static_cast<char*>(buf);
    while (done < n) {
        const ssize_t r = ::pread(fd_, out + done, n - done, static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return -1;
        if (r == 0)
            break;
        done += static_cast<std::size_t>(r);
    }
    return static_cast<std::int64_t>(done);
}

bool File::ReadAllAt(const Piece* pieces, std::size_t count, std::int64_t offset) const
{
    return AllPieces(pieces, count, [&](const iovec* at, int n) {
        const ssize_t r = ::preadv(fd_, at, n, static_cast<off_t>(offset));
        if (r > 0)
            offset += r;
        return r;
    });
}

bool File::WriteAll(const Piece* pieces, std::size_t count) const
{
    return AllPieces(pieces, count, [&](const iovec* at, int n) { return ::writev(fd_, at, n); });
}

bool File::TruncateHere() const
{
    const off_t end = ::lseek(fd_, 0, SEEK_CUR);
    return end >= 0 && (Length() <= end || ::ftruncate(fd_, end) == 0);
}

std::string ErrorText(int err)
{
    return std::strerror(err);
}

int Delete(const std::string& path)
{
    return ::unlink(path.c_str()) == 0 || errno == ENOENT ? 0 : errno;
}

bool RenameNoReplace(const std::string& from, const std::string& to)
{
    return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
}

bool IsRegularFile(const std::string& path, bool owned)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (!owned || st.st_uid == ::geteuid());
}

bool IsDirectory(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int ProcessId()
{
    return static_cast<int>(::getpid());
}

bool ProcessIsGone(int pid)
{
    errno = 0; // what an earlier call left there must not count
    return pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

bool MatchesPattern(const std::string& pattern, const std::string& name)
{
    return ::fnmatch(pattern.c_str(), name.c_str(), FNM_CASEFOLD | FNM_PERIOD) == 0;
}

bool StandardErrorIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

} // namespace fileio
