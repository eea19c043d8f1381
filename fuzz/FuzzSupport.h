// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Shared pieces of the fuzz targets: a scratch file of this process and a
// check that stops the run so the input is saved.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace fuzz {

// A file of this process only, on a RAM disk when there is one, so that two
// targets (or two copies of one) never write over each other's input.
inline std::string ScratchPath(const char* suffix)
{
    std::string dir = "/dev/shm";
    if (::access(dir.c_str(), W_OK) != 0) {
        const char* tmp = std::getenv("TMPDIR");
        dir = tmp && *tmp ? tmp : "/tmp";
    }
    return dir + "/reelcast-fuzz-" + std::to_string(::getpid()) + suffix;
}

inline void WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        std::perror(path.c_str());
        std::abort();
    }
    std::size_t done = 0;
    while (done < size) {
        const ssize_t w = ::write(fd, data + done, size - done);
        if (w <= 0) {
            std::perror(path.c_str());
            std::abort();
        }
        done += static_cast<std::size_t>(w);
    }
    ::close(fd);
}

// Scratch files are removed when the fuzzer exits normally.
struct ScratchFiles {
    std::string paths[2];
    ~ScratchFiles()
    {
        for (const auto& p : paths)
            if (!p.empty())
                ::unlink(p.c_str());
    }
};

} // namespace fuzz

// Aborts with the broken property, so that libFuzzer keeps the input.
#define FUZZ_CHECK(cond)                                                                          \
    do {                                                                                          \
        if (!(cond)) {                                                                            \
            std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #cond);      \
            std::abort();                                                                         \
        }                                                                                         \
    } while (0)
