// SPDX-License-Identifier: GPL-2.0-or-later
// GetExtension, and JoinPath beside it, on arbitrary paths.
#include "FuzzSupport.h"
#include "mdFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string path(reinterpret_cast<const char*>(data), size);
    const std::string ext = GetExtension(path);

    FUZZ_CHECK(ext.size() < path.size() || ext.empty());
    FUZZ_CHECK(ext.find_first_of(".:\\/") == std::string::npos);
    for (const char c : ext)
        FUZZ_CHECK(!(c >= 'A' && c <= 'Z'));
    const auto dot = path.rfind('.');
    if (dot == std::string::npos || path.find_first_of(":\\/", dot) != std::string::npos) {
        FUZZ_CHECK(ext.empty());
    } else {
        // The text after the last dot, letter for letter apart from case.
        const std::string tail = path.substr(dot + 1);
        FUZZ_CHECK(ext.size() == tail.size());
        for (std::size_t i = 0; i < tail.size(); ++i) {
            const char t = tail[i] >= 'A' && tail[i] <= 'Z' ? static_cast<char>(tail[i] - 'A' + 'a') : tail[i];
            FUZZ_CHECK(ext[i] == t);
        }
    }

    // The first line is a folder, the rest a name.
    const auto cut = path.find('\n');
    if (cut != std::string::npos) {
        const std::string folder = path.substr(0, cut);
        const std::string name = path.substr(cut + 1);
        const std::string joined = JoinPath(folder, name);
        FUZZ_CHECK(joined.compare(0, folder.size(), folder) == 0);
        FUZZ_CHECK(joined.size() >= name.size() && joined.compare(joined.size() - name.size(), name.size(), name) == 0);
        FUZZ_CHECK(joined.size() == folder.size() + name.size() + (!folder.empty() && folder.back() == '/' ? 0 : 1));
    }
    return 0;
}
