#!/usr/bin/env bash
# The program's command line, end to end: --help and --version, the exit
# status of script runs, and batch runs with --each (good and broken
# pictures, name collisions, skipping and --force, SIGTERM mid-batch,
# shards, names from standard input, GNU parallel across "machines").
#   command_line.sh PROGRAM SOURCE_DIR
set -uo pipefail
program=$1 source_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
# expect STATUS COMMAND...: runs the command, its output in out.txt and err.txt.
expect() {
  local want=$1; shift
  "$@" >out.txt 2>err.txt
  local got=$?
  [ "$got" = "$want" ] || fail "$* gave status $got, expected $want: $(head -c 300 out.txt err.txt)"
}

expect 0 "$program" --help
grep -q '^usage: compositor' out.txt && grep -q -- '--each SCRIPT --output DIR' out.txt && [ ! -s err.txt ] ||
  fail "--help prints no usage"
expect 0 "$program" --version
grep -qxE 'compositor 1\.[0-9]+\.[0-9]+' out.txt || fail "--version: $(cat out.txt)"
expect 2 "$program" --frobnicate
[ ! -s out.txt ] && grep -q '^usage: compositor' err.txt || fail "an unknown option prints no usage on standard error"
expect 2 "$program" one two
expect 2 "$program" no-such-script.txt

mkdir pictures
cp "$source_dir/data/landscape.tga" "$source_dir/data/badge.tga" pictures/
cp "$source_dir/data/balloon-bluescreen.tga" pictures/balloon.tga
printf 'not a picture' >pictures/broken.tga
printf 'sharpen A\ngrays A\n' >treat.txt
printf 'Sample fine\n' >fine.txt
expect 0 "$program" fine.txt
printf 'Sample fine\nfrobnicate A\nSample still runs\n' >error.txt
expect 1 "$program" error.txt
grep -qx 'Sample Command on params `still runs'"'" out.txt || fail "a script goes on after an error"
printf 'stop\n' >stop.txt
expect 1 "$program" stop.txt

# A broken picture fails alone; every other output holds the bytes a
# one-picture script writes.
expect 1 "$program" --each treat.txt --output out --jobs 2 pictures/*.tga
grep -q '^FAILED pictures/broken.tga: Error trying to set image to `pictures/broken.tga'"'"'!$' out.txt ||
  fail "no FAILED line for the broken picture: $(cat out.txt)"
grep -qx '  bad image header' out.txt || fail "the broken picture's output is not shown indented"
[ "$(grep -c '^ok ' out.txt)" = 3 ] || fail "not three pictures done: $(cat out.txt)"
grep -qx '4 pictures: 3 done, 1 failed, 0 skipped, [0-9.]* s' out.txt || fail "summary: $(tail -n 1 out.txt)"
[ "$(grep -E '^(ok|FAILED) ' out.txt | sed -E 's/^(ok|FAILED) ([^ :]*).*/\2/' | tr '\n' ' ')" = \
  "pictures/badge.tga pictures/balloon.tga pictures/broken.tga pictures/landscape.tga " ] ||
  fail "results not in the order of the sorted list"
mkdir single
for p in badge balloon landscape; do
  printf 'read A pictures/%s.tga\nscript treat.txt\nwrite A single/%s.tga\n' $p $p >one.txt
  "$program" one.txt >/dev/null
  cmp -s "single/$p.tga" "out/$p.tga" || fail "out/$p.tga differs from the one-picture script's"
done

# Skipped while newer than the picture and the script; --force runs again.
expect 1 "$program" --each treat.txt --output out pictures/*.tga
grep -qx '4 pictures: 0 done, 1 failed, 3 skipped, [0-9.]* s' out.txt || fail "no skip: $(tail -n 1 out.txt)"
touch treat.txt
expect 0 "$program" --each treat.txt --output out pictures/badge.tga
grep -q '^ok pictures/badge.tga -> out/badge.tga' out.txt || fail "a newer script does not run again"
expect 0 "$program" --each treat.txt --output out --force pictures/badge.tga
grep -q '^ok ' out.txt || fail "--force does not run again"
expect 0 "$program" --each treat.txt --output out --format png - <<<"pictures/badge.tga"
[ -f out/badge.png ] || fail "--format png with the name from standard input wrote no out/badge.png"

# Refused before starting: two pictures giving one name, writing over a picture.
mkdir other && cp pictures/badge.tga other/
expect 2 "$program" --each treat.txt --output out2 pictures/badge.tga other/badge.tga
grep -q 'other/badge.tga and pictures/badge.tga would both be written as out2/badge.tga' err.txt ||
  fail "a collision is not named: $(cat err.txt)"
[ ! -e out2/badge.tga ] || fail "a refused batch wrote a picture"
expect 2 "$program" --each treat.txt --output pictures pictures/badge.tga
cmp -s pictures/badge.tga "$source_dir/data/badge.tga" || fail "an input was written over"
expect 2 "$program" --each treat.txt --output out --jobs 0 pictures/badge.tga
expect 2 "$program" --each treat.txt --output out --shard 4/3 pictures/badge.tga
expect 2 "$program" --each missing.txt --output out pictures/badge.tga

# Shards 1/3, 2/3 and 3/3 cover every picture once.
mkdir many
for i in $(seq 1 10); do cp pictures/badge.tga "many/p$i.tga"; done
for k in 1 2 3; do "$program" --each fine.txt --output "shard$k" --shard $k/3 many/*.tga >/dev/null; done
[ "$(ls shard1 shard2 shard3 | grep -c '\.tga$')" = 10 ] && [ "$(ls shard1 shard2 shard3 | grep '\.tga$' | sort -u | wc -l)" = 10 ] ||
  fail "shards do not cover every picture once: $(ls shard1 shard2 shard3)"

# SIGTERM: no new picture starts, the running one finishes, no partial file.
# The second picture is a pipe, so the batch is surely in its middle when
# the signal comes; the picture is then sent down the pipe.
mkdir halting
for i in 1 3 4 5; do cp pictures/badge.tga "halting/p$i.tga"; done
mkfifo halting/p2.tga
"$program" --each treat.txt --output stopped --jobs 1 halting/*.tga >stopped.txt 2>&1 &
batch=$!
for _ in $(seq 1 600); do grep -q '^ok halting/p1.tga' stopped.txt && break; sleep 0.05; done
kill -TERM $batch
cat pictures/badge.tga >halting/p2.tga
wait $batch
status=$?
[ $status = 1 ] || fail "a stopped batch exits with $status"
grep -qE '^5 pictures: 2 done, 0 failed, 0 skipped' stopped.txt || fail "stopped batch: $(cat stopped.txt)"
[ "$(ls -A stopped)" = "$(printf 'p1.tga\np2.tga')" ] || fail "a stopped batch left $(ls -A stopped)"
for f in stopped/*.tga; do cmp -s "$f" out/badge.tga || fail "$f is not whole"; done

# GNU parallel, this machine standing for the others through its local login.
if command -v parallel >/dev/null; then
  parallel --will-cite --sshlogin : --jobs 1 "cd $work && $program --each fine.txt --output spread --shard {}/3 many/*.tga" \
    ::: 1 2 3 >/dev/null || fail "the parallel recipe failed"
  [ "$(ls spread | wc -l)" = 10 ] || fail "the parallel recipe wrote $(ls spread | wc -l) pictures"
else
  fail "GNU parallel is not installed"
fi

[ $failures = 0 ] && echo "command line: all passed"
exit $((failures > 0))
