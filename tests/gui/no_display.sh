#!/usr/bin/env bash
# Started with no argument and no display, the program says why and exits
# with status 1 instead of being ended by the toolkit.
#   no_display.sh PROGRAM
out=$(env -u DISPLAY "$1" </dev/null 2>&1)
status=$?
expected="The windowed mode needs a display, and DISPLAY is unset or cannot be opened"
[ "$out" = "$expected" ] || { echo "output: $out"; echo "expected: $expected"; exit 1; }
[ $status = 1 ] || { echo "exit status $status, expected 1"; exit 1; }
out=$(DISPLAY=:9999 "$1" </dev/null 2>&1)
status=$?
[ "$out" = "$expected" ] && [ $status = 1 ] || { echo "with an unreachable display: $out (status $status)"; exit 1; }
