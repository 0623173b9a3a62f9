#!/usr/bin/env bash
# GET of a 256 MiB file from nginx on 127.0.0.1: curl -o against bench_http_get, each run several
# times in alternation; prints the best time of each and the speed ratio (ours / curl's).
#   bench/http-get-vs-curl.sh [build dir, default build/bench] [runs, default 5]
set -euo pipefail
# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"
bench_build_dir "${1:-build/bench}"
runs=${2:-5}
bench_build bench_http_get "$build/bench/bench_http_get" missing
nginx=$(command -v nginx || echo /usr/sbin/nginx)
bench_make_work

port=$(bench_free_port)
mkdir -p "$work/www/files" "$work/temp"
head -c $((256 * 1024 * 1024)) /dev/urandom >"$work/www/files/big.bin"
sed -e "s|{{DIR}}|$work|g" -e "s|{{ADDRESS}}|127.0.0.1|g" -e "s|{{PORT}}|$port|g" "$top/tests/peers/nginx.conf.in" \
  >"$work/nginx.conf"
cp "$top/tests/peers/htpasswd" "$work/htpasswd"
bench_start_peer nginx "$work/nginx.log" "$nginx" -p "$work" -c "$work/nginx.conf"
bench_wait_for_peer nginx curl -s -o /dev/null "http://127.0.0.1:$port/files/" -m 1

url="http://127.0.0.1:$port/files/big.bin"
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
read -r curl_best curl_median < <(summary "$work/curl.times")
read -r ours_best ours_median < <(summary "$work/ours.times")
awk -v cb="$curl_best" -v cm="$curl_median" -v ob="$ours_best" -v om="$ours_median" -v n="$runs" 'BEGIN{
  printf "%d runs each, 256 MiB from nginx on 127.0.0.1 into a file\n", n;
  printf "curl -o:        best %.3f s (%.0f MiB/s), median %.3f s\n", cb, 256 / cb, cm;
  printf "bench_http_get: best %.3f s (%.0f MiB/s), median %.3f s\n", ob, 256 / ob, om;
  printf "speed ratio ours/curl: best %.2f, median %.2f\n", cb / ob, cm / om }'
