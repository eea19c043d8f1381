// SPDX-License-Identifier: GPL-2.0-or-later
#include "BatchHost.h"

#include "SequenceScan.h"
#include "StopSignals.h"
#include "TextValue.h"
#include "mdAVI.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iomanip>
#include <sstream>
#include <stdexcept>

namespace batch {

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

BatchHost::BatchHost(const Options& o, const AviCompressor& codec, BuildState& state, std::ostream& err,
                     bool terminal)
    : o_(o), codec_(codec), state_(state), err_(err), terminal_(terminal)
{
    try {
        locale_ = std::locale("");
    } catch (const std::runtime_error&) {
        locale_ = std::locale::classic();
    }
}

std::string BatchHost::FormatPercent(double percent) const
{
    std::ostringstream text;
    text.imbue(locale_);
    text << std::fixed << std::setprecision(1) << percent;
    return text.str();
}

std::string BatchHost::ShowFrame(const std::string&)
{
    // Never asked: reelcast-batch's frames go into the movie from memory.
    return {};
}

void BatchHost::ShowMessage(const Notice& notice)
{
    EndBar();
    err_ << "reelcast-batch: " << WithNewlines(notice.text) << "\n";
    reported_ = true;
}

// Kept for the account, not told at once: the bar goes on undisturbed.
void BatchHost::PassedOver(const std::string& file, const std::string& why)
{
    ++passedOver_;
    if (firstPassedOver_.size() < kNamed)
        firstPassedOver_.emplace_back(std::filesystem::path(file).filename().string(), why);
}

bool BatchHost::ChooseCompressor(PAVISTREAM, AVICOMPRESSOPTIONS& options)
{
    options.fccType = mmioStringToFOURCC("vids", 0);
    options.fccHandler = codec_.fccHandler;
    if (!o_.keyFrameEvery.empty())
        options.dwKeyFrameEvery = static_cast<std::uint32_t>(std::max(0, RoundToInt32(TextValue(o_.keyFrameEvery))));
    if (!o_.dataRate.empty())
        options.dwBytesPerSecond = static_cast<std::uint32_t>(
            std::clamp<std::int64_t>(RoundToInt32(TextValue(o_.dataRate)), 0, 4194303) * 1024);
    options.dwQuality = static_cast<std::uint32_t>(std::clamp(RoundToInt32(TextValue(o_.quality)), 0, 100) * 100);
    return true;
}

bool BatchHost::Yield()
{
    if (StopSignals::Requested())
        state_.CancelRequested = true;
    return false;
}

void BatchHost::FramesWritten(std::int64_t done, std::int64_t total)
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

void BatchHost::EndBar()
{
    if (drewBar_)
        err_ << "\n";
    drewBar_ = false;
}

void BatchHost::Account(std::int64_t files) const
{
    if (passedOver_ == 0)
        return;
    err_ << "reelcast-batch: " << Thousands(passedOver_) << " of " << Thousands(files)
         << (files == 1 ? " file" : " files") << " could not be read and "
         << (o_.blend > 1 ? (passedOver_ == 1 ? "is left out of its group's average"
                                              : "are left out of their groups' averages")
                          : (passedOver_ == 1 ? "repeats the frame before it" : "repeat the frame before them"))
         << ": ";
    for (std::size_t i = 0; i < firstPassedOver_.size(); ++i)
        err_ << (i ? ", " : "") << firstPassedOver_[i].first << " (" << firstPassedOver_[i].second << ")";
    if (passedOver_ > static_cast<std::int64_t>(firstPassedOver_.size()))
        err_ << ", and " << Thousands(passedOver_ - static_cast<std::int64_t>(firstPassedOver_.size())) << " more";
    err_ << "\n";
}

} // namespace batch
