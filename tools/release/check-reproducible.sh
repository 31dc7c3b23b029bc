#!/usr/bin/env bash
# Checks that the release build is reproducible: clones the sources into two
# folders whose paths differ in name and length, lays the working tree's
# changes over each clone (so uncommitted work is checked too), builds the
# release workflow in each, some seconds apart and under another time zone and
# locale, installs the native, the Windows and the arm64 trees, and compares
# every installed file byte for byte: lzs-unpack.exe, lzs-pack.exe, the native
# and the arm64 programs, the man pages and whatever else is installed, and the
# packages.
#
#   tools/release/check-reproducible.sh [--first-built] [WORK_DIR]
#
# With --first-built, the first build is the one already in this tree's
# build/release (as tools/ci/release.sh has just made it with the release
# workflow, in its own folder, time zone and locale), and only the second is
# made here.
# WORK_DIR defaults to build/reproducible. Exit code 0 when both builds are
# identical, 1 when any file differs or is missing from one of them.
# SOURCE_DATE_EPOCH is left to the build (the last commit's time), so that a
# time stamped by a tool that ignores it shows up as a difference.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
first_built=false
if [ "${1:-}" = --first-built ]; then
  first_built=true
  shift
fi
work=${1:-$source_dir/build/reproducible}
mkdir -p "$work"
work=$(cd "$work" && pwd)
builds=("$work/a" "$work/second/build-from-a-longer-path")
environments=("TZ=UTC LC_ALL=C" "TZ=Asia/Tokyo LC_ALL=C.UTF-8")
unset SOURCE_DATE_EPOCH

# install_release SOURCE INSTALL: the packages of SOURCE's release build and
# its native, Windows and arm64 trees, installed, under INSTALL.
install_release() {
  (cd "$1" &&
     mkdir -p "$2/packages" &&
     find build/release/packages -maxdepth 1 -type f -exec cp -t "$2/packages" {} + &&
     # The native tree at its own prefix (/usr), which lzs.pc names.
     DESTDIR="$2/native" cmake --install build/release >/dev/null &&
     DESTDIR="$2/arm64" cmake --install build/release/arm64 >/dev/null &&
     cmake --install build/release/windows --prefix "$2/windows" >/dev/null)
}

rm -rf "$work/a" "$work/second"
to_build=(0 1)
if $first_built; then
  echo "== the first build: $source_dir/build/release"
  install_release "$source_dir" "${builds[0]}/install"
  to_build=(1)
fi
for k in "${to_build[@]}"; do
  build=${builds[$k]}
  git clone -q "$source_dir" "$build/src"
  (cd "$source_dir" && git ls-files -z --cached --others --exclude-standard |
     while IFS= read -r -d '' file; do [ -e "$file" ] && printf '%s\0' "$file"; done |
     xargs -0 cp --parents -t "$build/src")
  [ "$k" -eq 0 ] || sleep 2  # a link time in seconds would differ
  echo "== building in $build (${environments[$k]})"
  (cd "$build/src" && export ${environments[$k]} && cmake --workflow --preset release >/dev/null)
  install_release "$build/src" "$build/install"
done

first=${builds[0]}/install
second=${builds[1]}/install
status=0
while IFS= read -r file; do
  if [ ! -f "$second/$file" ]; then
    echo "only in the first build: $file"
    status=1
  elif cmp -s "$first/$file" "$second/$file"; then
    printf 'identical  %s  %8d bytes  %s\n' "$(sha256sum <"$first/$file" | cut -c1-16)" \
      "$(stat -c %s "$first/$file")" "$file"
  else
    echo "DIFFERENT  $file"
    status=1
  fi
done < <(cd "$first" && find . -type f | sort)
while IFS= read -r file; do
  [ -f "$first/$file" ] || { echo "only in the second build: $file"; status=1; }
done < <(cd "$second" && find . -type f | sort)

if [ "$status" -eq 0 ]; then
  echo "reproducible: both builds made the same $(cd "$first" && find . -type f | wc -l) files"
else
  echo "NOT reproducible" >&2
fi
exit "$status"
