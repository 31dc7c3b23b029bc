#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests and the benchmarks
# need. Run as root.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq \
  cmake ninja-build g++ clang libclang-rt-14-dev googletest libgtest-dev \
  libbenchmark-dev liblz4-dev lz4 g++-mingw-w64-x86-64 wine64 xvfb xdotool \
  x11-apps imagemagick python3 valgrind cppcheck clang-tidy clang-format hyperfine \
  e2fsprogs time lintian pkg-config unzip \
  python3-dev python3-setuptools python3-wheel python3-venv python3-pytest \
  llvm wixl msitools faketime >/dev/null
