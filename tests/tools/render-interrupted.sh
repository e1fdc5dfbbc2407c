#!/usr/bin/env bash
# An interrupted render leaves nothing behind: `sonrigo-cli render` is sent
# SIGINT while it works on a long tail, and must exit with 130 leaving neither
# the output file nor its hidden temporary beside it.
# Usage: render-interrupted.sh SONRIGO_CLI SONG WORK_DIR
set -uo pipefail
cli=$1 song=$2 dir=$3
rm -rf "$dir" && mkdir -p "$dir"
# Ten minutes of tail: far more than can be rendered before the signal.
"$cli" render "$song" -o "$dir/out.wav" --tail 600 2>"$dir/stderr" &
pid=$!
# Its hidden temporary file shows that it has begun (and handles SIGINT).
for _ in $(seq 1 600); do
    [ -n "$(ls -A "$dir" | grep -v '^stderr$')" ] && break
    sleep 0.1
done
sleep 0.5
kill -INT "$pid"
wait "$pid"
status=$?
cat "$dir/stderr"
echo "exit status $status"
left=$(ls -A "$dir" | grep -v '^stderr$' || true)
[ -z "$left" ] && echo "nothing left behind" || echo "left behind: $left"
