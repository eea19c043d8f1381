// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Where the window keeps its movies and where its frame directory starts.
#include <string>

// The folder the build put the program in.
std::string ProgramBuildDirectory();

// Whether the program runs from the folder the build put it in: the same
// folder, by whatever path. A copy elsewhere, a staged install or an
// installed program does not, however writable its folder is.
bool RunsFromBuildTree(const std::string& programDirectory, const std::string& buildDirectory);

struct WindowFolders {
    // OutPut beside a program run from its build tree; anywhere else, and
    // where OutPut cannot be made, Reelcast in the user's videos folder.
    std::string output;
    // The program's directory beside OutPut, else the home folder.
    std::string frames;
    // Why the output folder could not be made, for the user; else empty.
    std::string problem;
};

WindowFolders ChooseFolders(const std::string& programDirectory, const std::string& buildDirectory);
