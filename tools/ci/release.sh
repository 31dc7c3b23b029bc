#!/usr/bin/env bash
# CI: the release packages, used as their users would use them. Builds the
# release with its preset, whose last step checks the packages folder against
# packaging/release-files.txt (the zip, the msi, the debs, the Python source
# package and wheels, lzs.html, the npm package and SHA256SUMS, and what each
# package holds); checks that one more build in another folder is identical;
# installs each wheel in every Python the build found, and the source package;
# installs the debs and runs both programs from PATH on the bundled sample and
# the module from Debian's python3; runs the arm64 debs' programs and library
# and the module of the arm64 deb and wheel under qemu-aarch64-static, in
# Debian's arm64 libpython; runs lintian on the debs; runs the zip's programs
# under Wine and installs, uses and uninstalls the msi there. Run as root; the
# debs are removed again at the end.
set -euo pipefail
cd "$(dirname "$0")/../.."
source_dir=$PWD

version=$(sed -n 's/^project(lzs_unpack VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
packages=$source_dir/build/release/packages
deb=$packages/lzs-unpack_${version}_amd64.deb
libdebs=("$packages/liblzs1_${version}_amd64.deb" "$packages/liblzs-dev_${version}_amd64.deb")
zip=$packages/lzs-unpack-${version}-win64.zip
msi=$packages/lzs-unpack-${version}-x64.msi
pydeb=$packages/python3-lzs_${version}_amd64.deb
arm64_debs=("$packages"/{lzs-unpack,liblzs1,liblzs-dev,python3-lzs}_"${version}"_arm64.deb)

rm -rf "$packages"
cmake --workflow --preset release
(cd "$packages" && sha256sum -c SHA256SUMS && ls -l)
# lzs.html beside the packages and in the zip, the same bytes in both.
[ "$(unzip -p "$zip" lzs.html | sha256sum)" = "$(sha256sum < "$packages/lzs.html")" ] ||
  { echo "the zip's lzs.html is not the one beside the packages" >&2; exit 1; }

# The build just made against one more, from another folder.
tools/release/check-reproducible.sh --first-built

echo "== the Python packages: each wheel in every Python the build found, the source package"
LZS_PYTHON_DIST=$packages LZS_VERSION=$version LZS_LIBRARY=$source_dir/build/release/liblzs/liblzs.so.1 \
  LZS_TEST_PYTHONS=$(sed -n 's/^LZS_PYTHON3_[0-9]*:FILEPATH=//p' build/release/CMakeCache.txt | paste -sd:) \
  PYTHONDONTWRITEBYTECODE=1 /usr/bin/python3 python/tests/test_packages.py

work=$source_dir/build/release/ci
rm -rf "$work"
mkdir -p "$work/deb" "$work/zip"

echo "== the deb: installed, programs from PATH"
trap 'apt-get remove -y -qq lzs-unpack liblzs-dev liblzs1 python3-lzs >/dev/null 2>&1 || true' EXIT
apt-get install -y -qq "$deb" "${libdebs[@]}" "$pydeb" >/dev/null
[ "$(pkg-config --modversion lzs)" = "$version" ]
[ -f "/usr/lib/$(gcc -print-multiarch)/liblzs.so.1" ]
[ "$(command -v lzs-unpack)" = /usr/bin/lzs-unpack ]
[ "$(lzs-pack --version)" = "lzs-pack $version" ]
cp samples/sample.lzs "$work/deb/"
(cd "$work/deb" &&
   lzs-unpack /D"sample.lzs" &&
   cmp sample.lzs.DeLZS "$source_dir/samples/sample.txt" &&
   lzs-pack sample.lzs.DeLZS -o repacked.lzs &&
   lzs-unpack /D"repacked.lzs" /O"repacked.txt" &&
   cmp repacked.txt "$source_dir/samples/sample.txt" &&
   cp sample.lzs batch.lzs && lzs -d batch.lzs && cmp batch "$source_dir/samples/sample.txt" &&
   lzs -l batch.lzs)
for page in lzs-unpack lzs-pack lzs; do
  man -P cat "$page" 2>/dev/null | grep -q "lzs-unpack $version" ||
    { echo "man $page does not show version $version" >&2; exit 1; }
done
echo "unpacked, packed and unpacked again; man pages found"
# lzscat and unlzs beside lzs, their man pages, the completion and the
# users' README.
[ "$(readlink /usr/bin/lzscat)" = lzs ] && [ "$(readlink /usr/bin/unlzs)" = lzs ]
(cd "$work/deb" && lzscat batch.lzs | cmp - "$source_dir/samples/sample.txt" &&
   rm batch && unlzs batch.lzs && cmp batch "$source_dir/samples/sample.txt")
for page in lzscat unlzs; do
  man -P cat "$page" 2>/dev/null | grep -q "lzs-unpack $version" ||
    { echo "man $page does not show lzs(1)" >&2; exit 1; }
done
for program in lzs lzscat unlzs lzs-pack lzs-unpack; do
  [ -f "/usr/share/bash-completion/completions/$program" ] ||
    { echo "no bash completion for $program" >&2; exit 1; }
done
[ "$(bash -c 'source /usr/share/bash-completion/completions/lzs; COMP_WORDS=(lzs --de); COMP_CWORD=1
  _lzs; echo "${COMPREPLY[*]}"')" = --decompress ]
! grep -n 'build/' /usr/share/doc/lzs-unpack/README.md
echo "lzscat, unlzs, their man pages, bash completion and the README installed"
# The test build's record of platform calls leaves nothing in the program.
if strings -a /usr/bin/lzs-unpack | grep -E '(CreateFileA|WriteFile|ExitProcess)\('; then
  echo "lzs-unpack holds the text of the test build's call record" >&2
  exit 1
fi

echo "== python3-lzs: the module for Debian's python3"
(cd "$work/deb" && env -u PYTHONPATH /usr/bin/python3 -I - "$version" <<'PY'
import sys
import lzs
assert lzs.__file__.startswith("/usr/lib/python3/dist-packages/lzs/"), lzs.__file__
import importlib.metadata
assert lzs.__version__ == lzs.library_version() == importlib.metadata.version("lzs") == sys.argv[1]
data = open("sample.lzs.DeLZS", "rb").read()
assert lzs.decompress(open("sample.lzs", "rb").read()) == data
with lzs.open("module.lzs", "wb") as out:
    out.write(data)
with lzs.open("module.lzs") as packed:
    assert packed.read() == data
PY
)
lzs-unpack /D"$work/deb/module.lzs" /O"$work/deb/module.txt"
cmp "$work/deb/module.txt" samples/sample.txt
echo "import lzs: unpacked the sample and packed it again"

echo "== the arm64 packages and wheel under qemu-aarch64-static"
# Unpacked into a folder of their own (an arm64 deb does not install here):
# the programs on the sample, a program built against liblzs1 and
# liblzs-dev, and the module of python3-lzs and of the aarch64 wheel in
# Debian's arm64 libpython, under a main of ours.
qemu=qemu-aarch64-static
arm64=$work/arm64
mkdir -p "$arm64/run" "$arm64/wheel"
for package in "${arm64_debs[@]}"; do
  [ "$(dpkg-deb -f "$package" Architecture)" = arm64 ] || { echo "$package is not for arm64" >&2; exit 1; }
  dpkg-deb -x "$package" "$arm64/root"
done
root=$arm64/root
cp samples/sample.lzs "$arm64/run/"
(cd "$arm64/run" &&
   $qemu "$root/usr/bin/lzs-unpack" /D"sample.lzs" && cmp sample.lzs.DeLZS "$source_dir/samples/sample.txt" &&
   $qemu "$root/usr/bin/lzs-pack" sample.lzs.DeLZS -o repacked.lzs &&
   $qemu "$root/usr/bin/lzs" -d -c repacked.lzs | cmp - "$source_dir/samples/sample.txt" &&
   [ "$($qemu "$root/usr/bin/lzs" --version)" = "lzs $version (liblzs $version)" ])
libdir=$root/usr/lib/aarch64-linux-gnu
aarch64-linux-gnu-gcc -std=c99 -O2 tests/consumer/consumer.c -I"$root/usr/include" -L"$libdir" -llzs \
  -o "$arm64/consumer"
LD_LIBRARY_PATH=$libdir $qemu "$arm64/consumer" samples/sample.txt "$arm64/run/c.lzs" "$arm64/run/c.txt"
cmp "$arm64/run/c.txt" samples/sample.txt
aarch64-linux-gnu-gcc tests/support/python_main.c -I/usr/include/python3.11 -lpython3.11 -o "$arm64/python3"
unzip -q "$packages/lzs-$version-cp311-abi3-manylinux_2_17_aarch64.whl" -d "$arm64/wheel"
for site in "$root/usr/lib/python3/dist-packages" "$arm64/wheel"; do
  (cd "$arm64/run" && $qemu "$arm64/python3" -I -c '
import sys, platform
sys.path.insert(0, sys.argv[1])
import lzs
assert platform.machine() == "aarch64" and lzs.__file__.startswith(sys.argv[1]), lzs.__file__
assert lzs.__version__ == sys.argv[2]
data = open("sample.lzs.DeLZS", "rb").read()
assert lzs.decompress(open("sample.lzs", "rb").read()) == data == lzs.decompress(lzs.compress(data))
' "$site" "$version")
done
echo "the arm64 programs, liblzs.so.1, python3-lzs and the aarch64 wheel unpacked and packed the sample"

echo "== the npm package lzs: installed from its tarball, used from Node"
mkdir -p "$work/npm" && echo '{"private": true}' > "$work/npm/package.json"
(cd "$work/npm" && npm install --offline --no-audit --no-fund "$packages/lzs-$version.tgz" >/dev/null &&
   node --input-type=module - "$version" "$source_dir/samples/sample.lzs" "$source_dir/samples/sample.txt" <<'JS'
import assert from "node:assert/strict";
import { readFileSync } from "node:fs";
import { compress, decompress, libraryVersion, ready } from "lzs";
const [version, image, text] = process.argv.slice(2);
await ready;
assert.equal(libraryVersion(), version);
const data = decompress(readFileSync(image));
assert.ok(readFileSync(text).equals(data));
assert.ok(readFileSync(text).equals(decompress(compress(data))));
JS
)
echo "the npm package: unpacked the sample and packed it again"

echo "== lintian"
# Errors and warnings fail; a warning that does not apply is overridden,
# with the reason, in the package's lintian overrides.
lintian --display-info --fail-on error,warning "$deb" "${libdebs[@]}" "$pydeb" "${arm64_debs[@]}"

echo "== the zip under Wine"
unzip -q "$zip" -d "$work/zip"
! grep -qv $'\r$' "$work/zip/README.txt"  # every line ends in CR LF
# Its exe: version resource, manifest, imports, size, no link time.
LZS_EXE=$work/zip/lzs-unpack.exe LZS_VERSION=$version PYTHONDONTWRITEBYTECODE=1 \
  python3 tests/e2e/test_release_exe.py
# Every file's version resource and manifest; the SDK's import library.
zip_files=(LZS_EXE="$work/zip/lzs-unpack.exe" LZS_CLI_EXE="$work/zip/lzs.exe"
           LZS_PACK_EXE="$work/zip/lzs-pack.exe" LZS_DLL="$work/zip/sdk/bin/lzs.dll"
           LZS_SDK_LIB_DIR="$work/zip/sdk/lib" LZS_HEADER="$work/zip/sdk/include/lzs.h"
           LZS_VERSION="$version" PYTHONDONTWRITEBYTECODE=1)
env "${zip_files[@]}" python3 tests/e2e/test_windows_files.py VersionTest SdkTest
export WINEPREFIX=$source_dir/build/release/wineprefix WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all
unset DISPLAY  # a notice, if one were due, does not wait for a click
wine=/usr/lib/wine/wine64
[ -d "$WINEPREFIX" ] || "$wine" wineboot -i >/dev/null 2>&1
cp samples/sample.lzs "$work/zip/"
exe=Z:${work//\//\\}\\zip\\lzs-unpack.exe
result=$(cd "$work/zip" &&
  LZS_PROGRAM=$exe LZS_COMMAND_LINE='lzs-unpack.exe /D"sample.lzs" /O"sample from zip.txt"' \
  "$wine" "$source_dir/build/release/windows/lzs-launch.exe")
[ "$result" = "exit code 0" ] || { echo "lzs-unpack.exe: $result" >&2; exit 1; }
cmp "$work/zip/sample from zip.txt" samples/sample.txt
(cd "$work/zip" && "$wine" lzs-pack.exe "sample from zip.txt" -o again.lzs)
(cd "$work/zip" && lzs-unpack /D"again.lzs" /O"again.txt" && cmp again.txt "$source_dir/samples/sample.txt")
(cd "$work/zip" && "$wine" lzs.exe -d -o "batch.txt" again.lzs && cmp batch.txt "$source_dir/samples/sample.txt")
echo "the zip's lzs-unpack.exe unpacked the sample under Wine; its lzs-pack.exe packed it again"

echo "== the msi under Wine"
# Installed for the user, its files (those of the zip), keys and PATH entry
# read back, its Unpack verb run, and uninstalled (tests/e2e/test_installer.py),
# in this prefix (LZS_E2E_DIR/wineprefix) with a server kept running
# meanwhile; and a program built against the zip's SDK, linked with lzs.lib.
# The tests' own start makes the prefixes and the work folder, and lets a
# process without pipes start Wine's services (else they would hold a test's
# captured output open until the server ends).
/usr/lib/wine/wineserver64 -k || true
/usr/lib/wine/wineserver64 -w
env "${zip_files[@]}" LZS_E2E_DIR="$source_dir/build/release" python3 tests/e2e/wine.py start
status=0
env "${zip_files[@]}" LZS_MSI="$msi" LZS_WINDOWS_PACKAGING_DIR="$work/zip" LZS_WEB_PAGE="$work/zip/lzs.html" \
  LZS_LAUNCHER="$source_dir/build/release/windows/lzs-launch.exe" LZS_E2E_DIR="$source_dir/build/release" \
  python3 tests/e2e/test_installer.py || status=1
env "${zip_files[@]}" LZS_E2E_DIR="$source_dir/build/release" \
  python3 tests/e2e/test_windows_files.py SdkLinkTest || status=1
env "${zip_files[@]}" LZS_E2E_DIR="$source_dir/build/release" python3 tests/e2e/wine.py stop  # pass or fail
[ "$status" -eq 0 ]
echo "the msi installed, unpacked through its verb and uninstalled; a program linked with lzs.lib ran"
