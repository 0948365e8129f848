#!/usr/bin/env bash
# Makes docs/gallery.md and its thumbnails in docs/gallery/: runs
# examples/gallery.txt in a temporary folder, turns the TGA results and the
# pictures they start from into PNG thumbnails with ImageMagick, and writes
# the page. Usage, from anywhere: tools/make_gallery.sh [PROGRAM]
# (PROGRAM defaults to build/compositor, built first if missing).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
prog=$(realpath -m "${1:-$root/build/compositor}")
cd "$root"
if [ ! -x "$prog" ]; then
    cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
    cmake --build build -j2 --target compositor
    prog=$root/build/compositor
fi
if ! command -v convert > /dev/null; then
    apt-get update && apt-get install -y --no-install-recommends imagemagick
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
ln -s "$root/data" "$tmp/data"
mkdir "$tmp/out"
(cd "$tmp" && "$prog" "$root/examples/gallery.txt") > "$tmp/log.txt"
grep -q '^=== DONE! ===' "$tmp/log.txt" || { cat "$tmp/log.txt"; exit 1; }

# Thumbnails: at most 160 px on the long side (smaller pictures keep their
# size), laid over a grey checkerboard so that transparent parts show.
rm -rf docs/gallery
mkdir -p docs/gallery
convert -size 16x16 xc:'#e4e4e4' -fill '#b4b4b4' \
    -draw 'rectangle 0,0 7,7' -draw 'rectangle 8,8 15,15' "$tmp/tile.png"
for tga in "$tmp"/out/*.tga data/landscape.tga data/badge.tga \
           data/balloon-bluescreen.tga data/paintBrushes.tga; do
    convert "$tga" -auto-orient -resize '160x160>' \
        \( +clone -alpha off -tile "$tmp/tile.png" -draw 'color 0,0 reset' \) \
        +swap -compose over -composite -alpha off -depth 8 -strip \
        -define png:exclude-chunks=date,time "docs/gallery/$(basename "$tga" .tga).png"
    identify -format '%w × %h' "$tga" > "$tmp/$(basename "$tga" .tga).size"
done

# The lines of gallery.txt that lead to the picture NAME, from the previous
# `write` of a TGA file on, as they are (code) or as one table cell (cell).
lines() {
    awk -v file="out/$1.tga" '/^write / && $3 == file { printf "%s", acc; exit }
                              /^write .*\.tga$/ { acc = ""; next }
                              { acc = acc $0 "\n" }' examples/gallery.txt
}
code() {
    echo '```'
    for name in "$@"; do lines "$name"; done
    echo '```'
    echo
}
cell() {
    # shellcheck disable=SC2016 # backquotes for Markdown
    for name in "$@"; do lines "$name"; done | sed 's/.*/`&`/' | paste -sd '#' | sed 's/#/<br>/g'
}
pic() {
    for name in "$@"; do
        printf '![%s](gallery/%s.png)<br>%s ' "$name" "$name" "$(cat "$tmp/$name.size")"
    done
}
# row "LINES..." "BEFORE..." TEXT AFTER; an empty BEFORE leaves that column out.
row() {
    # shellcheck disable=SC2086 # lists of names
    if [ -n "$2" ]; then
        echo "| $(cell $1) | $3 | $(pic $2)| $(pic "$4")|"
    else
        echo "| $(cell $1) | $3 | $(pic "$4")|"
    fi
}
head4() { printf '| Command lines | What it does | Before | After |\n|---|---|---|---|\n'; }
head3() { printf '| Command lines | What it does | After |\n|---|---|---|\n'; }

