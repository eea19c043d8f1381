// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// reelcast-batch's command line: its options as given, their parsing and
// its help text.
#include "MovieBuild.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace batch {

struct Options {
    std::string framesDir;
    std::string output;
    std::string fps = "15";
    std::optional<ExactRate> rate; // none: --fps rules
    std::string audio;
    int blend = 1;
    std::optional<std::pair<std::string, std::string>> size;
    std::string codec = "raw";
    std::string keyFrameEvery;
    std::string dataRate;
    std::string quality = "75";
    bool overwrite = false;
    bool strict = false;
    bool verbose = false;
    bool listCodecs = false;
    bool version = false;
    bool help = false;
};

struct UsageError {
    std::string message;
};

// The help text: usage, options, examples and exit codes.
extern const char* const kUsage;

// The options of argv; throws UsageError.
Options ParseArguments(int argc, const char* const* argv);

// A rate as --rate takes it: N or N/D.
std::string RateText(const FrameRate& r);

// The rates --rate takes: 1 to this many frames a second (FFmpeg's AVI
// muxer writes 600 in place of anything faster).
constexpr std::uint64_t kMostFramesPerSecond = 1000;
// Whether a header rate is one --rate takes.
bool IsMovieRate(const FrameRate& r);

} // namespace batch
