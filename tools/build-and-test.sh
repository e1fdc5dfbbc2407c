#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test three times: an
# optimised build (with the benchmarks run once as a smoke test), an
# AddressSanitizer + UndefinedBehaviorSanitizer build and a ThreadSanitizer
# build; then fuzzes the track reader for a minute, seeded with the public MIDI
# corpus. Stops at the first failure. Pass build names (release asan tsan fuzz)
# to run only those.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/install-deps.sh"

builds=("$@")
[ ${#builds[@]} -gt 0 ] || builds=(release asan tsan fuzz)
jobs=$(nproc 2>/dev/null || echo 2)

fuzz() {
    local dir="$top/build/test-fuzz"
    echo "== fuzz =="
    CXX=clang++ cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSONRIGO_WERROR=ON \
        -DSONRIGO_BUILD_BENCHMARKS=OFF >/dev/null
    cmake --build "$dir" -j "$jobs" --target sonrigo_fuzz_track_chunk
    local found="$dir/fuzz-found"
    rm -rf "$found" && mkdir -p "$found"
    local seeds=()
    [ -d "$top/../shared/midi-corpus" ] && seeds=("$top/../shared/midi-corpus")
    "$dir/tests/fuzz/sonrigo_fuzz_track_chunk" -max_total_time="${SONRIGO_FUZZ_SECONDS:-60}" -max_len=4096 \
        -timeout=10 -print_final_stats=1 "$found" "${seeds[@]}" 2>&1 | tail -n 12
    return "${PIPESTATUS[0]}"
}

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
    ctest --test-dir "$dir" --output-on-failure -j "$jobs"
done
