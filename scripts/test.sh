#!/usr/bin/env bash
# Builds Reelcast and runs the whole test suite.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/ensure-deps.sh"
build="${REELCAST_BUILD_DIR:-$root/build}"
# Warnings fail the build here, so that none creeps in; a plain build only
# reports them.
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DREELCAST_WERROR=ON ${REELCAST_CMAKE_ARGS:-} >/dev/null
cmake --build "$build" -j"$(nproc)"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
