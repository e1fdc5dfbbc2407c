#!/usr/bin/env bash
# Writes res/demo.mid, the small format-1 song the main job reads: a conductor
# track (name, 4/4, 120 bpm) and a piano track playing C D E F G and a long C.
# The bytes are written out by hand here so that the file comes from no other program.
set -euo pipefail
out=${1:-"$(dirname "$0")/../res/demo.mid"}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# be32 N: N as four big-endian bytes, in printf escape form.
be32() { printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 >> 24 & 255)) $(($1 >> 16 & 255)) $(($1 >> 8 & 255)) $(($1 & 255)); }

# chunk FILE: an MTrk chunk holding the bytes of FILE.
chunk() {
    printf 'MTrk'
    printf "$(be32 "$(wc -c <"$1")")"
    cat "$1"
}

# Conductor: track name "Sonrigo demo", time signature 4/4, tempo 500000 us per quarter.
printf '\x00\xff\x03\x0cSonrigo demo' >"$work/t0"
printf '\x00\xff\x58\x04\x04\x02\x18\x08' >>"$work/t0"
printf '\x00\xff\x51\x03\x07\xa1\x20' >>"$work/t0"
printf '\x00\xff\x2f\x00' >>"$work/t0"

# Piano on channel 1: name, program 0, volume 100, then quarter notes C4 D4 E4 F4 G4
# (running status, note-off as velocity 0) and a half-note C5 (delta 192 = 81 40).
printf '\x00\xff\x03\x05Piano' >"$work/t1"
printf '\x00\xc0\x00' >>"$work/t1"
printf '\x00\xb0\x07\x64' >>"$work/t1"
printf '\x00\x90\x3c\x50\x60\x3c\x00' >>"$work/t1"
printf '\x00\x3e\x50\x60\x3e\x00' >>"$work/t1"
printf '\x00\x40\x50\x60\x40\x00' >>"$work/t1"
printf '\x00\x41\x50\x60\x41\x00' >>"$work/t1"
printf '\x00\x43\x50\x60\x43\x00' >>"$work/t1"
printf '\x00\x48\x50\x81\x40\x80\x48\x40' >>"$work/t1"
printf '\x00\xff\x2f\x00' >>"$work/t1"

{
    printf 'MThd\x00\x00\x00\x06'
    printf '\x00\x01\x00\x02\x00\x60'  # format 1, 2 tracks, 96 ticks per quarter
    chunk "$work/t0"
    chunk "$work/t1"
} >"$out"
