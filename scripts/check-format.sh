#!/usr/bin/env bash
# Fails when a C++ file differs from what clang-format makes of it.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
mapfile -t files < <(git ls-files --cached --others --exclude-standard -- '*.h' '*.cpp' | while read -r f; do [[ -f "$f" ]] && echo "$f"; done)
[[ ${#files[@]} -eq 0 ]] && exit 0
clang-format --dry-run --Werror "${files[@]}"
