#!/usr/bin/env bash
# Packing beside LZ4 on this machine's corpora, in one run, interleaved and
# repeated (the machine is shared): pack_bench's BM_Lz4, BM_Lzs and BM_Stream
# on headers.tar and libs.bin, and BM_Threads on large.bin (1 thread against
# 2), then the ratios of the median times:
#   -1 / lz4 -1     (lzs_encode_with at level 1 against LZ4_compress_default)
#   -9 / lz4 -12    (level 9 against LZ4_compress_HC at level 12)
#   stream / one-shot, and 1 thread / 2 threads (the speedup)
# Needs bench/corpora.sh's files (build/corpora, or LZS_CORPORA_DIR) and the
# native build's pack_bench.
#   RUNS=5 bench/pack_compare.sh [pack_bench arguments...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bench=${PACK_BENCH:-$root/build/native/bench/pack_bench}
json=$(mktemp)
trap 'rm -f "$json"' EXIT
"$bench" --benchmark_filter='BM_Lz4|BM_Lzs|BM_Stream|BM_Threads' \
  --benchmark_repetitions="${RUNS:-5}" --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true --benchmark_out="$json" --benchmark_out_format=json "$@"
python3 - "$json" <<'PY'
import json, sys
runs = json.load(open(sys.argv[1]))["benchmarks"]
median = {r["run_name"]: r for r in runs if r.get("aggregate_name") == "median"}
def time(name):
    return median[name]["real_time"] if name in median else float("nan")
def size(name):
    return int(median[name].get("image_bytes", 0)) if name in median else 0
print()
print(f"{'corpus':<12} {'lz4 -1':>9} {'lzs -1':>9} {'-1/lz4-1':>9} {'lz4 -12':>9} {'lzs -9':>9} "
      f"{'-9/lz4-12':>9} {'stream-1':>9} {'stream-9':>9}  (median ms; ratios of times)")
for corpus in ("headers.tar", "libs.bin"):
    lz1, lz12 = time(f"BM_Lz4/{corpus}/1"), time(f"BM_Lz4/{corpus}/12")
    l1, l9 = time(f"BM_Lzs/{corpus}/1"), time(f"BM_Lzs/{corpus}/9")
    s1, s9 = time(f"BM_Stream/{corpus}/1"), time(f"BM_Stream/{corpus}/9")
    print(f"{corpus:<12} {lz1:9.1f} {l1:9.1f} {l1 / lz1:9.2f} {lz12:9.1f} {l9:9.1f} {l9 / lz12:9.2f} "
          f"{s1 / l1:9.2f} {s9 / l9:9.2f}")
    print(f"{'  bytes':<12} {size(f'BM_Lz4/{corpus}/1'):9} {size(f'BM_Lzs/{corpus}/1'):9} {'':9} "
          f"{size(f'BM_Lz4/{corpus}/12'):9} {size(f'BM_Lzs/{corpus}/9'):9}")
print()
for level in (1, 9):
    one = time(f"BM_Threads/large.bin/level:{level}/threads:1/real_time")
    two = time(f"BM_Threads/large.bin/level:{level}/threads:2/real_time")
    print(f"large.bin level {level}: 1 thread {one:9.1f} ms, 2 threads {two:9.1f} ms, speedup {one / two:5.2f}")
PY
