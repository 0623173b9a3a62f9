#!/usr/bin/env bash
# Runs clang-tidy with the project's .clang-tidy over every source file below src/, using the
# compile commands of one build, one file per core: run-clang-tidy.sh <build dir>
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir="$top/$1"
tidy=$(command -v clang-tidy-14 || command -v clang-tidy)
runner=$(command -v run-clang-tidy-14 || command -v run-clang-tidy)
# -quiet keeps the output to the findings; the profile makes every finding an error. The compile
# commands are GCC's, whose warning options clang does not all know.
"$runner" -clang-tidy-binary "$tidy" -p "$dir" -j "$(nproc)" -quiet -extra-arg=-Wno-unknown-warning-option "^$top/src/" >"$dir/clang-tidy.log" 2>&1 ||
  {
    grep -E 'error:|warning:' -A3 "$dir/clang-tidy.log" | head -n 200
    echo "clang-tidy found problems; the whole output is in $dir/clang-tidy.log" >&2
    exit 1
  }
echo "clang-tidy: no findings"
