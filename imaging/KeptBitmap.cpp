// SPDX-License-Identifier: GPL-2.0-or-later
#include "KeptBitmap.h"

#include <filesystem>
#include <string_view>
#include <system_error>
#include <utility>

using fileio::File;

namespace {

// The one retired bitmap kept for reuse, deleted at the latest when the
// program ends normally.
struct KeptBitmap {
    std::string path;
    KeptBitmap() = default;
    KeptBitmap(const KeptBitmap&) = delete;
    KeptBitmap& operator=(const KeptBitmap&) = delete;
    ~KeptBitmap() { Release(); }
    // Answers 0, or the errno of a failed delete with the path it named.
    int Release(std::string* failed = nullptr)
    {
        if (path.empty())
            return 0;
        std::string was = std::exchange(path, {});
        const int err = fileio::Delete(was);
        if (err != 0 && failed)
            *failed = std::move(was);
        return err;
    }
};

KeptBitmap& Kept()
{
    static KeptBitmap kept;
    return kept;
}

// Hidden, and named after the process, so that two runs in one directory
// never share one.
constexpr std::string_view kKeptPrefix = ".reelcast-";
constexpr std::string_view kKeptSuffix = ".bmp.part";

std::string KeptPathBeside(const std::string& file)
{
    const std::size_t slash = file.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : file.substr(0, slash + 1);
    return dir + std::string(kKeptPrefix) + std::to_string(fileio::ProcessId()) + std::string(kKeptSuffix);
}

// The process a kept file's name gives, or 0 when the name is not one.
int KeptFileOwner(const std::string& name)
{
    if (name.size() <= kKeptPrefix.size() + kKeptSuffix.size() || name.rfind(kKeptPrefix, 0) != 0 ||
        name.compare(name.size() - kKeptSuffix.size(), kKeptSuffix.size(), kKeptSuffix) != 0)
        return 0;
    const std::string digits = name.substr(kKeptPrefix.size(), name.size() - kKeptPrefix.size() - kKeptSuffix.size());
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    return static_cast<int>(std::stol(digits));
}

} // namespace

int RetireBMP(const std::string& FileName)
{
    KeptBitmap& kept = Kept();
    if (kept.path.empty()) {
        std::string aside = KeptPathBeside(FileName);
        if (fileio::IsRegularFile(FileName) && fileio::RenameNoReplace(FileName, aside)) {
            kept.path = std::move(aside);
            return 0;
        }
    }
    return fileio::Delete(FileName);
}

int ReleaseRetiredBMP(std::string& failedPath)
{
    return Kept().Release(&failedPath);
}

void RemoveOrphanedBMPs(const std::string& Directory)
{
    std::error_code ec;
    for (std::filesystem::directory_iterator it(Directory, ec), end; !ec && it != end; it.increment(ec)) {
        const int owner = KeptFileOwner(it->path().filename().string());
        // A process of that number that is alive may be another run: its
        // file is left alone, even if the number was reused.
        const std::string path = it->path().string();
        if (owner != fileio::ProcessId() && fileio::ProcessIsGone(owner) && fileio::IsRegularFile(path, true))
            fileio::Delete(path);
    }
}

File ReuseRetiredBMP(const std::string& FileName, std::int64_t& keptSize)
{
    KeptBitmap& kept = Kept();
    if (kept.path.empty())
        return File();
    const std::string from = std::exchange(kept.path, {});
    // Whatever appeared under the new name meanwhile is not ours to
    // overwrite; the caller's ordinary path deals with it.
    if (!fileio::RenameNoReplace(from, FileName)) {
        fileio::Delete(from);
        return File();
    }
    File file = File::OpenOwnedForOverwrite(FileName, keptSize);
    if (!file.ok()) // swapped for something else while it was kept: not written through
        fileio::Delete(FileName);
    return file;
}
