#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests and the benchmarks
# need. Run as root.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
# arm64 libraries beside the amd64 ones (multiarch), for the arm64 build.
dpkg --add-architecture arm64
apt-get update -qq
apt-get install -y -qq \
  cmake ninja-build g++ clang libclang-rt-14-dev googletest libgtest-dev \
  libbenchmark-dev liblz4-dev lz4 g++-mingw-w64-x86-64 wine64 xvfb xdotool \
  x11-apps imagemagick python3 valgrind cppcheck clang-tidy clang-format hyperfine \
  e2fsprogs time lintian pkg-config unzip \
  python3-dev python3-setuptools python3-wheel python3-wheel-whl python3-venv python3-pytest python3-mypy \
  clang-14 lld-14 wasi-libc libc++-14-dev-wasm32 libclang-rt-14-dev-wasm32 binaryen chromium firefox-esr nodejs \
  llvm wixl msitools faketime python3-distributed \
  crossbuild-essential-arm64 qemu-user-static libstdc++6:arm64 libgtest-dev:arm64 libpython3.11-dev:arm64 \
  >/dev/null

# lzs.html: its build script and browser tests take fflate and
# playwright-core and puppeteer-core from web/package-lock.json (npm from Debian where node
# came without it).
command -v npm >/dev/null || apt-get install -y -qq npm >/dev/null
npm ci --prefix "$(dirname "$0")/../web" --no-audit --no-fund >/dev/null

# Node 18, the oldest Node the npm package is for, beside the system's node
# for the package test: Debian's nodejs 18 unpacked into /opt/lzs-node18
# (its JavaScript parts installed as packages), so nothing replaces node.
apt-get install -y -qq --no-install-recommends node-acorn node-cjs-module-lexer node-undici >/dev/null
node18=/opt/lzs-node18
if ! "$node18/node" --version >/dev/null 2>&1; then
  version=$(apt-cache madison nodejs | awk '$3 ~ /^18\./ { print $3; exit }')
  debs=$(mktemp -d)
  (cd "$debs" && apt-get download -qq "nodejs=$version" "libnode108=$version" 2>/dev/null)
  rm -rf "$node18" && mkdir -p "$node18"
  for deb in "$debs"/*.deb; do dpkg -x "$deb" "$node18/root"; done
  rm -rf "$debs"
  lib=$node18/root/usr/lib/$(gcc -print-multiarch)
  printf '#!/bin/sh\nLD_LIBRARY_PATH=%s${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH} exec %s "$@"\n' \
    "$lib" "$node18/root/usr/bin/node" >"$node18/node"
  chmod 755 "$node18/node"
fi
