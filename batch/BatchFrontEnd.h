// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// reelcast-batch: the movie build run for scripts and for people without a
// desktop. It drives the same run as the window, answering the window's
// questions from its command line.
#include <iosfwd>

// Runs the batch front end; answers the process exit status: 0 when the
// movie was created, 1 when the run did not create it, 2 for a usage error,
// 130 when interrupted (the movie then holds the frames written so far).
int BatchMain(int argc, const char* const* argv, std::ostream& out, std::ostream& err);
