// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The run itself, once the press has passed the early checks: the movie
// opened, its first frames prepared, its stream made, every frame written,
// the movie closed and what is left of the run removed. Private to the run.
#include "MovieBuild.h"

#include <cstdint>
#include <string>

// Reports break lines as the window's message boxes do, under its title.
inline constexpr const char* kCrLf = "\r\n";
inline constexpr const char* kAppTitle = "Reelcast";

// The run of request, with the values its texts gave.
BuildResult RunBuild(const BuildRequest& request, BuildQuestions& questions, BuildSink& sink, BuildState& state,
                     FrameImage& image, std::int32_t width, std::int32_t height, FrameRate rate, int blend);

// "Cannot delete the <what>:", the path and the reason, for a report.
std::string CannotDelete(const std::string& path, const char* what, int err);
// Deletes path; answers why it could not, or nothing when it is gone.
std::string TryDelete(const std::string& path, const char* what);
