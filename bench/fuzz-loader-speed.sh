#!/usr/bin/env bash
# The loader fuzzer's speed: runs FUZZER (build/test-fuzz/tests/fuzz/
# sonrigo_fuzz_loader by default) for RUNS inputs (30,000) from a fixed seed,
# seeded with the public MIDI corpus into a fresh folder, and prints libFuzzer's
# runs and runs per second. Pair two builds in one farm-bench run to compare.
# Usage: bench/fuzz-loader-speed.sh [FUZZER [RUNS]]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
fuzzer=${1:-$top/build/test-fuzz/tests/fuzz/sonrigo_fuzz_loader}
runs=${2:-30000}
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
seeds=()
[ -d "$top/../shared/midi-corpus" ] && seeds=("$top/../shared/midi-corpus")
"$fuzzer" -seed=1 -runs="$runs" -max_len=8192 -print_final_stats=1 "$corpus" "${seeds[@]}" 2>&1 |
    grep -E '^(Done|stat::average_exec_per_sec)'
