#!/usr/bin/env bash
# Where render writes: a character device and a FIFO are written in place and
# stay what they are (a device that takes nothing fails the render), a link
# stays a link to the file written (as /dev/stdout must); the input
# file, under its name or a link's, a folder and a name whose extension no
# format matches are refused and left as they were. NULL and FULL are
# /dev/null and /dev/full, or nodes made like them.
# Usage: render-output.sh SONRIGO_CLI SONG PLUGIN WORK_DIR NULL FULL
set -uo pipefail
cli=$1 song=$2 plugin=$3 dir=$4 null=$5 full=$6
rm -rf "$dir" && mkdir -p "$dir/folder"
cp "$song" "$dir/song.mid"
ln -s song.mid "$dir/link.wav"
mkfifo "$dir/pipe"
render() {
    "$cli" render "$dir/song.mid" --vst-all "$plugin" -o "$1" 2>&1 | grep -v 'master volume' | sed "s|$dir/||g"
    echo "exit ${PIPESTATUS[0]}"
}
render "$dir/file.wav"
ln -s file.wav "$dir/file-link.wav"
render "$dir/file-link.wav" >/dev/null
[ -L "$dir/file-link.wav" ] && cmp "$dir/file.wav" "$dir/file-link.wav" && echo "still a link to the file"
for device in "$null" "$full"; do
    render "$device"
    [ -c "$device" ] && echo "still a character device"
done
timeout 20 cat "$dir/pipe" > "$dir/from-pipe.wav" &
render "$dir/pipe"
wait
[ -p "$dir/pipe" ] && echo "still a FIFO"
[ "$(head -c 4 "$dir/from-pipe.wav")$(head -c 12 "$dir/from-pipe.wav" | tail -c 4)" = RIFFWAVE ] &&
    cmp <(tail -c +45 "$dir/file.wav") <(tail -c +45 "$dir/from-pipe.wav") && echo "the FIFO gave the same samples"
for refused in song.mid link.wav folder out.mp3; do
    render "$dir/$refused"
done
cmp "$song" "$dir/song.mid" && echo "the song is intact"
echo "left:" $(ls -A "$dir")
