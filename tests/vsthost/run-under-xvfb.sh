#!/bin/sh
# Runs a command on a private virtual X server, for tests that open windows.
# Exits 77 (the tests' "skipped") when Xvfb is not installed.
if ! command -v xvfb-run >/dev/null 2>&1 || ! command -v Xvfb >/dev/null 2>&1; then
    echo "Xvfb is not installed: skipped"
    exit 77
fi
# -a: the first free display number, so that parallel test runs do not meet.
exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp -noreset" "$@"
