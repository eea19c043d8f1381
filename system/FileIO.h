// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Files as the imaging code and the build run use them: opened, read or
// written and closed within one call of their routine, with scattered reads
// and gathered writes so that rows reach their places without a copy, and
// the few file-system operations on temporary files. No errors are thrown:
// a failed call answers so and leaves the reason in errno.
#include <cstddef>
#include <cstdint>
#include <string>

namespace fileio {

// One part of a scattered read or a gathered write.
struct Piece {
    void* data;
    std::size_t size;
};

class File {
public:
    File() = default;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    ~File();

    // Never waits: a FIFO or a device opens at once (and then reads nothing
    // as a file would), so that a wrong name cannot hang the program.
    static File OpenForReading(const std::string& path);
    // Created, or emptied when it exists.
    static File Create(const std::string& path);
    // A file that this process kept for reuse, opened to be written over:
    // only through its own name (no link followed), only a plain file with
    // one name, only one of this user's. Invalid otherwise; size is its
    // length.
    static File OpenOwnedForOverwrite(const std::string& path, std::int64_t& size);

    bool ok() const { return fd_ >= 0; }
    // What the file is when it is not a plain file ("a directory", "a FIFO",
    // ...), for a message; null for a plain file.
    const char* NotPlainKind() const;
    // Closes now and reports whether the system accepted the last writes.
    bool Close();
    // The file's length, or -1.
    std::int64_t Length() const;
    // Reads up to n bytes at offset; answers how many were read (fewer only
    // at the end of the file), or -1.
    std::int64_t ReadAt(void* buf, std::size_t n, std::int64_t offset) const;
    // Fills every piece, in order, from offset on; false on failure, with
    // errno 0 when the file ends first.
    bool ReadAllAt(const Piece* pieces, std::size_t count, std::int64_t offset) const;
    // Writes every byte of the pieces, in order, at the current position.
    bool WriteAll(const Piece* pieces, std::size_t count) const;
    // Cuts the file to the current position when it is longer.
    bool TruncateHere() const;

private:
    explicit File(int fd) : fd_(fd) {}
    int fd_ = -1;
};

std::string ErrorText(int err);

// Deletes a file; answers 0 once it is gone (also when it never was), else
// the reason.
int Delete(const std::string& path);
// Gives from the name to; never replaces what to already names.
bool RenameNoReplace(const std::string& from, const std::string& to);
// Whether path names a plain file itself (a link to one does not count), and
// with owned, one of this user's.
bool IsRegularFile(const std::string& path, bool owned = false);
// Whether path names a directory itself (a link to one does not count).
bool IsDirectory(const std::string& path);

int ProcessId();
// True only when no process of that number exists.
bool ProcessIsGone(int pid);

// Shell wildcards (*, ?, [...]), letter case ignored; a leading dot is
// matched only by a dot.
bool MatchesPattern(const std::string& pattern, const std::string& name);

bool StandardErrorIsTerminal();

} // namespace fileio
