#include "BatchFrontEnd.h"

#include "FileIO.h"
#include "MovieBuild.h"
#include "StopSignals.h"
#include "TextValue.h"
#include "mdAVI.h"
#include "mdFile.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <numeric>
#include <cstdio>
#include <iomanip>
#include <limits>
#include <locale>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int kExitCreated = 0;
constexpr int kExitNotCreated = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

const char* const kUsage =
    "Usage: reelcast-batch FRAMES_DIR OUTPUT.avi [options]\n"
    "Turns the .tga frames of FRAMES_DIR, in name order, into the movie OUTPUT.avi.\n"
    "The first frame gives the movie its format; the frames after it are the movie.\n"
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
    "  --verbose           show FFmpeg's own messages on standard error\n"
    "  --list-codecs       list the compressors of this build, with advice, and exit\n"
    "  --version           show the version and exit\n"
    "  --help              show this help and exit\n"
    "\n"
    "Example: a 60 fps recording and the game's sound, ending together:\n"
    "  reelcast-batch demo/ demo.avi --audio demo/sound.wav --rate audio\n"
    "and a 300 fps one blended 5 to 1 into a 60 fps movie:\n"
    "  reelcast-batch demo/ demo.avi --blend 5 --rate 60\n";

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
    bool verbose = false;
    bool listCodecs = false;
    bool version = false;
    bool help = false;
};

struct UsageError {
    std::string message;
};

