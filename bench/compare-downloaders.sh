#!/usr/bin/env bash
# velmora-get against aria2c, axel and curl on random files served by nginx on loopback, in one run:
# a plain server and a throttled one (limit_rate 5m per connection) on 127.0.0.1, the same two on
# 127.0.0.2 and 127.0.0.3 as mirrors. Every tool runs BENCH_RUNS times in alternation with the others
# and every file it writes is checked by sha256. Also measured: the physical limits (loopback by curl
# to /dev/null, the disk's sequential write by dd with fdatasync) and what velmora-get's join is
# compared with (cp of the file; cat of its 8 parts, also followed by fdatasync, as the join syncs).
#
#   bench/compare-downloaders.sh [build dir, absolute or below the source tree; default build/bench]
#   BENCH_SIZES   file sizes in MiB (default "16 256 1024"; e.g. "16 256" for a quick run)
#   BENCH_RUNS    runs of each tool, the median is reported (default 3)
#   BENCH_TMP     where the work folder is made (default $TMPDIR or /tmp)
#   BENCH_REBUILD "1" rebuilds velmora-get first (else it is built only when missing)
#   BENCH_SLOW1   "1" also runs the one-connection tools on the throttled server above 16 MiB
#   BENCH_TOOLS   only these tools (of curl curlsync vget1 aria2c axel vget8 vget8m), for a quick look
#   BENCH_SERVERS only these servers (of plain slow tls; default all); tls is https on 127.0.0.1 with a
#                 certificate made for the run, which every tool is told to trust
#                 (5 MiB/s each: 256 MiB takes 51 s a run)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build_arg=${1:-build/bench}
[[ $build_arg == /* ]] && build=$build_arg || build="$top/$build_arg"
read -r -a sizes <<<"${BENCH_SIZES:-16 256 1024}"
runs=${BENCH_RUNS:-3}
slow1=${BENCH_SLOW1:-0}
python=/usr/bin/python3 # Debian's, whatever python3 comes first on PATH

# --- peers from Debian ------------------------------------------------------------------------------
need=()
have() { command -v "$1" >/dev/null 2>&1 || [[ -x "$1" ]]; }
have nginx || have /usr/sbin/nginx || need+=(nginx-light)
have aria2c || need+=(aria2)
have axel || need+=(axel)
have curl || need+=(curl)
have hyperfine || need+=(hyperfine)
have /usr/bin/time || need+=(time)
if ((${#need[@]})); then
  sudo=()
  ((EUID == 0)) || sudo=(sudo)
  # Only a machine that never fetched package lists needs them fetched.
  if ! compgen -G "/var/lib/apt/lists/*_Packages*" >/dev/null; then
    "${sudo[@]}" apt-get update
  fi
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends "${need[@]}"
fi
nginx=$(command -v nginx || echo /usr/sbin/nginx)

# --- velmora-get --------------------------------------------------------------------------------------
vget="$build/src/app/velmora-get"
if [[ ! -x "$vget" || ${BENCH_REBUILD:-0} == 1 ]]; then
  if [[ ! -f "$build/build.ninja" ]]; then
    cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_BENCH=ON \
      -DVELMORA_TESTS=OFF -DVELMORA_GUI=OFF >/dev/null
  fi
  cmake --build "$build" --target velmora-get >"$build/velmora-get-build.log" 2>&1 ||
    { tail -n 30 "$build/velmora-get-build.log" >&2; exit 1; }
fi

# --- work folder, room for it -----------------------------------------------------------------------
total=0 largest=0
for s in "${sizes[@]}"; do
  total=$((total + s))
  ((s > largest)) && largest=$s
done
tmp_base=${BENCH_TMP:-${TMPDIR:-/tmp}}
# The served files, and at the worst a join's parts, its output and a copy of the largest beside them.
room_needed=$((total + 4 * largest + 256))
room=$(($(df -Pk "$tmp_base" | awk 'NR==2{print $4}') / 1024))
if ((room < room_needed)); then
  echo "compare-downloaders: $tmp_base has $room MiB free, $room_needed MiB needed; set BENCH_SIZES lower" >&2
  exit 1
fi
work=$(mktemp -d "$tmp_base/velmora-compare-XXXXXX")
chmod 0755 "$work" # nginx's workers may run as another user
nginx_pid=
watch_pid=
cleanup() {
  [[ -n "$watch_pid" ]] && kill "$watch_pid" 2>/dev/null || true
  if [[ -n "$nginx_pid" ]]; then
    kill "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# --- files and servers ------------------------------------------------------------------------------
mkdir -p "$work/www" "$work/temp" "$work/out" "$work/parts"
declare -A digest
for s in "${sizes[@]}"; do
  head -c $((s * 1024 * 1024)) /dev/urandom >"$work/www/f$s.bin"
  digest[$s]=$(sha256sum "$work/www/f$s.bin" | cut -d' ' -f1)
done
read -r plain_port slow_port tls_port < <("$python" -c '
import socket
s = [socket.socket() for _ in range(3)]
for x in s: x.bind(("127.0.0.1", 0))
print(*(x.getsockname()[1] for x in s))')
# The https server's certificate, its own CA: every tool is given it as the one to trust.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout "$work/tls.key" \
  -out "$work/tls.pem" -days 2 -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 2>/dev/null
listen() { for a in 127.0.0.1 127.0.0.2 127.0.0.3; do echo "    listen $a:$1;"; done; }
cat >"$work/nginx.conf" <<EOF
daemon off;
worker_processes 2;
pid $work/nginx.pid;
error_log $work/error.log notice;
events { worker_connections 512; }
http {
  access_log off;
  # Whether each https request came on a resumed session ("r") or a full handshake (".").
  log_format sessions '\$ssl_session_reused';
  client_body_temp_path $work/temp/body;
  proxy_temp_path $work/temp/proxy;
  fastcgi_temp_path $work/temp/fastcgi;
  uwsgi_temp_path $work/temp/uwsgi;
  scgi_temp_path $work/temp/scgi;
  default_type application/octet-stream;
  sendfile on;
  tcp_nopush on;
  # The plain server; on 127.0.0.2 and 127.0.0.3 it stands for two mirrors.
  server {
$(listen "$plain_port")
    root $work/www;
  }
  # The throttled server: every connection gets 5 MiB/s.
  server {
$(listen "$slow_port")
    root $work/www;
    limit_rate 5m;
  }
  # The plain server's files over https.
  server {
    listen 127.0.0.1:$tls_port ssl;
    ssl_certificate $work/tls.pem;
    ssl_certificate_key $work/tls.key;
    access_log $work/sessions.log sessions;
    root $work/www;
  }
}
EOF
"$nginx" -p "$work" -c "$work/nginx.conf" -e "$work/error.log" &
nginx_pid=$!
up=
for _ in $(seq 100); do
  if curl -sf -o /dev/null -m 1 "http://127.0.0.3:$slow_port/f${sizes[0]}.bin" -r 0-0; then
    up=1
    break
  fi
  sleep 0.05
done
[[ -n "$up" ]] || { echo "compare-downloaders: nginx did not start:" >&2; cat "$work/error.log" >&2; exit 1; }

# --- one measured run ---------------------------------------------------------------------------------
# Watches the partial-downloads folder and the output folder, so that the join's own time is known
# without touching the program: it starts when the join opens the first part file to append the
# others to it (the last open of that file; its part download opened it earlier) and ends with the
# rename into the output folder. A join that copies into a temporary file beside the final file
# starts with that file instead.
cat >"$work/watch.py" <<'EOF'
import ctypes, os, struct, sys, time
libc = ctypes.CDLL(None, use_errno=True)
IN_OPEN, IN_CREATE, IN_MOVED_TO = 0x20, 0x100, 0x80
fd = libc.inotify_init1(0)
watches = {}
for folder, mask in ((sys.argv[1], IN_CREATE | IN_MOVED_TO), (sys.argv[2], IN_OPEN)):
    wd = libc.inotify_add_watch(fd, folder.encode(), mask)
    if wd < 0:
        sys.exit("inotify: " + os.strerror(ctypes.get_errno()))
    watches[wd] = folder
out = open(sys.argv[3], "w", buffering=1)
open(sys.argv[4], "w").close()  # ready
while True:
    data = os.read(fd, 65536)
    now = time.clock_gettime(time.CLOCK_REALTIME)
    offset = 0
    while offset < len(data):
        wd, mask, _, length = struct.unpack_from("iIII", data, offset)
        name = data[offset + 16:offset + 16 + length].rstrip(b"\0").decode(errors="replace")
        offset += 16 + length
        if watches.get(wd) == sys.argv[2]:
            if mask & IN_OPEN and name.endswith(".0"):
                print(f"first-part-open {now:.6f}", file=out)
        elif mask & IN_CREATE and ".velmora-join-" in name:
            print(f"join-start {now:.6f}", file=out)
        elif mask & IN_MOVED_TO:
            print(f"join-end {now:.6f}", file=out)
EOF

start_watch() {
  rm -f "$work/watch.ready" "$work/watch.log"
  mkdir -p "$work/home/Partial Downloads"
  "$python" "$work/watch.py" "$work/out" "$work/home/Partial Downloads" "$work/watch.log" "$work/watch.ready" &
  watch_pid=$!
  for _ in $(seq 200); do
    [[ -e "$work/watch.ready" ]] && return
    sleep 0.01
  done
  echo "compare-downloaders: the folder watcher did not start" >&2
  exit 1
}
stop_watch() {
  kill "$watch_pid" 2>/dev/null || true
  wait "$watch_pid" 2>/dev/null || true
  watch_pid=
}

# Lines of $work/results: size server tool seconds peak-RSS-KiB join-seconds; a failed run (an exit
# status other than 0, or a file that differs) is a line of $work/failures and is run again.
: >"$work/results"
: >"$work/failures"
: >"$work/handshakes"
max_attempts=4
attempt() { # size server tool
  local size=$1 server=$2 tool=$3 port url name=f$1.bin home="$work/home" start end rss join=-
  local scheme=http curltls=() aria2tls=() vgettls=()
  case $server in
  plain) port=$plain_port ;;
  slow) port=$slow_port ;;
  tls)
    port=$tls_port scheme=https
    curltls=(--cacert "$work/tls.pem") aria2tls=(--ca-certificate="$work/tls.pem")
    vgettls=(--ca-certificate "$work/tls.pem")
    : >"$work/sessions.log"
    ;;
  esac
  url="$scheme://127.0.0.1:$port/$name"
  rm -rf "$work/out" "$home"
  mkdir -p "$work/out" "$home"
  # Write-back of the previous run's data must not land on this one.
  sync
  local cmd=()
  case $tool in
  curl) cmd=(curl -sf "${curltls[@]}" -o "$work/out/$name" "$url") ;;
  # The same made durable, as velmora-get's file is when it ends.
  curlsync) cmd=(bash -c 'curl -sf "${@:3}" -o "$1" "$2" && sync -d "$1"' _ "$work/out/$name" "$url" "${curltls[@]}") ;;
  aria2c) cmd=(aria2c -q -x8 -s8 -k1M "${aria2tls[@]}" --allow-overwrite=true --auto-file-renaming=false -d "$work/out" -o "$name" "$url") ;;
  axel) cmd=(axel -q -n 8 -o "$work/out/$name" "$url") ;;
  vget1) cmd=(env VELMORA_HOME="$home" "$vget" -q -n 1 "${vgettls[@]}" -d "$work/out" "$url") ;;
  vget8) cmd=(env VELMORA_HOME="$home" "$vget" -q -n 8 "${vgettls[@]}" -d "$work/out" "$url") ;;
  vget8m) cmd=(env VELMORA_HOME="$home" "$vget" -q -n 8 -d "$work/out" -m "http://127.0.0.2:$port/$name"
    -m "http://127.0.0.3:$port/$name" "$url") ;;
  esac
  [[ $tool == vget* ]] && start_watch
  local status=0
  start=$EPOCHREALTIME
  /usr/bin/time -f %M -o "$work/rss" "${cmd[@]}" >"$work/tool.log" 2>&1 || status=$?
  end=$EPOCHREALTIME
  [[ $tool == vget* ]] && stop_watch
  if ((status != 0)); then
    echo "$size $server $tool exit status $status: $(grep -v '^Command exited' "$work/tool.log" | tail -n 1 |
      sed "s|$work/||g")" >>"$work/failures"
    return 1
  fi
  if [[ $(sha256sum "$work/out/$name" | cut -d' ' -f1) != "${digest[$size]}" ]]; then
    echo "$size $server $tool wrote a file whose sha256 differs" >>"$work/failures"
    return 1
  fi
  rss=$(tail -n 1 "$work/rss")
  if [[ $server == tls && $tool == vget8 ]]; then
    # nginx logs a request when it notices its end, a moment after ours.
    sleep 0.2
    echo "$size $(grep -c '^\.' "$work/sessions.log") $(grep -c '^r' "$work/sessions.log")" >>"$work/handshakes"
  fi
  if [[ $tool == vget* ]]; then
    join=$(awk '$1=="first-part-open"{o=$2} $1=="join-start" && !s{s=$2} $1=="join-end"{e=$2}
      END{if (!s) s=o; if (s && e) printf "%.4f", e - s; else print "-"}' "$work/watch.log")
  fi
  awk -v s="$start" -v e="$end" -v z="$size" -v v="$server" -v t="$tool" -v r="$rss" -v j="$join" \
    'BEGIN{printf "%s %s %s %.4f %s %s\n", z, v, t, e - s, r, j}' >>"$work/results"
}
measure() { # size server tool
  local try
  for try in $(seq "$max_attempts"); do
    if attempt "$@"; then
      printf '  %-5s MiB %-6s %-7s %s s\n' "$1" "$2" "$3" "$(tail -n 1 "$work/results" | cut -d' ' -f4)" >&2
      return
    fi
    printf '  %-5s MiB %-6s %-7s FAILED: %s\n' "$1" "$2" "$3" "$(tail -n 1 "$work/failures" | cut -d' ' -f4-)" >&2
  done
}

# hyperfine's median of a command run $runs times, in seconds; before each run the output is removed
# and the page cache written back, as before each download.
limit() { # name size command [output to remove]
  local name=$1 size=$2 command=$3 remove=${4:-/nonexistent}
  hyperfine -N --runs "$runs" --style none --prepare "bash -c 'rm -f $remove && sync'" \
    --export-json "$work/h.json" "$command" >/dev/null
  local median
  median=$("$python" -c 'import json,sys; print("%.4f" % json.load(open(sys.argv[1]))["results"][0]["median"])' \
    "$work/h.json")
  echo "$size limit $name $median - -" >>"$work/results"
  printf '  %-5s MiB limit  %-7s %s s\n' "$size" "$name" "$median" >&2
}

chosen() { [[ -z ${BENCH_TOOLS:-} || " $BENCH_TOOLS " == *" $1 "* ]]; }
served() { [[ -z ${BENCH_SERVERS:-} || " $BENCH_SERVERS " == *" $1 "* ]]; }

echo "Measuring (sizes ${sizes[*]} MiB, $runs runs each):" >&2
for size in "${sizes[@]}"; do
  file="$work/www/f$size.bin"
  # The same bytes as the 8 parts a join reads.
  rm -f "$work/parts/"*
  split -n 8 -d "$file" "$work/parts/p"
  limit loopback "$size" "curl -sf -o /dev/null http://127.0.0.1:$plain_port/f$size.bin"
  limit disk "$size" "dd if=/dev/zero of=$work/dd.out bs=1M count=$size conv=fdatasync status=none" "$work/dd.out"
  limit cp "$size" "cp $file $work/cp.out" "$work/cp.out"
  limit cat8 "$size" "bash -c 'cat $work/parts/p* >$work/cp.out'" "$work/cp.out"
  limit cat8sync "$size" "bash -c 'cat $work/parts/p* >$work/cp.out && sync -d $work/cp.out'" "$work/cp.out"
  rm -f "$work/cp.out" "$work/dd.out" "$work/parts/"*
  for run in $(seq "$runs"); do
    for tool in curl curlsync vget1 aria2c axel vget8 vget8m; do
      served plain && chosen "$tool" && measure "$size" plain "$tool"
    done
    for tool in aria2c axel vget8 vget8m; do
      served slow && chosen "$tool" && measure "$size" slow "$tool"
    done
    for tool in curl curlsync vget1 aria2c vget8; do
      served tls && chosen "$tool" && measure "$size" tls "$tool"
    done
    if served slow && { ((size <= 16)) || [[ $slow1 == 1 ]]; }; then
      for tool in curl vget1; do
        chosen "$tool" && measure "$size" slow "$tool"
      done
    fi
  done
done

# --- table --------------------------------------------------------------------------------------------
cpu=$(lscpu 2>/dev/null | awk -F: '/Model name/{gsub(/^ +/, "", $2); print $2; exit}')
fs=$(df -PT "$work" | awk 'NR==2{print $2}')
echo
echo "Machine: $(nproc) cores ($cpu), $(free -g | awk '/Mem:/{print $2}') GiB RAM, $fs, Linux $(uname -r);" \
  "nginx $("$nginx" -v 2>&1 | sed 's|.*/||'), aria2c $(aria2c -v | awk 'NR==1{print $3}')," \
  "axel $(axel -V | awk 'NR==1{print $2}'), curl $(curl -V | awk 'NR==1{print $2}'); medians of $runs runs"
echo
"$python" - "$work/results" "$work/failures" "$work/handshakes" <<'EOF'
import collections, statistics, sys
rows = {}
failed = collections.Counter()
messages = collections.Counter()
for line in open(sys.argv[2]):
    size, server, tool, message = line.rstrip("\n").split(" ", 3)
    failed[(int(size), server, tool)] += 1
    messages[f"{tool}: {message}"] += 1
for line in open(sys.argv[1]):
    size, server, tool, seconds, rss, join = line.split()
    r = rows.setdefault((int(size), server, tool), {"t": [], "rss": [], "join": []})
    r["t"].append(float(seconds))
    if rss != "-": r["rss"].append(int(rss))
    if join != "-": r["join"].append(float(join))
for k in failed:
    rows.setdefault(k, {"t": [], "rss": [], "join": []})
med = lambda k: statistics.median(rows[k]["t"]) if k in rows and rows[k]["t"] else None
names = {"curl": "curl (1 connection)", "curlsync": "curl, then fdatasync of its file", "vget1": "velmora-get -n 1", "aria2c": "aria2c -x8 -s8 -k1M",
         "axel": "axel -n 8", "vget8": "velmora-get -n 8", "vget8m": "velmora-get -n 8, 2 more mirrors (-m)",
         "loopback": "loopback: curl to /dev/null", "disk": "disk: dd, fdatasync",
         "cp": "cp of the file", "cat8": "cat of its 8 parts", "cat8sync": "cat of its 8 parts, fdatasync"}
order = ["loopback", "disk", "cp", "cat8", "cat8sync", "curl", "curlsync", "vget1", "aria2c", "axel", "vget8", "vget8m"]
print("| Size | Server | Tool | Median time | MiB/s | Time / aria2c's | Peak RSS | Join | Failed runs |")
print("|---|---|---|---|---|---|---|---|---|")
sizes = sorted({k[0] for k in rows})
for size in sizes:
    for server in ["limit", "plain", "slow", "tls"]:
        for tool in order:
            k = (size, server, tool)
            if k not in rows: continue
            t = med(k)
            ref = med((size, server, "aria2c")) if server != "limit" else None
            label = {"limit": "", "plain": "plain", "slow": "5 MiB/s a connection", "tls": "https"}[server]
            fails = str(failed[k]) if failed[k] else ""
            if t is None:
                print(f"| {size} MiB | {label} | {names[tool]} | every run failed | | | | | {fails} |")
                continue
            ratio = f"{t / ref:.2f}" if ref else ""
            rss = f"{max(rows[k]['rss']) / 1024:.1f} MiB" if rows[k]["rss"] else ""
            join = f"{statistics.median(rows[k]['join']):.3f} s" if rows[k]["join"] else ""
            print(f"| {size} MiB | {label} | {names[tool]} | {t:.3f} s | {size / t:.0f} | {ratio} | {rss} | {join} |"
                  f" {fails} |")
print()
if messages:
    print("Failed runs (each was run again, up to 4 times):")
    for message, count in sorted(messages.items()):
        print(f"- {count} x {message}")
    print()
def verdict(ok): return "met" if ok else "NOT met"
def missing(*values): return any(v is None for v in values)
print("Targets:")
for size in sizes:
    a, v = med((size, "slow", "aria2c")), med((size, "slow", "vget8"))
    if missing(a, v):
        print(f"- throttled, {size} MiB, 8 parts: no successful run to compare")
        continue
    goal = f"(at most 1.05): {verdict(v <= 1.05 * a)}" if size == 256 else "(for scale; the goal is set at 256 MiB)"
    print(f"- throttled, {size} MiB, 8 parts: velmora-get {v:.3f} s / aria2c {a:.3f} s = {v / a:.3f} {goal}")
big = max(sizes)
a, v = med((big, "tls", "aria2c")), med((big, "tls", "vget8"))
if not missing(a, v):
    print(f"- https, {big} MiB, 8 parts: velmora-get {v:.3f} s / aria2c {a:.3f} s = {v / a:.3f} (at most 1.1):"
          f" {verdict(v <= 1.1 * a)}")
for size in sizes:
    c, v, d = med((size, "tls", "curl")), med((size, "tls", "vget1")), med((size, "tls", "curlsync"))
    if missing(c, v):
        continue
    durable = f"; against curl + fdatasync {d / v:.2f}" if d else ""
    print(f"- one part, https, {size} MiB: velmora-get {size / v:.0f} MiB/s, curl {size / c:.0f} MiB/s,"
          f" ratio {c / v:.2f} (at least 0.9): {verdict(c / v >= 0.9)}{durable}")
for line in open(sys.argv[3]):
    size, full, resumed = line.split()
    print(f"- handshakes of one 8-part https download of {size} MiB: {full} full, {resumed} resumed"
          f" (1 full expected): {verdict(full == '1')}")
for size in sizes:
    peaks = rows.get((size, "tls", "vget8"), {}).get("rss", [])
    if peaks:
        print(f"- peak RSS of velmora-get with 8 TLS connections, {size} MiB: {max(peaks) / 1024:.1f} MiB"
              f" (under 32 MiB): {verdict(max(peaks) / 1024 < 32)}")
a, v = med((big, "plain", "aria2c")), med((big, "plain", "vget8"))
if missing(a, v):
    print(f"- plain, {big} MiB, 8 parts: no successful run to compare")
else:
    print(f"- plain, {big} MiB, 8 parts: velmora-get {v:.3f} s / aria2c {a:.3f} s = {v / a:.3f} (at most 1.3):"
          f" {verdict(v <= 1.3 * a)}")
for size in sizes:
    j = rows.get((size, "plain", "vget8"), {}).get("join")
    if not j or size < 256:
        continue
    jm = statistics.median(j)
    for tool, what in [("cp", "cp"), ("cat8sync", "cat of the 8 parts + fdatasync")]:
        c = med((size, "limit", tool))
        print(f"- join of {size} MiB (8 parts, plain): {jm:.3f} s, speed {c / jm:.2f} x {what} ({c:.3f} s;"
              f" at least 0.9): {verdict(c / jm >= 0.9)}")
for size in sizes:
    c, v, d = med((size, "plain", "curl")), med((size, "plain", "vget1")), med((size, "plain", "curlsync"))
    if missing(c, v):
        continue
    durable = f"; against curl + fdatasync {d / v:.2f}" if d else ""
    print(f"- one part, plain, {size} MiB: velmora-get {size / v:.0f} MiB/s, curl {size / c:.0f} MiB/s,"
          f" ratio {c / v:.2f} (at least 0.9): {verdict(c / v >= 0.9)}{durable}")
rss = {}
for size in sizes:
    peaks = [p for tool in ("vget1", "vget8", "vget8m") for p in rows.get((size, "plain", tool), {}).get("rss", [])]
    if peaks:
        rss[size] = max(peaks) / 1024
if rss:
    big, small = max(rss), min(rss)
    print("- peak RSS of velmora-get (any run on the plain server): "
          + ", ".join(f"{s} MiB: {rss[s]:.1f} MiB" for s in sorted(rss))
          + f"; under 32 MiB for {big} MiB: {verdict(rss[big] < 32)}; flat ({big} MiB / {small} MiB:"
          f" {rss[big] / rss[small]:.2f}, at most 1.25): {verdict(rss[big] <= 1.25 * rss[small])}")
EOF
