#include "FileListBox.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include <fnmatch.h>
#include <strings.h>

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
        if (::fnmatch(pattern_.c_str(), name.c_str(), FNM_CASEFOLD | FNM_PERIOD) == 0)
            names_.push_back(std::move(name));
    }
    if (ec)
        error_ = ec.message();
    std::sort(names_.begin(), names_.end(), [](const std::string& a, const std::string& b) {
        const int folded = ::strcasecmp(a.c_str(), b.c_str());
        return folded != 0 ? folded < 0 : a < b;
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
