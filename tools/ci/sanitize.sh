#!/usr/bin/env bash
# The unit and native run tests under AddressSanitizer and
# UndefinedBehaviorSanitizer (preset "asan", build/asan), then the native
# program under valgrind memcheck on samples made here: a good image, whose
# output is compared, and a refused one. Fails on any test failure or any
# error report.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"

cmake --preset asan >/dev/null
cmake --build --preset asan
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --preset asan

# valgrind cannot run a sanitized program: a plain build of the program alone.
cmake -S . -B build/memcheck -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLZS_WINDOWS=OFF \
  -DLZS_BENCH=OFF -DBUILD_TESTING=OFF >/dev/null
cmake --build build/memcheck --target lzs-unpack
program=$root/build/memcheck/lzs-unpack

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The worked example: 06 00 00 00 07 41 42 43 EE F3 is ABCABCABC.
printf '\x06\x00\x00\x00\x07ABC\xee\xf3' >"$work/small.lzs"
printf 'ABCABCABC' >"$work/small.expected"
# A larger image: 40000 bytes as groups of eight literals (flag byte FF),
# then a back-reference that repeats the last byte 18 times (distance 1).
python3 - "$work/large.lzs" "$work/large.expected" <<'PY'
import random, sys
data = bytes(random.Random(6).getrandbits(8) for _ in range(40000))
payload = bytearray()
for k in range(0, len(data), 8):
    payload += b"\xff" + data[k:k + 8]
i = len(data)
position = (i - 19) % 4096
payload += bytes([0x00, position & 0xFF, (position >> 8) << 4 | 0x0F])
expected = data + data[-1:] * 18
open(sys.argv[1], "wb").write(len(payload).to_bytes(4, "little") + payload)
open(sys.argv[2], "wb").write(expected)
PY
# Bytes appended after the payload: refused with the format error.
cat "$work/small.lzs" >"$work/bad.lzs"
printf 'X' >>"$work/bad.lzs"

memcheck() {
  valgrind --tool=memcheck --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite \
    --quiet "$program" "$@"
}

status=0
for sample in small large; do
  code=0
  memcheck "/D$work/$sample.lzs" "/O$work/$sample.out" || code=$?
  if [[ $code -ne 0 ]] || ! cmp -s "$work/$sample.out" "$work/$sample.expected"; then
    echo "sanitize: memcheck run on $sample.lzs: exit $code or wrong output" >&2
    status=1
  fi
done
code=0
memcheck "/D$work/bad.lzs" "/O$work/bad.out" 2>"$work/bad.err" || code=$?
if [[ $code -ne 13 ]] || [[ -e $work/bad.out ]]; then
  cat "$work/bad.err" >&2
  echo "sanitize: memcheck run on bad.lzs: exit $code (13 expected) or an output left" >&2
  status=1
fi
[[ $status -eq 0 ]] && echo "sanitize: tests and memcheck runs clean"
exit $status
