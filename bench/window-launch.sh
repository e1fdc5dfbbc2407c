#!/bin/sh
# Time from launching the player to its first painted window: starts one
# private X server, then RUNS times (10 by default) launches
#
#   SONRIGO_TRACE_FIRST_PAINT=1 sonrigo SONG
#
# takes the time stamp the player prints once its first frame is on the
# display, ends the player and prints every run's milliseconds, then min,
# median and max. As root, COLD=1 drops the page cache before each launch,
# so that the SoundFont, the libraries and the fonts come from the disk.
#
#   bench/window-launch.sh [SONRIGO] [SONG]
# SONRIGO defaults to build/release/src/app/sonrigo, SONG to res/demo.mid. Like
# the window test, it runs with no JACK server: where the machine has no
# MIDI port, the built-in synth is what the window starts with.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
sonrigo=${1:-$top/build/release/src/app/sonrigo}
song=${2:-$top/res/demo.mid}
runs=${RUNS:-10}
[ -x "$sonrigo" ] || { echo "window-launch: no player at $sonrigo" >&2; exit 1; }
command -v Xvfb >/dev/null 2>&1 || { echo "window-launch: Xvfb is not installed" >&2; exit 1; }

work=$(mktemp -d)
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true; rm -rf "$work"' EXIT
i=0
while [ ! -s "$work/display" ] && [ $i -lt 100 ]; do i=$((i + 1)); sleep 0.05; done
[ -s "$work/display" ] || { echo "window-launch: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n 1 "$work/display")"
export QT_QPA_PLATFORM=xcb
export JACK_DEFAULT_SERVER=sonrigo-window-launch-no-server
export SONRIGO_TRACE_FIRST_PAINT=1

run=0
while [ $run -lt "$runs" ]; do
    run=$((run + 1))
    if [ "${COLD:-0}" = 1 ]; then
        sync
        echo 3 >/proc/sys/vm/drop_caches || { echo "window-launch: COLD=1 needs root" >&2; exit 1; }
    fi
    log="$work/run-$run.log"
    started=$(date +%s%N)
    "$sonrigo" "$song" >"$log" 2>&1 &
    player=$!
    i=0
    while ! grep -q 'first paint at' "$log" && kill -0 $player 2>/dev/null && [ $i -lt 400 ]; do
        i=$((i + 1))
        sleep 0.025
    done
    painted=$(sed -n 's/^sonrigo: first paint at \([0-9]*\) ns$/\1/p' "$log")
    # The player's shutdown is not measured: it is ended at once.
    kill $player 2>/dev/null || true
    wait $player 2>/dev/null || true
    [ -n "$painted" ] || { echo "window-launch: run $run painted no window" >&2; cat "$log" >&2; exit 1; }
    echo $(( (painted - started) / 1000000 )) >>"$work/times"
    echo "run $run: $(tail -n 1 "$work/times") ms"
done
sort -n "$work/times" | awk '{ t[NR] = $1 } END {
    median = NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2
    printf "launch to first paint: min %d ms, median %d ms, max %d ms (%d runs)\n", t[1], median, t[NR], NR }'
