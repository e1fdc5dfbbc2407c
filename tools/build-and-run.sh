#!/usr/bin/env bash
# The main job: installs what is missing and builds in Release. Where there is
# a display it opens the player with the demo song loaded; without one it
# renders the demo song to build/demo.wav, the lead (channel 1) on the
# project's own instrument and every other channel on the built-in General
# MIDI synth, which needs no display, sound card or MIDI port.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/install-deps.sh"
cmake -S "$top" -B "$top/build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DSONRIGO_BUILD_TESTS=OFF -DSONRIGO_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$top/build/release" --target sonrigo sonrigo-cli sonrigo_synth
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "Opening the player with the demo song loaded (the project's instrument: build/release/plugins/sonrigo-synth/sonrigo-synth.so)"
    exec "$top/build/release/src/app/sonrigo" "$top/res/demo.mid"
fi
cli="$top/build/release/tools/sonrigo-cli/sonrigo-cli"
out="$top/build/demo.wav"
"$cli" render "$top/res/demo.mid" -o "$out" \
    --vst 1="$top/build/release/plugins/sonrigo-synth/sonrigo-synth.so"
echo "No display: the demo is rendered to $out (16-bit mono 44.1 kHz WAV): play it with any audio player, e.g. aplay $out"
