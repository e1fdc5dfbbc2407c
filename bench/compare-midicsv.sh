#!/usr/bin/env bash
# Times the whole load of the two generated songs at the size limit (A: format
# 1, 63 tracks, about 300,000 note events; B: format 0, one track of about
# 490,000 events) by sonrigo-cli against midicsv reading the same files:
#
#   sonrigo-cli dump --form playcopy FILE > /dev/null
#   midicsv FILE /dev/null
#
# each the best of 5 runs (hyperfine when installed, after one warm-up run;
# else a bash loop timed with date +%s%N), and prints the times and the ratio
# sonrigo-cli / midicsv per file. Both commands are whole processes, so the
# times include starting them and, for sonrigo-cli, writing the dump.
#
# Run from anywhere:
#   apt-get install -y midicsv hyperfine   # midicsv is in tools/debian-packages.txt
#   bench/compare-midicsv.sh [BUILD_DIR]
# BUILD_DIR is a build of this tree with the benchmarks enabled (the default);
# without one the script configures build/compare-midicsv (Release). It builds
# sonrigo-cli and sonrigo_song_memory there first, and writes the two songs
# with `sonrigo_song_memory --write DIR` to a temporary folder it removes.
# RUNS=N changes the number of runs.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build/compare-midicsv}
runs=${RUNS:-5}

command -v midicsv >/dev/null || { echo "compare-midicsv: midicsv is not installed (apt-get install -y midicsv)" >&2; exit 1; }
if [ ! -f "$build/CMakeCache.txt" ]; then
    [ $# -eq 0 ] || { echo "compare-midicsv: $build is not a configured build" >&2; exit 1; }
    cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSONRIGO_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target sonrigo-cli sonrigo_song_memory >/dev/null
cli="$build/tools/sonrigo-cli/sonrigo-cli"
writer="$build/bench/sonrigo_song_memory"

work=$(mktemp -d "${TMPDIR:-/tmp}/sonrigo-compare-midicsv.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$writer" --write "$work"

# The best time of "$runs" runs of a shell command, in milliseconds.
best_ms() {
    local cmd=$1
    if command -v hyperfine >/dev/null; then
        hyperfine --style none --warmup 1 --runs "$runs" --export-csv "$work/times.csv" "$cmd" >/dev/null
        # Columns: command,mean,stddev,median,user,system,min,max (seconds).
        awk -F, 'NR == 2 { printf "%.1f", $7 * 1000 }' "$work/times.csv"
    else
        local best=-1 start end i
        bash -c "$cmd"  # warm-up
        for ((i = 0; i < runs; i++)); do
            start=$(date +%s%N)
            bash -c "$cmd"
            end=$(date +%s%N)
            if ((best < 0 || end - start < best)); then best=$((end - start)); fi
        done
        awk -v ns="$best" 'BEGIN { printf "%.1f", ns / 1e6 }'
    fi
}

printf 'timing with %s, best of %d runs\n' "$(command -v hyperfine >/dev/null && hyperfine --version || echo 'date +%s%N')" "$runs"
printf '%-6s %10s %22s %14s %8s\n' file bytes 'sonrigo-cli dump (ms)' 'midicsv (ms)' ratio
for name in a b; do
    file="$work/$name.mid"
    q=$(printf '%q' "$file")
    dump="$(printf '%q' "$cli") dump --form playcopy $q > /dev/null"
    csv="midicsv $q /dev/null"
    # Each must succeed once before it is timed: a failing command times nothing.
    bash -c "$dump" 2>"$work/err" || { echo "compare-midicsv: '$dump' failed:" >&2; cat "$work/err" >&2; exit 1; }
    bash -c "$csv" 2>"$work/err" || { echo "compare-midicsv: '$csv' failed:" >&2; cat "$work/err" >&2; exit 1; }
    ours=$(best_ms "$dump")
    theirs=$(best_ms "$csv")
    printf '%-6s %10s %22s %14s %8s\n' "$name.mid" "$(stat -c %s "$file")" "$ours" "$theirs" \
        "$(awk -v a="$ours" -v b="$theirs" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }')"
done
