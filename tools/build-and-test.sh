#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test three times: an
# optimised build (with the benchmarks run once as a smoke test), an
# AddressSanitizer + UndefinedBehaviorSanitizer build and a ThreadSanitizer
# build; then fuzzes the track reader and the whole file loader, a minute each
# (SONRIGO_FUZZ_SECONDS), seeded with the public MIDI corpus, after running the
# inputs kept in tests/fuzz/regressions. Stops at the first failure. Pass build
# names (release asan tsan fuzz) to run only those.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/install-deps.sh"

builds=("$@")
[ ${#builds[@]} -gt 0 ] || builds=(release asan tsan fuzz)
jobs=$(nproc 2>/dev/null || echo 2)

# Runs one fuzzer: first every regression input once, as plain inputs, then
# fuzzing for SONRIGO_FUZZ_SECONDS (60 by default) seeded with the corpus, into
# a fresh folder of its own. Returns non-zero when a regression input or the
# fuzzing finds a crash, leak, timeout (10 s an input) or out-of-memory (2 GB).
fuzz_one() {
    local fuzzer=$1 out=$2 max_len=$3
    shift 3
    local seeds=("$@")
    local limits=(-timeout=10 -rss_limit_mb=2048 -artifact_prefix="$out/artifacts/")
    rm -rf "$out" && mkdir -p "$out/corpus" "$out/artifacts"
    local regressions=()
    if [ -d "$top/tests/fuzz/regressions" ]; then
        mapfile -t regressions < <(find "$top/tests/fuzz/regressions" -type f ! -name README.md | sort)
    fi
    echo "-- $(basename "$fuzzer"): ${#regressions[@]} regression input(s)"
    if [ ${#regressions[@]} -gt 0 ] && ! "$fuzzer" "${limits[@]}" "${regressions[@]}" >"$out/regressions.log" 2>&1; then
        tail -n 40 "$out/regressions.log"
        echo "fuzz: $(basename "$fuzzer") fails on a regression input (log: $out/regressions.log)" >&2
        return 1
    fi
    echo "-- $(basename "$fuzzer"): fuzzing for ${SONRIGO_FUZZ_SECONDS:-60} s"
    local status=0
    "$fuzzer" "${limits[@]}" -max_total_time="${SONRIGO_FUZZ_SECONDS:-60}" -max_len="$max_len" \
        -print_final_stats=1 "$out/corpus" "${seeds[@]}" >"$out/fuzz.log" 2>&1 || status=$?
    if [ "$status" -ne 0 ]; then
        tail -n 40 "$out/fuzz.log"
        echo "fuzz: $(basename "$fuzzer") found a failure (exit status $status; log: $out/fuzz.log; input in $out/artifacts)" >&2
        return 1
    fi
    grep -E '^(Done|stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb))' "$out/fuzz.log" || true
}

fuzz() {
    local dir="$top/build/test-fuzz"
    echo "== fuzz =="
    CXX=clang++ cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSONRIGO_WERROR=ON \
        -DSONRIGO_BUILD_BENCHMARKS=OFF >/dev/null
    cmake --build "$dir" -j "$jobs" --target sonrigo_fuzz_track_chunk sonrigo_fuzz_loader
    local seeds=()
    [ -d "$top/../shared/midi-corpus" ] && seeds=("$top/../shared/midi-corpus")
    # Both fuzzers run whatever the first finds; the build fails if either did.
    local failed=0
    fuzz_one "$dir/tests/fuzz/sonrigo_fuzz_track_chunk" "$dir/fuzz-track-chunk" 4096 "${seeds[@]}" || failed=1
    fuzz_one "$dir/tests/fuzz/sonrigo_fuzz_loader" "$dir/fuzz-loader" 8192 "${seeds[@]}" || failed=1
    return "$failed"
}

total_passed=0
for name in "${builds[@]}"; do
    [ "$name" = fuzz ] && { fuzz; continue; }
    case $name in
        release) opts=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
        asan) opts=(-DCMAKE_BUILD_TYPE=Debug -DSONRIGO_SANITIZER=address -DSONRIGO_BUILD_BENCHMARKS=OFF) ;;
        tsan) opts=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DSONRIGO_SANITIZER=thread -DSONRIGO_BUILD_BENCHMARKS=OFF) ;;
        *) echo "build-and-test: unknown build '$name' (release, asan, tsan, fuzz)" >&2; exit 2 ;;
    esac
    dir="$top/build/test-$name"
    echo "== $name build =="
    cmake -S "$top" -B "$dir" -G Ninja -DSONRIGO_WERROR=ON "${opts[@]}" >/dev/null
    cmake --build "$dir" -j "$jobs"
    log="$dir/ctest.log"
    # A test that hangs fails after ten minutes instead of stalling the run.
    ctest --test-dir "$dir" --output-on-failure --timeout 600 -j "$jobs" | tee "$log"
    ran=$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -n 1)
    total_passed=$((total_passed + ${ran:-0}))
done

# ctest stops this script at its first failure, so what reaches here passed.
echo "tests: ${total_passed} passed, 0 failed"
