#include "MovieBuild.h"

#include "BitmapFormat.h"
#include "FileIO.h"
#include "FrameBlend.h"
#include "MsgBox.h"
#include "RunFolder.h"
#include "TGA.h"
#include "TextValue.h"
#include "mdFile.h"
#include "modImageEffects.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>
#include <numeric>
#include <set>
#include <stdexcept>

namespace {

const char* const kCrLf = "\r\n";
const char* const kAppTitle = "Reelcast";
const char* const kCreate = "Create !";
const char* const kCancel = "Cancel";

// Frame rates outside this range are replaced by the default...
constexpr int kMinRate = 1;
constexpr int kMaxRate = 50;
constexpr int kDefaultRate = 15;
// ...and the stream header takes at most this many frames per second.
constexpr std::uint32_t kMaxHeaderRate = 30;

// A run that cannot go on: the message says which file and what is wrong.
struct RunStop : std::runtime_error {
    using std::runtime_error::runtime_error;
};

bool ForcedSizeFits(std::int32_t width, std::int32_t height)
{
    if (width < 1 || height < 1)
        return false;
    return bmp::FitsFile(width, height, 24, bmp::kFileHeaderSize + bmp::kInfoHeaderSize);
}

std::string CannotDelete(const std::string& path, const char* what, int err)
{
    return std::string("Cannot delete the ") + what + ":" + kCrLf + path + kCrLf + std::strerror(err);
}

// Deletes path; answers why it could not, or nothing when it is gone.
std::string TryDelete(const std::string& path, const char* what)
{
    const int err = fileio::Delete(path);
    return err == 0 ? std::string() : CannotDelete(path, what, err);
}

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
    Run(MovieBuildHost& host, BuildState& state, FrameImage& image, std::int32_t width, std::int32_t height,
        FrameRate rate, bool force, int blend)
        : host_(host), st_(state), image_(image), forcedWidth_(width), forcedHeight_(height), rate_(rate),
          force_(force), n_(blend)
    {
    }

    BuildResult Go();

private:
    Outcome OpenMovie();
    Outcome PrepareFirstFrames();
    Outcome CreateStream();
    Outcome CreateSoundStream();
    // Writes the sound track up to where `frames` frames of the movie end.
    HRESULT_AVI WriteSound(std::int64_t frames);
    Outcome FrameLoop();
    // Closes the movie and removes what the run made; a failure here turns a
    // finished run into a failed one.
    Outcome Ending(Outcome outcome);
    BuildResult Report(const Outcome& outcome);
    // Runs a stage; a stage that throws stops with the exception's message.
    template <class Stage>
    Outcome Guarded(Stage stage);
    // Lets events through; true when the front end is going away.
    bool Yield();
    // Decodes a group of frame files (one, unless frames are blended) into
    // the shared image and writes its temporary bitmap.
    bool Prepare(const std::vector<std::string>& group, const std::string& bitmap);
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

    MovieBuildHost& host_;
    BuildState& st_;
    FrameImage& image_;
    const std::int32_t forcedWidth_;
    const std::int32_t forcedHeight_;
    FrameRate rate_;
    const bool force_;
    // Files a frame: 1, or more when they are blended into one.
    const int n_;
    const std::int64_t count_ = st_.Fle.ListCount() / n_;
    FrameBlend blend_;

    PAVIFILE file_ = nullptr;
    PAVISTREAM stream_ = nullptr;
    PAVISTREAM compressed_ = nullptr;
    PAVISTREAM sound_ = nullptr;
    std::int64_t soundWritten_ = 0; // samples
    std::vector<std::uint8_t> soundBuffer_;
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
    // Whether this run has decoded a frame that a passed-over file may repeat.
    bool haveFrame_ = false;
};

bool Run::Yield()
{
    host_.ProcessEvents();
    return host_.Closing();
}

