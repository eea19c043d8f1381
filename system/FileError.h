// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The error that file routines raise when a file cannot be opened, read or
// written. It carries the path, so that whoever catches it can say which file.
#include <stdexcept>
#include <string>

class FileError : public std::runtime_error {
public:
    FileError(std::string path, const std::string& trouble)
        : std::runtime_error(trouble + ": " + path), path_(std::move(path)), trouble_(trouble) {}

    const std::string& path() const noexcept { return path_; }
    // What went wrong, without the path.
    const std::string& trouble() const noexcept { return trouble_; }

private:
    std::string path_;
    std::string trouble_;
};
