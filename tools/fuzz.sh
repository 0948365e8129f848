#!/usr/bin/env bash
# Runs one fuzz target of the fuzz build for a bounded time on its corpus:
#   tools/fuzz.sh TARGET SECONDS [LIBFUZZER-OPTIONS...]
# TARGET is tga_load, png_load, jpeg_load or interpreter. The corpus grows in BUILD/corpus/TARGET,
# starting from tests/fuzz/seeds/TARGET. An input that fails is kept as
# BUILD/artifacts/TARGET-*, and the script fails. BUILD is $FUZZ_BUILD,
# build-fuzz by default. No display is needed or used.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$root" && mkdir -p "${FUZZ_BUILD:-build-fuzz}" && cd "${FUZZ_BUILD:-build-fuzz}" && pwd)
target=$1 seconds=$2
shift 2
corpus=$build/corpus/$target artifacts=$build/artifacts log=$build/fuzz-$target.log
mkdir -p "$corpus" "$artifacts"
cp "$root/tests/fuzz/seeds/$target/"* "$corpus/"
# Absolute paths throughout: the interpreter target works in a folder of its own.
if ! env -u DISPLAY "$build/tests/fuzz/fuzz_$target" "$corpus" -max_total_time="$seconds" \
    -max_len=4096 -timeout=60 -rss_limit_mb=4096 -close_fd_mask=1 -print_final_stats=1 \
    -artifact_prefix="$artifacts/$target-" "$@" >"$log" 2>&1; then
  tail -n 60 "$log"
  echo "fuzz_$target failed; the input is in $artifacts" >&2
  exit 1
fi
grep -E '^#[0-9]+[[:space:]]+DONE|^stat::(number_of_executed_units|peak_rss_mb)' "$log" | sed "s/^/fuzz_$target: /"