template <class Stage>
Outcome Run::Guarded(Stage stage)
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
bool Run::Prepare(const std::vector<std::string>& group, const std::string& bitmap)
{
    bool decoded = false;
    if (group.size() == 1) {
        decoded = ReadTGA(group.front(), image_);
    } else {
        blend_.Start();
        for (const std::string& targa : group)
            if (ReadTGA(targa, image_) && !blend_.Add(image_))
                throw RunStop("The frame " + targa + " is " + std::to_string(image_.Width) + " x " +
                              std::to_string(image_.Height) + " pixels, unlike the frames blended with it:" + kCrLf +
                              group.front());
        decoded = blend_.Result(image_);
    }
    if (decoded)
        haveFrame_ = true;
    else if (haveFrame_)
        // The last write left the rows reversed; put them back the right way
        // up, so the repeated picture goes out as it came in.
        FlipRows(image_);
    else
        return false;
    if (force_)
        ResampleImage(image_, forcedWidth_, forcedHeight_);
    temporaries_.insert(bitmap);
    WriteBMP(bitmap, image_);
    return true;
}

std::vector<std::string> Run::NextGroup()
{
    std::vector<std::string> group;
    for (std::string name; static_cast<int>(group.size()) < n_ && !(name = GetNext(st_.Fle, st_.FrameIndex)).empty();)
        group.push_back(FramePath(name));
    if (!group.empty() && static_cast<int>(group.size()) < n_) {
        host_.ShowMessage("The last " + std::to_string(group.size()) + " files, from " + group.front() +
                              " on, make no whole group of " + std::to_string(n_) + " and are left out.",
                          vbInformation | vbOKOnly, kAppTitle);
        group.clear();
    }
    return group;
}

Outcome Run::CheckSize()
{
    const std::int32_t width = st_.FrameDib->Width(), height = st_.FrameDib->Height();
    if (width == movieWidth_ && height == movieHeight_)
        return Outcome::GoOn();
    host_.ShowMessage("The frame " + currentTarga_ + " is " + std::to_string(width) + " x " + std::to_string(height) +
                          " pixels, but the movie's frames are " + std::to_string(movieWidth_) + " x " +
                          std::to_string(movieHeight_) + ", the size of the first frame:" + kCrLf + firstTarga_,
                      vbExclamation | vbOKOnly, kAppTitle);
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
    if (!CanWriteIn(st_.Fle.Path()))
        runFolder_ = std::make_unique<RunFolder>();
    st_.FirstFramePath = runFolder_ ? BitmapPath(std::filesystem::path(firstTarga_).filename().string() + ".bmp")
                                    : firstTarga_ + ".bmp";
    const bool firstReady = Prepare(first, st_.FirstFramePath);
    if (!Prepare(group_, GroupBitmap()))
        return Outcome::Stopped("Neither of the first two frames is an uncompressed 24-bit Targa file:" +
                                std::string(kCrLf) + firstTarga_ + kCrLf + currentTarga_ + kCrLf +
                                "Reelcast reads only that kind.");
    if (!firstReady) // it takes the second frame's picture
        Prepare(first, st_.FirstFramePath);

    const std::string firstBitmap = host_.loadPic(st_.FirstFramePath, false, false, true);
    if (!st_.FrameDib->CreateFromFile(firstBitmap)) {
        host_.ShowMessage("Could not load first bitmap file in list!", vbExclamation | vbOKOnly, kAppTitle);
        return Outcome::Failed(AVIERR_FILEREAD, "Movie's creation stopped: the first bitmap could not be loaded.");
    }
    movieWidth_ = st_.FrameDib->Width();
    movieHeight_ = st_.FrameDib->Height();
    return Outcome::GoOn();
}

