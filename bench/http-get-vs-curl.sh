#!/usr/bin/env bash
# GET of a 256 MiB file from nginx on 127.0.0.1: curl -o against bench_http_get, each run several
# times in alternation; prints the best time of each and the speed ratio (ours / curl's).
#   bench/http-get-vs-curl.sh [build dir, default build/bench] [runs, default 5]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/${1:-build/bench}"
runs=${2:-5}
if [[ ! -x "$build/bench/bench_http_get" ]]; then
  "$top/scripts/build.sh" "${1:-build/bench}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_BENCH=ON -DVELMORA_TESTS=OFF \
    -DVELMORA_GUI=OFF >/dev/null
  cmake --build "$build" --target bench_http_get >/dev/null
fi
nginx=$(command -v nginx || echo /usr/sbin/nginx)
work=$(mktemp -d /tmp/velmora-bench-XXXXXX)
nginx_pid=
cleanup() {
  if [[ -n "$nginx_pid" ]]; then
    kill "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkdir -p "$work/www/files" "$work/temp"
head -c $((256 * 1024 * 1024)) /dev/urandom >"$work/www/files/big.bin"
sed -e "s|{{DIR}}|$work|g" -e "s|{{PORT}}|$port|g" "$top/tests/peers/nginx.conf.in" >"$work/nginx.conf"
cp "$top/tests/peers/htpasswd" "$work/htpasswd"
"$nginx" -p "$work" -c "$work/nginx.conf" >"$work/nginx.log" 2>&1 &
nginx_pid=$!
for _ in $(seq 100); do
  curl -s -o /dev/null "http://127.0.0.1:$port/files/" -m 1 && break || sleep 0.05
done

url="http://127.0.0.1:$port/files/big.bin"
elapsed() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  awk -v s="$start" -v e="$end" 'BEGIN{printf "%.4f\n", e - s}'
}
: >"$work/curl.times"
: >"$work/ours.times"
# Alternating runs, so page-cache write-back and other load hit both alike.
for run in $(seq "$runs"); do
  elapsed curl -s -o "$work/curl.out" "$url" >>"$work/curl.times"
  rm -f "$work/curl.out"
  elapsed "$build/bench/bench_http_get" "$url" "$work/ours.out" >>"$work/ours.times"
  cmp -s "$work/ours.out" "$work/www/files/big.bin" || { echo "run $run: our copy differs" >&2; exit 1; }
  rm -f "$work/ours.out"
done
summary() { sort -n "$1" | awk '{t[NR]=$1} END{printf "%s %s\n", t[1], t[int((NR+1)/2)]}'; }
read -r curl_best curl_median < <(summary "$work/curl.times")
read -r ours_best ours_median < <(summary "$work/ours.times")
awk -v cb="$curl_best" -v cm="$curl_median" -v ob="$ours_best" -v om="$ours_median" -v n="$runs" 'BEGIN{
  printf "%d runs each, 256 MiB from nginx on 127.0.0.1 into a file\n", n;
  printf "curl -o:        best %.3f s (%.0f MiB/s), median %.3f s\n", cb, 256 / cb, cm;
  printf "bench_http_get: best %.3f s (%.0f MiB/s), median %.3f s\n", ob, 256 / ob, om;
  printf "speed ratio ours/curl: best %.2f, median %.2f\n", cb / ob, cm / om }'
