#!/usr/bin/env bash
# Takes the README's picture of the windowed mode under a private Xvfb:
# the console after a few commands, a window on the landscape and one on
# the badge showing its alpha.
#   tools/screenshot.sh [OUTPUT.png]      (default docs/windowed-mode.png)
# Builds the program first; needs ImageMagick, which it installs if missing.
set -euo pipefail
cd "$(dirname "$0")/.."
source=$PWD
output=$(realpath -m "${1:-docs/windowed-mode.png}")
bash tools/install-deps.sh imagemagick
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j2 --target compositor >/dev/null
# The session runs in a scratch folder that holds the sample images.
work=$(mktemp -d -t compositor-XXXXXX)
trap 'rm -rf "$work"' EXIT
ln -s "$source/data" "$work/data"
mkdir "$work/out"
cd "$work"
bash "$source/tools/with-xvfb.sh" bash -c '
  set -euo pipefail
  source "$2/tests/gui/xdriver.sh"
  "$2/build/compositor" >/dev/null &
  trap "kill $! 2>/dev/null" EXIT
  chooser=$(window "file to open")
  point_in "$chooser"
  xdotool type --delay 10 -- data/landscape.tga
  xdotool key Return
  a=$(window "Image A")
  console=$(window "Compositor Console")
  place "$console" 0 0
  place "$a" 515 0
  type_at "$console" 250 452 "read B data/badge.tga"
  type_at "$console" 250 452 "iw B"
  b=$(window "Image B")
  place "$b" 515 330
  type_at "$console" 250 452 "Sample two words"
  type_at "$console" 250 452 "write A out/landscape.tga"
  click_in "$b" 75 205
  xdotool mousemove 1200 1000
  sleep 0.5
  mkdir -p "$(dirname "$1")"
  import -window root -crop 960x550+0+0 +repage +dither -colors 64 "$1"
' screenshot "$output" "$source"
