// SPDX-License-Identifier: GPL-2.0-or-later
#include "BatchFrontEnd.h"

#include "BatchHost.h"
#include "BatchOptions.h"
#include "FileIO.h"
#include "MovieBuild.h"
#include "SequenceScan.h"
#include "StopSignals.h"
#include "TextValue.h"
#include "mdAVI.h"
#include "mdFile.h"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <limits>
#include <numeric>
#include <optional>
#include <ostream>
#include <string>

namespace batch {

namespace {

constexpr int kExitCreated = 0;
constexpr int kExitNotCreated = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

const AviCompressor* CompressorNamed(const std::string& name)
{
    for (const auto& c : AviCompressors())
        if (c.name == name)
            return &c;
    return nullptr;
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
    request.everyTargaKind = true;
    request.strict = o.strict;
    request.directFrames = true;
    return request;
}

// The sequence as a whole, before anything is written: its report at once,
// and false when the run must not start; files: how many frame files it has.
bool LookAtTheSequence(const Options& o, std::ostream& err, std::int64_t& files)
{
    const SequenceScan scan = ScanSequence(o.framesDir);
    files = scan.files;
    PrintScan(scan, err);
    // Without --size the run would stop at the first frame of another size,
    // however far in.
    if (scan.otherSize.count > 0 && !o.size) {
        err << "reelcast-batch: every frame must be " << scan.width << " x " << scan.height
            << ", the size of the first; --size WxH makes them one size. Nothing was written.\n";
        return false;
    }
    if (o.strict && scan.problems()) {
        err << "reelcast-batch: --strict: the sequence is not complete. Nothing was written.\n";
        return false;
    }
    return true;
}

// Whether the rate at which `frames` frames last as long as the sound is
// one a movie takes; says why not, before anything is written.
bool SoundRateFits(std::int64_t frames, const wav::Reader& sound, std::ostream& err)
{
    const FrameRate rate = RateForSound(frames, sound.frames(), sound.format().sampleRate);
    if (IsMovieRate(rate))
        return true;
    err << "reelcast-batch: --rate audio: " << frames << " frames over the sound's " << sound.seconds()
        << " s would be " << rate.PerSecond() << " frames a second, and a movie takes 1 to 1000. Nothing was written.\n";
    return false;
}

// A movie whose length is not its sound's, at the rate it was written.
void WarnOfLengths(const BuildResult& result, const wav::Reader& sound, std::ostream& err)
{
    const double movieSeconds = result.movieFrames / result.rate.PerSecond();
    if (std::abs(movieSeconds - sound.seconds()) <= 1 / result.rate.PerSecond())
        return;
    err << "reelcast-batch: the movie lasts " << movieSeconds << " s, its sound " << sound.seconds() << " s";
    // Advice only where --rate would take it.
    const FrameRate match = RateForSound(result.movieFrames, sound.frames(), sound.format().sampleRate);
    if (IsMovieRate(match))
        err << "; --rate " << RateText(match) << " (or --rate audio) makes them end together\n";
    else
        err << "; no rate from 1 to 1000 frames a second makes them end together\n";
}

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
        // Else the run would fail only when the sound got there, hours into
        // the movie, or leave a movie no player opens.
        if (const std::string unfit = AviSoundUnfit(sound->format(), sound->frames()); !unfit.empty()) {
            err << "reelcast-batch: The sound file " << o.audio << " " << unfit << "\n";
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

    // Refused before the whole sequence is looked at, as the run would refuse it.
    if (!o.overwrite && FileExist(o.output)) {
        err << "reelcast-batch: " << o.output << " already exists; use --overwrite to replace it\n";
        return kExitNotCreated;
    }
    std::int64_t files = 0;
    if (!LookAtTheSequence(o, err, files))
        return kExitNotCreated;
    if (o.rate && o.rate->fromSound && !SoundRateFits(MovieFrames(files, o.blend), *sound, err))
        return kExitNotCreated;

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
    // The window's status reads "Completed!" for a cancelled run too; on a
    // terminal, a stopped run says only that it was stopped.
    if (!host.status().empty() && result.outcome != BuildOutcome::Cancelled)
        (result.outcome == BuildOutcome::Created ? out : err) << host.status() << "\n";
    // The movie keeps all of both; the user learns the rate that would match them.
    if (sound && result.outcome == BuildOutcome::Created)
        WarnOfLengths(result, *sound, err);
    // Counts come from the closed movie, so they are what a reader finds.
    const std::string held = result.framesWritten > 0 ? o.output + " holds the " +
                                                            std::to_string(result.framesWritten) + " frames written"
                                                      : "no movie was written: no frame reached " + o.output;
    // Under --strict the run's own message names the file it could not read.
    if (!o.strict)
        host.Account(state.Fle.ListCount());
    const std::string repeats = result.repeats > 0 && result.framesWritten > 0
                                    ? ", " + std::to_string(result.repeats) +
                                          (result.repeats == 1 ? " of them a repeat" : " of them repeats") +
                                          " of the frame before"
                                    : "";
    switch (result.outcome) {
    case BuildOutcome::Created:
        out << result.framesWritten << " frames written to " << o.output << repeats << "\n";
        return kExitCreated;
    case BuildOutcome::Cancelled:
        err << "reelcast-batch: interrupted; " << held << (result.framesWritten > 0 ? " so far" + repeats + "\n" : "\n");
        return kExitInterrupted;
    case BuildOutcome::NotStarted:
        if (!host.reported() && host.status().empty())
            err << "reelcast-batch: the movie was not created\n";
        return kExitNotCreated;
    default:
        if (result.resultCode == AVIERR_FILEWRITE)
            err << "reelcast-batch: cannot write " << o.output
                << ": its disk is full, the file-size limit is reached, or the disk failed\n";
        if (o.strict && result.framesWritten == 0)
            err << "reelcast-batch: --strict: no movie is left at " << o.output << "\n";
        else
            err << "reelcast-batch: " << held << (result.framesWritten > 0 ? " before the failure" + repeats + "\n" : "\n");
        return kExitNotCreated;
    }
}

} // namespace

} // namespace batch

int BatchMain(int argc, const char* const* argv, std::ostream& out, std::ostream& err)
{
    using namespace batch;
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