// The stream, the compressor and the format, from the first bitmap.
Outcome Run::CreateStream()
{
    if (const auto exact = host_.HeaderRate())
        rate_ = exact->fromSound && host_.Sound() ? RateForSound(count_, host_.Sound()->frames(),
                                                                 host_.Sound()->format().sampleRate)
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
    optionsChosen_ = host_.ChooseCompressor(stream_, options_);
    if (!optionsChosen_) {
        FreeOptions();
        return Outcome::Refused();
    }
    REELCAST_CHECK(AVIMakeCompressedStream(&compressed_, stream_, &options_, nullptr));
    if (host_.Sound())
        if (Outcome made = CreateSoundStream(); !made.goesOn())
            return made;
    REELCAST_CHECK(AVIStreamSetFormat(compressed_, 0, st_.FrameDib->PointerToBitmapInfo(),
                                      st_.FrameDib->SizeBitmapInfo()));

    // The first bitmap has given the format; the frames follow.
    DeleteTemporary(st_.FirstFramePath);
    host_.ShowProgress(1);
    if (Yield())
        return Outcome::Closed();
    host_.ShowProgress(0);
    return Outcome::GoOn();
}

// The sound's format goes into the header with the picture's, so its stream
// comes first.
Outcome Run::CreateSoundStream()
{
    const wav::Format& format = host_.Sound()->format();
    AVI_STREAM_INFO info{};
    info.fccType = mmioStringToFOURCC("auds", 0);
    info.dwScale = format.blockAlign;
    info.dwRate = format.bytesPerSecond;
    info.dwSampleSize = format.blockAlign;
    REELCAST_CHECK(AVIFileCreateStream(file_, &sound_, &info));
    std::uint8_t waveFormat[wav::kWaveFormatExSize];
    wav::PutWaveFormatEx(format, waveFormat);
    REELCAST_CHECK(AVIStreamSetFormat(sound_, 0, waveFormat, sizeof waveFormat));
    return Outcome::GoOn();
}

HRESULT_AVI Run::WriteSound(std::int64_t frames)
{
    if (!sound_)
        return AVIERR_OK;
    const wav::Reader& sound = *host_.Sound();
    // Samples up to the end of those frames: frames * scale / rate seconds.
    const std::uint64_t perFrame = static_cast<std::uint64_t>(rate_.scale) * sound.format().sampleRate;
    const auto n = static_cast<std::uint64_t>(frames);
    const std::uint64_t whole = perFrame / rate_.rate, part = perFrame % rate_.rate;
    const bool beyond = whole > 0 && n > static_cast<std::uint64_t>(sound.frames()) / whole;
    const std::int64_t end =
        beyond ? sound.frames()
               : std::min<std::int64_t>(static_cast<std::int64_t>(n * whole + n * part / rate_.rate), sound.frames());
    // In pieces of at most a second, so that the rest of a long track after
    // the last frame is no single huge chunk.
    while (soundWritten_ < end) {
        const std::int64_t count = std::min<std::int64_t>(end - soundWritten_, sound.format().sampleRate);
        sound.Read(soundWritten_, count, soundBuffer_);
        const HRESULT_AVI hr =
            AVIStreamWrite(sound_, static_cast<std::int32_t>(soundWritten_), static_cast<std::int32_t>(count),
                           soundBuffer_.data(), static_cast<std::int32_t>(soundBuffer_.size()), 0, nullptr, nullptr);
        if (hr != AVIERR_OK)
            return hr;
        soundWritten_ += count;
    }
    return AVIERR_OK;
}

