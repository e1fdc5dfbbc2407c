#!/usr/bin/env bash
# An interrupted command ends and leaves nothing behind, whatever its plug-ins
# do: COMMAND is sent SIGNAL once it has begun (a file of its own, render's
# hidden temporary, appears in WORK_DIR, or it names its audio device, as play
# does), and must then end with 130 leaving nothing in WORK_DIR. One still
# running 20 s after the signal is killed and reported as hung.
# Usage: interrupted.sh SIGNAL WORK_DIR COMMAND [ARGS...]
set -uo pipefail
signal=$1 dir=$2
shift 2
rm -rf "$dir" && mkdir -p "$dir"
"$@" 2>"$dir/stderr" &
pid=$!
begun() { [ -n "$(ls -A "$dir" | grep -v '^stderr$')" ] || grep -q '^audio: ' "$dir/stderr"; }
for _ in $(seq 1 600); do
    begun && break
    sleep 0.1
done
sleep 0.5
kill -"$signal" "$pid"
for _ in $(seq 1 200); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
if kill -0 "$pid" 2>/dev/null; then
    echo "still running 20 s after SIG$signal"
    kill -KILL "$pid"
fi
wait "$pid"
status=$?
grep -v 'master volume' "$dir/stderr"
echo "exit status $status"
left=$(ls -A "$dir" | grep -v '^stderr$' || true)
[ -z "$left" ] && echo "nothing left behind" || echo "left behind: $left"
