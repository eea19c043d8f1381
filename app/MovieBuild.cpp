#include "MovieBuild.h"

#include "BitmapFormat.h"
#include "DoEvents.h"
#include "FileIO.h"
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

class Run {
public:
    Run(MovieBuildHost& host, BuildState& state, FrameImage& image, std::int32_t width, std::int32_t height,
        std::int16_t rate, bool force)
        : host_(host), st_(state), image_(image), forcedWidth_(width), forcedHeight_(height), rate_(rate),
          force_(force)
    {
    }

    BuildResult Go();

private:
    void SetUp();
    void FrameLoop();
    void Ending();
    // Processes waiting events; true when the front end is going away.
    bool Yield();
    bool Prepare(const std::string& targa, const std::string& bitmap);
    // False, with the result code and a message naming the file, when the
    // frame in FrameDib is not of the movie's size.
    bool SameSizeAsMovie();
    std::string FirstTarga() const { return firstTarga_; }
    void DeleteTemporary(const std::string& path);
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
    std::int16_t rate_;
    const bool force_;
    const std::int64_t count_ = st_.Fle.ListCount();

    PAVIFILE file_ = nullptr;
    PAVISTREAM stream_ = nullptr;
    PAVISTREAM compressed_ = nullptr;
    AVICOMPRESSOPTIONS options_{};
    AVICOMPRESSOPTIONS* optionsList_[1] = {&options_};
    bool optionsAccepted_ = false;
    bool dialogRefused_ = false;
    bool firstNotLoaded_ = false;
    bool closing_ = false;
    bool loopEnded_ = false;
    HRESULT_AVI resultCode_ = 0;
    std::unique_ptr<RunFolder> runFolder_;
    std::string firstTarga_;
    std::string currentName_;
    std::string currentTarga_; // the frame file whose bitmap currentName_ names
    std::int32_t position_ = 0;
    // Frames whose write was answered 0, and frames a reader finds in the
    // movie once it is closed: only the latter are reported.
    std::int64_t written_ = 0;
    std::int64_t inFile_ = 0;
    // The first frame's size: every frame of the movie must have it.
    std::int32_t movieWidth_ = 0;
    std::int32_t movieHeight_ = 0;
    std::string stopMessage_;
    // Temporary bitmaps made and not yet deleted.
    std::set<std::string> temporaries_;
    // Whether this run has decoded a frame that a passed-over file may repeat.
    bool haveFrame_ = false;
};

bool Run::Yield()
{
    DoEvents();
    closing_ = closing_ || host_.Closing();
    return closing_;
}

void Run::DeleteTemporary(const std::string& path)
{
    if (const int err = RetireBMP(path); err != 0)
        throw RunStop(CannotDelete(path, "temporary bitmap", err));
    temporaries_.erase(path);
}

