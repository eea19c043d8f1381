#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds Reelcast and starts it.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/ensure-deps.sh"
build="${REELCAST_BUILD_DIR:-$root/build}"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)"
if [ -x "$build/window/reelcast" ]; then
    exec "$build/window/reelcast" "$@"
fi
echo "Built in $build; the window is not there yet. Built so far:"
find "$build" -maxdepth 2 -type f -executable -printf '  %P\n' | sort
