#!/usr/bin/env bash
# Builds the Debian package in a clean clone of this repository's HEAD and
# checks it: its files, its dependencies, the unpacked program painting from
# another folder (it must find its brush file), the demo run from a copy of
# the examples, the manual page naming every command that Help lists, and
# the menu entry.
#   tools/check-package.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "check-package: $*" >&2; exit 1; }

git clone -q "$root" "$work/src"
make -C "$work/src" package >"$work/build.log" 2>&1 || { tail -20 "$work/build.log"; fail "make package failed"; }
deb=$(ls "$work"/src/build/compositor_*_amd64.deb)
echo "built $(basename "$deb")"

dpkg-deb -c "$deb" | awk '{print $6}' >"$work/files"
for f in usr/bin/compositor usr/share/compositor/paintBrushes.tga usr/share/man/man1/compositor.1 \
  usr/share/applications/compositor.desktop usr/share/icons/hicolor/scalable/apps/compositor.svg \
  usr/share/doc/compositor/examples/demo.txt usr/share/doc/compositor/examples/data/landscape.tga; do
  grep -qx "./$f" "$work/files" || fail "no $f in the package"
done
depends=$(dpkg-deb -f "$deb" Depends)
[[ $depends == *libfltk1.3* ]] || fail "Depends lacks FLTK: $depends"
for library in libspng0 libjpeg62-turbo liblcms2-2; do
  [[ $depends == *$library* ]] || fail "Depends lacks $library: $depends"
done
echo "depends on: $depends"

dpkg -x "$deb" "$work/root"
program=$work/root/usr/bin/compositor
mkdir "$work/elsewhere"
cd "$work/elsewhere"
cp "$root/data/badge.tga" .
printf 'read A badge.tga\npainter A\nwrite A painted.tga\nHelp\n' >paint.txt
"$program" paint.txt >out.txt
grep -qF " Read stroke map from $work/root/usr/share/compositor/paintBrushes.tga" out.txt ||
  fail "the unpacked program did not find its brush file: $(head -5 out.txt)"
grep -qxF "wrote painted.tga" out.txt || fail "the painter wrote nothing"

# The demo, run from a copy of the examples as the manual says.
cp -r "$work/root/usr/share/doc/compositor/examples" "$work/demo"
mkdir "$work/demo/out"
(cd "$work/demo" && "$program" demo.txt >demo.out)
[ "$(grep -c '^wrote ' "$work/demo/demo.out")" = "$(grep -c '^write ' "$work/demo/demo.txt")" ] ||
  fail "the demo did not write all its pictures from the examples folder"

MANWIDTH=200 man -l "$work/root/usr/share/man/man1/compositor.1" >manual.txt 2>/dev/null || fail "man -l failed"
commands=$(grep -- ', stop$' out.txt | sed 's/, /\n/g')
for c in $commands; do
  grep -qE "^ {7}$c( |$)" manual.txt || fail "the manual lacks the command $c"
done
echo "manual names all $(echo "$commands" | wc -l) commands"
desktop-file-validate "$work/root/usr/share/applications/compositor.desktop" || fail "invalid menu entry"
echo "package checked"
