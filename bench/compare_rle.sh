#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Times reelcast-batch against the ffmpeg command line on run-length Targa
# sequences (the kind FFmpeg's own Targa encoder writes by default), 24 and
# 32-bit, 1920 x 1080, both writing uncompressed movies; alternating the two
# and printing the median frames per second of each, their ratio, and each
# one's peak memory at 200 frames and at 800 (memory must not grow with the
# number of files).
#
#   bench/compare_rle.sh [BUILD_DIR] [RUNS]
#
# REELCAST_SPEED_DIR (default /tmp/reelcast-speed) holds the frames and the
# movies; it needs about 6 GB.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build}
runs=${2:-3}
batch="$build/batch/reelcast-batch"
work=${REELCAST_SPEED_DIR:-/tmp/reelcast-speed}
[ -x "$batch" ] || { echo "build reelcast-batch first (bash scripts/test.sh)" >&2; exit 1; }
command -v ffmpeg >/dev/null || { echo "ffmpeg is missing" >&2; exit 1; }
mkdir -p "$work"

make_frames() { # pix_fmt count
    local dir="$work/rle-$1-$2"
    if [ "$(find "$dir" -name '*.tga' 2>/dev/null | wc -l)" -ne "$2" ]; then
        rm -rf "$dir" && mkdir -p "$dir"
        ffmpeg -loglevel error -f lavfi -i "testsrc2=size=1920x1080:rate=60" -frames:v "$2" \
            -c:v targa -pix_fmt "$1" "$dir/shot%04d.tga"
    fi
    echo "$dir"
}

# shellcheck source=bench/timing.sh
source "$root/bench/timing.sh"

printf '%-6s %6s %12s %12s %7s %12s %12s\n' kind frames "reelcast fps" "ffmpeg fps" ratio "reelcast MB" "ffmpeg MB"
for sequence in bgr24:200 bgra:200 bgr24:800; do
    pix=${sequence%%:*}
    count=${sequence##*:}
    frames=$(make_frames "$pix" "$count")
    printf '%-6s %6s ' "$pix" "$count"
    race "$count" "$frames" --fps 15 --codec raw -- -c:v rawvideo -pix_fmt bgr24
done
