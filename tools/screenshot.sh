#!/usr/bin/env bash
# Takes the README's pictures under a private Xvfb, each from a session
# driven with xdotool on the console and a window on the landscape:
#   windowed-mode  the console after a few commands, and a second window,
#                  on the badge, showing its alpha;
#   interactive    the halved badge being placed over the landscape with
#                  the mouse ("Composite"), the button still held down;
#   scrolled       the landscape scaled to 1536 x 1024, larger than the
#                  screen, shown one to one and scrolled to the sun in a
#                  window made smaller;
#   fitted         a painting of the landscape, 3992 x 2662, fitted to the
#                  screen, the pointer on the sun and its pixel in the readout.
#   tools/screenshot.sh [SCENE [OUTPUT.png]]
# With no scene it takes all four, as docs/SCENE.png.
# Builds the program first, in BUILD (default build/); needs ImageMagick,
# which it installs if missing.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
export BUILD=$(realpath -m "${BUILD:-$source_dir/build}")

# Under the X server, in the scratch folder: one scene and its picture.
if [ "${1:-}" = --inside ]; then
  scene=$2 output=$3
  source "$source_dir/tests/gui/xdriver.sh"
  "$BUILD/compositor" >/dev/null &
  trap "kill $! 2>/dev/null" EXIT
  chooser=$(window "file to open")
  point_in "$chooser"
  xdotool type --delay 10 -- data/landscape.tga
  xdotool key Return
  a=$(window "Image A")
  console=$(window "Compositor Console")
  place "$console" 0 0
  place "$a" 515 0
  case $scene in
  windowed-mode)
    type_at "$console" 250 452 "read B data/badge.tga"
    type_at "$console" 250 452 "iw B"
    b=$(window "Image B")
    place "$b" 515 330
    type_at "$console" 250 452 "Sample two words"
    type_at "$console" 250 452 "write A out/landscape.tga"
    click_in "$b" 75 205
    xdotool mousemove 1200 1000
    size=1030x550 ;;
  interactive)
    type_at "$console" 250 452 "read B data/badge.tga"
    type_at "$console" 250 452 "half B"
    pick_item "$a" 95 11 # Required > Composite
    click_in "$a" 140 301 # the source choice under the view
    sleep 0.2
    xdotool key Down Return
    sleep 0.2
    drag_in "$a" 305 150 325 150 # the badge centred on (270, 120)
    sleep 0.2
    # A second placement, held: the outline follows the pointer.
    read -r x y < <(origin "$a")
    xdotool mousemove $((x + 115)) $((y + 110)) mousedown 1 sleep 0.1 mousemove $((x + 140)) $((y + 200))
    size=1030x470 ;;
  scrolled)
    type_at "$console" 250 452 "scale A 4 4"
    window 'Image A \(79\.4%\)' >/dev/null # fitted to the screen
    xdotool windowraise "$a" # over the console, for the key
    keys_in "$a" 1
    window "Image A" >/dev/null
    xdotool windowsize "$a" 760 540
    wait_until at_size "$a" 760 540
    place "$a" 515 0
    # Across by the scroll bar under the view, then down by the wheel.
    drag_in "$a" 150 504 600 504
    read -r x y < <(origin "$a")
    xdotool mousemove $((x + 400)) $((y + 300)) click --repeat 6 --delay 5 5
    xdotool mousemove 1200 1000
    size=1280x545 ;;
  fitted)
    type_at "$console" 250 452 "scale A 5.2 5.2"
    type_at "$console" 250 452 "painter A"
    window 'Image A \(30\.6%\)' >/dev/null
    xdotool windowraise "$a" # over the console, as it now fills the screen
    read -r x y < <(origin "$a")
    xdotool mousemove $((x + 960)) $((y + 300))
    read -r w h < <(size_of "$a")
    size=${w}x$((y + h)) colours=256 ;;
  esac
  sleep 0.5
  mkdir -p "$(dirname "$output")"
  import -window root -crop "$size+0+0" +repage +dither -colors "${colours:-64}" "$output"
  exit
fi

scenes=("${1:-windowed-mode}")
[ $# -eq 0 ] && scenes=(windowed-mode interactive scrolled fitted)
bash "$source_dir/tools/install-deps.sh" imagemagick
cmake -S "$source_dir" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" -j2 --target compositor >/dev/null
for scene in "${scenes[@]}"; do
  output=$(realpath -m "${2:-$source_dir/docs/$scene.png}")
  # Each session runs in a scratch folder that holds the sample images.
  work=$(mktemp -d -t compositor-XXXXXX)
  ln -s "$source_dir/data" "$work/data"
  mkdir "$work/out"
  (cd "$work" && bash "$source_dir/tools/with-xvfb.sh" bash "$source_dir/tools/screenshot.sh" --inside "$scene" "$output")
  rm -rf "$work"
done
