#!/usr/bin/env bash
# Pictures named on the command line open in windows of their own, one
# register each, with no start-up chooser; a broken one opens none.
#   pictures_as_arguments.sh PROGRAM SOURCE_DIR
# Needs an X server; exits 77 (skipped) without one unless GUI_TESTS_REQUIRED.
set -uo pipefail
program=$1 source_dir=$2
if ! xdpyinfo >/dev/null 2>&1; then
  [ -n "${GUI_TESTS_REQUIRED:-}" ] && { echo "no X display, and GUI_TESTS_REQUIRED is set"; exit 1; }
  echo "no X display: skipped"; exit 77
fi
work=$(mktemp -d)
pid=
trap '[ -n "$pid" ] && kill $pid 2>/dev/null; rm -rf "$work"' EXIT
source "$(dirname "$0")/xdriver.sh"
cd "$work" || exit 1
printf 'no picture' >broken.tga
"$program" "$source_dir/data/badge.tga" broken.tga "$source_dir/data/landscape.tga" >stdout.txt 2>&1 &
pid=$!
a=$(window "Image A") b=$(window "Image B")
[ -n "$a" ] && [ -n "$b" ] || { echo "no windows on A and B"; cat stdout.txt; exit 1; }
# B holds the landscape, taller than the badge in A: the broken file took no register.
read -r _ ha < <(size_of "$a")
read -r _ hb < <(size_of "$b")
[ $((hb - ha)) = 96 ] || { echo "window heights $ha and $hb: not the badge and the landscape"; exit 1; }
xdotool search --onlyvisible --name 'file to open' >/dev/null && { echo "the start-up chooser opened"; exit 1; }
[ -z "$(xdotool search --onlyvisible --name '^Image C$')" ] || { echo "a window on C"; exit 1; }
echo "windows on A and B, none for the broken picture"
