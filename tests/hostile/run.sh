#!/usr/bin/env bash
# The hostile-input suite: the program, end to end, on damaged picture files,
# failing writes, hostile scripts and every command with bad arguments.
#   run.sh PROGRAM INPUTS_PROGRAM SOURCE_DIR GROUP
# GROUP is tga, codecs, writes, scripts, commands or memory. Prints one table row per kind
# of input: inputs tried, crashes, leaks, data lost (a register or file
# that a failing command changed or destroyed). Crashes include sanitizer
# reports and hangs; leaks are counted where the program has LeakSanitizer.
# Fails when any count but the first is not 0, or when a failure does not
# say what went wrong.
set -uo pipefail
shopt -s extglob
program=$1 make_inputs=$2 source_dir=$3 group=$4
work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
"$make_inputs" "$work/in" || exit 1
cd "$work" || exit 1
ln -s "$source_dir/data" data
mkdir out
failed=0
export ASAN_OPTIONS=${ASAN_OPTIONS:-}:exitcode=99 LSAN_OPTIONS=${LSAN_OPTIONS:-}:exitcode=98
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-}:halt_on_error=1:exitcode=99

# run NAME: runs the program on NAME.txt without a display, NAME.out and
# NAME.err beside it; sets `crashed` and `leaked` to 0 or 1. Status 1 only
# says that a command reported an error.
run() {
  timeout 120 env -u DISPLAY "$program" "$1.txt" >"$1.out" 2>"$1.err" </dev/null
  local status=$?
  crashed=0 leaked=0
  if [ $status = 98 ] || grep -q 'LeakSanitizer' "$1.err"; then
    leaked=1
  elif [ $status -gt 1 ] || grep -q 'runtime error\|AddressSanitizer' "$1.err" ||
    [ "$(tail -n 1 "$1.out")" != "=== DONE! ===" ]; then
    crashed=1
    echo "crashed (status $status): $1" >&2
    tail -n 5 "$1.err" >&2
  fi
}

# unclear WHAT: a failure that does not say what went wrong.
unclear() {
  echo "unclear failure: $1" >&2
  failed=1
}

row() { # KIND INPUTS CRASHES LEAKS LOST
  printf '| %s | %d | %d | %d | %d |\n' "$@"
  [ "$3$4$5" = 000 ] || failed=1
}

# The readers' failure texts: a failed load names one of them.
load_texts='bad image header|cannot open file|cannot read from file|unexpected end-of-file|image contains no data|found colormap for a grayscale image|unsupported colormap entry size|bad colormap|unknown image type|image has size 0 width or height \(or both\)|not enough memory for the image|image too large: more than 2\^30 pixels|corrupt image data|bad checksum|unsupported kind of image file'

