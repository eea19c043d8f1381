#pragma once
// The movie build run: what a press of "Create !" does. One implementation,
// whichever front end drives it: the window and the batch front end each
// supply a MovieBuildHost (their controls) and keep a BuildState.
#include "FileListBox.h"
#include "FrameRate.h"
#include "WaveFile.h"
#include "FrameImage.h"
#include "cDIB.h"
#include "mdAVI.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// The rate the window's frame-rate text gives the movie: whole numbers, 1 to
// 50, of which the header takes at most 30; anything else gives 15.
FrameRate WindowRate(const std::string& fpsText);

// The rate at which `frames` frames last as long as `samples` samples at
// `sampleRate`: as exact as 32-bit header fields allow.
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

// The controls the run reads and writes.
class MovieBuildHost {
public:
    virtual ~MovieBuildHost() = default;

    virtual std::string CreateCaption() const = 0;
    virtual void SetCreateCaption(const std::string& caption) = 0;
    virtual std::string WidthText() const = 0;
    virtual std::string HeightText() const = 0;
    virtual std::string FpsText() const = 0;
    virtual std::string DirectoryText() const = 0;
    virtual std::string OutputText() const = 0;
    // The force check box: 0 unchecked, 1 checked, 2 grayed.
    virtual int ForceValue() const = 0;

    virtual void SetStatus(const std::string& caption) = 0;
    virtual void ShowProgress(float percent) = 0;
    // A percentage with exactly one decimal, in the user's number format.
    virtual std::string FormatPercent(double percent) const = 0;
    // Loads the picture and answers the bitmap file to hand to cDIB;
    // throws when the file cannot be read or decoded.
    virtual std::string loadPic(const std::string& sFile, bool showIm, bool clearImFirst, bool SaveBMP) = 0;
    // True once the front end is going away: the run stops at its next yield.
    virtual bool Closing() const = 0;

    // The run's questions and reports. The window asks its user; another
    // front end answers from what it was told to do.
    //
    // Whether the existing movie at path may be replaced.
    virtual bool ConfirmOverwrite(const std::string& path) = 0;
    // The movie is complete: the front end may offer to show it.
    virtual void OfferToWatch(const std::string& path) = 0;
    // A report for the user; style holds MsgBox's icon and button bits.
    virtual void ShowMessage(const std::string& text, unsigned style, const std::string& title) = 0;
    // Fills options with the compressor for stream; false when none was chosen.
    virtual bool ChooseCompressor(PAVISTREAM stream, AVICOMPRESSOPTIONS& options) = 0;
    // Lets waiting events through; the run calls it between its steps.
    virtual void ProcessEvents() = 0;
    // Called after each frame's write with the frames written and the frames
    // the movie will have; for front ends that show more than the bar.
    virtual void FramesWritten(std::int64_t done, std::int64_t total)
    {
        (void)done;
        (void)total;
    }

    // Beyond the window's controls, for reelcast-batch. The header's exact
    // rate, instead of the frame-rate text's (fromSound: the rate at which
    // the movie lasts as long as its sound track)...
    struct ExactRate {
        FrameRate rate;
        bool fromSound = false;
    };
    virtual std::optional<ExactRate> HeaderRate() const { return std::nullopt; }
    // ...a sound track, from the movie's first frame on...
    virtual const wav::Reader* Sound() const { return nullptr; }
    // ...and how many consecutive files are averaged into each frame.
    virtual int BlendCount() const { return 1; }
};

enum class BuildOutcome {
    CancelPressed, // the press only asked the run in progress to stop
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
};

// The program-wide frame every picture passes through.
FrameImage& SharedFrameImage();

// The Click handler of CmdCreate.
BuildResult CmdCreate_Click(MovieBuildHost& host, BuildState& state, FrameImage& image);
