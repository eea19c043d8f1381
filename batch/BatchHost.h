// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// reelcast-batch's answers to the run and its terminal output: the
// overwrite from --overwrite, the compressor from --codec and its settings;
// reports go to standard error at once, the progress bar on a terminal, and
// the files passed over are kept for the account at the end. A stop signal
// asks the run to stop as Cancel would.
#include "BatchOptions.h"
#include "MovieBuild.h"

#include <chrono>
#include <cstdint>
#include <locale>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace batch {

// The time left on the bar, to the nearest second: "m:ss" under an hour,
// "h:mm:ss" from an hour.
std::string Duration(double seconds);

// The text with the run's CR LF line ends as plain newlines.
std::string WithNewlines(const std::string& text);

class BatchHost : public BuildQuestions, public BuildSink {
public:
    BatchHost(const Options& o, const AviCompressor& codec, BuildState& state, std::ostream& err, bool terminal);

    void SetStatus(const std::string& caption) override { status_ = caption; }
    void ShowProgress(float) override {}
    std::string FormatPercent(double percent) const override;
    // No picture box here: the bitmap only has to be there and readable.
    std::string ShowFrame(const std::string& bitmap) override;
    bool ConfirmOverwrite(const std::string&) override
    {
        refusedOverwrite_ = !o_.overwrite;
        return o_.overwrite;
    }
    void OfferToWatch(const std::string&) override {}
    void ShowMessage(const Notice& notice) override;
    void PassedOver(const std::string& file, const std::string& why) override;
    bool ChooseCompressor(PAVISTREAM, AVICOMPRESSOPTIONS& options) override;
    bool Yield() override;
    void FramesWritten(std::int64_t done, std::int64_t total) override;

    void EndBar();
    // The account of the files passed over, of files in all, as the last
    // lines before the final count; nothing when none was.
    void Account(std::int64_t files) const;

    const std::string& status() const { return status_; }
    bool reported() const { return reported_; }
    bool refusedOverwrite() const { return refusedOverwrite_; }

private:
    // The first files passed over that the account names.
    static constexpr std::size_t kNamed = 5;

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
    std::int64_t passedOver_ = 0;
    std::vector<std::pair<std::string, std::string>> firstPassedOver_; // file name, why
};

} // namespace batch
