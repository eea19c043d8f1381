// SPDX-License-Identifier: GPL-2.0-or-later
#include "RunFolder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include <unistd.h>

namespace {

std::string BaseFolder()
{
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime && CanWriteIn(runtime))
        return runtime;
    if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && *cache)
        return cache;
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/.cache";
}

} // namespace

bool CanWriteIn(const std::string& directory)
{
    return ::access(directory.c_str(), W_OK | X_OK) == 0;
}

RunFolder::RunFolder()
{
    const std::string base = BaseFolder();
    std::error_code ec;
    std::filesystem::create_directories(base, ec);
    std::string pattern = base + "/reelcast-run-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("Cannot make a folder for the temporary bitmaps in:\r\n" + base + "\r\n" +
                                 std::strerror(errno));
    path_ = std::move(pattern);
}

RunFolder::~RunFolder()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}
