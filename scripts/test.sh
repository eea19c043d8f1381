#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds Reelcast and runs the whole test suite.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/ensure-deps.sh"
build="${REELCAST_BUILD_DIR:-$root/build}"
# Warnings fail the build here, so that none creeps in; a plain build only
# reports them.
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DREELCAST_WERROR=ON ${REELCAST_CMAKE_ARGS:-} >/dev/null
cmake --build "$build" -j"$(nproc)"
# The fuzz targets build only with clang, in a tree of their own, as
# fuzz/run.sh builds them: built here too, so that no rename breaks them
# unseen. (The benchmarks are part of the build above.)
fuzz_build="${REELCAST_FUZZ_BUILD_DIR:-$root/build-fuzz}"
CC=clang CXX=clang++ cmake -S "$root" -B "$fuzz_build" -DREELCAST_FUZZ=ON -DREELCAST_BENCH=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$fuzz_build" -j"$(nproc)" --target reelcast_fuzzers
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
