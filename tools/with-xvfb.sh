#!/usr/bin/env bash
# Runs a command under a private X server (Xvfb, 24-bit screen) and stops the
# server afterwards. The command sees DISPLAY and GUI_TESTS_REQUIRED=1, so
# window tests fail rather than skip if the server is not reachable.
#   tools/with-xvfb.sh COMMAND [ARGS...]
set -uo pipefail
fifo_dir=$(mktemp -d)
xvfb_pid= command_pid=
cleanup() {
  [ -n "$command_pid" ] && kill -TERM "-$command_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && { kill "$xvfb_pid"; wait "$xvfb_pid"; } 2>/dev/null
  rm -rf "$fifo_dir"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

# -displayfd picks a free display and writes its number once the server takes
# clients; reading it through a pipe waits exactly that long, and ends empty
# if the server dies first. -noreset: by default the server resets whenever
# its last client leaves, and refuses a test that connects during the reset.
mkfifo "$fifo_dir/display"
Xvfb -displayfd 3 -noreset -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo_dir/display" 2>/dev/null &
xvfb_pid=$!
display=
read -r display <"$fifo_dir/display"
[ -n "$display" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$display" GUI_TESTS_REQUIRED=1

# Its own process group, so that a signal to this script stops all of it.
setsid "$@" &
command_pid=$!
rc=0
wait "$command_pid" || rc=$?
command_pid=
exit $rc
