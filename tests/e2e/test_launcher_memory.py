"""lzs-launch.exe with LZS_MEMORY: the peak memory it reports for a run is
the program's own, so a run that decodes megabytes into its block shows
them, beside a run that opens nothing."""

import os
import re
import subprocess
import unittest

from e2e_case import ExeTestCase

PEAKS = re.compile(r"^peak working set (\d+) bytes, peak pagefile usage (\d+) bytes$", re.M)
DECODED_SIZE = 8_000_000


class LauncherMemoryTest(ExeTestCase):
    def peaks(self, command_line: str, exit_code: int) -> tuple[int, int]:
        result = self.run_exe(command_line, relay=False, extra_env={"LZS_MEMORY": "1"})
        self.assertEqual(result.exit_code, exit_code)
        found = PEAKS.findall(result.log)
        self.assertEqual(len(found), 1, result.log[-500:])
        return int(found[0][0]), int(found[0][1])

    def test_peaks_follow_the_decoded_size(self):
        source = self.write("zeros", bytes(DECODED_SIZE))
        subprocess.run([os.environ["LZS_PACK"], str(source), "-o", "zeros.lzs"], cwd=self.dir,
                       check=True, capture_output=True)
        source.unlink()
        working_set, pagefile = self.peaks('p /D"zeros.lzs" /O"zeros.out"', 0)
        self.assertEqual((self.dir / "zeros.out").stat().st_size, DECODED_SIZE)
        idle_working_set, idle_pagefile = self.peaks('p /D"missing.lzs"', 2)
        # Every decoded byte is written into fresh pages of the block.
        self.assertGreaterEqual(working_set - idle_working_set, DECODED_SIZE)
        self.assertGreaterEqual(pagefile - idle_pagefile, DECODED_SIZE)


if __name__ == "__main__":
    unittest.main()
