// SPDX-License-Identifier: GPL-2.0-or-later
#include "BuildRun.h"

#include "BitmapFile.h"
#include "FileIO.h"
#include "FrameFiles.h"
#include "KeptBitmap.h"
#include "RunFolder.h"
#include "SoundTrack.h"
#include "mdFile.h"
#include "modImageEffects.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <limits>
#include <set>
#include <stdexcept>

namespace {

// A run that cannot go on: the message says which file and what is wrong.
struct RunStop : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// How a stage of the run ended. Only GoOn lets the next stage start; every
// other kind says what the ending reports.
struct Outcome {
    enum class Kind {
        GoOn,    // after the frame loop: every frame written, or Cancel pressed
        Code,    // a call answered this result code
        Message, // stopped; the message names the file and what is wrong
        Refused, // no compressor chosen: nothing was made
        Closed,  // the front end went away
    };
    Kind kind = Kind::GoOn;
    HRESULT_AVI code = 0;
    // Message: the report. Code: a status to show instead of the code's.
    std::string text;

    static Outcome GoOn() { return {}; }
    static Outcome Failed(HRESULT_AVI code, std::string status = {}) { return {Kind::Code, code, std::move(status)}; }
    static Outcome Stopped(std::string message) { return {Kind::Message, 0, std::move(message)}; }
    static Outcome Refused() { return {Kind::Refused, 0, {}}; }
    static Outcome Closed() { return {Kind::Closed, 0, {}}; }
    bool goesOn() const { return kind == Kind::GoOn; }
};

// Stops the run at the first call that does not answer 0.
#define REELCAST_CHECK(call)                                                                                           \
    if (const HRESULT_AVI hr_ = (call); hr_ != 0)                                                                     \
        return Outcome::Failed(hr_);

class Run {
public:
    Run(const BuildRequest& request, BuildQuestions& questions, BuildSink& sink, BuildState& state,
        FrameImage& image, std::int32_t width, std::int32_t height, FrameRate rate, int blend)
        : request_(request), questions_(questions), sink_(sink), st_(state), image_(image), forcedWidth_(width),
          forcedHeight_(height), rate_(rate), n_(blend)
    {
    }

    BuildResult Go();

private:
    Outcome OpenMovie();
    Outcome PrepareFirstFrames();
    Outcome CreateStream();
    Outcome FrameLoop();
    // Closes the movie and removes what the run made; a failure here turns a
    // finished run into a failed one.
    Outcome Ending(Outcome outcome);
    BuildResult Report(const Outcome& outcome);
    // Runs a stage; a stage that throws stops with the exception's message.
    template <class Stage>
    Outcome RunStage(Stage stage);
    // Lets events through; true when the front end is going away.
    bool Yield();
    // Passes on what the picture code had to say, if anything.
    void Tell(const Notice& why)
    {
        if (!why.text.empty())
            sink_.ShowMessage(why);
    }
    // Decodes a group of frame files (one, unless frames are blended) into
    // the shared image and writes its temporary bitmap, or for direct frames
    // puts it into held; report: whether a file passed over is reported
    // (once only, however often it is read).
    bool Prepare(const std::vector<std::string>& group, const std::string& bitmap, cDIB& held,
                 bool report = true);
    // The next group of files of the list; empty when no whole group is left.
    std::vector<std::string> NextGroup();
    std::string GroupBitmap() const
    {
        return BitmapPath(std::filesystem::path(group_.front()).filename().string() + ".bmp");
    }
    // Stops with a message naming the file when the frame in FrameDib is not
    // of the movie's size.
    Outcome CheckSize();
    void DeleteTemporary(const std::string& path);
    void FreeOptions()
    {
        AVICOMPRESSOPTIONS* list[1] = {&options_};
        AVISaveOptionsFree(1, list);
    }
    std::string FramePath(const std::string& name) const { return JoinPath(st_.Fle.Path(), name); }
    // Temporary bitmaps go beside their frames, unless the frame directory
    // cannot take them.
    std::string BitmapPath(const std::string& name) const
    {
        return runFolder_ ? JoinPath(runFolder_->path(), name) : FramePath(name);
    }

