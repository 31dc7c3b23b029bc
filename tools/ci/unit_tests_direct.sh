#!/usr/bin/env bash
# The unit and run tests as one run of their binary, outside ctest (which
# starts each test in a process of its own), so that no test depends on
# running alone. Needs the native build (cmake --workflow --preset test).
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
"$root/build/native/tests/unit_tests" --gtest_brief=1
