// SPDX-License-Identifier: GPL-2.0-or-later
#include "MovieBuild.h"

#include "BitmapFormat.h"
#include "BuildRun.h"
#include "KeptBitmap.h"
#include "TextValue.h"
#include "mdFile.h"

#include <algorithm>
#include <numeric>

namespace {

// Frame rates outside this range are replaced by the default...
constexpr int kMinRate = 1;
constexpr int kMaxRate = 50;
constexpr int kDefaultRate = 15;
// ...and the stream header takes at most this many frames per second.
constexpr std::uint32_t kMaxHeaderRate = 30;

bool ForcedSizeFits(std::int32_t width, std::int32_t height)
{
    if (width < 1 || height < 1)
        return false;
    return bmp::FitsFile(width, height, 24, bmp::kFileHeaderSize + bmp::kInfoHeaderSize);
}

BuildResult EarlyExit(BuildSink& sink, const std::string& message = {}, unsigned style = 0,
                      const std::string& title = {})
{
    if (!message.empty())
        sink.ShowMessage({message, style, title});
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
    return ClosestRate(static_cast<std::uint64_t>(std::max<std::int64_t>(frames, 1)) * sampleRate,
                       static_cast<std::uint64_t>(std::max<std::int64_t>(samples, 1)));
}

FrameImage& SharedFrameImage()
{
    static FrameImage image;
    return image;
}

BuildResult BuildMovie(const BuildRequest& request, BuildQuestions& questions, BuildSink& sink, BuildState& st,
                       FrameImage& image)
{
    const std::int32_t width = RoundToInt32(TextValue(request.widthText));
    const std::int32_t height = RoundToInt32(TextValue(request.heightText));
    const FrameRate rate = WindowRate(request.fpsText);
    const bool force = request.force;

    st.FrameIndex = 0;
    st.Fle.SetPath(request.directory);
    if (st.Fle.ListCount() < 1) {
        std::string message = "There's no TGA files in:" + std::string(kCrLf) + request.directory;
        if (!st.Fle.ListError().empty())
            message += std::string(kCrLf) + "(" + st.Fle.ListError() + ")";
        return EarlyExit(sink, message, vbExclamation | vbOKOnly, "Error!");
    }
    // The first file only gives the movie its format: one file makes no movie.
    const int blend = std::max(1, request.blend);
    if (st.Fle.ListCount() == 1 && blend == 1)
        return EarlyExit(sink,
                         "There's only one TGA file in:" + std::string(kCrLf) + request.directory + kCrLf +
                             "A movie needs at least two: the first one only gives the movie its format.",
                         vbExclamation | vbOKOnly, "Error!");
    if (st.Fle.ListCount() < 2 * blend)
        return EarlyExit(sink,
                         "There are " + std::to_string(st.Fle.ListCount()) + " TGA files in:" + kCrLf +
                             request.directory + kCrLf + "Blending " + std::to_string(blend) +
                             " into each frame needs at least " + std::to_string(2 * blend) +
                             ": the first group only gives the movie its format.",
                         vbExclamation | vbOKOnly, "Error!");
    if (force && !ForcedSizeFits(width, height))
        return EarlyExit(sink,
                         "The forced movie dimensions must be at least 1 x 1 and fit a bitmap file:" +
                             std::string(kCrLf) + "Width: " + request.widthText + kCrLf + "Height: " + request.heightText,
                         vbExclamation | vbOKOnly, "Error!");

    st.OutputPath = request.output;
    st.FirstFramePath = JoinPath(request.directory, GetNext(st.Fle, st.FrameIndex));

    if (FileExist(st.OutputPath)) {
        if (!questions.ConfirmOverwrite(st.OutputPath))
            return EarlyExit(sink);
        if (std::string why = TryDelete(st.OutputPath, "existing movie"); !why.empty())
            return EarlyExit(sink, why, vbCritical | vbOKOnly, kAppTitle);
    }

    RemoveOrphanedBMPs(st.Fle.Path());
    st.CancelRequested = false;
    return RunBuild(request, questions, sink, st, image, width, height, rate, blend);
}
