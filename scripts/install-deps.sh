#!/usr/bin/env bash
# Installs the Debian packages named in the given lists that are not installed yet.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
wanted=()
for list in "$@"; do
  while read -r name _; do
    [[ -z "$name" || "$name" == \#* ]] && continue
    wanted+=("$name")
  done <"$here/$list"
done
missing=()
for name in "${wanted[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$name" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$name")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
if ! compgen -G "/var/lib/apt/lists/*_Packages*" >/dev/null; then
  "${sudo[@]}" apt-get update
fi
echo "Installing: ${missing[*]}"
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
# The peers are started by the tests themselves; the distribution's own services stay out of the way.
for service in nginx squid vsftpd; do
  if [[ " ${missing[*]} " == *" $service"* ]] && command -v systemctl >/dev/null; then
    "${sudo[@]}" systemctl disable --now "$service" >/dev/null 2>&1 || true
  fi
done
