"""The test list of the unit test binary (its first argument) names every
parametrized case: a value that GoogleTest can only dump as bytes (heap
addresses included) would make the ctest names unreadable and different
from run to run."""

import subprocess
import sys

listing = subprocess.run([sys.argv[1], "--gtest_list_tests"], capture_output=True, text=True,
                         check=True).stdout
dumped = [line.strip() for line in listing.splitlines() if "-byte object <" in line]
for line in dumped[:5]:
    print("dumped, not named:", line[:120], file=sys.stderr)
if dumped:
    print(f"{len(dumped)} cases in all", file=sys.stderr)
sys.exit(1 if dumped else 0)
