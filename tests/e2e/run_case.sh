#!/usr/bin/env bash
# Runs one end-to-end case: the program on the case's script.txt in a fresh
# working folder, then compares standard output with expected.txt and every
# file under expected/ with the file of that name the script wrote.
#   run_case.sh PROGRAM CASE_DIR SOURCE_DIR
# The folder holds `data` (the shipped images), the case's files/ and an
# empty out/.
# Timing lines are compared without their seconds (also where a message
# without a newline runs on into them), and the source folder's path reads
# SOURCE. UPDATE=1 rewrites the expected output instead of comparing.
set -uo pipefail
program=$1 case_dir=$2 source_dir=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ln -s "$source_dir/data" "$work/data"
[ -d "$case_dir/files" ] && cp -R "$case_dir/files/." "$work/"
mkdir -p "$work/out"
cp "$case_dir/script.txt" "$work/script.txt"

(cd "$work" && "$program" script.txt) > "$work/stdout.raw"
status=$?
# The source folder, which the program names for its own files, reads SOURCE.
source_pattern=$(printf '%s' "$source_dir" | sed 's/[][\.*^$|+?(){}]/\\&/g')
sed -E -e 's/-- (.*) : +[0-9]+\.[0-9]+ sec$/-- \1 : * sec/' -e "s|$source_pattern|SOURCE|g" \
  "$work/stdout.raw" > "$work/stdout.txt"
expected_status=0
[ -f "$case_dir/exit-status" ] && expected_status=$(cat "$case_dir/exit-status")

if [ "${UPDATE:-}" = 1 ]; then
  cp "$work/stdout.txt" "$case_dir/expected.txt"
  echo "$status" > "$case_dir/exit-status"
  [ "$status" = 0 ] && rm -f "$case_dir/exit-status"
  exit 0
fi

failed=0
if ! diff -u "$case_dir/expected.txt" "$work/stdout.txt"; then
  echo "standard output differs"; failed=1
fi
if [ "$status" != "$expected_status" ]; then
  echo "exit status $status, expected $expected_status"; failed=1
fi
if [ -d "$case_dir/expected" ]; then
  for f in "$case_dir/expected"/*; do
    name=$(basename "$f")
    if ! cmp "$f" "$work/out/$name"; then echo "out/$name differs"; failed=1; fi
  done
fi
exit $failed
