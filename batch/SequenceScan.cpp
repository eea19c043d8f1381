// SPDX-License-Identifier: GPL-2.0-or-later
#include "SequenceScan.h"

#include "FileIO.h"
#include "FileListBox.h"
#include "TargaFormat.h"
#include "TargaReader.h"
#include "mdFile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <limits>
#include <ostream>
#include <strings.h>

namespace batch {

namespace {

// A name's number: the digits that end its stem, and what comes before.
struct Numbered {
    std::string prefix; // the name up to the digits
    std::string digits;
    bool ok = false;
};

Numbered NumberOf(const std::string& name)
{
    const auto dot = name.rfind('.');
    const std::string stem = name.substr(0, dot);
    std::size_t start = stem.size();
    while (start > 0 && std::isdigit(static_cast<unsigned char>(stem[start - 1])))
        --start;
    // More than 18 digits are no frame number.
    if (start == stem.size() || stem.size() - start > 18)
        return {};
    return {stem.substr(0, start), stem.substr(start), true};
}

// The name of frame number n, as wide as digits.
std::string NumberedName(const Numbered& like, std::uint64_t n)
{
    std::string digits = std::to_string(n);
    if (digits.size() < like.digits.size())
        digits.insert(0, like.digits.size() - digits.size(), '0');
    return like.prefix + digits;
}

// Adds the gap between two names that follow each other in the list.
void FindGap(SequenceScan& scan, const Numbered& before, const Numbered& after)
{
    if (!before.ok || !after.ok || before.digits.size() != after.digits.size() ||
        ::strcasecmp(before.prefix.c_str(), after.prefix.c_str()) != 0)
        return;
    const std::uint64_t a = std::stoull(before.digits), b = std::stoull(after.digits);
    if (b <= a + 1)
        return;
    // Each gap fits, 18 digits at most; ten of them pass the total's largest,
    // where it stops.
    scan.missing = static_cast<std::int64_t>(std::min<std::uint64_t>(
        static_cast<std::uint64_t>(scan.missing) + (b - a - 1), std::numeric_limits<std::int64_t>::max()));
    scan.gaps.Add(b == a + 2 ? NumberedName(before, a + 1) + " missing"
                             : NumberedName(before, a + 1) + "\u2013" + NumberedName(before, b - 1) + " missing");
}

// Why the file cannot be read, from its header and size; fills header.
std::string Look(const std::string& path, TargaHeader& header)
{
    const fileio::File file = fileio::File::OpenForReading(path);
    if (!file.ok())
        return "cannot be opened: " + fileio::ErrorText(errno);
    std::uint8_t raw[TargaHeader::kSize] = {};
    const std::int64_t length = file.Length();
    const std::int64_t got = file.ReadAt(raw, sizeof raw, 0);
    if (length < 0 || got < 0)
        return "cannot be read: " + fileio::ErrorText(errno);
    header = TargaHeader::Parse(raw);
    return targa::HeaderProblem(header, got < static_cast<std::int64_t>(sizeof raw) ? got : length);
}

void PrintFindings(std::ostream& err, const Findings& f)
{
    for (std::size_t i = 0; i < f.first.size(); ++i)
        err << (i ? "; " : "") << f.first[i];
    if (f.count > static_cast<std::int64_t>(f.first.size()))
        err << "; and " << Thousands(f.count - static_cast<std::int64_t>(f.first.size())) << " more";
    err << "\n";
}

} // namespace

std::string Thousands(std::int64_t n)
{
    std::string digits = std::to_string(n < 0 ? -n : n);
    for (auto at = static_cast<std::ptrdiff_t>(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(static_cast<std::size_t>(at), ",");
    return (n < 0 ? "-" : "") + digits;
}

SequenceScan ScanSequence(const std::string& directory)
{
    SequenceScan scan;
    FileListBox list;
    list.SetPath(directory);
    scan.files = list.ListCount();
    Numbered previous;
    for (std::int64_t i = 0; i < list.ListCount(); ++i) {
        const std::string& name = list.List(i);
        const Numbered number = NumberOf(name);
        FindGap(scan, previous, number);
        previous = number;

        TargaHeader t;
        if (std::string why = Look(JoinPath(list.Path(), name), t); !why.empty()) {
            scan.unreadable.Add(name + " (" + why + ")");
            continue;
        }
        const std::string kind = targa::KindName(t);
        auto k = scan.kinds.begin();
        while (k != scan.kinds.end() && k->first != kind)
            ++k;
        if (k == scan.kinds.end())
            scan.kinds.emplace_back(kind, 1);
        else
            ++k->second;
        if (scan.first.empty()) {
            scan.first = name, scan.width = t.Width, scan.height = t.Height;
        } else if (t.Width != scan.width || t.Height != scan.height) {
            scan.otherSize.Add(name + " (" + std::to_string(t.Width) + " x " + std::to_string(t.Height) + ")");
        }
    }
    return scan;
}

void PrintScan(const SequenceScan& scan, std::ostream& err)
{
    if (scan.files == 0)
        return;
    err << "reelcast-batch: " << Thousands(scan.files) << (scan.files == 1 ? " frame file" : " frame files");
    for (std::size_t i = 0; i < scan.kinds.size(); ++i)
        err << (i ? "; " : ": ") << Thousands(scan.kinds[i].second) << " " << scan.kinds[i].first;
    err << "\n";
    if (scan.unreadable.count > 0) {
        err << "reelcast-batch: " << Thousands(scan.unreadable.count) << " cannot be read: ";
        PrintFindings(err, scan.unreadable);
    }
    if (scan.otherSize.count > 0) {
        err << "reelcast-batch: " << Thousands(scan.otherSize.count) << " not " << scan.width << " x "
            << scan.height << " like the first frame, " << scan.first << ": ";
        PrintFindings(err, scan.otherSize);
    }
    if (scan.gaps.count > 0) {
        err << "reelcast-batch: gaps in the numbering (" << Thousands(scan.missing)
            << (scan.missing == 1 ? " file): " : " files): ");
        PrintFindings(err, scan.gaps);
    }
}

} // namespace batch
