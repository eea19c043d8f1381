// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The two shell services the program asks for: open a document, link or
// program, and find the program registered to open a document. Results keep
// the classic convention: above 32 is success, 32 or less a failure code.
#include <cstddef>
#include <cstdint>
#include <string>

using ShellResult = std::intptr_t;

constexpr int SW_SHOWNORMAL = 1;
constexpr ShellResult SE_ERR_FNF = 2;
constexpr ShellResult SE_ERR_ACCESSDENIED = 5;
constexpr ShellResult SE_ERR_NOASSOC = 31;
// What a successful call answers; any value above 32 means success.
constexpr ShellResult kShellSuccess = 42;

// Characters of the program-path text that FindExecutableA fills.
constexpr std::size_t kExecutablePathSize = 255;

// Opens File with Verb ("open" in any letter case, or null; nothing else is
// offered). An executable file is started with Parameters as its one
// argument (none when null or empty); anything else, a link included, goes
// to the desktop's opener. Directory, when given and present, is the
// working directory.
// Owner and Show are accepted for the callers' sake; the desktop decides.
// Returns at once; the started program runs on its own.
ShellResult ShellExecuteA(void* Owner, const char* Verb, const char* File, const char* Parameters,
                          const char* Directory, int Show);

// Writes the full path of the program registered for File's type, then a
// NUL, over the start of Result (which should hold kExecutablePathSize
// characters); the rest of Result is kept. File must exist; Directory, when
// given, is where a relative File lies. A program that cannot be started
// with the document as its one argument does not count as registered. On
// failure Result is left untouched.
ShellResult FindExecutableA(const char* File, const char* Directory, std::string& Result);
