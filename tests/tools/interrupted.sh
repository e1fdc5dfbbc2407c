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
left() { ls -A "$dir" | grep -v '^stderr$'; }
for _ in $(seq 1 600); do
    [ -n "$(left)" ] || grep -q '^audio: ' "$dir/stderr" && break
    sleep 0.1
done
sleep 0.5
kill -"$signal" "$pid"
if ! timeout 20 tail -s 0.1 --pid="$pid" -f /dev/null; then
    echo "still running 20 s after SIG$signal"
    kill -KILL "$pid"
fi
wait "$pid"
status=$?
grep -v 'master volume' "$dir/stderr"
echo "exit status $status"
[ -z "$(left)" ] && echo "nothing left behind" || echo "left behind: $(left)"
