#!/usr/bin/env bash
# The native programs under valgrind's memcheck, on images made here: the
# worked example and packed text, whose outputs are compared, and an image
# with a byte after its end, refused with the format-error ending (13) and
# no output left. Any memcheck error or definite leak fails the run.
#
#   memcheck.sh VALGRIND LZS_UNPACK LZS_PACK LZS CORPUS_TEXT WORK_DIR
set -euo pipefail
valgrind=$1 unpack=$2 pack=$3 batch=$4 text=$5 work=$6
. "$(dirname "$0")/support/images.sh"
rm -rf "$work"
mkdir -p "$work"
cd "$work"

memcheck() {
  "$valgrind" --tool=memcheck --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite \
    --quiet "$@"
}
status=0
check() {  # WHAT COMMAND...: the command, under memcheck, ends with 0
  local what=$1 code=0
  shift
  memcheck "$@" || code=$?
  if [[ $code -eq 0 ]]; then echo "memcheck: $what: clean" >&2; else
    echo "memcheck: $what: exit $code" >&2
    status=1
  fi
}
same() {  # WHAT FILE EXPECTED
  cmp -s "$2" "$3" || { echo "memcheck: $1: wrong output" >&2; status=1; }
}

worked_example >worked.lzs
worked_example_decoded >worked.expected
check "lzs-unpack, the worked example" "$unpack" /Dworked.lzs /Oworked.out
same "lzs-unpack, the worked example" worked.out worked.expected

head -c 300000 "$text" >text
check "lzs-pack, 300000 bytes of text" "$pack" text -o text.lzs
check "lzs-unpack, the packed text" "$unpack" /Dtext.lzs /Otext.out
same "lzs-unpack, the packed text" text.out text
check "lzs -t and -d -c, both images" "$batch" -t worked.lzs text.lzs
check "lzs -d -c, the packed text" "$batch" -d -c text.lzs >text.batch
same "lzs -d -c, the packed text" text.batch text

{ worked_example; printf 'X'; } >appended.lzs
code=0
memcheck "$unpack" /Dappended.lzs /Oappended.out 2>appended.err || code=$?
if [[ $code -ne 13 || -e appended.out ]]; then
  cat appended.err >&2
  echo "memcheck: lzs-unpack, a byte appended: exit $code (13 expected) or an output left" >&2
  status=1
fi
exit $status
