#include "NewPage.h"

#include "Shell.h"

#include <QCoreApplication>
#include <QDir>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>

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

std::string TemporaryPagePath(const std::string& AppDirectory)
{
    if (!AppDirectory.empty() && AppDirectory.back() == '/')
        return AppDirectory + "temphtm.HTM";
    return AppDirectory + "/temphtm.HTM";
}

void OpenLink(const std::string& link, const std::string& AppDirectory, void* Owner)
{
    if (IsMailLink(link)) {
        ShellExecuteA(Owner, "OPEN", link.c_str(), nullptr, AppDirectory.c_str(), SW_SHOWNORMAL);
        return;
    }

    const std::string page = TemporaryPagePath(AppDirectory);
    {
        // A page that cannot be written makes the look-up below fail, and
        // the shell then opens the link by itself.
        std::ofstream out(page, std::ios::binary | std::ios::trunc);
        out << "\"<HTML> <\\HTML>\"\r\n";
    }

    std::string program(kExecutablePathSize, ' ');
    const ShellResult found = FindExecutableA(page.c_str(), nullptr, program);
    program = TrimBlanks(program);

    // Whatever stood in the page's way (a folder of that name) is not ours
    // to delete.
    std::error_code ignored;
    if (!std::filesystem::is_directory(page, ignored))
        std::filesystem::remove(page, ignored);

    if (found <= 32) {
        ShellExecuteA(Owner, "OPEN", link.c_str(), nullptr, AppDirectory.c_str(), SW_SHOWNORMAL);
        return;
    }
    program = program.substr(0, program.find('\0'));
    ShellExecuteA(Owner, "open", program.c_str(), link.c_str(), nullptr, SW_SHOWNORMAL);
}
