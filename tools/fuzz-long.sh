#!/usr/bin/env bash
# A long fuzzing campaign of the track reader and the whole file loader:
#
#   tools/fuzz-long.sh HOURS [track_chunk|loader ...]
#
# SONRIGO_FUZZ_JOBS (1 by default) fuzzing processes run for each target.
#
# Builds the fuzzers (Clang, AddressSanitizer + UBSan, as CI does) in
# build/test-fuzz, then runs the targets side by side, one per core, for HOURS
# hours each (a fraction such as 0.5 will do). Each target keeps its corpus in
# build/fuzz-corpus/<target>/ from one campaign to the next, seeded with the
# public MIDI corpus (../shared/midi-corpus) and the regression inputs. An input
# that crashes, leaks, hangs (10 s) or runs out of memory (2 GB) is minimised
# and copied to tests/fuzz/regressions/ as <target>-<sha1 of its bytes>, where
# CI runs it before every fuzzing: commit it with the mend. Prints each
# target's runs, speed, corpus size and findings at the end; exits 1 when
# anything was found.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

usage() { echo "usage: tools/fuzz-long.sh HOURS [track_chunk|loader ...]" >&2; exit 2; }
[ $# -ge 1 ] || usage
hours=$1
shift
seconds=$(awk -v h="$hours" 'BEGIN { if (h !~ /^[0-9]+([.][0-9]+)?$/ || h <= 0) exit 1; printf "%d", h * 3600 }') || usage
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(track_chunk loader)
for target in "${targets[@]}"; do
    case $target in track_chunk | loader) ;; *) usage ;; esac
done

"$top/tools/install-deps.sh"
build="$top/build/test-fuzz"
CXX=clang++ cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSONRIGO_WERROR=ON \
    -DSONRIGO_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target "${targets[@]/#/sonrigo_fuzz_}"

seeds=()
[ -d "$top/../shared/midi-corpus" ] && seeds+=("$top/../shared/midi-corpus")
regressions="$top/tests/fuzz/regressions"

# The largest input each target is given: a track chunk of 4 KB, a file of 8 KB.
max_len() { [ "$1" = track_chunk ] && echo 4096 || echo 8192; }

campaign() {
    local target=$1 fuzzer="$build/tests/fuzz/sonrigo_fuzz_$1"
    local corpus="$top/build/fuzz-corpus/$target" findings="$top/build/fuzz-findings/$target"
    mkdir -p "$corpus" "$findings"
    # -fork keeps fuzzing past a finding; each one is left in $findings.
    "$fuzzer" -fork="${SONRIGO_FUZZ_JOBS:-1}" -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 -timeout=10 -rss_limit_mb=2048 \
        -max_total_time="$seconds" -max_len="$(max_len "$target")" -print_final_stats=1 \
        -artifact_prefix="$findings/" "$corpus" "${seeds[@]}" "$regressions" \
        >"$top/build/fuzz-$target.log" 2>&1 || true
}

echo "fuzz-long: ${targets[*]} for $hours h each; logs in build/fuzz-<target>.log"
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true' INT TERM
for target in "${targets[@]}"; do
    campaign "$target" &
    pids+=($!)
done
wait "${pids[@]}"

found=0
for target in "${targets[@]}"; do
    fuzzer="$build/tests/fuzz/sonrigo_fuzz_$target"
    log="$top/build/fuzz-$target.log"
    # The fork mode's last status line: "#RUNS: cov: ... corp: N exec/s E ...".
    status=$(grep -E '^#[0-9]+' "$log" | tail -n 1 || true)
    runs=$(sed -n 's/^#\([0-9]*\).*/\1/p' <<<"$status")
    speed=$(sed -n 's/.*exec\/s:\{0,1\} \([0-9]*\).*/\1/p' <<<"$status")
    corpus_files=$(find "$top/build/fuzz-corpus/$target" -type f | wc -l)
    new=0
    for artifact in "$top/build/fuzz-findings/$target"/*; do
        [ -f "$artifact" ] || continue
        minimised="$artifact.min"
        "$fuzzer" -minimize_crash=1 -runs=20000 -timeout=10 -rss_limit_mb=2048 -exact_artifact_path="$minimised" \
            "$artifact" >/dev/null 2>&1 || true
        [ -s "$minimised" ] || cp "$artifact" "$minimised"
        name="$target-$(sha1sum "$minimised" | cut -c1-12)"
        if [ ! -f "$regressions/$name" ]; then
            cp "$minimised" "$regressions/$name"
            new=$((new + 1))
            echo "fuzz-long: $target: $(basename "$artifact") -> tests/fuzz/regressions/$name"
        fi
        rm -f "$artifact" "$minimised"
    done
    [ "$new" -eq 0 ] || found=1
    printf 'fuzz-long: %-11s runs %s, %s exec/s, corpus %s inputs, %s new finding(s)\n' \
        "$target" "${runs:-?}" "${speed:-?}" "$corpus_files" "$new"
done
exit "$found"
