#!/bin/sh
# The whole run on an 8 MiB packed input: the native program and the Windows
# exe under Wine, timed by hyperfine beside `cp` of the decoded output (the
# floor of writing that many bytes), and the peak memory of each run, which
# should stay near the decoded size plus the input, within the one block of
# 10 x input size.
#
#   bench/run_bench.sh [BUILD_DIR]        (default build/native)
#
# Needs hyperfine, wine64 (/usr/lib/wine/wine64) and GNU time (/usr/bin/time);
# the exe is started by the build's lzs-launch.exe, which hands it the
# command line exactly (Wine would re-quote it) and, with LZS_MEMORY set,
# reports its peak memory. Every program run ends with
# the completion signal (tones and a 100 ms pause), which is part of the time;
# a run whose input is missing (no decode, no signal) is timed as the
# start-up baseline.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build/native}" && pwd)
native="$build/lzs-unpack"
exe="$build/windows/lzs-unpack.exe"
launcher="$build/windows/lzs-launch.exe"
wine=${WINE:-/usr/lib/wine/wine64}
runs=${RUNS:-20}
for tool in "$native" "$exe" "$launcher" "$build/tools/make-corpus" "$build/cli/lzs-pack"; do
  [ -e "$tool" ] || { echo "run_bench: $tool is missing; build first" >&2; exit 2; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export WINEDEBUG=-all

# An input that packs to just under MaxInputSize (8 MiB).
"$build/tools/make-corpus" . 17500000
"$build/cli/lzs-pack" text.bin -o text.lzs
packed=$(stat -c %s text.lzs)
decoded=$(stat -c %s text.bin)
[ "$packed" -le 8388608 ] || { echo "run_bench: packed input $packed bytes is above 8 MiB" >&2; exit 1; }
block=$(( (packed * 10 + 1024) / 512 * 512 ))
echo "input: $packed bytes packed, $decoded bytes decoded; block of $block bytes"

cp "$exe" lzs-unpack.exe
cp "$launcher" lzs-launch.exe
export LZS_PROGRAM=lzs-unpack.exe
good='lzs-unpack.exe /D"text.lzs" /O"wine.out"'
missing='lzs-unpack.exe /D"missing.lzs"'
LZS_COMMAND_LINE=$good "$wine" lzs-launch.exe >/dev/null 2>&1 || true  # start wineserver

hyperfine --warmup 3 --runs "$runs" --export-markdown whole_run.md \
  -n 'native lzs-unpack' "'$native' '/D\"text.lzs\"' '/O\"native.out\"'" \
  -n 'native, missing input' "'$native' '/D\"missing.lzs\"' || true" \
  -n 'exe under Wine' "LZS_COMMAND_LINE='$good' '$wine' lzs-launch.exe >/dev/null 2>&1" \
  -n 'exe under Wine, missing input' "LZS_COMMAND_LINE='$missing' '$wine' lzs-launch.exe >/dev/null 2>&1 || true" \
  -n 'cp of the decoded output' "cp text.bin cp.out"
cat whole_run.md

cmp native.out text.bin
cmp wine.out text.bin
echo "both outputs equal the original"

echo
echo "peak memory (block: $block bytes, decoded + input: $((decoded + packed)) bytes)"
/usr/bin/time -v "$native" '/D"text.lzs"' '/O"native.out"' 2>&1 |
  sed -n 's/^\tMaximum resident set size (kbytes): /native lzs-unpack: max RSS (kB): /p'
/usr/bin/time -v "$native" '/D"missing.lzs"' 2>&1 |
  sed -n 's/^\tMaximum resident set size (kbytes): /native, missing input: max RSS (kB): /p'
printf 'exe under Wine: '
LZS_MEMORY=1 LZS_COMMAND_LINE=$good "$wine" lzs-launch.exe 2>&1 >/dev/null | tail -n 1
printf 'exe under Wine, missing input: '
LZS_MEMORY=1 LZS_COMMAND_LINE=$missing "$wine" lzs-launch.exe 2>&1 >/dev/null | tail -n 1
