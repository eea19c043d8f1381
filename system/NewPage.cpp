// SPDX-License-Identifier: GPL-2.0-or-later
#include "NewPage.h"

#include "RunFolder.h"
#include "Shell.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <stdexcept>

namespace {

bool IsMailLink(const std::string& link)
{
    if (link.size() < 7)
        return false;
    std::string prefix = link.substr(0, 7);
    std::transform(prefix.begin(), prefix.end(), prefix.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return prefix == "mailto:";
}

std::string TrimBlanks(const std::string& text)
{
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

} // namespace

void OpenLink(const std::string& link, const std::string& WorkingDirectory, void* Owner)
{
    if (IsMailLink(link)) {
        ShellExecuteA(Owner, "OPEN", link.c_str(), nullptr, WorkingDirectory.c_str(), SW_SHOWNORMAL);
        return;
    }

    // The page's only use is its type; it goes nowhere near the program's
    // folder, which an installed program must leave as the package made it.
    ShellResult found = SE_ERR_FNF;
    std::string program(kExecutablePathSize, ' ');
    try {
        const RunFolder folder;
        const std::string page = folder.path() + "/temphtm.HTM";
        {
            // A page that cannot be written makes the look-up below fail,
            // and the shell then opens the link by itself.
            std::ofstream out(page, std::ios::binary | std::ios::trunc);
            out << "\"<HTML> <\\HTML>\"\r\n";
        }
        found = FindExecutableA(page.c_str(), nullptr, program);
    } catch (const std::runtime_error&) {
        // No private folder: the shell opens the link itself.
    }
    program = TrimBlanks(program);

    if (found <= 32) {
        ShellExecuteA(Owner, "OPEN", link.c_str(), nullptr, WorkingDirectory.c_str(), SW_SHOWNORMAL);
        return;
    }
    program = program.substr(0, program.find('\0'));
    ShellExecuteA(Owner, "open", program.c_str(), link.c_str(), WorkingDirectory.c_str(), SW_SHOWNORMAL);
}
