// SPDX-License-Identifier: GPL-2.0-or-later
#include "Folders.h"
#include "QtText.h"

#include "mdFile.h"

#include <QDir>
#include <QStandardPaths>

#include <filesystem>
#include <system_error>

std::string ProgramBuildDirectory()
{
    return REELCAST_PROGRAM_BUILD_DIR;
}

bool RunsFromBuildTree(const std::string& programDirectory, const std::string& buildDirectory)
{
    std::error_code error;
    return !programDirectory.empty() && !buildDirectory.empty() &&
           std::filesystem::equivalent(programDirectory, buildDirectory, error) && !error;
}

WindowFolders ChooseFolders(const std::string& programDirectory, const std::string& buildDirectory)
{
    std::error_code error;
    if (RunsFromBuildTree(programDirectory, buildDirectory)) {
        // A plain file of that name counts as present too: then no folder is
        // made, and the build says what is wrong with the output path.
        const std::string beside = JoinPath(programDirectory, "OutPut");
        if (std::filesystem::exists(beside, error) || std::filesystem::create_directory(beside, error))
            return {beside, programDirectory, {}};
    }
    QString videos = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    if (videos.isEmpty())
        videos = QDir::homePath();
    WindowFolders folders{JoinPath(NativePath(videos), "Reelcast"), NativePath(QDir::homePath()), {}};
    std::filesystem::create_directories(folders.output, error);
    if (error)
        folders.problem = "The output folder " + folders.output + " could not be created: " + error.message() +
                          ".\nChoose the output file with the \"...\" button beside \"OutPut File:\".";
    return folders;
}
