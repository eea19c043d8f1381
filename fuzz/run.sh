#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds the libFuzzer targets and runs each for SECONDS (default 600).
#
#   bash fuzz/run.sh [SECONDS]
#
# New corpus entries go to a scratch directory (REELCAST_FUZZ_WORK_DIR,
# default build-fuzz/corpus), never into the seed corpus in git; crashing
# inputs land in fuzz/crashes/<target>/. Targets run REELCAST_FUZZ_JOBS at a
# time (default 2), niced, and a run stops early at its first crash.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds="${1:-600}"
jobs="${REELCAST_FUZZ_JOBS:-2}"
build="${REELCAST_FUZZ_BUILD_DIR:-$root/build-fuzz}"
work="${REELCAST_FUZZ_WORK_DIR:-$build/corpus}"
crashes="$root/fuzz/crashes"
targets=(${REELCAST_FUZZ_TARGETS:-fuzz_tga fuzz_cdib fuzz_textvalue fuzz_extension fuzz_filedialog fuzz_wav})

"$root/scripts/ensure-deps.sh"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DREELCAST_FUZZ=ON -DREELCAST_BENCH=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo ${REELCAST_CMAKE_ARGS:-} >/dev/null
nice -n 19 cmake --build "$build" -j2 --target reelcast_fuzzers

run_one() {
    local t=$1
    mkdir -p "$work/$t" "$crashes/$t"
    # The memory limits make any allocation out of proportion to the input
    # a finding of its own.
    nice -n 19 "$build/fuzz/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 \
        -malloc_limit_mb=256 -print_final_stats=1 -artifact_prefix="$crashes/$t/" \
        "$work/$t" "$root/fuzz/corpus/$t" >"$work/$t.log" 2>&1 || true
}

running=0
for t in "${targets[@]}"; do
    if [ "$running" -ge "$jobs" ]; then
        wait -n || true
        running=$((running - 1))
    fi
    echo "fuzzing $t for ${seconds}s (log: $work/$t.log)"
    run_one "$t" &
    running=$((running + 1))
done
wait

status=0
printf '\n%-16s %12s %8s %8s %7s %s\n' target executions cov ft corpus crashes
for t in "${targets[@]}"; do
    log="$work/$t.log"
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    last=$(grep -E '^#[0-9]+' "$log" | tail -1 || true)
    cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
    ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
    corp=$(find "$work/$t" -type f | wc -l)
    found=$(find "$crashes/$t" -type f | wc -l)
    printf '%-16s %12s %8s %8s %7s %s\n' "$t" "${execs:-?}" "${cov:-?}" "${ft:-?}" "$corp" "$found"
    if grep -qE '^(==[0-9]+==ERROR|SUMMARY: |.*property broken)' "$log"; then
        status=1
        grep -m3 -E '(ERROR|SUMMARY|property broken|runtime error)' "$log" | sed 's/^/    /'
    fi
done
[ "$status" -eq 0 ] && echo "no crashes" || echo "crashes saved under $crashes"
exit "$status"