# Each file of in/FORMAT/KIND-* is read into A, which holds a 2 x 1 picture:
# a file that fails must leave that picture as it was.
file_kind() { # FORMAT KIND LABEL
  local kind=$1-$2 files=(in/"$1"/"$2"-*) crashes=0 leaks=0 lost=0
  shift
  : >"$kind.txt"
  for f in "${files[@]}"; do
    name=$(basename "$f").tga
    printf 'solid A 2 1 9 8 7 255\nread A %s\nwrite A out/%s\n' "$f" "$name" >>"$kind.txt"
  done
  run "$kind"
  if [ $crashed = 1 ] || [ $leaked = 1 ]; then # count them one by one
    for f in "${files[@]}"; do
      printf 'solid A 2 1 9 8 7 255\nread A %s\n' "$f" >one.txt
      run one
      crashes=$((crashes + crashed)) leaks=$((leaks + leaked))
    done
  fi
  for f in "${files[@]}"; do
    name=$(basename "$f").tga
    if grep -qxF "Error trying to set image to \`$f'!" "$kind.out"; then
      cmp -s "out/$name" out/reference.tga || { lost=$((lost + 1)); echo "picture lost: $f" >&2; }
      grep -A1 -xF "Error trying to set image to \`$f'!" "$kind.out" | tail -n 1 | grep -xE "$load_texts" >/dev/null ||
        unclear "$f"
    fi
  done
  row "$2" ${#files[@]} $crashes $leaks $lost
}

tga() {
  printf 'solid A 2 1 9 8 7 255\nwrite A out/reference.tga\n' >reference.txt
  run reference
  file_kind tga truncated "TGA files cut short at every length, every type"
  file_kind tga huge "TGA headers announcing huge images or colour maps"
  file_kind tga colormap "Colour-map indices out of range, bad entry sizes, maps on grey images"
  file_kind tga header "Unknown types, bad depths, zero sizes, IDs past the end"
  file_kind tga mutated "Valid files with random bytes changed"
}

codecs() {
  printf 'solid A 2 1 9 8 7 255\nwrite A out/reference.tga\n' >reference.txt
  run reference
  file_kind png truncated "PNG files cut short at every length"
  file_kind png huge "PNG headers announcing huge images"
  file_kind png mutated "PNG files with random bytes changed, checksums made right half the time"
  file_kind jpeg truncated "JPEG files cut short at every length"
  file_kind jpeg huge "JPEG headers announcing huge images"
  file_kind jpeg mutated "JPEG files with random bytes changed"
}

# run_as WHO NAME: runs NAME.txt like `run`, as root or, with WHO
# unprivileged, as user 65534 (from a copy of the program it may run).
run_as() {
  if [ "$1" = unprivileged ] && [ "$(id -u)" = 0 ]; then
    [ -x program-copy ] || { cp "$program" program-copy && chmod 755 program-copy; }
    chmod 644 "$2.txt"
    setpriv --reuid=65534 --regid=65534 --clear-groups env -u DISPLAY ./program-copy "$2.txt" >"$2.out" 2>"$2.err"
    crashed=0 leaked=0
    [ "$(tail -n 1 "$2.out")" = "=== DONE! ===" ] || { crashed=1; echo "crashed: $2" >&2; }
  else
    run "$2"
  fi
}

# A failing write leaves the register and every existing file as they were.
writes() {
  local crashes=0 leaks=0 lost=0 tries=0
  mkdir -p locked folder/inside
  printf 'old' >folder/inside/file
  printf 'read A data/landscape.tga\nwrite A out/a.tga\nsolid B 2 2 1 2 3 4\nwrite B locked/old.tga\nwrite B out/old.tga\nwrite B out/old.png\n' >setup.txt
  run setup
  cp out/old.tga old.copy
  cp out/old.png old-png.copy
  cp locked/old.tga locked.copy
  chmod 555 locked
  chmod 755 "$work" # reachable by the unprivileged user below
  # check_write NAME LINE HOW MESSAGE TARGET: runs LINE with a picture in A
  # (HOW: as usual, small-files or unprivileged), which must print MESSAGE
  # and "FAILED to write TARGET" and leave A as it was.
  check_write() {
    tries=$((tries + 1))
    printf 'read A out/a.tga\n%s\nwrite A out/a-after.tga\n' "$2" >w.txt
    if [ "${3:-}" = small-files ]; then
      # A full disk: no file may grow past 4 KiB, and the write fails (EFBIG).
      (trap '' XFSZ; ulimit -f 4; run w; echo "$crashed $leaked" >w.result)
      read -r c l <w.result
      crashes=$((crashes + c)) leaks=$((leaks + l))
    else
      run_as "${3:-}" w
      crashes=$((crashes + crashed)) leaks=$((leaks + leaked))
    fi
    grep -qF "$4" w.out || unclear "$1: no \"$4\""
    grep -qxF "FAILED to write ${5}" w.out || unclear "$1: no FAILED line"
    cmp -s out/a.tga out/a-after.tga || { lost=$((lost + 1)); echo "register changed: $1" >&2; }
  }
  check_write "/dev/full" "write A /dev/full" "" "cannot write to file" /dev/full
  [ -c /dev/full ] || { lost=$((lost + 1)); echo "/dev/full destroyed" >&2; }
  check_write "full disk, existing file" "write A out/old.tga" small-files "cannot write to file" out/old.tga
  cmp -s out/old.tga old.copy || { lost=$((lost + 1)); echo "old file lost on a full disk" >&2; }
  check_write "full disk, existing PNG file" "write A out/old.png" small-files "cannot write to file" out/old.png
  cmp -s out/old.png old-png.copy || { lost=$((lost + 1)); echo "old PNG file lost on a full disk" >&2; }
  check_write "folder without write permission, new JPEG file" "write A locked/new.jpg" unprivileged \
    "cannot open file" locked/new.jpg
  check_write "folder without write permission, new file" "write A locked/new.tga" unprivileged \
    "cannot open file" locked/new.tga
  check_write "folder without write permission, existing file" "write A locked/old.tga" unprivileged \
    "cannot open file" locked/old.tga
  cmp -s locked/old.tga locked.copy || { lost=$((lost + 1)); echo "old file lost in a locked folder" >&2; }
  check_write "a folder's name" "write A folder" "" "cannot open file" folder
  [ "$(cat folder/inside/file)" = old ] || { lost=$((lost + 1)); echo "folder lost" >&2; }
  check_write "a folder that does not exist" "write A no-such-folder/x.tga" "" "cannot open file" no-such-folder/x.tga
  check_write "no file name" "write A" "" "cannot open file" ""
  check_write "an empty register" "write E out/old.tga" "" "image contains no data" out/old.tga
  cmp -s out/old.tga old.copy || { lost=$((lost + 1)); echo "old file lost to an empty register" >&2; }
  check_write "an empty register, PNG" "write E out/old.png" "" "image contains no data" out/old.png
  cmp -s out/old.png old-png.copy || { lost=$((lost + 1)); echo "old PNG file lost to an empty register" >&2; }
  row "Writes to /dev/full, a full disk, a locked folder, a folder's name, no name, from an empty register" \
    $tries $crashes $leaks $lost
  owned_files
}
# Writes over files whose owner, group, mode and links must stay as they
# were, and into folders where no new file can be made: each writes the new
# picture, or is refused where the user may not write the file in place.
# No temporary file may be left anywhere.
owned_files() {
  if [ "$(id -u)" != 0 ]; then
    echo "skipped: files of other users need root to set up"
    return
  fi
  local crashes=0 leaks=0 lost=0 tries=0
  printf 'solid A 3 2 40 50 60 255\nwrite A out/new.tga\n' >new.txt
  run new
  mkdir mine shut sticky
  install -m 444 -o 65534 old.copy mine/read-only.tga
  install -m 666 old.copy mine/roots.tga
  chown 65534 mine
  install -m 666 old.copy shut/open.tga
  install -m 666 old.copy sticky/roots.tga
  chmod 555 shut
  chmod 1777 sticky
  install -m 640 -o 65534 -g 65534 old.copy users.tga
  install -m 6755 -o 65534 -g 65534 old.copy set-id.tga
  install -m 644 old.copy linked.tga
  ln linked.tga hard-link.tga
  ln -s made-through-link.tga dangling.tga
  # check_kept NAME WHO FILE STAT: FILE, written by WHO, holds the new picture
  # and has STAT: owner, group, mode, links.
  check_kept() {
    tries=$((tries + 1))
    printf 'read A out/new.tga\nwrite A %s\n' "$3" >k.txt
    run_as "$2" k
    crashes=$((crashes + crashed)) leaks=$((leaks + leaked))
    grep -qxF "wrote $3" k.out || unclear "$1: no wrote line"
    if ! cmp -s out/new.tga "$3" || [ "$(stat -L -c '%u %g %a %h' "$3")" != "$4" ]; then
      lost=$((lost + 1))
      echo "not kept: $1: $(stat -L -c '%u %g %a %h' "$3")" >&2
    fi
  }
  check_kept "a file of root's in the user's folder" unprivileged mine/roots.tga "0 0 666 1"
  check_kept "a writable file in a folder without write permission" unprivileged shut/open.tga "0 0 666 1"
  check_kept "a file of root's in a sticky folder" unprivileged sticky/roots.tga "0 0 666 1"
  check_kept "another user's file, by root" "" users.tga "65534 65534 640 1"
  check_kept "another user's set-ID file, by root" "" set-id.tga "65534 65534 6755 1"
  check_kept "a file with a second hard link" "" linked.tga "0 0 644 2"
  cmp -s out/new.tga hard-link.tga || { lost=$((lost + 1)); echo "hard link kept the old picture" >&2; }
  check_kept "a dangling symbolic link" "" dangling.tga "0 0 $(printf '%o' $((0666 & ~0$(umask)))) 1"
  [ -L dangling.tga ] || { lost=$((lost + 1)); echo "symbolic link replaced" >&2; }

  tries=$((tries + 1))
  printf 'read A out/new.tga\nwrite A mine/read-only.tga\n' >k.txt
  run_as unprivileged k
  crashes=$((crashes + crashed)) leaks=$((leaks + leaked))
  grep -qxF "FAILED to write mine/read-only.tga" k.out && grep -qxF "cannot open file" k.out ||
    unclear "a read-only file: no refusal"
  cmp -s old.copy mine/read-only.tga || { lost=$((lost + 1)); echo "a read-only file was replaced" >&2; }

  local left
  left=$(find . -name '.*.??????')
  [ -z "$left" ] || { lost=$((lost + 1)); echo "temporary files left: $left" >&2; }
  row "Writes over read-only, other users', set-ID and linked files, in locked and sticky folders" \
    $tries $crashes $leaks $lost
}

scripts() {
  local crashes=0 leaks=0 lost=0 n=0
  # Garbage as a script; B, which no garbage names, must keep its picture.
  for f in in/garbage-*.txt; do
    n=$((n + 1))
    printf 'solid B 3 3 1 2 3 255\nwrite B out/b-before.tga\nscript %s\nwrite B out/b-after.tga\n' "$f" >g.txt
    run g
    crashes=$((crashes + crashed)) leaks=$((leaks + leaked))
    cmp -s out/b-before.tga out/b-after.tga || { lost=$((lost + 1)); echo "B changed by $f" >&2; }
  done
  row "Scripts of binary garbage" $n $crashes $leaks $lost

  printf 'solid A 9 9 1 2 3 255\nscript in/long-lines.txt\n' >long.txt
  run long
  grep -q "not implemented" long.out || unclear "long lines"
  row "Lines of 95 to 20000 characters" "$(grep -c '' in/long-lines.txt)" $crashed $leaked 0

  # A script that runs itself: under a limit of 64 open files, and with
  # the usual limit (the nesting limit ends it).
  printf 'script self.txt\n' >self.txt
  crashes=0 leaks=0
  for limit in 64 unlimited; do
    (ulimit -n "${limit/unlimited/$(ulimit -Hn)}"; run self; echo "$crashed $leaked" >self.result)
    read -r c l <self.result
    crashes=$((crashes + c)) leaks=$((leaks + l))
    [ "$(grep -cxF "Can't open script \`self.txt'" self.out)" = 1 ] || unclear "self-running script ($limit)"
  done
  row "A script that runs itself until no file can be opened" 2 $crashes $leaks 0
}

# Every command with no arguments, words for numbers, huge and negative
# numbers, inf and nan, and empty registers. A holds a picture, B another,
# E an empty 0 x 0 one. After a line that reports a failure, all three hold
# what they held.
commands() {
  local crashes=0 leaks=0 lost=0 tries=0
  printf 'read A data/landscape.tga\ncrop A 10 10 16 12\nwrite A out/a0.tga\nread B data/badge.tga\ncrop B 5 5 16 12\nwrite B out/b0.tga\nsolid E 0 0 0 0 0 0\nwrite E out/e0.tga\nHelp\n' >setup.txt
  run setup
  local names
  names=$(grep -- ', stop$' setup.out | sed 's/, stop$//; s/, /\n/g')
  local args=(
    "" "A" "E" "A A" "A E" "E A" "E E" "AB" "%" "A x y z w v u" "A over B x y" "E over A"
    "A -1 -1 -1 -1 -1 -1" "A -2147483648 -2147483648 -2147483648 -2147483648 1 1"
    "A 2147483647 2147483647 2147483647 2147483647 1 1"
    "A 99999999999999999999 99999999999999999999 99999999999999999999 99999999999999999999 1 1"
    "A B 1e308 1e308" "A B -1e308" "A 1e-320 1e-320" "A inf inf inf inf inf inf"
    "A -inf -inf -inf -inf 1 1" "A nan nan nan nan nan nan" "A B nan" "A over B nan inf"
  )
  for name in $names; do
    local script="$name.txt" i=0
    : >"$script"
    for a in "${args[@]}"; do
      i=$((i + 1))
      printf 'read A out/a0.tga\nread B out/b0.tga\nsolid E 0 0 0 0 0 0\nSample ==%d==\n%s %s\nSample ==%d==\nwrite A out/%s-%d-a.tga\nwrite B out/%s-%d-b.tga\nwrite E out/%s-%d-e.tga\n' \
        $i "$name" "$a" $i "$name" $i "$name" $i "$name" $i >>"$script"
    done
    run "$name"
    if [ $crashed = 1 ] || [ $leaked = 1 ]; then
      for a in "${args[@]}"; do
        printf 'read A out/a0.tga\nread B out/b0.tga\n%s %s\n' "$name" "$a" >one.txt
        run one
        crashes=$((crashes + crashed)) leaks=$((leaks + leaked))
      done
    fi
    for i in $(seq ${#args[@]}); do
      tries=$((tries + 1))
      # What the line printed, between its markers, without timing lines.
      sed -n "/^Sample Command on params \`==$i=='$/,/^Sample Command on params \`==$i=='$/p" "$name.out" |
        grep -v '^Sample Command on params\|^-- .* sec$' >said.txt
      if grep -qE 'Usage|not a valid|Register name|register name|not implemented|needs the windowed|must be|too large|memory|Can.t|Couldn.t|FAILED|Error' said.txt; then
        if ! cmp -s out/a0.tga "out/$name-$i-a.tga" || ! cmp -s out/b0.tga "out/$name-$i-b.tga" ||
          ! cmp -s out/e0.tga "out/$name-$i-e.tga"; then
          lost=$((lost + 1))
          echo "a failing line changed a register: $name ${args[$((i - 1))]}" >&2
        fi
      fi
    done
  done
  row "Every command with no arguments, words, huge, negative, inf and nan numbers, empty registers" \
    $tries $crashes $leaks $lost
}

# Commands whose pictures, or the canvases they paint on, need more memory
# than the process may have (3 GB of address space): each fails with a red
# line and leaves its register as it was. Sanitizers reserve far more address
# space than that, so their builds skip this group.
memory() {
  # (Whole outputs are matched: with pipefail, a grep -q that stops reading
  # early would fail the pipe.)
  if [[ "$(ldd "$program")" == *libasan* ]]; then
    echo "skipped: the sanitizers need more address space than the limit"
    return
  fi
  printf '%s\n' "solid C 1 1 10 20 30 255" "solid D 32000000 1 10 20 30 255" "write C out/c0.tga" \
    "solid E 16000 16000 1 2 3 255" \
    "Sample ==1==" "solid A 60000 60000 1 2 3 255" "Sample ==2==" "scale C 300000000 1" \
    "Sample ==3==" "painter E" "Sample ==4==" "write A out/a.tga" "write C out/c.tga" "crop D 0 0 1 1" \
    "write D out/d.tga" >memory.txt
  (ulimit -v 3000000; run memory; echo "$crashed $leaked" >memory.result)
  read -r c l <memory.result
  local lost=0 i
  for i in 1 2 3; do
    [[ "$(sed -n "/==$i==/,/==$((i + 1))==/p" memory.out)" == *@(Not enough memory|too large)* ]] ||
      unclear "memory $i"
  done
  grep -qxF "FAILED to write out/a.tga" memory.out || lost=$((lost + 1))
  cmp -s out/c0.tga out/c.tga || lost=$((lost + 1))
  [ "$(wc -c <out/d.tga)" = 43 ] || lost=$((lost + 1)) # still one row: its first pixel
  row "Pictures and canvases larger than the memory there is" 3 "$c" "$l" $lost
}

"$group"
exit $failed
