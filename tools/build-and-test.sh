#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test three times: an
# optimised build (with the benchmarks run once as a smoke test), an
# AddressSanitizer + UndefinedBehaviorSanitizer build, and a ThreadSanitizer
# build. Stops at the first failure. Pass build names (release asan tsan) to run
# only those.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/install-deps.sh"

builds=("$@")
[ ${#builds[@]} -gt 0 ] || builds=(release asan tsan)
jobs=$(nproc 2>/dev/null || echo 2)

for name in "${builds[@]}"; do
    case $name in
        release) opts=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
        asan) opts=(-DCMAKE_BUILD_TYPE=Debug -DSONRIGO_SANITIZER=address -DSONRIGO_BUILD_BENCHMARKS=OFF) ;;
        tsan) opts=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DSONRIGO_SANITIZER=thread -DSONRIGO_BUILD_BENCHMARKS=OFF) ;;
        *) echo "build-and-test: unknown build '$name' (release, asan, tsan)" >&2; exit 2 ;;
    esac
    dir="$top/build/test-$name"
    echo "== $name build =="
    cmake -S "$top" -B "$dir" -G Ninja -DSONRIGO_WERROR=ON "${opts[@]}" >/dev/null
    cmake --build "$dir" -j "$jobs"
    ctest --test-dir "$dir" --output-on-failure -j "$jobs"
done
