# Shell functions that drive the program's windows from outside with xdotool,
# on an X server without a window manager: keys go to the window under the
# pointer. Sourced by the session test and the screenshot script.

# Polls a condition for up to 5 seconds.
wait_until() {
  for _ in $(seq 250); do "$@" && return 0; sleep 0.02; done
  return 1
}
# The id of the shown window with this exact title, once it is there.
window() { timeout 10 xdotool search --sync --onlyvisible --name "^$1\$" 2>/dev/null | head -1; }
origin() { xwininfo -id "$1" | awk '/Absolute upper-left X/ {x = $4} /Absolute upper-left Y/ {y = $4} END {print x, y}'; }
at() { [ "$(origin "$1")" = "$2 $3" ]; }
size_of() { xwininfo -id "$1" | awk '/Width:/ {w = $2} /Height:/ {h = $2} END {print w, h}'; }
at_size() { [ "$(size_of "$1")" = "$2 $3" ]; }
# Moves a window to (x, y) and waits until the server has it there.
place() { xdotool windowmove "$1" "$2" "$3" && wait_until at "$1" "$2" "$3"; }
# Clicks the point (x, y) of a window.
click_in() {
  local x y; read -r x y < <(origin "$1")
  xdotool mousemove $((x + $2)) $((y + $3)) click 1
}
# Drags with the first button from (x1, y1) to (x2, y2) of a window.
drag_in() {
  local x y; read -r x y < <(origin "$1")
  xdotool mousemove $((x + $2)) $((y + $3)) mousedown 1 sleep 0.05 \
    mousemove $((x + ($2 + $4) / 2)) $((y + ($3 + $5) / 2)) sleep 0.05 \
    mousemove $((x + $4)) $((y + $5)) sleep 0.05 mouseup 1
}
# Opens the menu whose title is at x in a window's menu bar and picks its
# item number n (1 the first) with the keyboard.
pick_item() {
  click_in "$1" "$2" 12
  sleep 0.2
  xdotool key $(printf 'Down %.0s' $(seq "$3")) Return
  sleep 0.2
}
# Types into the field at the point (x, y) of a window, then Enter.
type_at() {
  click_in "$1" "$2" "$3"
  xdotool type --delay 10 -- "$4"
  xdotool key Return
}
# Puts the pointer into a window, so that keys go there.
point_in() {
  local x y; read -r x y < <(origin "$1")
  xdotool mousemove $((x + 30)) $((y + 60))
}
# Presses keys in a window.
keys_in() { point_in "$1"; shift; xdotool key "$@"; }
# Answers the program's one-line input dialog (titled "Compositor").
answer() {
  local dialog; dialog=$(window Compositor) || return 1
  point_in "$dialog"
  xdotool type --delay 10 -- "$1"
  xdotool key Return
}
