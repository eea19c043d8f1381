// SPDX-License-Identifier: GPL-2.0-or-later
#include "FileDialogBuffer.h"

namespace {

constexpr char kSeparator = '/';

// Blanks only, at both ends: tabs and NULs are part of the buffer's content.
std::string TrimBlanks(const std::string& text)
{
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

struct SplitPath {
    std::string folder;
    std::string name;
};

// The folder keeps its separator only when it is the root, the way the
// dialog writes a root folder.
std::optional<SplitPath> Split(const std::string& path)
{
    const auto slash = path.rfind(kSeparator);
    if (slash == std::string::npos || slash + 1 == path.size())
        return std::nullopt;
    SplitPath parts;
    parts.folder = slash == 0 ? std::string(1, kSeparator) : path.substr(0, slash);
    parts.name = path.substr(slash + 1);
    return parts;
}

} // namespace

std::string ConvertFilter(const std::string& customFilter)
{
    std::string converted;
    converted.reserve(customFilter.size() + 1);
    for (const char c : customFilter)
        converted += c == '|' ? '\0' : c;
    converted += '\0';
    return converted;
}

std::vector<FilterEntry> SplitFilter(const std::string& nulSeparatedFilter)
{
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (start < nulSeparatedFilter.size()) {
        auto end = nulSeparatedFilter.find('\0', start);
        if (end == std::string::npos)
            end = nulSeparatedFilter.size();
        // An empty piece is the double NUL that ends the list.
        if (end == start)
            break;
        pieces.push_back(nulSeparatedFilter.substr(start, end - start));
        start = end + 1;
    }
    std::vector<FilterEntry> entries;
    for (std::size_t i = 0; i + 1 < pieces.size(); i += 2)
        entries.push_back({pieces[i], pieces[i + 1]});
    return entries;
}

std::string PreparedFileBuffer()
{
    std::string buffer(kFileBufferSize, ' ');
    buffer[0] = '\0';
    return buffer;
}

bool WriteFileBuffer(std::string& Buffer, const std::vector<std::string>& Paths, bool Multiselect)
{
    if (Paths.empty())
        return false;

    std::string layout;
    if (Paths.size() == 1) {
        layout = Paths.front();
        layout += '\0';
        if (Multiselect)
            layout += '\0';
    } else {
        if (!Multiselect)
            return false;
        const auto first = Split(Paths.front());
        if (!first)
            return false;
        layout = first->folder;
        layout += '\0';
        for (const auto& path : Paths) {
            const auto parts = Split(path);
            if (!parts || parts->folder != first->folder)
                return false;
            layout += parts->name;
            layout += '\0';
        }
        layout += '\0';
    }

    if (layout.size() > kFileBufferSize || layout.size() > Buffer.size())
        return false;
    Buffer.replace(0, layout.size(), layout);
    return true;
}

std::int16_t CountFiles(const std::string& Buffer)
{
    const std::string trimmed = TrimBlanks(Buffer);
    long nuls = 0;
    for (const char c : trimmed)
        nuls += c == '\0';
    long count = nuls - 2;
    if (count < 1)
        count += 1;
    // A 260-character buffer cannot hold more NULs than a 16-bit count holds.
    return static_cast<std::int16_t>(count);
}

std::string MultiFilename(const std::string& Buffer, std::int16_t FileNumber)
{
    if (FileNumber < 1)
        return {};
    const std::string t = TrimBlanks(Buffer);

    const auto folderEnd = t.find('\0');
    if (folderEnd == std::string::npos)
        return {};
    auto nameStart = folderEnd; // the NUL before the wanted name
    for (int i = 1; i < FileNumber; ++i) {
        nameStart = t.find('\0', nameStart + 1);
        if (nameStart == std::string::npos)
            return {};
    }
    const auto nameEnd = t.find('\0', nameStart + 1);
    if (nameEnd == std::string::npos)
        return {};

    std::string result = t.substr(0, folderEnd);
    // The double NUL that ends the list: FileNumber lies past the last name
    // (an empty name right after the folder is the one-file selection).
    if (nameEnd == nameStart + 1 && FileNumber > 1)
        return {};
    if (result.empty() || result.back() != kSeparator)
        result += kSeparator;
    result += t.substr(nameStart + 1, nameEnd - nameStart - 1);
    if (!result.empty() && result.back() == kSeparator)
        result.pop_back();
    return result;
}

std::string NameBeforeNul(const std::string& Buffer)
{
    const auto nul = Buffer.find('\0');
    if (nul == std::string::npos)
        return {};
    return Buffer.substr(0, nul);
}

std::vector<std::string> QtNameFilters(const std::vector<FilterEntry>& filters)
{
    std::vector<std::string> names;
    names.reserve(filters.size());
    for (const auto& entry : filters) {
        std::string patterns = entry.pattern;
        for (auto& c : patterns)
            if (c == ';')
                c = ' ';
        const std::string suffix = "(" + patterns + ")";
        std::string name = entry.description;
        const bool shown = name.size() >= suffix.size()
            && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
        if (!shown)
            name += (name.empty() ? "" : " ") + suffix;
        names.push_back(name);
    }
    return names;
}

std::string DefaultSuffix(const std::string& defaultExtension)
{
    const auto start = defaultExtension.find_first_not_of("*.");
    return start == std::string::npos ? std::string() : defaultExtension.substr(start);
}
