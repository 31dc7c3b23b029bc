#!/usr/bin/env bash
# Peak resident memory of the streaming encoder (examples/stream_encode, as
# the native build's bench folder builds it) packing 200 MiB (large.bin of
# bench/corpora.sh) and 2 GiB (large.bin ten times) at both levels, to a file
# and to a pipe (through its temporary file), each beside the image's size.
# The input is read from a pipe, so nothing of it is mapped.
#   bench/pack_memory.sh [2G]     (2G: the 2 GiB runs too; they take minutes)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
encode=${STREAM_ENCODE:-$root/build/native/bench/stream_encode}
large=${LZS_CORPORA_DIR:-$root/build/corpora}/large.bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
[[ -s $large ]] || { echo "pack_memory: no $large (run bench/corpora.sh)" >&2; exit 2; }

input() {  # MiB
  local times=$(($1 / 200))
  for ((k = 0; k < times; ++k)); do cat "$large"; done
}

sizes=(200)
[[ ${1:-} == 2G ]] && sizes+=(2000)
printf '%-8s %-6s %-5s %12s %14s %9s\n' input level to peak_KiB image_bytes seconds
for mib in "${sizes[@]}"; do
  for level in 1 9; do
    for to in file pipe; do
      if [[ $to == file ]]; then
        /usr/bin/time -f '%M %e' -o "$work/time" bash -c \
          "$(declare -f input); large=$large; input $mib | \"$encode\" -$level \"$work/out.lzs\""
        bytes=$(stat -c %s "$work/out.lzs")
      else
        /usr/bin/time -f '%M %e' -o "$work/time" bash -c \
          "$(declare -f input); large=$large; input $mib | \"$encode\" -$level - | wc -c >\"$work/bytes\""
        bytes=$(cat "$work/bytes")
      fi
      read -r peak seconds <"$work/time"
      printf '%-8s %-6s %-5s %12s %14s %9s\n' "${mib}MiB" "-$level" "$to" "$peak" "$bytes" "$seconds"
      rm -f "$work/out.lzs"
    done
  done
done
echo "(peak_KiB: the largest resident set of the shell pipeline's processes, that is of stream_encode)"
