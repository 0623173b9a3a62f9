#!/usr/bin/env bash
# Installs what is missing, builds incrementally and starts Velmora: ./run.sh [URL]
set -euo pipefail
top=$(cd "$(dirname "$0")" && pwd)
"$top/scripts/install-deps.sh" packages-build.txt packages-test.txt
"$top/scripts/build.sh" build/release -DCMAKE_BUILD_TYPE=Release
bin="$top/build/release/src/app"
if [[ -x "$bin/velmora" && -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]]; then
  exec "$bin/velmora" "$@"
elif [[ -x "$bin/velmora-get" ]]; then
  exec "$bin/velmora-get" "$@"
else
  echo "Velmora is built, but neither velmora nor velmora-get is in $bin." >&2
  exit 1
fi
