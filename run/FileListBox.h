// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The list of frame files of one directory: the names matching Pattern,
// sorted ascending without regard to letter case. Not a widget.
#include <cstdint>
#include <string>
#include <vector>

class FileListBox {
public:
    // Lists the matching files present in Directory now. A directory that
    // does not exist or cannot be read gives an empty list; ListError() then
    // says why.
    void SetPath(const std::string& Directory);
    // The directory as set, without a trailing separator (unless it is the root).
    const std::string& Path() const { return path_; }

    // Only "*.ext" patterns are needed; the match ignores letter case.
    void SetPattern(const std::string& pattern) { pattern_ = pattern; }
    const std::string& Pattern() const { return pattern_; }

    std::int64_t ListCount() const { return static_cast<std::int64_t>(names_.size()); }
    // The i-th name, 0-based; the empty string outside the list.
    const std::string& List(std::int64_t i) const;

    // Why the last SetPath listed nothing, or empty when it could list.
    const std::string& ListError() const { return error_; }

private:
    std::string path_;
    std::string pattern_ = "*.tga";
    std::vector<std::string> names_;
    std::string error_;
};

// The next name of List at FrameIndex, or the empty string past the end;
// FrameIndex moves on by one either way.
std::string GetNext(const FileListBox& List, std::int64_t& FrameIndex);