// --rate: N, N/D or audio; a rate of 1 to 1000 frames a second.
std::optional<ExactRate> ParseRate(const std::string& text)
{
    if (text.empty())
        return std::nullopt;
    if (text == "audio")
        return ExactRate{{}, true};
    const auto whole = [&](const std::string& part) -> std::uint64_t {
        if (part.empty() || part.size() > 10 || part.find_first_not_of("0123456789") != std::string::npos)
            throw UsageError{"--rate takes N, N/D or audio, as in 60 or 30000/1001, not \"" + text + "\""};
        return std::stoull(part);
    };
    const auto slash = text.find('/');
    const std::uint64_t n = whole(text.substr(0, slash));
    const std::uint64_t d = slash == std::string::npos ? 1 : whole(text.substr(slash + 1));
    if (n < d || n > 1000 * d || n > UINT32_MAX || d > UINT32_MAX)
        throw UsageError{"--rate " + text + " is not 1 to 1000 frames a second"};
    return ExactRate{{static_cast<std::uint32_t>(n), static_cast<std::uint32_t>(d)}, false};
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
        auto takeValue = [&]() -> std::string {
            if (hasValue)
                return value;
            if (i + 1 >= argc)
                throw UsageError{arg + " needs a value"};
            return argv[++i];
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

const AviCompressor* CompressorNamed(const std::string& name)
{
    for (const auto& c : AviCompressors())
        if (c.name == name)
            return &c;
    return nullptr;
}

std::string Duration(double seconds)
{
    const auto s = static_cast<long>(seconds + 0.5);
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

std::string WithNewlines(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i)
        if (text[i] != '\r' || i + 1 >= text.size() || text[i + 1] != '\n')
            out += text[i];
    return out;
}

// What the command line asks for, as the run takes it.
BuildRequest RequestOf(const Options& o, const wav::Reader* sound)
{
    BuildRequest request;
    request.directory = o.framesDir;
    request.output = o.output;
    request.widthText = o.size ? o.size->first : "512";
    request.heightText = o.size ? o.size->second : "384";
    request.fpsText = o.fps;
    request.force = o.size.has_value();
    request.exactRate = o.rate;
    request.sound = sound;
    request.blend = o.blend;
    return request;
}

// Answers the run from the command line: the overwrite from --overwrite,
// the compressor from --codec and its settings; reports go to standard error
// at once, and a stop signal asks the run to stop as Cancel would.
class BatchHost : public BuildQuestions, public BuildSink {
public:
    BatchHost(const Options& o, const AviCompressor& codec, BuildState& state, std::ostream& err, bool terminal)
        : o_(o), codec_(codec), state_(state), err_(err), terminal_(terminal)
    {
        try {
            locale_ = std::locale("");
        } catch (const std::runtime_error&) {
            locale_ = std::locale::classic();
        }
    }

    void SetStatus(const std::string& caption) override { status_ = caption; }
    void ShowProgress(float) override {}

    std::string FormatPercent(double percent) const override
    {
        std::ostringstream text;
        text.imbue(locale_);
        text << std::fixed << std::setprecision(1) << percent;
        return text.str();
    }

    // No picture box here: the bitmap only has to be there and readable.
    std::string ShowFrame(const std::string& bitmap) override
    {
        if (!fileio::File::OpenForReading(bitmap).ok())
            throw std::runtime_error("Cannot read the picture " + bitmap);
        return GetExtension(bitmap) == "bmp" ? bitmap : std::string();
    }

    bool ConfirmOverwrite(const std::string&) override
    {
        refusedOverwrite_ = !o_.overwrite;
        return o_.overwrite;
    }
    void OfferToWatch(const std::string&) override {}
    void ShowMessage(const Notice& notice) override
    {
        EndBar();
        err_ << "reelcast-batch: " << WithNewlines(notice.text) << "\n";
        reported_ = true;
    }

    bool ChooseCompressor(PAVISTREAM, AVICOMPRESSOPTIONS& options) override
    {
        options.fccType = mmioStringToFOURCC("vids", 0);
        options.fccHandler = codec_.fccHandler;
        if (!o_.keyFrameEvery.empty())
            options.dwKeyFrameEvery =
                static_cast<std::uint32_t>(std::max(0, RoundToInt32(TextValue(o_.keyFrameEvery))));
        if (!o_.dataRate.empty())
            options.dwBytesPerSecond = static_cast<std::uint32_t>(
                std::clamp<std::int64_t>(RoundToInt32(TextValue(o_.dataRate)), 0, 4194303) * 1024);
        options.dwQuality =
            static_cast<std::uint32_t>(std::clamp(RoundToInt32(TextValue(o_.quality)), 0, 100) * 100);
        return true;
    }

    bool Yield() override
    {
        if (StopSignals::Requested())
            state_.CancelRequested = true;
        return false;
    }

    void FramesWritten(std::int64_t done, std::int64_t total) override
    {
        if (!terminal_ || total <= 0)
            return;
        const auto now = std::chrono::steady_clock::now();
        if (done == 1)
            start_ = now;
        const double elapsed = std::chrono::duration<double>(now - start_).count();
        const double fps = done > 1 && elapsed > 0 ? (done - 1) / elapsed : 0;
        constexpr int kBarWidth = 30;
        const int filled = static_cast<int>(kBarWidth * done / total);
        std::string bar(static_cast<std::size_t>(filled), '#');
        bar.resize(kBarWidth, '.');
        err_ << "\r[" << bar << "] " << done << "/" << total << " frames";
        if (fps > 0) {
            char rate[32];
            std::snprintf(rate, sizeof rate, "%.1f", fps);
            err_ << "  " << rate << " fps  " << Duration((total - done) / fps) << " left";
        }
        err_ << "   " << std::flush;
        drewBar_ = true;
    }

    void EndBar()
    {
        if (drewBar_)
            err_ << "\n";
        drewBar_ = false;
    }

    const std::string& status() const { return status_; }
    bool reported() const { return reported_; }
    bool refusedOverwrite() const { return refusedOverwrite_; }

private:
    const Options& o_;
    const AviCompressor& codec_;
    BuildState& state_;
    std::ostream& err_;
    const bool terminal_;
    std::locale locale_;
    std::string status_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    bool drewBar_ = false;
    bool reported_ = false;
    bool refusedOverwrite_ = false;
};

int Build(const Options& o, std::ostream& out, std::ostream& err)
{
    const AviCompressor* codec = CompressorNamed(o.codec);
    if (!codec) {
        err << "reelcast-batch: unknown or unavailable compressor \"" << o.codec << "\"; available:";
        for (const auto& c : AviCompressors())
            err << " " << c.name;
        err << "\n";
        return kExitUsage;
    }

    // The sound is checked before anything is written.
    std::optional<wav::Reader> sound;
    if (!o.audio.empty()) {
        try {
            sound.emplace(o.audio);
        } catch (const std::runtime_error& e) {
            err << "reelcast-batch: " << e.what() << "\n";
            return kExitNotCreated;
        }
        // AVIStreamWrite numbers samples in 32 bits; past that the run would
        // fail only when the sound got there, hours into the movie.
        if (constexpr std::int64_t most = std::numeric_limits<std::int32_t>::max(); sound->frames() > most) {
            err << "reelcast-batch: The sound file " << o.audio << " holds " << sound->frames()
                << " samples a channel, more than a movie's sound can (" << most << ")\n";
            return kExitNotCreated;
        }
    }
    if (!o.rate) {
        const double asked = TextValue(o.fps);
        const FrameRate used = WindowRate(o.fps);
        if (asked != used.PerSecond()) {
            err << "reelcast-batch: --fps " << o.fps << " gives " << used.rate
                << " frames a second, as the window would (1 to 50, the header at most 30)";
            // The same number as a fraction --rate takes, where there is one.
            for (std::uint32_t d = 1; d <= 1000 && asked >= 1 && asked <= 1000; d *= 10)
                if (const double n = asked * d; n == std::floor(n)) {
                    const auto whole = static_cast<std::uint32_t>(n), common = std::gcd(whole, d);
                    err << "; --rate " << RateText({whole / common, d / common}) << " keeps " << o.fps;
                    break;
                }
            err << "\n";
        }
    }

    BuildState state;
    BatchHost host(o, *codec, state, err, fileio::StandardErrorIsTerminal());
    // A stop signal asks the run to stop, as the window's Cancel button does:
    // the frame in hand is written and the movie closed properly.
    const StopSignals stopSignals;

    // Off is the movie layer's own default, which the window relies on too.
    if (o.verbose)
        AviSetLibraryLog(true);

    const BuildResult result =
        BuildMovie(RequestOf(o, sound ? &*sound : nullptr), host, host, state, SharedFrameImage());

    if (o.verbose)
        AviSetLibraryLog(false);
    host.EndBar();

    if (host.refusedOverwrite()) {
        err << "reelcast-batch: " << o.output << " already exists; use --overwrite to replace it\n";
        return kExitNotCreated;
    }
    if (!host.status().empty())
        (result.outcome == BuildOutcome::Created ? out : err) << host.status() << "\n";
    // The movie keeps all of both; the user learns the rate that would match them.
    if (sound && result.rate.rate > 0) {
        const double movieSeconds = result.movieFrames / result.rate.PerSecond();
        if (std::abs(movieSeconds - sound->seconds()) > 1 / result.rate.PerSecond())
            err << "reelcast-batch: the movie lasts " << movieSeconds << " s, its sound " << sound->seconds()
                << " s; --rate "
                << RateText(RateForSound(result.movieFrames, sound->frames(), sound->format().sampleRate))
                << " (or --rate audio) makes them end together\n";
    }
    // Counts come from the closed movie, so they are what a reader finds.
    const std::string held = result.framesWritten > 0 ? o.output + " holds the " +
                                                            std::to_string(result.framesWritten) + " frames written"
                                                      : "no movie was written: no frame reached " + o.output;
    switch (result.outcome) {
    case BuildOutcome::Created:
        out << result.framesWritten << " frames written to " << o.output << "\n";
        return kExitCreated;
    case BuildOutcome::Cancelled:
        err << "reelcast-batch: interrupted; " << held << (result.framesWritten > 0 ? " so far\n" : "\n");
        return kExitInterrupted;
    case BuildOutcome::NotStarted:
        if (!host.reported() && host.status().empty())
            err << "reelcast-batch: the movie was not created\n";
        return kExitNotCreated;
    default:
        if (result.resultCode == AVIERR_FILEWRITE)
            err << "reelcast-batch: cannot write " << o.output
                << ": its disk is full, the file-size limit is reached, or the disk failed\n";
        err << "reelcast-batch: " << held << (result.framesWritten > 0 ? " before the failure\n" : "\n");
        return kExitNotCreated;
    }
}

} // namespace

int BatchMain(int argc, const char* const* argv, std::ostream& out, std::ostream& err)
{
    Options o;
    try {
        o = ParseArguments(argc, argv);
    } catch (const UsageError& e) {
        err << "reelcast-batch: " << e.message << "\n\n" << kUsage;
        return kExitUsage;
    }
    if (o.help) {
        out << kUsage;
        return kExitCreated;
    }
    if (o.version) {
        out << "reelcast-batch " REELCAST_VERSION "\n";
        return kExitCreated;
    }
    if (o.listCodecs) {
        // Scripts and the shell's completion take the first word of each line.
        std::size_t width = 0;
        for (const auto& c : AviCompressors())
            width = std::max(width, c.description.size());
        for (const auto& c : AviCompressors())
            out << std::left << std::setw(10) << c.name << std::setw(static_cast<int>(width + 2)) << c.description
                << c.advice << "\n";
        return kExitCreated;
    }
    return Build(o, out, err);
}
