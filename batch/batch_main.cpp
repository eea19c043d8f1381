// SPDX-License-Identifier: GPL-2.0-or-later
#include "BatchFrontEnd.h"
#include "StopSignals.h"

#include <iostream>

int main(int argc, char** argv)
{
    IgnoreFileSizeSignal();
    return BatchMain(argc, argv, std::cout, std::cerr);
}