{
cat << 'EOF'
# Gallery

One before-and-after picture for each kind of command, made by
`tools/make_gallery.sh` from the script `examples/gallery.txt` (run from the
top of the source tree, it writes its results into the folder `out/`, which must exist). Pictures are
shown at their own size up to 160 pixels, larger ones shrunk to fit; sizes
are in pixels. Transparent parts show as a grey checkerboard.

## Compositing

`composite B OP A` combines the source B, the badge, into the destination A,
a square of the landscape on a transparent canvas of the badge's size, so
that there are parts where only one of the two is, where both are and where
neither is. Set-up, then for each operator a fresh copy of the destination:

EOF
code composite-destination
echo "| Source B | Destination A |"
echo "|---|---|"
echo "| $(pic badge)| $(pic composite-destination)|"
echo
head3
row composite-clear "" "Clears the covered area: everything transparent." composite-clear
row composite-first "" "Only the source B." composite-first
row composite-second "" "Only the destination A, as it was." composite-second
row composite-over "" "B over A: the badge in front, the landscape behind it." composite-over
row composite-under "" "B under A: the landscape in front, the badge behind it." composite-under
row composite-in "" "B inside A: the badge only where the landscape is." composite-in
row composite-heldin "" "A outside B: the landscape with the badge's shape cut out." composite-heldin
row composite-out "" "A inside B: the landscape only where the badge is." composite-out
row composite-heldout "" "B outside A: the badge only where the landscape is not." composite-heldout
row composite-atop "" "B atop A: the badge over the landscape, inside the landscape's shape only." composite-atop
row composite-below "" "A atop B: the landscape over the badge, inside the badge's shape only." composite-below
row composite-xor "" "B where A is not, A where B is not; where both are, neither." composite-xor
row composite-plus "" "B and A added channel by channel, stopping at 255: brighter where both are." composite-plus
cat << 'EOF'

## Filters

On a detail of the landscape, at its own size.

EOF
head4
row blur-1 crop "Smooths with a 5 × 5 kernel." blur-1
row blur-2 crop "Smooths more, with a 7 × 7 kernel." blur-2
row sharpen crop "Sharpens with a 3 × 3 kernel: edges and grain stand out." sharpen
row edgedetect crop "Keeps only the edges: flat areas become 0, alpha included, so on its own the result is almost all transparent (the one-pixel border keeps its values). Laid over opaque black here, it shows as the image window shows it." edgedetect
row unsharpmask crop "Sharpens by subtracting part of a 3 × 3 box blur." unsharpmask
cat << 'EOF'

## Scaling and rotation

On an 80 × 60 detail of the landscape; the thumbnails keep the real sizes.

EOF
head4
row scale small "1.5 times as wide, 0.75 times as tall, bilinear sampling." scale
row scale-mirror small "A negative factor mirrors." scale-mirror
row half small "Half the size: every second column and row, no averaging." half
row double small "Twice the size, in-between pixels averaged." double
row rotate small "Turns 30° counter-clockwise on a canvas that holds it all; the corners are transparent." rotate
cat << 'EOF'

## Crop

EOF
head4
row crop landscape "Keeps the 160 × 120 rectangle whose top-left corner is column 200, row 50." crop
row crop-past-edge landscape "A rectangle reaching past the right and bottom edges: those parts are transparent black." crop-past-edge
cat << 'EOF'

## Darken, dissolve and difference

EOF
head4
row darken landscape "Multiplies every channel by 0.6, alpha included: on its own the picture is the same colour, only 60 % opaque." darken
row "darken darken-over-black" landscape "Laid over opaque black, the darkened picture shows darker, as the image window shows it." darken-over-black
row dissolve badge "Multiplies the coverage (alpha) by 0.5, keeping the colour." dissolve
row "badge-over-landscape difference" "landscape badge-over-landscape" "A matte of what changed: C's colour where the two differ by more than 8, transparent elsewhere." difference
cat << 'EOF'

## Dithering and palettes

On the landscape detail, at its own size so that the dots show.

EOF
head4
row bw crop "Black and white by error diffusion; \`grays\` first, since the diffusion keeps no colour." bw
row bw-1 crop "White where red + green + blue is at least 384, black elsewhere." bw-1
row bw-2 crop "Ordered dither with a 2 × 2 threshold matrix." bw-2
row bw-3 crop "Ordered dither with a 3 × 3 threshold matrix." bw-3
row grays crop "Grey levels, (3 red + 6 green + blue) / 10." grays
row primary crop "Error diffusion to black, white and the six primary and secondary colours." primary
row pastel crop "Error diffusion to 38 pastel tints and shades, after washing the colours out with a light veil." pastel
cat << 'EOF'

## Blue-screen matte

EOF
head4
row bluescreen balloon-bluescreen "Pulls a matte from the blue backdrop: the blue becomes transparent." bluescreen
row "bluescreen bluescreen-over-landscape" "balloon-bluescreen landscape" "The matted balloon composited over the landscape." bluescreen-over-landscape
cat << 'EOF'

## Painters

Each painter paints on a white canvas twice the size of its picture, so the
landscape detail is halved first (as the image windows do) and the painting
comes out at the detail's size.

EOF
head4
row painter crop "Round dots, each coloured by the pixel under its centre." painter
row painter2 crop "Squiggles, eight shapes in turn." painter2
row painter3 crop "Highlighted squiggles." painter3
row image-to-map paintBrushes "Reads a brush file as 23 × 23 cells for the painters and shows how: paint white, blend grey, clear green, paper black." image-to-map
cat << 'EOF'

## Picture files

`read` takes PNG files of every colour type and depth, JPEG files (baseline,
progressive, arithmetic-coded; grey, colour, CMYK; upright by their EXIF
orientation) and TGA files, by their content; `write` picks the format by
the name's suffix, `.png`, `.jpg` or `.jpeg`, and writes any other name as
TGA. Embedded colour profiles are converted to sRGB as a file is read.

EOF
head4
row badge-through-png badge "PNG keeps alpha and divides and multiplies it as TGA does: read back, the picture has the very bytes a TGA round trip gives." badge-through-png
row badge-through-jpeg badge "JPEG keeps no alpha: the colour is written over black, as the window shows it, at quality 90 with 4:2:0 chroma, and \`write\` says so in a note." badge-through-jpeg
} > docs/gallery.md
echo "wrote docs/gallery.md and $(find docs/gallery -name '*.png' | wc -l) thumbnails ($(du -sh docs/gallery | cut -f1))"
