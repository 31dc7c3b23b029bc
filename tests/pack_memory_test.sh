#!/usr/bin/env bash
# lzs packs inputs far larger than the address space it may have (ulimit -v
# at 64 MiB, its program, libraries and thread stacks included), at each
# level, on one thread to a file and on two to a pipe (through its spool
# file), from a generator on a pipe; each image unpacks to the input, and
# the spool folder is left empty.
#   tests/pack_memory_test.sh LZS WORK_FOLDER [MIB_FAST] [MIB_BEST]
set -euo pipefail
lzs=$1
work=$2
mib_fast=${3:-1024}
mib_best=${4:-256}
rm -rf "$work"
mkdir -p "$work/tmp"
trap 'rm -rf "$work"' EXIT
export TMPDIR=$work/tmp

# 8 MiB of text and noise, with matches at every distance of the window;
# the input repeats it, each time behind a different byte.
python3 - "$work/block" <<'EOF'
import random, sys
rng = random.Random(38)
words = [bytes(rng.choices(b"etaoin shrdlu", k=rng.randint(2, 9))) for _ in range(500)]
out = bytearray()
while len(out) < 8 << 20:
    out += rng.choice(words) + b" " if rng.random() < 0.8 else rng.randbytes(rng.randint(1, 40))
    if rng.random() < 0.01:
        out += out[-rng.randint(1, 4095):][:rng.randint(3, 18)]
open(sys.argv[1], "wb").write(out[:8 << 20])
EOF
input() {  # MiB
  for ((k = 0; k < $1 / 8; ++k)); do
    printf '%c' "$((k % 10))"
    cat "$work/block"
  done
}
digest() { input "$1" | md5sum; }

status=0
for row in "1 $mib_fast" "9 $mib_best"; do
  read -r level mib <<<"$row"
  want=$(digest "$mib")
  for run in "1 file" "2 pipe"; do
    read -r threads to <<<"$run"
    {
      if [[ $to == file ]]; then
        input "$mib" | (ulimit -v 65536 && exec "$lzs" "-$level" "-T$threads" -q -f -o "$work/out.lzs")
      else
        input "$mib" | (ulimit -v 65536 && exec "$lzs" "-$level" "-T$threads" -q -c) >"$work/out.lzs"
      fi
      got=$("$lzs" -dc "$work/out.lzs" | md5sum)
      leftover=$(ls -A "$work/tmp")
      if [[ $got != "$want" || -n $leftover ]]; then
        echo "FAIL: -$level -T$threads ${mib} MiB to a $to: $got (want $want) ${leftover:+left: $leftover}"
        status=1
      else
        echo "ok: -$level -T$threads ${mib} MiB to a $to"
      fi
      rm -f "$work/out.lzs"
    }
  done
done
exit $status
