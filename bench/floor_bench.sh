#!/bin/sh
# Whole runs against their floors, timed by hyperfine:
#  1. the native lzs-unpack on a text image of about 3 MB against io_floor,
#     which does the same reading, block and single write with no decoding
#     (target: lzs-unpack at most 1.2 times the floor);
#  2. lzs -d -T1 over a folder of 200 files (1 to 100 KB, text- and
#     binary-like) against lz4 -d -m over the same files packed by lz4 -9
#     (target: lzs no slower).
#
#   bench/floor_bench.sh [BUILD_DIR]        (default build/native)
#
# Needs hyperfine, lz4 and python3. RUNS sets the number of timed runs
# (default 20).
set -eu

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build/native}" && pwd)
unpack="$build/lzs-unpack"
floor="$build/bench/io_floor"
lzs="$build/cli/lzs"
corpus_tool="$build/tools/make-corpus"
runs=${RUNS:-20}
for tool in "$unpack" "$floor" "$lzs" "$corpus_tool"; do
  [ -e "$tool" ] || { echo "floor_bench: $tool is missing; build first" >&2; exit 2; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# A text image of about 3 MB.
"$corpus_tool" . 6300000 >/dev/null
"$lzs" -q -f text.bin -o text.lzs
decoded=$(stat -c %s text.bin)
echo "single: text.lzs, $(stat -c %s text.lzs) bytes packed, $decoded unpacked"

mkdir -p source batch/lzs batch/lz4
"$corpus_tool" source 8388608 >/dev/null
python3 - <<'PY'
import random
rng = random.Random(12)
sources = [open(f"source/{n}.bin", "rb").read() for n in ("text", "binary")]
for k in range(200):
    size = rng.randint(1 << 10, 100 << 10)
    data = sources[rng.randrange(2)]
    start = rng.randrange(len(data) - size + 1)
    for kind in ("lzs", "lz4"):
        open(f"batch/{kind}/f{k:03}", "wb").write(data[start:start + size])
PY
"$lzs" -q --rm batch/lzs/*
lz4 -q -9 -m --rm batch/lz4/*
echo "batch: $(ls batch/lzs | wc -l) LZS images ($(du -sk batch/lzs | cut -f1) KB), $(ls batch/lz4 | wc -l) LZ4 frames ($(du -sk batch/lz4 | cut -f1) KB)"

hyperfine --warmup 3 --runs "$runs" --export-json single.json \
  -n 'lzs-unpack' "'$unpack' '/D\"text.lzs\"' '/O\"unpack.out\"'" \
  -n 'io_floor' "'$floor' text.lzs floor.out $decoded"
cmp unpack.out text.bin

clean='find batch -type f ! -name "*.lzs" ! -name "*.lz4" -delete'
hyperfine --warmup 2 --runs "$runs" --export-json batch.json --prepare "$clean" \
  -n 'lzs -d -T1' "'$lzs' -d -q -T1 batch/lzs/*.lzs" \
  -n 'lz4 -d -m' "lz4 -q -d -m batch/lz4/*.lz4"

# On a machine shared with other work the wall times swing: the fastest run
# and the processor time (user + system) depend less on the load.
python3 - <<'PY'
import json
def load(name):
    return [(r["mean"], min(r["times"]), r["user"] + r["system"]) for r in json.load(open(name))["results"]]
def line(what, a, b, target):
    print(f"{what}: mean {a[0] * 1000:.1f} / {b[0] * 1000:.1f} ms = {a[0] / b[0]:.2f}; "
          f"fastest {a[1] * 1000:.1f} / {b[1] * 1000:.1f} ms = {a[1] / b[1]:.2f}; "
          f"processor {a[2] * 1000:.1f} / {b[2] * 1000:.1f} ms = {a[2] / b[2]:.2f} ({target})")
unpack, floor = load("single.json")
lzs, lz4 = load("batch.json")
line("lzs-unpack / io_floor", unpack, floor, "target at most 1.2")
line("lzs -d -T1 / lz4 -d -m", lzs, lz4, "target at most 1.0")
PY
