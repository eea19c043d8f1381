// SPDX-License-Identifier: GPL-2.0-or-later
#include "FileListBox.h"

#include "FileIO.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

void FileListBox::SetPath(const std::string& Directory)
{
    path_ = Directory;
    while (path_.size() > 1 && path_.back() == '/')
        path_.pop_back();
    names_.clear();
    error_.clear();

    std::error_code ec;
    fs::directory_iterator it(path_.empty() ? fs::path() : fs::path(path_), ec);
    if (ec) {
        error_ = ec.message();
        return;
    }
    for (const fs::directory_iterator end; it != end; it.increment(ec)) {
        std::error_code typeEc;
        if (!it->is_regular_file(typeEc))
            continue;
        std::string name = it->path().filename().string();
        if (fileio::MatchesPattern(pattern_, name))
            names_.push_back(std::move(name));
    }
    if (ec)
        error_ = ec.message();
    std::sort(names_.begin(), names_.end(), [](const std::string& a, const std::string& b) {
        const auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        const bool before = std::lexicographical_compare(
            a.begin(), a.end(), b.begin(), b.end(), [&](char x, char y) {
                return static_cast<unsigned char>(fold(x)) < static_cast<unsigned char>(fold(y));
            });
        const bool after = std::lexicographical_compare(
            b.begin(), b.end(), a.begin(), a.end(), [&](char x, char y) {
                return static_cast<unsigned char>(fold(x)) < static_cast<unsigned char>(fold(y));
            });
        return before != after ? before : a < b;
    });
}

const std::string& FileListBox::List(std::int64_t i) const
{
    static const std::string none;
    if (i < 0 || i >= ListCount())
        return none;
    return names_[static_cast<std::size_t>(i)];
}

std::string GetNext(const FileListBox& List, std::int64_t& FrameIndex)
{
    std::string name = FrameIndex <= List.ListCount() - 1 ? List.List(FrameIndex) : std::string();
    ++FrameIndex;
    return name;
}
