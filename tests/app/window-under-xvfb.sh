#!/bin/sh
# Starts the real player on a private X server with the demo song, as a user
# would, and looks at it: the main window (size, background, switches, a
# caption), the context menu's About item and the About box. Saves each
# screenshot in ARTEFACTS and prints its path; then ends the player with
# Ctrl+Q and checks that it exits cleanly.
#   window-under-xvfb.sh SONRIGO CHECKER SONG ARTEFACTS
# Exits 77 (skipped) without Xvfb or xdotool.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
if [ -z "${SONRIGO_UNDER_XVFB:-}" ]; then
    command -v xdotool >/dev/null 2>&1 || { echo "xdotool is not installed: skipped"; exit 77; }
    SONRIGO_UNDER_XVFB=1 exec "$here/../vsthost/run-under-xvfb.sh" "$0" "$@"
fi
sonrigo=$1 checker=$2 song=$3 artefacts=$4
mkdir -p "$artefacts"
export QT_QPA_PLATFORM=xcb
# No sound card, no JACK server and no MIDI port here: the player falls back
# to the silent device and the built-in synth, which is what is tested.
export JACK_DEFAULT_SERVER=sonrigo-window-test-no-server
# In the AddressSanitizer build: what D-Bus and fontconfig keep until exit is
# not a leak of the player's.
export LSAN_OPTIONS="suppressions=$here/leaks.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
# In the ThreadSanitizer build: Qt's own threads are not ours to check.
export TSAN_OPTIONS="suppressions=$here/threads.supp:halt_on_error=1${TSAN_OPTIONS:+:$TSAN_OPTIONS}"

# Prints the id of the visible window named exactly $1 whose size is $2
# (WIDTHxHEIGHT, or any), waiting up to 20 s for it.
find_window() {
    i=0
    while [ $i -lt 200 ]; do
        for id in $(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null); do
            size=$(xdotool getwindowgeometry "$id" 2>/dev/null | sed -n 's/.*Geometry: //p')
            if [ "$2" = any ] || [ "$size" = "$2" ]; then echo "$id"; return 0; fi
        done
        i=$((i + 1))
        sleep 0.1
    done
    echo "no window named '$1' of size $2 appeared" >&2
    return 1
}

"$sonrigo" "$song" >"$artefacts/sonrigo.log" 2>&1 &
player=$!
trap 'kill $player 2>/dev/null || true' EXIT
main=$(find_window Sonrigo 574x696)
sleep 1
# The messages of the start-up (here: no sound device) and of loading the
# song are boxes captioned like the window: each is kept as a picture, then
# closed with its OK, until none is left for a second.
n=0 quiet=0
while [ $quiet -lt 5 ]; do
    box=""
    for id in $(xdotool search --onlyvisible --name '^Sonrigo$' 2>/dev/null); do
        [ "$id" != "$main" ] && box=$id
    done
    if [ -z "$box" ]; then
        quiet=$((quiet + 1))
        sleep 0.2
        continue
    fi
    quiet=0 n=$((n + 1))
    "$checker" screen "$artefacts/message-$n.png"
    # No window manager here: keys go where the pointer is.
    xdotool mousemove --window "$box" 5 5 key Return
    sleep 0.3
done
"$checker" main "$main" "$artefacts/main-window.png"

# A right click on the background opens the menu with the About item.
xdotool mousemove --window "$main" 300 25 click 3
sleep 0.7
"$checker" screen "$artefacts/context-menu.png"
# The item is the menu's only one, just below and right of the pointer.
xdotool mousemove --window "$main" 330 37 click 1
about=$(find_window 'SonrigoAppのﾊﾞｰｼﾞｮﾝ情報' any)
sleep 0.5
"$checker" about "$about" "$artefacts/about-box.png"
xdotool mousemove --window "$about" 5 5 key Return
sleep 0.5

# Ctrl+Q is the power button: the player shuts down and exits.
# No window manager gives it the focus: the test does, for the keys.
xdotool windowfocus --sync "$main"
xdotool mousemove --window "$main" 300 25 key ctrl+q
if ! timeout 10 tail -s 0.1 --pid=$player -f /dev/null; then
    echo "the player did not exit within 10 s of Ctrl+Q" >&2
    exit 1
fi
trap - EXIT
status=0
wait $player || status=$?
cat "$artefacts/sonrigo.log"
[ "$status" -eq 0 ] || { echo "the player exited with status $status" >&2; exit 1; }
echo "the player exited cleanly"
