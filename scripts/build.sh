#!/usr/bin/env bash
# Configures (once) and builds one build tree incrementally: build.sh <dir> [cmake options...]
# The project's own builds treat warnings as errors; a later -DVELMORA_WERROR=OFF overrides it.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir=$1
shift
if [[ ! -f "$top/$dir/build.ninja" ]]; then
  cmake -S "$top" -B "$top/$dir" -G Ninja -DVELMORA_WERROR=ON "$@"
fi
cmake --build "$top/$dir" -j "$(nproc)"
