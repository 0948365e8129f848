#!/usr/bin/env bash
# A whole windowed session driven from outside with mouse and keyboard, then
# replayed in script mode from the history it saved:
#   the start-up file chooser, typed console commands, "iw", a menu item by
#   mouse, a crop by rubber band, a composite placed with the mouse, a slider
#   moved and finished, the Alt+s and Tab shortcuts, "Write Script", closing
#   the console while image windows stay, and the exit once the last window
#   is closed.
# The replay must write the same image files as the session did.
#   session.sh PROGRAM SOURCE_DIR CLOSE_WINDOW
# (CLOSE_WINDOW: a program that closes a window as a window manager would.)
# Needs an X server; exits 77 (skipped) without one unless GUI_TESTS_REQUIRED.
set -uo pipefail
program=$1 source_dir=$2 close_window=$3

if ! xdpyinfo >/dev/null 2>&1; then
  [ -n "${GUI_TESTS_REQUIRED:-}" ] && { echo "no X display, and GUI_TESTS_REQUIRED is set"; exit 1; }
  echo "no X display: skipped"; exit 77
fi

work=$(mktemp -d)
log=$work/stdout.txt
pid=
trap '[ -n "$pid" ] && kill $pid 2>/dev/null; rm -rf "$work"' EXIT
cd "$work" && ln -s "$source_dir/data" data && mkdir out

fail() {
  echo "FAILED: $*"
  echo "--- standard output of the session:"; cat "$log"
  [ -f out/history.txt ] && { echo "--- saved history:"; cat out/history.txt; }
  exit 1
}
source "$(dirname "$0")/xdriver.sh"
resets() { grep -c "^reset image $1\$" "$log"; }
resets_reach() { [ "$(resets "$1")" -ge "$2" ]; }
# Runs an action and waits until it has refreshed the window on a register.
refreshing() {
  local letter=$1 count; count=$(resets "$1"); shift
  "$@"
  wait_until resets_reach "$letter" $((count + 1))
}
# Whether window A fits the 160 x 110 crop: as tall, and as wide or as wide
# as its menu titles need.
fits_crop() { local w h; read -r w h < <(size_of "$a"); [ "$h" = 168 ] && [ "$w" -ge 220 ]; }
# Whether a file holds a line.
holds() { [ -f "$1" ] && grep -qxF -- "$2" "$1"; }

"$program" >"$log" 2>&1 &
pid=$!

# Start-up: the console, and the chooser for a first image.
chooser=$(window 'file to open') || fail "no file chooser at start-up"
console=$(window 'Compositor Console') || fail "no console"
point_in "$chooser"
xdotool type --delay 10 -- data/landscape.tga
xdotool key Return
a=$(window 'Image A') || fail "no window on A after the chooser"
place "$console" 0 0 && place "$a" 520 0 || fail "could not move the windows"

# Typed commands: each one refreshes every window.
type_at "$console" 250 452 "read B data/badge.tga"
wait_until resets_reach A 1 || fail "no refresh after a typed command"
type_at "$console" 250 452 "iw B"
b=$(window 'Image B') || fail "iw B opened no window"
place "$b" 520 400 || fail "could not move window B"
wait_until resets_reach B 1 || fail "no refresh of B"

# A menu item by mouse: Required, then its first item "Half" (A is 192 x 128).
refreshing A pick_item "$a" 95 1 || fail "Half did not refresh its window"

# The interactive operations; the view's corner is at (55, 30) of the window.
# Crop (Required, third item) by a rubber band from (20, 10) to (180, 120).
pick_item "$a" 95 3
refreshing A drag_in "$a" 75 40 235 150 || fail "no refresh after the crop"
wait_until fits_crop || fail "the window did not fit the 160 x 110 crop"
# Composite (eleventh item); the one source, B, is not current until picked
# in the choice under the view.
refreshing A pick_item "$a" 95 11 || fail "Composite did not start"
click_in "$a" 140 155
sleep 0.2
refreshing A xdotool key Down Return || fail "picking B composited nothing"
# The 160 x 160 badge centred on (100, 60) of the image.
refreshing A drag_in "$a" 135 85 155 90 || fail "no composite after the placement"
# Darken (fifth item): a click low on the slider, then the finish button.
refreshing A pick_item "$a" 95 5 || fail "Darken did not start"
refreshing A click_in "$a" 25 130 || fail "the slider changed nothing"
refreshing A click_in "$a" 25 155 || fail "the finish button did nothing"

# Shortcuts: Alt+s writes the window's image; Tab is Help.
keys_in "$a" alt+s
answer out/a.tga || fail "no dialog for the file name"
wait_until test -s out/a.tga || fail "Alt+s wrote no out/a.tga"
type_at "$console" 250 452 "write B out/b.tga"
wait_until test -s out/b.tga || fail "no out/b.tga"
# A click on Alpha gives window B the keyboard focus, as a window manager
# would; twice, to show colour again.
click_in "$b" 75 205
click_in "$b" 75 205
keys_in "$b" Tab

# Basics, seventh item: Write Script.
xdotool mousemove $((520 + 30)) $((400 + 12)) click 1
sleep 0.2
xdotool key Down Down Down Down Down Down Down Return
answer out/history.txt || fail "no dialog for the script name"
wait_until holds out/history.txt help || fail "no history with the Help line"

# Closing the console leaves the program running while image windows are open.
"$close_window" "$console" || fail "could not close the console"
wait_until test -z "$(xdotool search --onlyvisible --name '^Compositor Console$')" || fail "console still shown"
keys_in "$a" alt+s
answer out/a2.tga || fail "no dialog for the file name"
wait_until test -s out/a2.tga || fail "no image window works after the console closed"
keys_in "$a" Escape
sleep 0.1
kill -0 $pid 2>/dev/null || fail "the program ended with window B still open"
keys_in "$b" Escape
for _ in $(seq 250); do kill -0 $pid 2>/dev/null || break; sleep 0.02; done
kill -0 $pid 2>/dev/null && fail "the program still runs with every window closed"
wait $pid; status=$?; pid=
[ $status = 0 ] || fail "exit status $status"

# The slider's value depends on where the click fell: both fields the same.
darken=$(grep '^darken A ' out/history.txt)
[[ $darken =~ ^darken\ A\ ([0-9.]+)\ ([0-9.]+)$ && ${BASH_REMATCH[1]} = "${BASH_REMATCH[2]}" ]] ||
  fail "slider line: $darken"
expected="open
read A $work/data/landscape.tga
iw A
read B data/badge.tga
iw B
half A
crop A 20 10 160 110
copy A z
copy z A
composite B over A 0 0
copy z A
composite B over A 20 -20
copy A z
copy z A
$darken
write A out/a.tga
write B out/b.tga
help"
[ "$(cat out/history.txt)" = "$expected" ] || {
  echo "--- history:"; cat out/history.txt; echo "--- expected:"; echo "$expected"; fail "history differs"; }

# The replay in script mode: windows are refused, the images are the same.
mv out session && mkdir out
"$program" session/history.txt >replay.txt 2>&1 || fail "replay failed"
grep -qxF "open needs the windowed mode and a display" replay.txt || fail "open not refused in script mode"
grep -qxF "IW needs the windowed mode and a display" replay.txt || fail "IW not refused in script mode"
for f in a.tga b.tga; do
  cmp session/$f out/$f || { cat replay.txt; fail "the replay wrote another $f"; }
done
echo "session and replay passed"
