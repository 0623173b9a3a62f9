#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a short, bounded time: run-fuzzers.sh <build dir>
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir="$top/$1"
seconds=${VELMORA_FUZZ_SECONDS:-20}
shopt -s nullglob
for target in "$dir"/fuzz/fuzz_*; do
  [[ -x "$target" ]] || continue
  name=$(basename "$target")
  corpus="$dir/fuzz/corpus/$name"
  mkdir -p "$corpus"
  seeds=()
  [[ -d "$top/fuzz/seeds/${name#fuzz_}" ]] && seeds=("$top/fuzz/seeds/${name#fuzz_}")
  echo "-- $name (${seconds}s)"
  # A crashing input lands in the build folder, not in whatever folder ./test.sh was started from.
  "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=0 -artifact_prefix="$dir/fuzz/" \
    "$corpus" "${seeds[@]}" 2>&1 | tail -n 3
done
