#!/usr/bin/env bash
# Installs the program into a fresh prefix and runs it from a working folder
# of its own: it must read the brush file from share/compositor beside its
# bin/, and with that file gone report both failed places, every time.
#   install_layout.sh CMAKE BUILD_DIR
set -uo pipefail
cmake=$1 build=$2
work=$(cd "$(mktemp -d)" && pwd -P)
trap 'rm -rf "$work"' EXIT
"$cmake" --install "$build" --prefix "$work/prefix" > /dev/null || exit 1
mkdir "$work/cwd"
printf 'painter Q\npainter Q\n' > "$work/cwd/script.txt"
run() {
  (cd "$work/cwd" && "$work/prefix/bin/compositor" script.txt) |
    sed -E 's/^-- (.*) : +[0-9]+\.[0-9]+ sec$/-- \1 : * sec/'
}

brushes=$work/prefix/share/compositor/paintBrushes.tga
found="=== Reading from file:script.txt ===
 Read stroke map from $brushes
Q not a valid image
-- painter : * sec
Q not a valid image
-- painter : * sec
=== DONE! ==="
missing_once="Error trying to set image to \`$brushes'!
cannot open file
Error trying to set image to \`p:\\course\\ip301-studio\\public\\Images\\paintBrushes.tga'!
cannot open file
Couldn't find brush file!
:Can't paint - no stroke map!
-- painter : * sec"
missing="=== Reading from file:script.txt ===
$missing_once
$missing_once
=== DONE! ==="

failed=0
diff -u <(echo "$found") <(run) || { echo "installed brush file not used"; failed=1; }
rm "$brushes"
diff -u <(echo "$missing") <(run) || { echo "missing brush file not reported"; failed=1; }
exit $failed
