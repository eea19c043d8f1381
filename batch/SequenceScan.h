// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// reelcast-batch's look at the whole sequence before anything is written:
// every frame file's 18-byte header and its size, nothing more, so that
// tens of thousands of files take a fraction of a second. What it keeps
// does not grow with the number of files: counts, and the first few names
// of each finding.
#include <cstdint>
#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

namespace batch {

// n with a comma between thousands: 1,200.
std::string Thousands(std::int64_t n);

// A finding: how many times it was made, and the first few, described.
struct Findings {
    static constexpr std::size_t kNamed = 5;
    std::int64_t count = 0;
    std::vector<std::string> first;
    void Add(std::string what)
    {
        ++count;
        if (first.size() < kNamed)
            first.push_back(std::move(what));
    }
};

struct SequenceScan {
    std::int64_t files = 0;
    // Files of each kind (image type, depth, run-length), in the order found.
    std::vector<std::pair<std::string, std::int64_t>> kinds;
    Findings unreadable; // "shot0003.tga (run-length data ends early)"
    // The first frame that can be read, which gives the movie its size.
    std::string first;
    std::int32_t width = 0, height = 0;
    Findings otherSize;  // "shot0009.tga (640 x 480)"
    Findings gaps;       // "shot0041–shot0043 missing"
    std::int64_t missing = 0; // files missing in all the gaps, at most INT64_MAX

    bool problems() const { return unreadable.count > 0 || otherSize.count > 0 || gaps.count > 0; }
};

// Looks at the frame files of directory, in the order the run takes them.
SequenceScan ScanSequence(const std::string& directory);

// The scan's report: one short block of lines, each starting with the
// program's name; nothing for a directory without frame files.
void PrintScan(const SequenceScan& scan, std::ostream& err);

} // namespace batch
