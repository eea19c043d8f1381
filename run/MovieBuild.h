// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The movie build run: what a press of "Create !" does. One implementation,
// whichever front end drives it: the window and the batch front end each
// hand it a BuildRequest, answer its questions, take its reports and keep a
// BuildState.
#include "FileListBox.h"
#include "FrameRate.h"
#include "WaveFile.h"
#include "FrameImage.h"
#include "cDIB.h"
#include "Notice.h"
#include "mdAVI.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// The rate the window's frame-rate text gives the movie: whole numbers, 1 to
// 50, of which the header takes at most 30; anything else gives 15.
FrameRate WindowRate(const std::string& fpsText);

// The frames a movie of `files` frame files has, position 0 included, when
// each `blend` of them make one: a short last group is left out.
inline std::int64_t MovieFrames(std::int64_t files, int blend)
{
    return files / blend;
}

// The rate at which `frames` frames last as long as `samples` samples at
// `sampleRate`: the closest a header can hold.
FrameRate RateForSound(std::int64_t frames, std::int64_t samples, std::uint32_t sampleRate);

// What the run keeps on its front end between presses.
struct BuildState {
    bool CancelRequested = false;
    std::string OutputPath;
    std::string FirstFramePath;
    std::unique_ptr<cDIB> FrameDib;
    std::int64_t FrameIndex = 0;
    FileListBox Fle;
};

// A header rate given exactly, instead of by the window's frame-rate text;
// fromSound: the rate at which the movie lasts as long as its sound track.
struct ExactRate {
    FrameRate rate;
    bool fromSound = false;
};

// What a front end asks the run for, read once when the run starts: the
// window's option texts as they stand, and what reelcast-batch adds beyond
// them. A new batch option is a new member here.
struct BuildRequest {
    std::string directory;
    std::string output;
    std::string widthText;
    std::string heightText;
    std::string fpsText;
    // Whether the forced dimensions apply.
    bool force = false;

    // Beyond the window: the header's exact rate instead of the fps text's...
    std::optional<ExactRate> exactRate;
    // ...a sound track, from the movie's first frame on...
    const wav::Reader* sound = nullptr;
    // ...how many consecutive files are averaged into each frame...
    int blend = 1;
    // ...every kind of Targa file (targa::Reader) instead of the window's
    // one kind, each file passed over reported to BuildSink::PassedOver...
    bool everyTargaKind = false;
    // ...a complete movie or none: a file that cannot be read ends the
    // run, and a run that fails, for whatever reason, leaves no movie. A
    // stop asked for (Cancel, a stop signal) still keeps the frames so far...
    bool strict = false;
    // ...and each frame handed to the movie in memory, with the bytes its
    // temporary bitmap would have held: no bitmap file is written, and
    // BuildSink::ShowFrame is never asked, there being nothing to show.
    bool directFrames = false;
};

// The run's questions. The window asks its user; another front end answers
// from what it was told to do.
class BuildQuestions {
public:
    virtual ~BuildQuestions() = default;
    // Whether the existing movie at path may be replaced.
    virtual bool ConfirmOverwrite(const std::string& path) = 0;
    // Fills options with the compressor for stream; false when none was chosen.
    virtual bool ChooseCompressor(PAVISTREAM stream, AVICOMPRESSOPTIONS& options) = 0;
    // The movie is complete: the front end may offer to show it.
    virtual void OfferToWatch(const std::string& path) = 0;
    // Lets waiting events through, between the run's steps; true once the
    // front end is going away, and the run stops.
    virtual bool Yield() = 0;
};

// Where the run reports: status, progress, the frame in hand and messages.
class BuildSink {
public:
    virtual ~BuildSink() = default;
    virtual void SetStatus(const std::string& caption) = 0;
    // A percentage with exactly one decimal, in the user's number format.
    virtual std::string FormatPercent(double percent) const = 0;
    virtual void ShowProgress(float percent) = 0;
    // After each frame's write: the frames written and the frames the movie
    // will have, for front ends that show more than the bar.
    virtual void FramesWritten(std::int64_t done, std::int64_t total)
    {
        (void)done;
        (void)total;
    }
    // A frame file that could not be read: it repeats the frame before, or
    // is left out of its group's average. why says what is wrong with it.
    virtual void PassedOver(const std::string& file, const std::string& why)
    {
        (void)file;
        (void)why;
    }
    // A report for the user, worded by whoever found the trouble.
    virtual void ShowMessage(const Notice& notice) = 0;
    // The frame's bitmap is ready: the front end may show it. Answers the
    // bitmap file to hand to cDIB; throws when it cannot be read. Not asked
    // for a request of direct frames.
    virtual std::string ShowFrame(const std::string& bitmap) = 0;
};

enum class BuildOutcome {
    NotStarted,    // an early exit: nothing was created
    Created,       // every frame written
    Cancelled,     // stopped on request; the movie holds the frames written so far
    Failed,        // see status
};

struct BuildResult {
    BuildOutcome outcome = BuildOutcome::NotStarted;
    std::string status;               // what the status line shows at the end
    std::int64_t framesWritten = 0;
    HRESULT_AVI resultCode = 0;
    // The header's rate, once the stream was made; and the frames the movie
    // was to have, position 0 included.
    FrameRate rate;
    std::int64_t movieFrames = 0;
    // Files passed over, and of the frames written, those that repeat the
    // frame before because no file of theirs could be read.
    std::int64_t passedOver = 0;
    std::int64_t repeats = 0;
};

// The program-wide frame every picture passes through.
FrameImage& SharedFrameImage();

// What a press of "Create !" starts: the movie of request, built with the
// picture image as its scratch.
BuildResult BuildMovie(const BuildRequest& request, BuildQuestions& questions, BuildSink& sink, BuildState& state,
                       FrameImage& image);
