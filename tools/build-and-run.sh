#!/usr/bin/env bash
# The main job: installs what is missing, builds in Release and runs sonrigo-cli
# on the demo song that ships with the project.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/install-deps.sh"
cmake -S "$top" -B "$top/build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DSONRIGO_BUILD_TESTS=OFF -DSONRIGO_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$top/build/release" --target sonrigo-cli
"$top/build/release/tools/sonrigo-cli/sonrigo-cli" info "$top/res/demo.mid"
