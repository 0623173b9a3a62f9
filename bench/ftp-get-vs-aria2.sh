#!/usr/bin/env bash
# An 8-part download of a 256 MiB file from vsftpd on 127.0.0.1: velmora-get -n 8 against
# aria2c -x8 -s8, each run several times in alternation, each run into a fresh folder (and, for
# velmora-get, a fresh home, so nothing is resumed); prints best and median times and the ratio
# of our time to aria2c's (goal: at most 1.2). For velmora-get it also gives the time until every
# part file was complete, before the parts are joined into the final file.
#   bench/ftp-get-vs-aria2.sh [build dir, default build/bench] [runs, default 5]
set -euo pipefail
# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"
bench_build_dir "${1:-build/bench}"
runs=${2:-5}
bench_build velmora-get "$build/src/app/velmora-get" missing
vsftpd=$(command -v vsftpd || echo /usr/sbin/vsftpd)
bench_make_work

port=$(bench_free_port)
# vsftpd serves anonymous sessions as the ftp user, which must reach the file.
chmod 755 "$work"
mkdir -p "$work/root/pub" "$work/empty"
chmod 755 "$work/root" "$work/root/pub"
head -c $((256 * 1024 * 1024)) /dev/urandom >"$work/root/pub/big.bin"
chmod 644 "$work/root/pub/big.bin"
sed -e "s|{{PORT}}|$port|" -e "s|{{ROOT}}|$work/root|" -e "s|{{EMPTY}}|$work/empty|" -e "s|{{MAX_PER_IP}}|0|" \
  -e "s|{{EXTRA}}||" "$top/tests/peers/ftp-vsftpd.conf.in" >"$work/vsftpd.conf"
bench_start_peer vsftpd "$work/vsftpd.log" "$vsftpd" "$work/vsftpd.conf"
bench_wait_for_peer vsftpd bench_port_open "$port"

url="ftp://127.0.0.1:$port/pub/big.bin"
: >"$work/aria2.times"
: >"$work/aria2sync.times"
: >"$work/ours.times"
: >"$work/parts.times"
# Runs velmora-get and prints the seconds until the part files held every byte, and in all.
ours() {
  VELMORA_HOME="$work/home" "$bench_python" - "$build/src/app/velmora-get" "$work" "$url" <<'PY'
import glob, os, subprocess, sys, time
program, work, url = sys.argv[1:]
start = time.monotonic()
child = subprocess.Popen([program, "-q", "-n", "8", "-d", work + "/ours", url])
parts = None
while child.poll() is None:
    if parts is None:
        held = 0
        for name in glob.glob(work + "/home/Partial Downloads/*"):
            if not name.endswith(".dat"):
                try:
                    held += os.path.getsize(name)
                except OSError:
                    pass
        if held >= 256 * 1024 * 1024:
            parts = time.monotonic() - start
    time.sleep(0.01)
if child.returncode != 0:
    sys.exit("velmora-get failed")
print("%.4f %.4f" % (parts if parts is not None else -1, time.monotonic() - start))
PY
}
# Alternating runs, so page-cache write-back and other load hit both alike.
for run in $(seq "$runs"); do
  for flushed in no yes; do
    mkdir -p "$work/aria2"
    sync
    if [[ $flushed == no ]]; then
      elapsed aria2c -q -x8 -s8 -k1M --file-allocation=none -d "$work/aria2" -o big.bin "$url" >>"$work/aria2.times"
    else
      # The same made durable, as velmora-get's file is when it ends.
      elapsed bash -c 'aria2c -q -x8 -s8 -k1M --file-allocation=none -d "$1" -o big.bin "$2" && sync -d "$1/big.bin"' \
        _ "$work/aria2" "$url" >>"$work/aria2sync.times"
    fi
    cmp -s "$work/aria2/big.bin" "$work/root/pub/big.bin" || { echo "run $run: aria2c's copy differs" >&2; exit 1; }
    rm -rf "$work/aria2"
  done
  mkdir -p "$work/ours" "$work/home"
  sync
  read -r parts total < <(ours)
  echo "$parts" >>"$work/parts.times"
  echo "$total" >>"$work/ours.times"
  cmp -s "$work/ours/big.bin" "$work/root/pub/big.bin" || { echo "run $run: our copy differs" >&2; exit 1; }
  rm -rf "$work/ours" "$work/home"
done
read -r aria2_best aria2_median < <(summary "$work/aria2.times")
read -r aria2sync_best aria2sync_median < <(summary "$work/aria2sync.times")
read -r ours_best ours_median < <(summary "$work/ours.times")
read -r parts_best parts_median < <(summary "$work/parts.times")
awk -v ab="$aria2_best" -v am="$aria2_median" -v ob="$ours_best" -v om="$ours_median" -v pb="$parts_best" \
  -v pm="$parts_median" -v sb="$aria2sync_best" -v sm="$aria2sync_median" -v n="$runs" 'BEGIN{
  printf "%d runs each, 256 MiB from vsftpd on 127.0.0.1 in 8 parts into a file\n", n;
  printf "aria2c -x8 -s8:   best %.3f s (%.0f MiB/s), median %.3f s\n", ab, 256 / ab, am;
  printf "  then fdatasync:  best %.3f s (%.0f MiB/s), median %.3f s\n", sb, 256 / sb, sm;
  printf "velmora-get -n 8: best %.3f s (%.0f MiB/s), median %.3f s\n", ob, 256 / ob, om;
  printf "  of which parts:  best %.3f s (%.0f MiB/s), median %.3f s; the rest joins them\n", pb, 256 / pb, pm;
  printf "time ratio ours/aria2c: best %.2f, median %.2f (goal <= 1.2); parts alone: best %.2f, median %.2f\n",
    ob / ab, om / am, pb / ab, pm / am;
  printf "against aria2c then fdatasync: best %.2f, median %.2f\n", ob / sb, om / sm }'
