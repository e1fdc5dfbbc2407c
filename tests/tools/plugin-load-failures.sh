#!/usr/bin/env bash
# Why a plug-in does not load, as the user reads it: the line under the load
# failure for a missing file, a text file, a Windows library, a library for
# another processor, one that needs a symbol nothing defines, a FIFO and a
# folder, and for libraries that crash or exit while they load, as vst-info
# says it; play --vst and render --vst must say the same, and render leaves no
# file behind.
# Usage: plugin-load-failures.sh SONRIGO_CLI SONG PROBE UNDEFINED_SYMBOL_PROBE CRASH_PROBE EXIT_PROBE WORK_DIR
set -uo pipefail
cli=$1 song=$2 probe=$3 undefined=$4 crash=$5 exits=$6 dir=$7
rm -rf "$dir" && mkdir -p "$dir/folder.so"
printf 'not a library\n' > "$dir/text.so"
printf 'MZ\220\000\003\000\000\000\004\000\000\000\377\377\000\000' > "$dir/windows.dll"
cp "$probe" "$dir/arm64.so"
# The ELF header's machine, two bytes at offset 18: 183 is 64-bit ARM.
printf '\267\000' | dd of="$dir/arm64.so" bs=1 seek=18 conv=notrunc 2>/dev/null
cp "$undefined" "$dir/undefined.so"
mkfifo "$dir/fifo.so"
cp "$crash" "$dir/crash.so"
cp "$exits" "$dir/exit.so"
# The line after the load failure, and the exit status.
reason() {
    timeout 10 "$@" 2>&1 >/dev/null | grep -A1 'プラグインのロードに失敗しました。' | sed -n 2p | sed "s|$dir/||g"
    echo "exit ${PIPESTATUS[0]}"
}
for plugin in missing.so text.so windows.dll arm64.so undefined.so fifo.so folder.so crash.so exit.so; do
    info=$(reason "$cli" vst-info "$dir/$plugin")
    echo "${info//$'\n'/ } "
    play=$(reason "$cli" play "$song" --vst 1="$dir/$plugin")
    render=$(reason "$cli" render "$song" -o "$dir/out.wav" --vst 1="$dir/$plugin")
    [ "$play" = "$info" ] || echo "but play says: $play"
    [ "$render" = "$info" ] || echo "but render says: $render"
done
ls -A "$dir" | grep -i 'wav' | sed 's/^/left behind: /'
