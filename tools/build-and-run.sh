#!/usr/bin/env bash
# The main job: installs what is missing, builds in Release, shows what the
# demo song's header says and plays the demo on the project's own instrument
# through the audio engine (on the machine's sound device; on a machine
# without one, in real time into nothing).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/install-deps.sh"
cmake -S "$top" -B "$top/build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DSONRIGO_BUILD_TESTS=OFF -DSONRIGO_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$top/build/release" --target sonrigo-cli sonrigo_synth
cli="$top/build/release/tools/sonrigo-cli/sonrigo-cli"
"$cli" info "$top/res/demo.mid"
"$cli" play "$top/res/demo.mid" --vst-all "$top/build/release/plugins/sonrigo-synth/sonrigo-synth.so"
