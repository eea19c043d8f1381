// SPDX-License-Identifier: GPL-2.0-or-later
#include "mdFile.h"

#include <filesystem>
#include <system_error>

std::string GetExtension(const std::string& Path)
{
    for (std::size_t i = Path.size(); i-- > 0;) {
        const char c = Path[i];
        if (c == '.') {
            std::string ext = Path.substr(i + 1);
            for (char& e : ext)
                if (e >= 'A' && e <= 'Z')
                    e = static_cast<char>(e - 'A' + 'a');
            return ext;
        }
        if (c == ':' || c == '\\' || c == '/')
            return {};
    }
    return {};
}

bool FileExist(const std::string& File)
{
    std::error_code ec;
    const auto status = std::filesystem::status(File, ec);
    return !File.empty() && std::filesystem::exists(status) && !std::filesystem::is_directory(status);
}

std::string JoinPath(const std::string& Directory, const std::string& Name)
{
    if (!Directory.empty() && Directory.back() == '/')
        return Directory + Name;
    return Directory + "/" + Name;
}
