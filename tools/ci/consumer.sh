#!/usr/bin/env bash
# liblzs as its users get it: installs the native tree's lib and dev
# components into a temporary prefix, checks that the shared library exports
# only lzs_* and is named liblzs.so.1, then builds tests/consumer/consumer.c
# against the installed tree through find_package(lzs) (shared and static)
# and through pkg-config, packs and unpacks a file with each, and round-trips
# bytes through ctypes. The library must need libc alone: no C++ runtime in
# liblzs.so.1's NEEDED list or its undefined symbols, and a static link as C
# with nothing added. The examples/ programs, as installed, are built against
# the installed tree and run. When the Windows tree was built, its sdk component is
# installed too and the consumer, cross-built against lzs.dll, runs under Wine.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
build=build/native

cmake --preset native >/dev/null
cmake --build "$build" --target lzs_shared lzs_static corpus

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
for component in lib dev; do
  cmake --install "$build" --prefix "$prefix" --component "$component" >/dev/null
done
so=$(find "$prefix" -name liblzs.so.1)
pcdir=$(dirname "$(find "$prefix" -name lzs.pc)")

status=0
fail() { echo "consumer: $*" >&2; status=1; }

soname=$(readelf -d "$so" | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')
[[ $soname == liblzs.so.1 ]] || fail "SONAME is '$soname', not liblzs.so.1"
others=$(nm -D --defined-only "$so" | awk '{print $3}' | grep -v '^lzs_' || true)
[[ -z $others ]] || fail "exported beside lzs_*: $others"
needed=$(readelf -d "$so" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
echo "consumer: liblzs.so.1 needs: $needed"
for library in $needed; do
  [[ $library =~ ^(libc|libm|ld-linux.*)\.so ]] || fail "liblzs.so.1 needs $library"
done
# __cxa_finalize is libc's (the shared object's own start-up code).
runtime=$(nm -D --undefined-only "$so" | awk '{print $2}' | grep -E '^_Z|^__cxa_|^__gxx_|^_Unwind' |
  grep -v '^__cxa_finalize' || true)
[[ -z $runtime ]] || fail "liblzs.so.1 needs the C++ runtime: $runtime"

input=$build/corpus/text.bin
check() {  # NAME PROGRAM [fast]
  local name=$1 program=$2
  shift 2
  if "$program" "$input" "$work/$name.lzs" "$work/$name.out" "$@" && cmp -s "$input" "$work/$name.out"; then
    echo "consumer: $name: round trip equal"
  else
    fail "$name: round trip failed"
  fi
}

# find_package(lzs), shared and static.
cmake -S tests/consumer -B "$work/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake" >/dev/null
check find_package "$work/cmake/consumer"
check find_package-static "$work/cmake/consumer_static" fast

# pkg-config --cflags --libs lzs, with the library found through its rpath.
export PKG_CONFIG_PATH=$pcdir
cc -std=c99 -Wall -Wextra -Werror tests/consumer/consumer.c -o "$work/consumer-pc" \
  $(pkg-config --cflags --libs lzs) -Wl,-rpath,"$(dirname "$so")"
check pkg-config "$work/consumer-pc" fast
readelf -d "$work/consumer-pc" | grep -q 'NEEDED.*liblzs.so.1' || fail "pkg-config build does not load liblzs.so.1"

# The static library, linked as C with only what pkg-config --static says.
pc_static=$(pkg-config --static --libs lzs)
[[ $pc_static != *stdc++* ]] || fail "pkg-config --static --libs lzs adds the C++ runtime: $pc_static"
cc -std=c99 -Wall -Wextra -Werror tests/consumer/consumer.c -o "$work/consumer-pc-static" \
  $(pkg-config --cflags lzs) "$(dirname "$so")/liblzs.a" $pc_static
readelf -d "$work/consumer-pc-static" | grep -q 'NEEDED.*liblzs' && fail "static build loads liblzs"
check pkg-config-static "$work/consumer-pc-static" fast
cflags=$(pkg-config --cflags lzs)
[[ $cflags != *..* ]] || fail "pkg-config --cflags lzs is not a plain path: $cflags"

python3 tests/consumer/round_trip.py "$so" || fail "ctypes round trip failed"

# The examples as liblzs-dev installs them, against the installed tree: a
# one-shot round trip, the streaming decoder over standard input (whole, and
# cut short), the streaming encoder, and one encoder over a folder.
cmake -S "$prefix/share/doc/liblzs-dev/examples" -B "$work/examples" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/examples" >/dev/null
ex=$work/examples
"$ex/round_trip" >/dev/null || fail "examples/round_trip failed"
"$work/cmake/consumer" "$input" "$work/ex.lzs" "$work/ex.out" >/dev/null || fail "no image for the examples"
if "$ex/stream_decode" <"$work/ex.lzs" >"$work/ex.stream" && cmp -s "$input" "$work/ex.stream"; then
  echo "consumer: examples/stream_decode: equal"
else
  fail "examples/stream_decode: output differs"
fi
head -c -1 "$work/ex.lzs" | "$ex/stream_decode" >/dev/null 2>&1 && fail "examples/stream_decode took a cut image"
# The streaming encoder, to a file and through a pipe: the image lzs -9 makes,
# which stream_decode unpacks.
"$ex/stream_encode" -9 "$work/ex.stream.lzs" <"$input" || fail "examples/stream_encode failed"
"$ex/stream_encode" -9 - <"$input" | cat >"$work/ex.pipe.lzs" || fail "examples/stream_encode to a pipe failed"
if cmp -s "$work/ex.stream.lzs" "$work/ex.pipe.lzs" && "$ex/stream_decode" <"$work/ex.stream.lzs" |
  cmp -s "$input" -; then
  echo "consumer: examples/stream_encode: equal"
else
  fail "examples/stream_encode: the image differs or does not unpack to the input"
fi
mkdir "$work/folder"
cp "$input" "$work/folder/a"
printf 'abcabcabcabc' >"$work/folder/b"
: >"$work/folder/empty"
if "$ex/pack_folder" "$work/folder" | grep -q '^3 files: '; then
  echo "consumer: examples/pack_folder: 3 files packed and checked"
else
  fail "examples/pack_folder failed"
fi

# The Windows SDK: lzs.dll, its import library and lzs.h under sdk/.
if [[ -f $build/windows/build.ninja ]]; then
  cmake --build "$build/windows" --target lzs_shared
  cmake --install "$build/windows" --prefix "$work/win" --component sdk >/dev/null
  sdk=$work/win/sdk
  for file in bin/lzs.dll lib/liblzs.dll.a include/lzs.h; do
    [[ -f $sdk/$file ]] || fail "Windows SDK lacks $file"
  done
  imports=$(x86_64-w64-mingw32-objdump -p "$sdk/bin/lzs.dll" | sed -n 's/^\tDLL Name: //p' | sort -u | tr '\n' ' ')
  echo "consumer: lzs.dll imports: $imports"
  for dll in $imports; do
    [[ $dll == KERNEL32.dll || $dll == msvcrt.dll ]] || fail "lzs.dll imports $dll"
  done
  exports=$(x86_64-w64-mingw32-objdump -p "$sdk/bin/lzs.dll" |
    sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^\t\[ *[0-9]*\] //p')
  [[ -n $exports ]] || fail "lzs.dll exports nothing"
  others=$(grep -v '^lzs_' <<<"$exports" || true)
  [[ -z $others ]] || fail "lzs.dll exports beside lzs_*: $others"
  x86_64-w64-mingw32-gcc -std=c99 -O2 -DLZS_DLL_IMPORT tests/consumer/consumer.c -I"$sdk/include" -L"$sdk/lib" -llzs \
    -o "$work/win/consumer.exe"
  cp "$sdk/bin/lzs.dll" "$input" "$work/win/"
  export WINEPREFIX=$root/$build/wine-consumer WINEDLLOVERRIDES=mscoree,mshtml= WINEDEBUG=-all
  if (cd "$work/win" && /usr/lib/wine/wine64 consumer.exe "$(basename "$input")" w.lzs w.out fast) 2>/dev/null &&
    cmp -s "$input" "$work/win/w.out"; then
    echo "consumer: lzs.dll under Wine: round trip equal"
  else
    fail "lzs.dll under Wine: round trip failed"
  fi
fi

[[ $status -eq 0 ]] && echo "consumer: all checks passed"
exit $status
