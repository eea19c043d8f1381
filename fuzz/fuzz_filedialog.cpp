// SPDX-License-Identifier: GPL-2.0-or-later
// The Open/Save dialog buffer layouts: reading any buffer a dialog could hand
// back, converting any filter text, and writing names then reading them again.
#include "FileDialogBuffer.h"
#include "FuzzSupport.h"

#include <algorithm>

namespace {

void ReadBuffer(const std::string& buffer)
{
    const std::int16_t count = CountFiles(buffer);
    FUZZ_CHECK(count >= -1);
    const int last = std::min<int>(count, 300) + 2;
    for (int k = -1; k <= last; ++k) {
        const std::string name = MultiFilename(buffer, static_cast<std::int16_t>(k));
        FUZZ_CHECK(name.size() <= buffer.size() + 1);
        if (k < 1)
            FUZZ_CHECK(name.empty());
    }
    const std::string first = NameBeforeNul(buffer);
    FUZZ_CHECK(first.size() < buffer.size() || first.empty());
    FUZZ_CHECK(first.find('\0') == std::string::npos);
}

void ConvertFilterText(const std::string& text)
{
    const std::string converted = ConvertFilter(text);
    FUZZ_CHECK(converted.size() == text.size() + 1 && converted.back() == '\0');
    FUZZ_CHECK(converted.find('|') == std::string::npos);
    for (const auto* filter : {&converted, &text}) {
        const auto entries = SplitFilter(*filter);
        const auto names = QtNameFilters(entries);
        FUZZ_CHECK(names.size() == entries.size());
        for (std::size_t i = 0; i < entries.size(); ++i) {
            FUZZ_CHECK(!entries[i].description.empty() && !entries[i].pattern.empty());
            std::string shown = "(" + entries[i].pattern + ")";
            std::replace(shown.begin(), shown.end(), ';', ' ');
            FUZZ_CHECK(names[i].size() >= shown.size() &&
                       names[i].compare(names[i].size() - shown.size(), shown.size(), shown) == 0);
        }
    }
    const std::string suffix = DefaultSuffix(text);
    FUZZ_CHECK(suffix.size() <= text.size());
    FUZZ_CHECK(text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0);
    FUZZ_CHECK(suffix.empty() || (suffix[0] != '*' && suffix[0] != '.'));
}

// A name the dialog can return: absolute, no NUL, no empty component, not a
// folder.
bool DialogPath(const std::string& path)
{
    return path.size() >= 2 && path[0] == '/' && path.back() != '/' && path.find('\0') == std::string::npos &&
           path.find("//") == std::string::npos;
}

void WriteThenRead(const std::string& text, bool multiselect)
{
    std::vector<std::string> paths;
    std::size_t start = 0;
    while (start <= text.size() && paths.size() < 64) {
        auto end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        paths.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    std::string buffer = PreparedFileBuffer();
    const std::string before = buffer;
    if (!WriteFileBuffer(buffer, paths, multiselect)) {
        FUZZ_CHECK(buffer == before);
        return;
    }
    FUZZ_CHECK(buffer.size() == kFileBufferSize);
    if (!std::all_of(paths.begin(), paths.end(), DialogPath))
        return;
    if (!multiselect) {
        FUZZ_CHECK(paths.size() == 1);
        FUZZ_CHECK(NameBeforeNul(buffer) == paths[0]);
        FUZZ_CHECK(CountFiles(buffer) == 0);
        return;
    }
    FUZZ_CHECK(CountFiles(buffer) == static_cast<std::int16_t>(paths.size()));
    for (std::size_t i = 0; i < paths.size(); ++i)
        FUZZ_CHECK(MultiFilename(buffer, static_cast<std::int16_t>(i + 1)) == paths[i]);
    FUZZ_CHECK(MultiFilename(buffer, static_cast<std::int16_t>(paths.size() + 1)).empty());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    switch (data[0] % 4) {
    case 0:
        ReadBuffer(rest);
        break;
    case 1:
        ConvertFilterText(rest);
        break;
    default:
        WriteThenRead(rest, data[0] % 4 == 3);
        break;
    }
    return 0;
}
