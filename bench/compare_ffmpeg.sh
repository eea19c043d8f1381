#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Times reelcast-batch against the ffmpeg command line on the same Targa
# sequences, alternating the two, and prints the median frames per second of
# each, their ratio and each one's peak memory.
#
#   bench/compare_ffmpeg.sh [BUILD_DIR] [RUNS]
#
# REELCAST_SPEED_DIR (default /tmp/reelcast-speed) holds the frames and the
# movies; it needs about 3 GB. REELCAST_SPEED_CODECS narrows the codec list.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build}
runs=${2:-3}
batch="$build/batch/reelcast-batch"
work=${REELCAST_SPEED_DIR:-/tmp/reelcast-speed}
codecs=${REELCAST_SPEED_CODECS:-raw ffv1 huffyuv mjpeg mpeg4 h264}
[ -x "$batch" ] || { echo "build reelcast-batch first (bash scripts/test.sh)" >&2; exit 1; }
command -v ffmpeg >/dev/null || { echo "ffmpeg is missing" >&2; exit 1; }
mkdir -p "$work"

make_frames() { # size count
    local dir="$work/frames-$1"
    if [ "$(find "$dir" -name '*.tga' 2>/dev/null | wc -l)" -ne "$2" ]; then
        rm -rf "$dir" && mkdir -p "$dir"
        ffmpeg -loglevel error -f lavfi -i "testsrc2=size=$1:rate=15" -frames:v "$2" \
            -c:v targa -rle 0 -pix_fmt bgr24 "$dir/shot%04d.tga"
    fi
    echo "$dir"
}

ffmpeg_codec() {
    case "$1" in
    raw) echo "-c:v rawvideo -pix_fmt bgr24" ;;
    ffv1) echo "-c:v ffv1" ;;
    huffyuv) echo "-c:v huffyuv" ;;
    mjpeg) echo "-c:v mjpeg -q:v 3" ;;
    # reelcast-batch's default quality, 75, is a fixed quantiser of 9.
    mpeg4) echo "-c:v mpeg4 -q:v 9 -tag:v XVID" ;;
    h264) echo "-c:v libx264 -bf 0" ;;
    esac
}

# shellcheck source=bench/timing.sh
source "$root/bench/timing.sh"

printf '%-10s %-7s %12s %12s %7s %12s %12s\n' size codec "reelcast fps" "ffmpeg fps" ratio "reelcast MB" "ffmpeg MB"
for sequence in 640x480:600 1920x1080:200; do
    size=${sequence%%:*}
    count=${sequence##*:}
    frames=$(make_frames "$size" "$count")
    for codec in $codecs; do
        printf '%-10s %-7s ' "$size" "$codec"
        # shellcheck disable=SC2046
        race "$count" "$frames" --fps 15 --codec "$codec" -- $(ffmpeg_codec "$codec")
    done
done
