# Shared by the benchmark scripts beside it: source it after `set -euo pipefail`.
#   top             the source tree
#   bench_build_dir ARG            sets build: ARG absolute or below the source tree
#   bench_build TARGET FILE WHEN   builds TARGET in $build; WHEN "missing" only when FILE is not
#                                  there yet, "always" each time (an incremental build)
#   bench_make_work                sets work: a fresh folder, removed at exit with every peer stopped
#   bench_free_port                prints a TCP port on 127.0.0.1 that was free a moment ago
#   bench_start_peer NAME LOG CMD  runs CMD in the background, its output in LOG; stopped by its pid
#   bench_wait_for_peer NAME CMD   waits (at most 5 s) until CMD succeeds; exits with the log if not
#   bench_port_open PORT           whether something accepts connections on 127.0.0.1:PORT
#   elapsed CMD                    runs CMD (output dropped) and prints the seconds it took
#   summary FILE                   prints the best and the median of the numbers in FILE, one a line
# shellcheck shell=bash

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bench_python=/usr/bin/python3 # Debian's, whatever python3 comes first on PATH

bench_build_dir() {
  if [[ $1 == /* ]]; then
    build=$1
  else
    build="$top/$1"
  fi
}

bench_build() {
  local target=$1 file=$2 when=$3
  [[ $when == missing && -x $file ]] && return 0
  if [[ ! -f "$build/build.ninja" ]]; then
    cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_BENCH=ON -DVELMORA_TESTS=OFF \
      -DVELMORA_GUI=OFF >/dev/null
  fi
  cmake --build "$build" --target "$target" >/dev/null
}

# Peers by name and pid, so the cleanup stops exactly the processes this script started.
declare -A bench_peer_pids=()
declare -A bench_peer_logs=()
work=

bench_cleanup() {
  local name pid
  for name in "${!bench_peer_pids[@]}"; do
    pid=${bench_peer_pids[$name]}
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  [[ -n "$work" ]] && rm -rf "$work"
  return 0
}

bench_make_work() {
  work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-bench-XXXXXX")
  trap bench_cleanup EXIT
}

bench_free_port() {
  "$bench_python" -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

bench_start_peer() {
  local name=$1 log=$2
  shift 2
  "$@" >"$log" 2>&1 &
  bench_peer_pids[$name]=$!
  bench_peer_logs[$name]=$log
}

bench_wait_for_peer() {
  local name=$1 pid=${bench_peer_pids[$1]}
  shift
  for _ in $(seq 100); do
    "$@" 2>/dev/null && return 0
    if ! kill -0 "$pid" 2>/dev/null; then
      break
    fi
    sleep 0.05
  done
  echo "$name did not start; its log:" >&2
  tail -n 20 "${bench_peer_logs[$name]}" >&2 || true
  exit 1
}

bench_port_open() {
  (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

elapsed() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  awk -v s="$start" -v e="$end" 'BEGIN{printf "%.4f\n", e - s}'
}

summary() { sort -n "$1" | awk '{t[NR]=$1} END{printf "%s %s\n", t[1], t[int((NR+1)/2)]}'; }
