// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Where a run may put its temporary files when the frame directory cannot
// take them (read-only media, another user's folder).
#include <memory>
#include <string>

// Whether new files can be made in directory.
bool CanWriteIn(const std::string& directory);

// A folder only this user can enter, made for one run under the user's
// runtime directory (else the cache directory) and removed with what it
// holds when the object goes.
class RunFolder {
public:
    // Throws std::runtime_error naming the folder when it cannot be made.
    RunFolder();
    ~RunFolder();
    RunFolder(const RunFolder&) = delete;
    RunFolder& operator=(const RunFolder&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};
