#!/usr/bin/env bash
# Extraction speed of Velmora's unzip against Info-ZIP unzip on the same 256 MiB deflated archive,
# in the same run: best of several alternating runs each, output into fresh folders.
#   bench/unzip-bench.sh [runs]      (VELMORA_BENCH_MIB changes the size, default 256)
set -euo pipefail
# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"
runs=${1:-5}
mib=${VELMORA_BENCH_MIB:-256}
bench_build_dir build/bench
# Always built: this benchmark is run while the extraction code changes.
bench_build bench_unzip "$build/bench/bench_unzip" always

bench_make_work
echo "making ${mib} MiB of data (text, runs and incompressible blocks) ..."
"$bench_python" - "$work/data" "$mib" <<'PY'
import os, random, sys
folder, mib = sys.argv[1], int(sys.argv[2])
os.makedirs(folder)
random.seed(1)
words = [''.join(random.choice('abcdefghijklmnopqrstuvwxyz') for _ in range(random.randint(2, 10)))
         for _ in range(5000)]
block = 1 << 20
files = 8
for f in range(files):
    with open(os.path.join(folder, 'part%d.dat' % f), 'wb') as out:
        for m in range(mib // files):
            kind = (f * 31 + m) % 10
            if kind == 0:
                out.write(os.urandom(block))
            elif kind == 1:
                out.write(bytes([m % 7]) * (block // 2) + bytes(range(256)) * (block // 512))
            else:
                text = ' '.join(random.choices(words, k=block // 5)).encode()
                out.write((text + b'\n' * block)[:block])
PY
(cd "$work/data" && zip -q -6 -r "$work/bench.zip" .)
echo "archive: $(du -m "$work/bench.zip" | cut -f1) MiB for ${mib} MiB of content"

best_ours=999999
best_theirs=999999
smaller() { awk -v a="$1" -v b="$2" 'BEGIN { print (a < b) ? a : b }'; }
for ((i = 1; i <= runs; i++)); do
  rm -rf "$work/ours" "$work/theirs"
  theirs=$(elapsed unzip -q -o "$work/bench.zip" -d "$work/theirs")
  ours=$(elapsed "$build/bench/bench_unzip" "$work/bench.zip" "$work/ours")
  printf 'run %d: Info-ZIP unzip %.3f s, Velmora %.3f s\n' "$i" "$theirs" "$ours"
  best_theirs=$(smaller "$theirs" "$best_theirs")
  best_ours=$(smaller "$ours" "$best_ours")
done
diff -r "$work/ours" "$work/theirs" >/dev/null && echo "outputs identical"
ratio=$(awk -v a="$best_theirs" -v b="$best_ours" 'BEGIN { print a / b }')
printf 'best: Info-ZIP unzip %.3f s, Velmora %.3f s; speed ratio (Velmora / Info-ZIP) %.2f\n' \
  "$best_theirs" "$best_ours" "$ratio"
