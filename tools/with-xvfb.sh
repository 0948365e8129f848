#!/usr/bin/env bash
# Runs a command under a private X server (Xvfb, 24-bit screen) and stops the
# server afterwards. The command sees DISPLAY and GUI_TESTS_REQUIRED=1, so
# window tests fail rather than skip if the server is not reachable.
#   tools/with-xvfb.sh COMMAND [ARGS...]
set -uo pipefail
display_file=$(mktemp)
xvfb_pid= command_pid=
cleanup() {
  [ -n "$command_pid" ] && kill -TERM "-$command_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && { kill "$xvfb_pid"; wait "$xvfb_pid"; } 2>/dev/null
  rm -f "$display_file"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

# -displayfd picks a free display and writes its number once it takes clients.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$display_file" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 1000); do
  [ -s "$display_file" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || { echo "Xvfb did not start" >&2; exit 1; }
  sleep 0.01
done
[ -s "$display_file" ] || { echo "Xvfb did not start in time" >&2; exit 1; }
export DISPLAY=":$(cat "$display_file")" GUI_TESTS_REQUIRED=1

# Its own process group, so that a signal to this script stops all of it.
setsid "$@" &
command_pid=$!
rc=0
wait "$command_pid" || rc=$?
command_pid=
exit $rc
