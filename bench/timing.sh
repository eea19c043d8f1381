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