Outcome Run::FrameLoop()
{
    position_ = 0;
    while (!group_.empty()) {
        ++position_;
        host_.SetStatus("File's Creation Status: " +
                        host_.FormatPercent(static_cast<double>(position_) / (count_ + 1) * 100) + "%");
        if (Yield())
            return Outcome::Closed();
        const std::string bitmap = GroupBitmap();
        const std::string toLoad = host_.loadPic(bitmap, false, false, true);
        if (Yield())
            return Outcome::Closed();
        // A bitmap this run wrote that no longer loads has been reported by
        // cDIB; writing the previous frame again in its place would hide it.
        if (!st_.FrameDib->CreateFromFile(toLoad))
            return Outcome::Stopped("Could not load the bitmap of frame " + std::to_string(position_ + 1) + ":" +
                                    kCrLf + toLoad);
        if (Yield())
            return Outcome::Closed();
        if (Outcome wrongSize = CheckSize(); !wrongSize.goesOn()) {
            DeleteTemporary(bitmap);
            return wrongSize;
        }
        const HRESULT_AVI written = AVIStreamWrite(compressed_, position_, 1, st_.FrameDib->PointerToBits(),
                                                   st_.FrameDib->SizeImage(), AVIIF_KEYFRAME, nullptr, nullptr);
        DeleteTemporary(bitmap);
        if (written != 0)
            return Outcome::Failed(written);
        ++written_;
        // The sound that plays with the frames in the movie so far, position
        // 0 included: a stopped run keeps both in step.
        REELCAST_CHECK(WriteSound(position_ + 1));
        if (st_.CancelRequested)
            return Outcome::GoOn();
        group_ = NextGroup();
        if (!group_.empty()) {
            currentTarga_ = group_.front();
            Prepare(group_, GroupBitmap());
        }
        for (int i = 0; i < 3; ++i)
            if (Yield())
                return Outcome::Closed();
        host_.ShowProgress(static_cast<float>(static_cast<double>(position_) / count_ * 100));
        host_.FramesWritten(written_, count_ - 1);
    }
    // Every frame is in: the whole sound track follows, however long.
    REELCAST_CHECK(WriteSound(std::numeric_limits<std::int32_t>::max()));
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
        AVIStreamRelease(sound_);
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
    // A movie without a frame is no movie: no player opens it.
    if (file_ && inFile_ == 0)
        fileio::Delete(st_.OutputPath);

    host_.ShowProgress(100);
    return outcome;
}

BuildResult Run::Report(const Outcome& outcome)
{
    BuildResult result;
    result.framesWritten = inFile_;
    result.resultCode = resultCode_;
    result.rate = rate_;
    result.movieFrames = count_;
    switch (outcome.kind) {
    case Outcome::Kind::Closed:
        result.outcome = BuildOutcome::Cancelled;
        result.status = "Movie's creation stopped: the window was closed.";
        break;
    case Outcome::Kind::Message:
        host_.ShowMessage(outcome.text, vbCritical | vbOKOnly, kAppTitle);
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
    host_.SetStatus(result.status);
    if (outcome.goesOn())
        host_.OfferToWatch(st_.OutputPath);
    st_.CancelRequested = true;
    host_.SetCreateCaption(kCreate);
    return result;
}

BuildResult Run::Go()
{
    Outcome outcome = Guarded([this] { return OpenMovie(); });
    if (outcome.goesOn())
        outcome = Guarded([this] { return PrepareFirstFrames(); });
    if (outcome.goesOn())
        outcome = Guarded([this] { return CreateStream(); });
    if (outcome.goesOn())
        outcome = Guarded([this] { return FrameLoop(); });
    return Report(Ending(std::move(outcome)));
}

#undef REELCAST_CHECK

BuildResult EarlyExit(MovieBuildHost& host, const std::string& message = {}, unsigned style = 0,
                      const std::string& title = {})
{
    if (!message.empty())
        host.ShowMessage(message, style, title);
    host.SetCreateCaption(kCreate);
    BuildResult result;
    result.outcome = BuildOutcome::NotStarted;
    result.status = message;
    return result;
}

} // namespace

FrameRate WindowRate(const std::string& fpsText)
{
    int rate = RoundToInt16(TextValue(fpsText));
    if (rate < kMinRate || rate > kMaxRate)
        rate = kDefaultRate;
    return {std::min<std::uint32_t>(static_cast<std::uint32_t>(rate), kMaxHeaderRate), 1};
}

