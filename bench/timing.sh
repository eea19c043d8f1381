# SPDX-License-Identifier: GPL-2.0-or-later
# Timing helpers shared by the comparison scripts; sourced, not run.

# Runs a command under GNU time; prints "seconds peak_kB".
measure() {
    local log
    log=$(mktemp)
    if ! /usr/bin/time -f '%e %M' -o "$log" "$@" >/dev/null 2>&1; then
        echo "failed: $*" >&2
        cat "$log" >&2
        rm -f "$log"
        exit 1
    fi
    tail -n 1 "$log"
    rm -f "$log"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }


# Times reelcast-batch ($batch) and ffmpeg on the same COUNT frames of FRAMES,
# in turn, $runs times each, every run after a sync so that neither pays for
# the other's dirty pages. Prints the median frames a second of each, their
# ratio and each one's peak memory in MB.
#   race COUNT FRAMES BATCH_ARGS... -- FFMPEG_OUTPUT_ARGS...
race() {
    local count=$1 frames=$2 secs mem rc ff
    shift 2
    local rc_args=() ff_args=() rc_fps=() ff_fps=() rc_mem=0 ff_mem=0
    while [ $# -gt 0 ] && [ "$1" != -- ]; do rc_args+=("$1"); shift; done
    shift
    ff_args=("$@")
    for ((i = 0; i < runs; i++)); do
        rm -f "$work/rc.avi" "$work/ff.avi"
        sync
        read -r secs mem < <(measure "$batch" "$frames" "$work/rc.avi" "${rc_args[@]}") || exit 1
        [ -n "$mem" ] || exit 1
        rc_fps+=("$(awk -v n="$count" -v s="$secs" 'BEGIN { printf "%.1f", n / (s > 0 ? s : 0.01) }')")
        ((mem > rc_mem)) && rc_mem=$mem
        rm -f "$work/rc.avi"
        sync
        read -r secs mem < <(measure ffmpeg -nostdin -y -loglevel error -framerate 15 -i "$frames/shot%04d.tga" \
            "${ff_args[@]}" "$work/ff.avi") || exit 1
        [ -n "$mem" ] || exit 1
        ff_fps+=("$(awk -v n="$count" -v s="$secs" 'BEGIN { printf "%.1f", n / (s > 0 ? s : 0.01) }')")
        ((mem > ff_mem)) && ff_mem=$mem
    done
    rc=$(printf '%s\n' "${rc_fps[@]}" | median)
    ff=$(printf '%s\n' "${ff_fps[@]}" | median)
    printf '%12s %12s %7.2f %12.1f %12.1f\n' "$rc" "$ff" "$(awk -v a="$rc" -v b="$ff" 'BEGIN { print a / b }')" \
        "$(awk -v m="$rc_mem" 'BEGIN { print m / 1024 }')" "$(awk -v m="$ff_mem" 'BEGIN { print m / 1024 }')"
    rm -f "$work/rc.avi" "$work/ff.avi"
}
