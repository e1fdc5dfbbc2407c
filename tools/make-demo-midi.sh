#!/usr/bin/env bash
# Writes res/demo.mid, the format-1 song the main job plays: nine bars at 120
# bpm in C major (C Am F G, twice, and a last chord). A conductor track (name,
# 4/4, tempo), then one track a channel:
#   1 Lead     a melody (the project's own instrument plays it in the demo)
#   2 Piano    half-note chords (GM program 0)
#   3 Bass     quarter notes (GM program 33, fingered bass)
#   4 Strings  whole-note pads (GM program 48)
#   10 Drums   kick, snare and closed hi-hat in eighths, a crash at the end
# The bytes are written out here so that the file comes from no other program.
set -euo pipefail
out=${1:-"$(dirname "$0")/../res/demo.mid"}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# be32 N: N as four big-endian bytes, in printf escape form.
be32() { printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 >> 24 & 255)) $(($1 >> 16 & 255)) $(($1 >> 8 & 255)) $(($1 & 255)); }

# vlq N: N (below 16384) as a variable-length quantity, in printf escape form.
vlq() {
    if [ "$1" -ge 128 ]; then
        printf '\\x%02x\\x%02x' $((0x80 | $1 >> 7)) $(($1 & 127))
    else
        printf '\\x%02x' "$1"
    fi
}

# ev FILE DELTA BYTE...: appends one event, its bytes given as numbers.
ev() {
    local file=$1 delta=$2 bytes=""
    shift 2
    for b in "$@"; do bytes+=$(printf '\\x%02x' "$b"); done
    printf "$(vlq "$delta")$bytes" >>"$file"
}

# name FILE TEXT: a track name at tick 0.
name() { printf '\x00\xff\x03'"$(vlq ${#2})"'%s' "$2" >>"$1"; }

# chords FILE CHANNEL VELOCITY "KEY,KEY:TICKS ...": each group of keys sounds
# together for its ticks, one group after the other ("r:TICKS" rests).
chords() {
    local file=$1 status=$((0x90 + $2 - 1)) velocity=$3 wait=0
    for item in $4; do
        local keys=${item%%:*} ticks=${item##*:}
        if [ "$keys" = r ]; then
            wait=$((wait + ticks))
            continue
        fi
        IFS=, read -r -a list <<<"$keys"
        for key in "${list[@]}"; do
            ev "$file" "$wait" "$status" "$key" "$velocity"
            wait=0
        done
        wait=$ticks
        for key in "${list[@]}"; do
            ev "$file" "$wait" "$status" "$key" 0  # note-off as velocity 0
            wait=0
        done
    done
}

# start FILE NAME CHANNEL PROGRAM VOLUME
start() {
    name "$1" "$2"
    ev "$1" 0 $((0xC0 + $3 - 1)) "$4"
    ev "$1" 0 $((0xB0 + $3 - 1)) 7 "$5"
}
end() { printf '\x00\xff\x2f\x00' >>"$1"; }

# chunk FILE: an MTrk chunk holding the bytes of FILE.
chunk() {
    printf 'MTrk'
    printf "$(be32 "$(wc -c <"$1")")"
    cat "$1"
}

# Conductor: track name, time signature 4/4, tempo 500000 us per quarter.
name "$work/t0" "Sonrigo demo"
printf '\x00\xff\x58\x04\x04\x02\x18\x08' >>"$work/t0"
printf '\x00\xff\x51\x03\x07\xa1\x20' >>"$work/t0"
end "$work/t0"

start "$work/t1" Lead 1 0 72
chords "$work/t1" 1 90 "60:96 64:96 67:96 64:96  69:96 67:48 65:48 64:192  65:96 69:96 72:96 69:96
    67:144 65:48 64:96 62:96  64:96 67:96 72:96 71:96  69:96 72:48 71:48 69:192  65:96 69:96 67:96 65:96
    62:96 67:96 60:192  72:384"
end "$work/t1"

start "$work/t2" Piano 2 0 80
c=52,55,60 am=52,57,60 f=53,57,60 g=50,55,59
chords "$work/t2" 2 70 "$c:192 $c:192 $am:192 $am:192 $f:192 $f:192 $g:192 $g:192
    $c:192 $c:192 $am:192 $am:192 $f:192 $f:192 $g:192 $g:192 $c:384"
end "$work/t2"

start "$work/t3" Bass 3 33 100
bars=""
for root in 36 33 29 31 36 33 29 31; do bars+="$root:96 $((root + 7)):96 $root:96 $((root + 7)):96 "; done
chords "$work/t3" 3 100 "$bars 36:384"
end "$work/t3"

start "$work/t4" Strings 4 48 60
chords "$work/t4" 4 60 "55,60,64:384 57,60,64:384 57,60,65:384 55,59,62:384
    55,60,64:384 57,60,64:384 57,60,65:384 55,59,62:384 55,60,64:384"
end "$work/t4"

# Drums on channel 10: program and volume, then eight bars of eighths.
start "$work/t5" Drums 10 0 100
beat="36,42:48 42:48 38,42:48 42:48 36,42:48 42:48 38,42:48 42:48"
chords "$work/t5" 10 90 "$beat $beat $beat $beat $beat $beat $beat $beat 36,49:384"
end "$work/t5"

{
    printf 'MThd\x00\x00\x00\x06'
    printf '\x00\x01\x00\x06\x00\x60'  # format 1, 6 tracks, 96 ticks per quarter
    for t in 0 1 2 3 4 5; do chunk "$work/t$t"; done
} >"$out"
