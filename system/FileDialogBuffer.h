// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The request record of the Open/Save dialogs and the 260-character name
// buffer they hand back, with the routines that read and write that buffer.
// No toolkit here: the buffer layouts are plain text, so that they can be
// checked (and fuzzed) without a display.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Flag values of the classic Open/Save dialog record.
constexpr std::uint32_t OFN_HIDEREADONLY = 0x00000004;
constexpr std::uint32_t OFN_ALLOWMULTISELECT = 0x00000200;
constexpr std::uint32_t OFN_EXPLORER = 0x00080000;

// The published size of the ANSI record, which is what lStructSize carries.
constexpr std::uint32_t kOpenFileNameSize = 76;
// Characters in the name buffer, the terminating NUL included.
constexpr std::size_t kFileBufferSize = 260;

// The dialog request, field for field. Texts that were never set stay absent,
// so that the dialog's own defaults apply.
struct OpenFileNameRecord {
    std::uint32_t lStructSize = 0;
    void* hwndOwner = nullptr;
    void* hInstance = nullptr;
    std::optional<std::string> lpstrFilter;
    std::optional<std::string> lpstrCustomFilter;
    std::uint32_t nMaxCustFilter = 0;
    std::uint32_t nFilterIndex = 0; // 1-based; 0 means "the first entry"
    std::string lpstrFile;
    std::uint32_t nMaxFile = 0;
    std::optional<std::string> lpstrFileTitle;
    std::uint32_t nMaxFileTitle = 0;
    std::optional<std::string> lpstrInitialDir;
    std::optional<std::string> lpstrTitle;
    std::uint32_t Flags = 0;
    std::uint16_t nFileOffset = 0;
    std::uint16_t nFileExtension = 0;
    std::optional<std::string> lpstrDefExt;
    std::intptr_t lCustData = 0;
    void* lpfnHook = nullptr;
    std::optional<std::string> lpTemplateName;
};

// "desc|pattern|desc|pattern" -> every "|" a NUL, plus one closing NUL.
std::string ConvertFilter(const std::string& customFilter);

struct FilterEntry {
    std::string description;
    std::string pattern; // as given, e.g. "*.avi" or "*.bmp;*.dib"
};
// The (description, pattern) pairs of a NUL-separated filter. A description
// without a pattern after it is dropped, as the dialog would ignore it.
std::vector<FilterEntry> SplitFilter(const std::string& nulSeparatedFilter);

// The name filters a Qt file dialog takes for the entries, in their order:
// the description, with the pattern (";" turned into blanks) appended in
// parentheses unless the description already ends with exactly that, because
// Qt filters by the parenthesised part and the description may not show it.
std::vector<std::string> QtNameFilters(const std::vector<FilterEntry>& filters);

// The suffix to append to a name typed without one: the extension text
// without any leading "*" or ".", so that "*.avi" and ".avi" both mean "avi".
std::string DefaultSuffix(const std::string& defaultExtension);

// The buffer a dialog starts from: one NUL, then blanks up to kFileBufferSize.
std::string PreparedFileBuffer();

// Writes a dialog's answer over Buffer in the layout its reader expects:
// one name -> "path\0" (multiselect: "path\0\0"); several names -> "folder\0"
// then each "name\0", then one more NUL. The rest of Buffer is kept.
// Answers false and leaves Buffer untouched when the names do not fit, or
// when several names do not share one folder (the layout has room for one).
bool WriteFileBuffer(std::string& Buffer, const std::vector<std::string>& Paths, bool Multiselect);

// The number of files named in Buffer: 0 after a cancelled or single-name
// dialog, -1 for an empty buffer.
std::int16_t CountFiles(const std::string& Buffer);

// The full path of file FileNumber (from 1) of a multiple selection in
// Buffer; empty when there is no such file.
std::string MultiFilename(const std::string& Buffer, std::int16_t FileNumber);

// Cuts a returned buffer at its first NUL, the NUL dropped; a buffer without
// any NUL holds no name and gives the empty text.
std::string NameBeforeNul(const std::string& Buffer);
