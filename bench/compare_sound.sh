#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# What a sound track costs: reelcast-batch on 1800 raw 640 x 480 frames at 60
# frames a second, without and with a 30-second 48 kHz stereo WAV, beside
# ffmpeg muxing the same frames and sound (-c:v rawvideo -c:a copy). Prints
# the median seconds of each and the sound's share of reelcast-batch's run.
#
#   bench/compare_sound.sh [BUILD_DIR] [RUNS]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build}
runs=${2:-5}
batch="$build/batch/reelcast-batch"
work=${REELCAST_SPEED_DIR:-/tmp/reelcast-speed}/sound
[ -x "$batch" ] || { echo "build reelcast-batch first (bash scripts/test.sh)" >&2; exit 1; }
# shellcheck source=bench/timing.sh
source "$root/bench/timing.sh"
mkdir -p "$work/frames"
if [ "$(find "$work/frames" -name '*.tga' | wc -l)" -ne 1800 ]; then
    ffmpeg -loglevel error -y -f lavfi -i "testsrc2=size=640x480:rate=60" -frames:v 1800 \
        -c:v targa -rle 0 -pix_fmt bgr24 "$work/frames/shot%04d.tga"
fi
ffmpeg -loglevel error -y -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=30" -ac 2 "$work/sound.wav"

declare -A seconds
for ((i = 0; i < runs; i++)); do
    for kind in plain sound ffmpeg; do
        rm -f "$work/$kind.avi"
        sync
        case $kind in
        plain) cmd=("$batch" "$work/frames" "$work/$kind.avi" --rate 60) ;;
        sound) cmd=("$batch" "$work/frames" "$work/$kind.avi" --rate 60 --audio "$work/sound.wav") ;;
        ffmpeg) cmd=(ffmpeg -nostdin -y -loglevel error -framerate 60 -i "$work/frames/shot%04d.tga" \
            -i "$work/sound.wav" -c:v rawvideo -pix_fmt bgr24 -c:a copy "$work/$kind.avi") ;;
        esac
        read -r secs _ < <(measure "${cmd[@]}") || exit 1
        seconds[$kind]+="$secs "
    done
done
for kind in plain sound ffmpeg; do
    printf '%-8s %6.2f s\n' "$kind" "$(tr ' ' '\n' <<<"${seconds[$kind]}" | grep . | median)"
done
plain=$(tr ' ' '\n' <<<"${seconds[plain]}" | grep . | median)
sound=$(tr ' ' '\n' <<<"${seconds[sound]}" | grep . | median)
awk -v p="$plain" -v s="$sound" 'BEGIN { printf "sound track: %+.1f%% of the plain run\n", (s - p) / p * 100 }'
