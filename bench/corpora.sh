#!/usr/bin/env bash
# The two benchmark corpora made from this machine's own files, for the
# packer and decoder comparisons with lz4:
#   headers.tar: the C headers of /usr/include as one tar (text), its first 20 MiB;
#   libs.bin:    the shared libraries of the system's library folder, one
#                after another in name order (binary), its first 12 MiB;
#   large.bin:   200 MiB for packing on many threads: 100 MiB of those
#                libraries, then 100 MiB of that tar.
# Usage: bench/corpora.sh [FOLDER]   (default build/corpora); prints the paths.
set -euo pipefail
out=${1:-build/corpora}
mkdir -p "$out"
libdir=/usr/lib/$(gcc -print-multiarch 2>/dev/null || echo x86_64-linux-gnu)

if [[ ! -s $out/headers.tar ]]; then
  tar -C /usr --sort=name --mtime=@0 --owner=0 --group=0 --numeric-owner -cf - include 2>/dev/null |
    head -c $((20 << 20)) >"$out/headers.tar.part" || true  # tar stops on the cut pipe
  mv "$out/headers.tar.part" "$out/headers.tar"
fi
if [[ ! -s $out/libs.bin ]]; then
  find "$libdir" -maxdepth 1 -type f -name '*.so*' -print0 | sort -z |
    xargs -0 cat 2>/dev/null | head -c $((12 << 20)) >"$out/libs.bin.part" || true
  mv "$out/libs.bin.part" "$out/libs.bin"
fi
if [[ ! -s $out/large.bin ]]; then
  {
    find "$libdir" -maxdepth 1 -type f -name '*.so*' -print0 | sort -z |
      xargs -0 cat 2>/dev/null | head -c $((100 << 20)) || true
    tar -C /usr --sort=name --mtime=@0 --owner=0 --group=0 --numeric-owner -cf - include 2>/dev/null |
      head -c $((100 << 20)) || true
  } >"$out/large.bin.part"
  mv "$out/large.bin.part" "$out/large.bin"
fi
echo "$out/headers.tar"
echo "$out/libs.bin"
echo "$out/large.bin"
