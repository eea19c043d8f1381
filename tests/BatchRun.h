// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// reelcast-batch's main, called in this process as a script calls the
// program: its exit code and what it wrote to each stream.
#include "BatchFrontEnd.h"

#include <sstream>
#include <string>
#include <vector>

namespace testsupport {

struct Outcome {
    int code;
    std::string out, err;
};

inline Outcome Batch(std::vector<std::string> args)
{
    args.insert(args.begin(), "reelcast-batch");
    std::vector<const char*> argv;
    for (const auto& a : args)
        argv.push_back(a.c_str());
    std::ostringstream out, err;
    const int code = BatchMain(static_cast<int>(argv.size()), argv.data(), out, err);
    return {code, out.str(), err.str()};
}

} // namespace testsupport