FrameRate RateForSound(std::int64_t frames, std::int64_t samples, std::uint32_t sampleRate)
{
    std::uint64_t rate = static_cast<std::uint64_t>(std::max<std::int64_t>(frames, 1)) * sampleRate;
    std::uint64_t scale = static_cast<std::uint64_t>(std::max<std::int64_t>(samples, 1));
    const std::uint64_t common = std::gcd(rate, scale);
    rate /= common, scale /= common;
    // Beyond 32 bits the fraction is kept to the precision the fields hold.
    while (rate > UINT32_MAX || scale > UINT32_MAX)
        rate = (rate + 1) / 2, scale = (scale + 1) / 2;
    return {static_cast<std::uint32_t>(rate), static_cast<std::uint32_t>(scale)};
}

FrameImage& SharedFrameImage()
{
    static FrameImage image;
    return image;
}

BuildResult CmdCreate_Click(MovieBuildHost& host, BuildState& st, FrameImage& image)
{
    if (host.CreateCaption() == kCancel) {
        st.CancelRequested = true;
        BuildResult pressed;
        pressed.outcome = BuildOutcome::CancelPressed;
        return pressed;
    }
    host.SetCreateCaption(kCancel);

    const std::int32_t width = RoundToInt32(TextValue(host.WidthText()));
    const std::int32_t height = RoundToInt32(TextValue(host.HeightText()));
    const FrameRate rate = WindowRate(host.FpsText());
    const bool force = host.ForceValue() != 0;

    st.FrameIndex = 0;
    st.Fle.SetPath(host.DirectoryText());
    if (st.Fle.ListCount() < 1) {
        std::string message = "There's no TGA files in:" + std::string(kCrLf) + host.DirectoryText();
        if (!st.Fle.ListError().empty())
            message += std::string(kCrLf) + "(" + st.Fle.ListError() + ")";
        return EarlyExit(host, message, vbExclamation | vbOKOnly, "Error!");
    }
    // The first file only gives the movie its format: one file makes no movie.
    const int blend = std::max(1, host.BlendCount());
    if (st.Fle.ListCount() == 1 && blend == 1)
        return EarlyExit(host,
                         "There's only one TGA file in:" + std::string(kCrLf) + host.DirectoryText() + kCrLf +
                             "A movie needs at least two: the first one only gives the movie its format.",
                         vbExclamation | vbOKOnly, "Error!");
    if (st.Fle.ListCount() < 2 * blend)
        return EarlyExit(host,
                         "There are " + std::to_string(st.Fle.ListCount()) + " TGA files in:" + kCrLf +
                             host.DirectoryText() + kCrLf + "Blending " + std::to_string(blend) +
                             " into each frame needs at least " + std::to_string(2 * blend) +
                             ": the first group only gives the movie its format.",
                         vbExclamation | vbOKOnly, "Error!");
    if (force && !ForcedSizeFits(width, height))
        return EarlyExit(host,
                         "The forced movie dimensions must be at least 1 x 1 and fit a bitmap file:" +
                             std::string(kCrLf) + "Width: " + host.WidthText() + kCrLf + "Height: " + host.HeightText(),
                         vbExclamation | vbOKOnly, "Error!");

    st.OutputPath = host.OutputText();
    st.FirstFramePath = JoinPath(host.DirectoryText(), GetNext(st.Fle, st.FrameIndex));

    if (FileExist(st.OutputPath)) {
        if (!host.ConfirmOverwrite(st.OutputPath))
            return EarlyExit(host);
        if (std::string why = TryDelete(st.OutputPath, "existing movie"); !why.empty())
            return EarlyExit(host, why, vbCritical | vbOKOnly, kAppTitle);
    }

    RemoveOrphanedBMPs(st.Fle.Path());
    st.CancelRequested = false;
    return Run(host, st, image, width, height, rate, force, blend).Go();
}