// Decodes one frame file into the shared image and writes its temporary
// bitmap. A file of another kind repeats the previous picture of this run;
// with no such picture yet, nothing is written and the answer is false.
bool Run::Prepare(const std::string& targa, const std::string& bitmap)
{
    const bool decoded = ReadTGA(targa, image_);
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

bool Run::SameSizeAsMovie()
{
    const std::int32_t width = st_.FrameDib->Width(), height = st_.FrameDib->Height();
    if (width == movieWidth_ && height == movieHeight_)
        return true;
    resultCode_ = AVIERR_BADSIZE;
    MsgBox("The frame " + currentTarga_ + " is " + std::to_string(width) + " x " + std::to_string(height) +
               " pixels, but the movie's frames are " + std::to_string(movieWidth_) + " x " +
               std::to_string(movieHeight_) + ", the size of the first frame:" + kCrLf + FirstTarga(),
           vbExclamation | vbOKOnly, kAppTitle);
    return false;
}

void Run::SetUp()
{
    // The movie file.
    AVIFileInit();
    resultCode_ = AVIFileOpen(&file_, st_.OutputPath.c_str(), OF_WRITE | OF_CREATE, nullptr);
    if (resultCode_ != 0)
        return;

    // The first and the second frame are prepared ahead. The first goes
    // first, so that the shared image holds the second's picture when a
    // passed-over third file repeats the frame before it.
    st_.FrameDib = std::make_unique<cDIB>();
    currentName_ = GetNext(st_.Fle, st_.FrameIndex);
    const std::string secondTarga = FramePath(currentName_);
    currentName_ += ".bmp";
    const std::string firstTarga = firstTarga_ = st_.FirstFramePath;
    if (!CanWriteIn(st_.Fle.Path()))
        runFolder_ = std::make_unique<RunFolder>();
    st_.FirstFramePath = runFolder_ ? BitmapPath(std::filesystem::path(firstTarga).filename().string() + ".bmp") : firstTarga + ".bmp";
    const bool firstReady = Prepare(firstTarga, st_.FirstFramePath);
    if (!Prepare(secondTarga, BitmapPath(currentName_)))
        throw RunStop("Neither of the first two frames is an uncompressed 24-bit Targa file:" + std::string(kCrLf) +
                      firstTarga + kCrLf + secondTarga + kCrLf + "Reelcast reads only that kind.");
    if (!firstReady) // it takes the second frame's picture
        Prepare(firstTarga, st_.FirstFramePath);
    currentTarga_ = secondTarga;

    // The first bitmap gives the movie its format.
    const std::string firstBitmap = host_.loadPic(st_.FirstFramePath, false, false, true);
    if (!st_.FrameDib->CreateFromFile(firstBitmap)) {
        MsgBox("Could not load first bitmap file in list!", vbExclamation | vbOKOnly, kAppTitle);
        firstNotLoaded_ = true;
        return;
    }
    movieWidth_ = st_.FrameDib->Width();
    movieHeight_ = st_.FrameDib->Height();

    // The stream, the compressor and the format.
    if (rate_ < kMinRate || rate_ > kMaxRate)
        rate_ = kDefaultRate;
    AVI_STREAM_INFO info;
    std::memset(&info, 0, sizeof info);
    info.fccType = mmioStringToFOURCC("vids", 0);
    info.fccHandler = 0;
    info.dwScale = 1;
    info.dwRate = std::clamp<std::uint32_t>(static_cast<std::uint32_t>(rate_), 1, kMaxHeaderRate);
    info.dwSuggestedBufferSize = static_cast<std::uint32_t>(st_.FrameDib->SizeImage());
    SetRect(&info.rcFrame, 0, 0, st_.FrameDib->Width(), st_.FrameDib->Height());
    resultCode_ = AVIFileCreateStream(file_, &stream_, &info);
    if (resultCode_ != 0)
        return;
    const int answer = AVISaveOptions(host_.OwnerWindow(), ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE, 1, &stream_,
                                      optionsList_);
    if (answer != 1) {
        AVISaveOptionsFree(1, optionsList_);
        resultCode_ = answer;
        dialogRefused_ = true;
        return;
    }
    optionsAccepted_ = true;
    resultCode_ = AVIMakeCompressedStream(&compressed_, stream_, &options_, nullptr);
    if (resultCode_ != 0)
        return;
    resultCode_ = AVIStreamSetFormat(compressed_, 0, st_.FrameDib->PointerToBitmapInfo(),
                                     st_.FrameDib->SizeBitmapInfo());
    if (resultCode_ != 0)
        return;

    // The first bitmap has given the format; the frames follow.
    DeleteTemporary(st_.FirstFramePath);
    host_.ShowProgress(1);
    if (Yield())
        return;
    host_.ShowProgress(static_cast<float>(0.0 / (count_ + 1) * 100));
    FrameLoop();
}

void Run::FrameLoop()
{
    position_ = 0;
    while (!currentName_.empty()) {
        ++position_;
        host_.SetStatus("File's Creation Status: " +
                        host_.FormatPercent(static_cast<double>(position_) / (count_ + 1) * 100) + "%");
        if (Yield())
            return;
        const std::string bitmap = BitmapPath(currentName_);
        const std::string toLoad = host_.loadPic(bitmap, false, false, true);
        if (Yield())
            return;
        // A bitmap this run wrote that no longer loads has been reported by
        // cDIB; writing the previous frame again in its place would hide it.
        if (!st_.FrameDib->CreateFromFile(toLoad))
            throw RunStop("Could not load the bitmap of frame " + std::to_string(position_ + 1) + ":" + kCrLf + toLoad);
        if (Yield())
            return;
        if (!SameSizeAsMovie()) {
            DeleteTemporary(bitmap);
            return;
        }
        resultCode_ = AVIStreamWrite(compressed_, position_, 1, st_.FrameDib->PointerToBits(),
                                     st_.FrameDib->SizeImage(), AVIIF_KEYFRAME, nullptr, nullptr);
        if (resultCode_ == 0)
            ++written_;
        DeleteTemporary(bitmap);
        if (resultCode_ != 0 || st_.CancelRequested) {
            loopEnded_ = resultCode_ == 0;
            return;
        }
        currentName_ = GetNext(st_.Fle, st_.FrameIndex);
        if (!currentName_.empty()) {
            currentTarga_ = FramePath(currentName_);
            currentName_ += ".bmp";
            Prepare(currentTarga_, BitmapPath(currentName_));
        }
        for (int i = 0; i < 3; ++i)
            if (Yield())
                return;
        host_.ShowProgress(static_cast<float>(static_cast<double>(position_) / count_ * 100));
        host_.FramesWritten(written_, count_ - 1);
    }
    loopEnded_ = true;
}

void Run::Ending()
{
    if (stream_)
        AVIStreamRelease(stream_);
    if (compressed_)
        AVIStreamRelease(compressed_);
    if (file_) {
        AVIFILEINFO info{};
        const bool counted = AVIFileInfo(file_, &info, sizeof info) == AVIERR_OK;
        // NOTE: the release's result is examined: frames still queued, the
        // compressor's last frames and the indexes are written there, and a
        // failure among them must not end as a success.
        const HRESULT_AVI closed = AVIFileRelease(file_);
        if (resultCode_ == 0)
            resultCode_ = closed;
        // Position 0 only repeats the first written frame.
        if (counted && info.dwLength > 0 && (closed == AVIERR_OK || FileExist(st_.OutputPath)))
            inFile_ = static_cast<std::int64_t>(info.dwLength) - 1;
    }
    if (optionsAccepted_)
        AVISaveOptionsFree(1, optionsList_);
    AVIFileExit();

    // Temporary bitmaps never outlive the run, whichever way it ended.
    for (const std::string& path : temporaries_)
        if (std::string why = TryDelete(path, "temporary bitmap"); stopMessage_.empty())
            stopMessage_ = why;
    temporaries_.clear();
    std::string kept;
    if (const int err = ReleaseRetiredBMP(kept); err != 0 && stopMessage_.empty())
        stopMessage_ = CannotDelete(kept, "temporary bitmap", err);
    // A movie without a frame is no movie: no player opens it.
    if (file_ && inFile_ == 0)
        fileio::Delete(st_.OutputPath);

    host_.ShowProgress(100);
}

BuildResult Run::Go()
{
    try {
        SetUp();
    } catch (const std::bad_alloc&) {
        stopMessage_ = "Not enough memory for the frames.";
    } catch (const std::exception& e) {
        stopMessage_ = e.what();
    }
    Ending();

    BuildResult result;
    result.framesWritten = inFile_;
    result.resultCode = resultCode_;
    if (closing_) {
        result.outcome = BuildOutcome::Cancelled;
        result.status = "Movie's creation stopped: the window was closed.";
    } else if (!stopMessage_.empty()) {
        MsgBox(stopMessage_, vbCritical | vbOKOnly, kAppTitle);
        result.outcome = BuildOutcome::Failed;
        result.status = "Movie's creation stopped after " + std::to_string(inFile_) + " frames.";
    } else if (resultCode_ != 0) {
        result.outcome = BuildOutcome::Failed;
        result.status = resultCode_ == AVIERR_BADFORMAT || resultCode_ == AVIERR_INTERNAL
                            ? "There was an error writing the file."
                            : "There was an error creating the AVI File.";
    } else if (dialogRefused_) {
        result.outcome = BuildOutcome::NotStarted;
        result.status = "Movie's creation cancelled: no compressor chosen.";
    } else if (firstNotLoaded_) {
        result.outcome = BuildOutcome::Failed;
        result.status = "Movie's creation stopped: the first bitmap could not be loaded.";
    } else if (loopEnded_) {
        result.outcome = st_.CancelRequested ? BuildOutcome::Cancelled : BuildOutcome::Created;
        result.status = "Movie's Creation Completed!";
    }
    if (!result.status.empty())
        host_.SetStatus(result.status);
    if (loopEnded_ && !closing_ && stopMessage_.empty() && resultCode_ == 0 &&
        MsgBox(std::string("Movie's Creation Completed!") + kCrLf + "Do you want to watch it?", vbQuestion | vbYesNo,
               "Open Avi File?") == vbYes)
        host_.OpenMovie(st_.OutputPath);

    st_.CancelRequested = true;
    host_.SetCreateCaption(kCreate);
    return result;
}

BuildResult EarlyExit(MovieBuildHost& host, const std::string& message, unsigned style, const std::string& title)
{
    if (!message.empty())
        MsgBox(message, style, title);
    host.SetCreateCaption(kCreate);
    BuildResult result;
    result.outcome = BuildOutcome::NotStarted;
    result.status = message;
    return result;
}

} // namespace

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
    const std::int16_t rate = RoundToInt16(TextValue(host.FpsText()));
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
    if (st.Fle.ListCount() == 1)
        return EarlyExit(host,
                         "There's only one TGA file in:" + std::string(kCrLf) + host.DirectoryText() + kCrLf +
                             "A movie needs at least two: the first one only gives the movie its format.",
                         vbExclamation | vbOKOnly, "Error!");
    if (force && !ForcedSizeFits(width, height))
        return EarlyExit(host,
                         "The forced movie dimensions must be at least 1 x 1 and fit a bitmap file:" +
                             std::string(kCrLf) + "Width: " + host.WidthText() + kCrLf + "Height: " + host.HeightText(),
                         vbExclamation | vbOKOnly, "Error!");

    st.OutputPath = host.OutputText();
    st.FirstFramePath = JoinPath(host.DirectoryText(), GetNext(st.Fle, st.FrameIndex));

    if (FileExist(st.OutputPath)) {
        if (MsgBox(st.OutputPath + " already exists." + kCrLf + "Overwrite it?", vbQuestion | vbYesNo,
                   "Overwrite?") != vbYes)
            return EarlyExit(host, {}, 0, {});
        if (std::string why = TryDelete(st.OutputPath, "existing movie"); !why.empty())
            return EarlyExit(host, why, vbCritical | vbOKOnly, kAppTitle);
    }

    RemoveOrphanedBMPs(st.Fle.Path());
    st.CancelRequested = false;
    return Run(host, st, image, width, height, rate, force).Go();
}
