// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// reelcast-batch's main, called in this process as a script calls the program; and the WAV files it is given.
#include "BatchFrontEnd.h"
#include "TestSupport.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

namespace testsupport {

struct Outcome { int code; std::string out, err; };

// The bar is drawn, into err, when the process's standard error is a terminal: here only when asked.
inline Outcome Batch(std::vector<std::string> args, bool terminal = false)
{
    args.insert(args.begin(), "reelcast-batch");
    std::vector<const char*> argv(args.size());
    std::transform(args.begin(), args.end(), argv.begin(), [](const std::string& a) { return a.c_str(); });
    std::ostringstream out, err;
    int master = -1, fd = -1;
    terminal ? ::openpty(&master, &fd, nullptr, nullptr, nullptr) : (fd = ::open("/dev/null", O_WRONLY));
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(fd, STDERR_FILENO);
    const int code = BatchMain(static_cast<int>(argv.size()), argv.data(), out, err);
    ::dup2(saved, STDERR_FILENO), ::close(saved), ::close(fd), ::close(master);
    return {code, out.str(), err.str()};
}

// A WAV file made independently of the program's reader: an odd-length (padded) chunk before the data, then samples
// whose bytes all differ from their neighbours'; with a mask, an extensible record. samples gets the data's bytes.
inline Bytes Wav(std::uint16_t tag, int channels, int rate, int bits, double seconds, std::uint32_t mask = 0,
                 Bytes* samples = nullptr)
{
    Bytes f{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 0, 0, 0, 0};
    const auto put = [&](std::uint64_t v, int n) {
        for (int i = 0; i < n; ++i)
            f.push_back(static_cast<std::uint8_t>(v >> 8 * i));
    };
    const int block = channels * bits / 8;
    const auto bytes = static_cast<std::size_t>(rate * seconds) * block;
    f[16] = mask ? 40 : 16;
    put(mask ? 0xFFFE : tag, 2), put(channels, 2), put(rate, 4), put(rate * block, 4), put(block, 2), put(bits, 2);
    if (mask) // valid bits, the mask, and the sub-format's GUID
        put(22, 2), put(bits, 2), put(mask, 4), put(tag, 2),
            f.insert(f.end(), {0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71});
    f.insert(f.end(), {'L', 'I', 'S', 'T', 3, 0, 0, 0, 'a', 'b', 'c', 0, 'd', 'a', 't', 'a'});
    put(bytes, 4);
    const std::size_t header = f.size();
    for (std::size_t i = 0; i < bytes / 4 * 4; i += 4) // floats of -1 to 1 are whole words
        put(tag == 3 ? std::bit_cast<std::uint32_t>(std::sin(i * 0.001f)) : i * 2654435761u >> 7, 4);
    f.resize(header + bytes, 0x5A);
    for (int i = 0; i < 4; ++i)
        f[4 + i] = static_cast<std::uint8_t>((f.size() - 8) >> 8 * i);
    if (samples)
        samples->assign(f.begin() + static_cast<std::ptrdiff_t>(header), f.end());
    return f;
}

} // namespace testsupport
