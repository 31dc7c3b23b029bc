#!/usr/bin/env bash
# Builds everything, then unpacks the bundled sample twice: with the Windows
# exe under Wine and with the native program, and compares both results with
# the original text.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset native >/dev/null
cmake --build --preset native

build=$PWD/build/native
work=$build/demo
rm -rf "$work"
mkdir -p "$work"
cp samples/sample.lzs "$work/"

export WINEPREFIX=$build/demo-wineprefix WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all
unset DISPLAY  # no display: a notice, if one were due, would not wait for a click
wine=/usr/lib/wine/wine64
[ -d "$WINEPREFIX" ] || { echo "Creating a Wine prefix (once)..."; "$wine" wineboot -i >/dev/null 2>&1; }

echo
echo '== Windows exe under Wine: lzs-unpack.exe /D"sample.lzs" /O"sample from exe.txt"'
(cd "$work" &&
  LZS_PROGRAM="Z:${build//\//\\}\\windows\\lzs-unpack.exe" \
  LZS_COMMAND_LINE='lzs-unpack.exe /D"sample.lzs" /O"sample from exe.txt"' \
  "$wine" "$build/windows/lzs-launch.exe")

echo
echo '== Native program: lzs-unpack /D"sample.lzs"'
(cd "$work" && PATH="$build:$PATH" lzs-unpack /D"sample.lzs" && echo "exit code $?")

echo
cmp "$work/sample from exe.txt" samples/sample.txt
cmp "$work/sample.lzs.DeLZS" samples/sample.txt
echo "Both results equal samples/sample.txt ($(wc -c <samples/sample.txt) bytes from a $(wc -c <samples/sample.lzs)-byte image):"
echo
cat "$work/sample.lzs.DeLZS"