    const BuildRequest& request_;
    BuildQuestions& questions_;
    BuildSink& sink_;
    BuildState& st_;
    FrameImage& image_;
    const std::int32_t forcedWidth_;
    const std::int32_t forcedHeight_;
    FrameRate rate_;
    // Files a frame: 1, or more when they are blended into one.
    const int n_;
    const std::int64_t count_ = MovieFrames(st_.Fle.ListCount(), n_);
    FrameFiles frames_{request_, sink_, image_};

    PAVIFILE file_ = nullptr;
    PAVISTREAM stream_ = nullptr;
    PAVISTREAM compressed_ = nullptr;
    std::unique_ptr<SoundTrack> sound_;
    AVICOMPRESSOPTIONS options_{};
    bool optionsChosen_ = false;
    // The first failing call's code, or the release's: what BuildResult reports.
    HRESULT_AVI resultCode_ = 0;
    std::unique_ptr<RunFolder> runFolder_;
    std::string firstTarga_;
    std::vector<std::string> group_; // the files of the frame prepared next
    std::string currentTarga_;       // the first of them
    std::int32_t position_ = 0;
    // Frames a reader finds in the movie once it is closed.
    std::int64_t inFile_ = 0;
    std::int64_t written_ = 0;
    // The first frame's size: every frame of the movie must have it.
    std::int32_t movieWidth_ = 0;
    std::int32_t movieHeight_ = 0;
    // Temporary bitmaps made and not yet deleted.
    std::set<std::string> temporaries_;
    // Direct frames: the frame prepared next, which takes FrameDib's place
    // when its turn comes; the two swap their rooms rather than copy.
    cDIB next_;
    // Whether this run has decoded a frame that a passed-over file may repeat.
    bool haveFrame_ = false;
    // Whether the group prepared last repeats the frame before it, and the
    // frames written that repeat the one before.
    bool preparedRepeat_ = false;
    std::int64_t repeats_ = 0;
};

bool Run::Yield()
{
    return questions_.Yield();
}

template <class Stage>
Outcome Run::RunStage(Stage stage)
{
    try {
        return stage();
    } catch (const std::bad_alloc&) {
        return Outcome::Stopped("Not enough memory for the frames.");
    } catch (const std::exception& e) {
        return Outcome::Stopped(e.what());
    }
}

void Run::DeleteTemporary(const std::string& path)
{
    if (const int err = RetireBMP(path); err != 0)
        throw RunStop(CannotDelete(path, "temporary bitmap", err));
    temporaries_.erase(path);
}

// A file of another kind is left out of its group's average; a group with
// no file that can be read repeats the previous picture of this run; with no
// such picture yet, nothing is written and the answer is false.
bool Run::Prepare(const std::vector<std::string>& group, const std::string& bitmap, cDIB& held, bool report)
{
    const bool decoded = frames_.Decode(group, report);
    preparedRepeat_ = !decoded && haveFrame_;
    if (decoded)
        haveFrame_ = true;
    else if (haveFrame_ && !request_.directFrames)
        // The last write left the rows reversed; put them back the right way
        // up, so the repeated picture goes out as it came in.
        FlipRows(image_);
    else if (!haveFrame_)
        return false;
    if (request_.force)
        ResampleImage(image_, forcedWidth_, forcedHeight_);
    if (request_.directFrames) {
        if (std::string why; !held.CreateFromImage(image_, why))
            throw RunStop("The frame " + group.front() + " cannot go into the movie: " + why + ".");
        return true;
    }
    temporaries_.insert(bitmap);
    // A report of the writer's comes before any failure of the write itself.
    Notice why;
    try {
        if (!WriteBMP(bitmap, image_, why))
            Tell(why);
    } catch (...) {
        Tell(why);
        throw;
    }
    return true;
}

std::vector<std::string> Run::NextGroup()
{
    std::vector<std::string> group;
    for (std::string name; static_cast<int>(group.size()) < n_ && !(name = GetNext(st_.Fle, st_.FrameIndex)).empty();)
        group.push_back(FramePath(name));
    if (!group.empty() && static_cast<int>(group.size()) < n_) {
        sink_.ShowMessage({"The last " + std::to_string(group.size()) + " files, from " + group.front() +
                               " on, make no whole group of " + std::to_string(n_) + " and are left out.",
                           vbInformation | vbOKOnly, kAppTitle});
        group.clear();
    }
    return group;
}

Outcome Run::CheckSize()
{
    const std::int32_t width = st_.FrameDib->Width(), height = st_.FrameDib->Height();
    if (width == movieWidth_ && height == movieHeight_)
        return Outcome::GoOn();
    sink_.ShowMessage({"The frame " + currentTarga_ + " is " + std::to_string(width) + " x " +
                           std::to_string(height) + " pixels, but the movie's frames are " +
                           std::to_string(movieWidth_) + " x " + std::to_string(movieHeight_) +
                           ", the size of the first frame:" + kCrLf + firstTarga_,
                       vbExclamation | vbOKOnly, kAppTitle});
    return Outcome::Failed(AVIERR_BADSIZE);
}

Outcome Run::OpenMovie()
{
    AVIFileInit();
    REELCAST_CHECK(AVIFileOpen(&file_, st_.OutputPath.c_str(), OF_WRITE | OF_CREATE, nullptr));
    return Outcome::GoOn();
}

// The first and the second frame are prepared ahead, and the first one's
// bitmap is loaded: it gives the movie its format.
Outcome Run::PrepareFirstFrames()
{
    // The first goes first, so that the shared image holds the second's
    // picture when a passed-over third file repeats the frame before it.
    st_.FrameDib = std::make_unique<cDIB>();
    firstTarga_ = st_.FirstFramePath;
    std::vector<std::string> first{firstTarga_};
    while (static_cast<int>(first.size()) < n_)
        first.push_back(FramePath(GetNext(st_.Fle, st_.FrameIndex)));
    group_ = NextGroup();
    currentTarga_ = group_.front();
    if (!request_.directFrames && !CanWriteIn(st_.Fle.Path()))
        runFolder_ = std::make_unique<RunFolder>();
    if (!request_.directFrames)
        st_.FirstFramePath = runFolder_ ? BitmapPath(std::filesystem::path(firstTarga_).filename().string() + ".bmp")
                                        : firstTarga_ + ".bmp";
    // Direct frames: the first goes straight where its bitmap would be loaded.
    const bool firstReady = Prepare(first, st_.FirstFramePath, *st_.FrameDib);
    if (!Prepare(group_, GroupBitmap(), next_))
        return Outcome::Stopped(
            (request_.everyTargaKind ? "Neither of the first two frames can be read:"
                                     : "Neither of the first two frames is an uncompressed 24-bit Targa file:") +
            std::string(kCrLf) + firstTarga_ + kCrLf + currentTarga_ +
            (request_.everyTargaKind ? "" : std::string(kCrLf) + "Reelcast reads only that kind."));
    const bool groupRepeats = preparedRepeat_;
    if (!firstReady) // it takes the second frame's picture
        Prepare(first, st_.FirstFramePath, *st_.FrameDib, false);
    preparedRepeat_ = groupRepeats;

    if (request_.directFrames) {
        movieWidth_ = st_.FrameDib->Width();
        movieHeight_ = st_.FrameDib->Height();
        return Outcome::GoOn();
    }
    const std::string firstBitmap = sink_.ShowFrame(st_.FirstFramePath);
    if (Notice why; !st_.FrameDib->CreateFromFile(firstBitmap, why)) {
        Tell(why);
        sink_.ShowMessage({"Could not load first bitmap file in list!", vbExclamation | vbOKOnly, kAppTitle});
        return Outcome::Failed(AVIERR_FILEREAD, "Movie's creation stopped: the first bitmap could not be loaded.");
    }
    movieWidth_ = st_.FrameDib->Width();
    movieHeight_ = st_.FrameDib->Height();
    return Outcome::GoOn();
}

// The stream, the compressor and the format, from the first bitmap.
Outcome Run::CreateStream()
{
    if (const auto& exact = request_.exactRate)
        rate_ = exact->fromSound && request_.sound
                    ? RateForSound(count_, request_.sound->frames(), request_.sound->format().sampleRate)
                    : exact->rate;
    AVI_STREAM_INFO info;
    std::memset(&info, 0, sizeof info);
    info.fccType = mmioStringToFOURCC("vids", 0);
    info.fccHandler = 0;
    info.dwScale = rate_.scale;
    info.dwRate = rate_.rate;
    info.dwSuggestedBufferSize = static_cast<std::uint32_t>(st_.FrameDib->SizeImage());
    SetRect(&info.rcFrame, 0, 0, st_.FrameDib->Width(), st_.FrameDib->Height());
    REELCAST_CHECK(AVIFileCreateStream(file_, &stream_, &info));
    optionsChosen_ = questions_.ChooseCompressor(stream_, options_);
    if (!optionsChosen_) {
        FreeOptions();
        return Outcome::Refused();
    }
    REELCAST_CHECK(AVIMakeCompressedStream(&compressed_, stream_, &options_, nullptr));
    if (request_.sound) {
        sound_ = std::make_unique<SoundTrack>(*request_.sound);
        REELCAST_CHECK(sound_->Create(file_));
    }
    REELCAST_CHECK(AVIStreamSetFormat(compressed_, 0, st_.FrameDib->PointerToBitmapInfo(),
                                      st_.FrameDib->SizeBitmapInfo()));

    // The first bitmap has given the format; the frames follow.
    if (!request_.directFrames)
        DeleteTemporary(st_.FirstFramePath);
    sink_.ShowProgress(1);
    if (Yield())
        return Outcome::Closed();
    sink_.ShowProgress(0);
    return Outcome::GoOn();
}

Outcome Run::FrameLoop()
{
    position_ = 0;
    while (!group_.empty()) {
        ++position_;
        sink_.SetStatus("File's Creation Status: " +
                        sink_.FormatPercent(static_cast<double>(position_) / (count_ + 1) * 100) + "%");
        if (Yield())
            return Outcome::Closed();
        const bool direct = request_.directFrames;
        const std::string bitmap = direct ? std::string() : GroupBitmap();
        const std::string toLoad = direct ? std::string() : sink_.ShowFrame(bitmap);
        if (Yield())
            return Outcome::Closed();
        // A bitmap this run wrote that no longer loads is reported as cDIB
        // words it; writing the previous frame again in its place would hide it.
        if (direct) {
            std::swap(*st_.FrameDib, next_);
        } else if (Notice why; !st_.FrameDib->CreateFromFile(toLoad, why)) {
            Tell(why);
            return Outcome::Stopped("Could not load the bitmap of frame " + std::to_string(position_ + 1) + ":" +
                                    kCrLf + toLoad);
        }
        if (Yield())
            return Outcome::Closed();
        if (Outcome wrongSize = CheckSize(); !wrongSize.goesOn()) {
            if (!direct)
                DeleteTemporary(bitmap);
            return wrongSize;
        }
        const HRESULT_AVI written = AVIStreamWrite(compressed_, position_, 1, st_.FrameDib->PointerToBits(),
                                                   st_.FrameDib->SizeImage(), AVIIF_KEYFRAME, nullptr, nullptr);
        if (!direct)
            DeleteTemporary(bitmap);
        if (written != 0)
            return Outcome::Failed(written);
        ++written_;
        if (preparedRepeat_)
            ++repeats_;
        // The sound that plays with the frames in the movie so far, position
        // 0 included: a stopped run keeps both in step.
        if (sound_)
            REELCAST_CHECK(sound_->WriteUpTo(position_ + 1, rate_));
        if (st_.CancelRequested)
            return Outcome::GoOn();
        group_ = NextGroup();
        if (!group_.empty()) {
            currentTarga_ = group_.front();
            Prepare(group_, direct ? std::string() : GroupBitmap(), next_);
        }
        for (int i = 0; i < 3; ++i)
            if (Yield())
                return Outcome::Closed();
        sink_.ShowProgress(static_cast<float>(static_cast<double>(position_) / count_ * 100));
        sink_.FramesWritten(written_, count_ - 1);
    }
    // Every frame is in: the whole sound track follows, however long.
    if (sound_)
        REELCAST_CHECK(sound_->WriteUpTo(std::numeric_limits<std::int32_t>::max(), rate_));
    return Outcome::GoOn();
}

Outcome Run::Ending(Outcome outcome)
{
    if (outcome.kind == Outcome::Kind::Code)
        resultCode_ = outcome.code;
    if (stream_)
        AVIStreamRelease(stream_);
    if (compressed_)
        AVIStreamRelease(compressed_);
    if (sound_)
        sound_->Release();
    if (file_) {
        AVIFILEINFO info{};
        const bool counted = AVIFileInfo(file_, &info, sizeof info) == AVIERR_OK;
        // NOTE: the release's result is examined: frames still queued, the
        // compressor's last frames and the indexes are written there, and a
        // failure among them must not end as a success.
        const HRESULT_AVI closed = AVIFileRelease(file_);
        if (resultCode_ == 0)
            resultCode_ = closed;
        if (closed != 0 && outcome.goesOn())
            outcome = Outcome::Failed(closed);
        // Position 0 only repeats the first written frame.
        if (counted && info.dwLength > 0 && (closed == AVIERR_OK || FileExist(st_.OutputPath)))
            inFile_ = static_cast<std::int64_t>(info.dwLength) - 1;
    }
    if (optionsChosen_)
        FreeOptions();
    AVIFileExit();

    // Temporary bitmaps never outlive the run, whichever way it ended; the
    // first that cannot be deleted is reported unless something else was.
    std::string undeleted;
    for (const std::string& path : temporaries_)
        if (std::string why = TryDelete(path, "temporary bitmap"); undeleted.empty())
            undeleted = why;
    temporaries_.clear();
    std::string kept;
    if (const int err = ReleaseRetiredBMP(kept); err != 0 && undeleted.empty())
        undeleted = CannotDelete(kept, "temporary bitmap", err);
    if (!undeleted.empty() && outcome.kind != Outcome::Kind::Closed && outcome.kind != Outcome::Kind::Message)
        outcome = Outcome::Stopped(undeleted);
    // A movie without a frame is no movie: no player opens it; and where a
    // complete movie or none was asked for, a run that failed leaves none.
    if (file_ && (inFile_ == 0 || (request_.strict && !outcome.goesOn()))) {
        fileio::Delete(st_.OutputPath);
        inFile_ = 0;
    }

    sink_.ShowProgress(100);
    return outcome;
}

BuildResult Run::Report(const Outcome& outcome)
{
    BuildResult result;
    result.framesWritten = inFile_;
    result.resultCode = resultCode_;
    result.rate = rate_;
    result.movieFrames = count_;
    result.passedOver = frames_.passedOver();
    result.repeats = std::min(repeats_, inFile_);
    switch (outcome.kind) {
    case Outcome::Kind::Closed:
        result.outcome = BuildOutcome::Cancelled;
        result.status = "Movie's creation stopped: the window was closed.";
        break;
    case Outcome::Kind::Message:
        sink_.ShowMessage({outcome.text, vbCritical | vbOKOnly, kAppTitle});
        result.outcome = BuildOutcome::Failed;
        result.status = "Movie's creation stopped after " + std::to_string(inFile_) + " frames.";
        break;
    case Outcome::Kind::Code:
        result.outcome = BuildOutcome::Failed;
        result.status = !outcome.text.empty() ? outcome.text
                        : outcome.code == AVIERR_BADFORMAT || outcome.code == AVIERR_INTERNAL
                            ? "There was an error writing the file."
                            : "There was an error creating the AVI File.";
        break;
    case Outcome::Kind::Refused:
        result.outcome = BuildOutcome::NotStarted;
        result.status = "Movie's creation cancelled: no compressor chosen.";
        break;
    case Outcome::Kind::GoOn:
        result.outcome = st_.CancelRequested ? BuildOutcome::Cancelled : BuildOutcome::Created;
        result.status = "Movie's Creation Completed!";
        break;
    }
    sink_.SetStatus(result.status);
    if (outcome.goesOn())
        questions_.OfferToWatch(st_.OutputPath);
    st_.CancelRequested = true;
    return result;
}

BuildResult Run::Go()
{
    Outcome outcome = RunStage([this] { return OpenMovie(); });
    if (outcome.goesOn())
        outcome = RunStage([this] { return PrepareFirstFrames(); });
    if (outcome.goesOn())
        outcome = RunStage([this] { return CreateStream(); });
    if (outcome.goesOn())
        outcome = RunStage([this] { return FrameLoop(); });
    return Report(Ending(std::move(outcome)));
}

#undef REELCAST_CHECK

} // namespace

std::string CannotDelete(const std::string& path, const char* what, int err)
{
    return std::string("Cannot delete the ") + what + ":" + kCrLf + path + kCrLf + std::strerror(err);
}

std::string TryDelete(const std::string& path, const char* what)
{
    const int err = fileio::Delete(path);
    return err == 0 ? std::string() : CannotDelete(path, what, err);
}

BuildResult RunBuild(const BuildRequest& request, BuildQuestions& questions, BuildSink& sink, BuildState& state,
                     FrameImage& image, std::int32_t width, std::int32_t height, FrameRate rate, int blend)
{
    return Run(request, questions, sink, state, image, width, height, rate, blend).Go();
}
