#!/usr/bin/env bash
# The unit and run tests as one run of their binary, outside ctest (which
# starts each test in a process of its own), so that no test depends on
# running alone, and again on the decoder's scalar path. Needs the native
# build (cmake --workflow --preset test).
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
"$root/build/native/tests/unit_tests" --gtest_brief=1

# Once more with the decoder forced onto its scalar path (the differential
# tests run every path this machine has whatever the setting; everything
# else then decodes on the scalar one).
LZS_SIMD=scalar "$root/build/native/tests/unit_tests" --gtest_brief=1
