#!/usr/bin/env bash
# The symbols that liblzs gives a program to link against: the shared
# library, and liblzs.a linked whole into a shared object, as a plugin or a
# language binding links it, export the lzs_* calls and nothing else.
#   check_exports.sh CC NM liblzs.so liblzs.a WORK_FOLDER
set -euo pipefail
cc=$1 nm=$2 shared=$3 static=$4 work=$5
mkdir -p "$work"
"$cc" -shared -o "$work/static_in_shared.so" -Wl,--whole-archive "$static" -Wl,--no-whole-archive
status=0
for object in "$shared" "$work/static_in_shared.so"; do
  exported=$("$nm" -D --defined-only "$object" | awk '{print $3}')
  others=$(grep -v '^lzs_' <<<"$exported" || true)
  calls=$(grep -c '^lzs_' <<<"$exported" || true)
  if [[ -n $others ]]; then
    echo "check_exports: $object exports beside lzs_*:" $others
    status=1
  elif ((calls < 20)); then
    echo "check_exports: $object exports only $calls lzs_* calls"
    status=1
  else
    echo "check_exports: $object exports $calls lzs_* calls and nothing else"
  fi
done
exit $status
