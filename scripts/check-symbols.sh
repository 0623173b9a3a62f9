#!/usr/bin/env bash
# Fails when two of the project's static libraries define the same global symbol: the linker
# would silently keep one definition for both callers. check-symbols.sh <build dir>
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir=$1
[[ "$dir" == /* ]] || dir="$top/$dir"
mapfile -t archives < <(find "$dir" -name 'libvelmora_*.a' | sort)
if ((${#archives[@]} == 0)); then
  echo "check-symbols: no libvelmora_*.a below $dir" >&2
  exit 1
fi
# Defined, external, not weak: inline functions, templates and vtables are weak (W/V/u) and
# may legitimately appear in several libraries.
for archive in "${archives[@]}"; do
  nm --defined-only --extern-only "$archive" 2>/dev/null |
    awk -v lib="$(basename "$archive")" 'NF == 3 && $2 ~ /^[TDBRC]$/ { print $3, lib }'
done | sort -u | awk '
  $1 == last && $2 != lastLib { print "check-symbols: " $1 " is defined in " lastLib " and " $2; bad = 1 }
  { last = $1; lastLib = $2 }
  END { exit bad }' | c++filt
