// SPDX-License-Identifier: GPL-2.0-or-later
#include "BatchOptions.h"

#include <cstdint>
#include <numeric>
#include <string>
#include <vector>

namespace batch {

const char* const kUsage =
    "Usage: reelcast-batch FRAMES_DIR OUTPUT.avi [options]\n"
    "Turns the .tga frames of FRAMES_DIR, in name order, into the movie OUTPUT.avi.\n"
    "The first frame gives the movie its format; the frames after it are the movie.\n"
    "Every Targa kind is read: colour-mapped, true colour and grey, plain or run-length,\n"
    "8 to 32 bits a pixel (the window reads uncompressed 24-bit files only). Every frame\n"
    "file's header is looked at first; a file that cannot be read repeats the frame\n"
    "before it, and the end of the run names it.\n"
    "\n"
    "Options:\n"
    "  --fps N             frames per second, as the window takes it (default 15; 1 to 50,\n"
    "                      the movie header at most 30)\n"
    "  --rate RATE         the exact rate instead: N (1 to 1000), N/D as in 30000/1001, or\n"
    "                      audio (the frames last as long as the --audio sound)\n"
    "  --audio FILE.wav    put the sound of a WAV file (PCM of 8, 16, 24 or 32 bits, or\n"
    "                      32-bit float) in the movie, from its first frame on\n"
    "  --blend N           average each run of N files (2 to 64) into one frame, in linear\n"
    "                      light: motion blur from a high-rate recording\n"
    "  --size WxH          force every frame to W x H pixels\n"
    "  --codec NAME        compressor (default raw); see --list-codecs\n"
    "  --keyframe-every N  a key frame every N frames, where the compressor has them\n"
    "  --datarate KB       data rate in KB/sec, where the compressor has one\n"
    "  --quality Q         quality 0 to 100 (default 75), where the compressor has one\n"
    "  --overwrite         replace OUTPUT.avi when it exists\n"
    "  --strict            a complete movie or none: a file that cannot be read, a gap in\n"
    "                      the numbering or a frame of another size ends the run before\n"
    "                      anything is written; a file found unreadable only while its\n"
    "                      pixels are decoded, or any failure, removes the movie\n"
    "  --verbose           show FFmpeg's own messages on standard error\n"
    "  --list-codecs       list the compressors of this build, with advice, and exit\n"
    "  --version           show the version and exit\n"
    "  --help              show this help and exit\n"
    "\n"
    "Example: a 60 fps recording and the game's sound, ending together:\n"
    "  reelcast-batch demo/ demo.avi --audio demo/sound.wav --rate audio\n"
    "and a 300 fps one blended 5 to 1 into a 60 fps movie:\n"
    "  reelcast-batch demo/ demo.avi --blend 5 --rate 60\n"
    "\n"
    "Exit status: 0 when the movie was created, with a frame for every file (files that\n"
    "could not be read repeat the frame before them and are named at the end); 1 when\n"
    "it was not, or not whole; 2 for a usage error; 130 when stopped by a signal.\n";

namespace {

// --rate: N, N/D or audio; a rate of 1 to 1000 frames a second that a
// movie's header holds exactly, once reduced.
std::optional<ExactRate> ParseRate(const std::string& text)
{
    if (text == "audio")
        return ExactRate{{}, true};
    const auto whole = [&](const std::string& part) -> std::uint64_t {
        if (part.empty() || part.size() > 18 || part.find_first_not_of("0123456789") != std::string::npos)
            throw UsageError{"--rate takes N, N/D or audio, as in 60 or 30000/1001, not \"" + text + "\""};
        return std::stoull(part);
    };
    const auto slash = text.find('/');
    std::uint64_t n = whole(text.substr(0, slash));
    std::uint64_t d = slash == std::string::npos ? 1 : whole(text.substr(slash + 1));
    if (d == 0 || n < d || n / kMostFramesPerSecond > d ||
        (n / kMostFramesPerSecond == d && n % kMostFramesPerSecond != 0))
        throw UsageError{"--rate " + text + " is not 1 to 1000 frames a second"};
    const std::uint64_t common = std::gcd(n, d);
    n /= common, d /= common;
    if (n > kMaxRateField || d > kMaxRateField) {
        const FrameRate closest = ClosestRate(n, d);
        throw UsageError{"--rate " + text + " cannot be held exactly: a movie's header takes a rate and a scale of "
                         "at most " + std::to_string(kMaxRateField) + " each, and " + std::to_string(n) + "/" +
                         std::to_string(d) + " is as far as it reduces; the closest it holds is --rate " +
                         RateText(closest)};
    }
    return ExactRate{{static_cast<std::uint32_t>(n), static_cast<std::uint32_t>(d)}, false};
}

} // namespace

bool IsMovieRate(const FrameRate& r)
{
    return r.scale > 0 && r.rate >= r.scale && r.rate <= kMostFramesPerSecond * r.scale;
}

std::string RateText(const FrameRate& r)
{
    return r.scale == 1 ? std::to_string(r.rate) : std::to_string(r.rate) + "/" + std::to_string(r.scale);
}

Options ParseArguments(int argc, const char* const* argv)
{
    Options o;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool hasValue = false;
        if (arg.rfind("--", 0) == 0) {
            const auto eq = arg.find('=');
            if (eq != std::string::npos) {
                value = arg.substr(eq + 1);
                arg.resize(eq);
                hasValue = true;
            }
        }
        // An empty value is what a script's unset variable gives: never
        // taken as the option left out.
        auto takeValue = [&]() -> std::string {
            if (!hasValue) {
                if (i + 1 >= argc)
                    throw UsageError{arg + " needs a value"};
                value = argv[++i];
            }
            if (value.empty())
                throw UsageError{arg + " needs a value, not an empty one"};
            return value;
        };
        if (arg == "--help" || arg == "-h")
            o.help = true;
        else if (arg == "--list-codecs")
            o.listCodecs = true;
        else if (arg == "--version")
            o.version = true;
        else if (arg == "--verbose")
            o.verbose = true;
        else if (arg == "--overwrite")
            o.overwrite = true;
        else if (arg == "--strict")
            o.strict = true;
        else if (arg == "--fps")
            o.fps = takeValue();
        else if (arg == "--rate")
            o.rate = ParseRate(takeValue());
        else if (arg == "--audio")
            o.audio = takeValue();
        else if (arg == "--blend") {
            const std::string n = takeValue();
            o.blend = n.size() <= 2 && n.find_first_not_of("0123456789") == std::string::npos ? std::stoi("0" + n) : 0;
            if (o.blend < 2 || o.blend > 64)
                throw UsageError{"--blend takes a number of files from 2 to 64, not \"" + n + "\""};
        }
        else if (arg == "--codec")
            o.codec = takeValue();
        else if (arg == "--keyframe-every")
            o.keyFrameEvery = takeValue();
        else if (arg == "--datarate")
            o.dataRate = takeValue();
        else if (arg == "--quality")
            o.quality = takeValue();
        else if (arg == "--size") {
            const std::string size = takeValue();
            const auto x = size.find_first_of("xX");
            if (x == std::string::npos)
                throw UsageError{"--size takes WIDTHxHEIGHT, as in 640x480, not \"" + size + "\""};
            o.size.emplace(size.substr(0, x), size.substr(x + 1));
        } else if (arg.size() > 1 && arg[0] == '-')
            throw UsageError{"unknown option " + arg};
        else
            positional.push_back(arg);
    }
    if (o.help || o.version || o.listCodecs)
        return o;
    if (positional.size() != 2)
        throw UsageError{"expected FRAMES_DIR and OUTPUT.avi"};
    o.framesDir = positional[0];
    o.output = positional[1];
    if (o.rate && o.rate->fromSound && o.audio.empty())
        throw UsageError{"--rate audio needs --audio FILE"};
    return o;
}

} // namespace batch
