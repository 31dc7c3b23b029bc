"""Bad input through the Windows program under Wine: every case of
tests/bad_input_cases.py, run with an exact command line through the
launcher and a relay log, with its ending, exit code, notice (the text the
program decodes for MessageBoxW) and the files it leaves.

There is no display, so a notice box fails at once and the run goes on to
its end; the notice is read from its decoding in the log. Wine runs
as root here, so a read-only folder is also made immutable (chattr +i).
"""

from __future__ import annotations

import os
import shutil
import subprocess
import sys
import unittest
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
sys.path.insert(0, str(HERE.parent))
import bad_input_cases as cases  # noqa: E402
import wine  # noqa: E402
from e2e_case import notice_texts  # noqa: E402


class BadInputWine(unittest.TestCase):
    def run_case(self, index: int, case: cases.Case) -> None:
        work = wine.work_path() / "bad_input" / str(index)
        if work.exists():
            # Left by a run that was killed: a locked folder may still be immutable.
            if os.geteuid() == 0:
                subprocess.run(["chattr", "-R", "-i", str(work)], check=False,
                               stderr=subprocess.DEVNULL)
            shutil.rmtree(work)
        work.mkdir(parents=True)
        layout = cases.lay_out(case, work, immutable=os.geteuid() == 0)
        try:
            command_line = " ".join(["lzs-unpack.exe", *case.arguments()])
            result = wine.run_exe(command_line, work, relay=True)
            ending, code = case.expectation("wine")
            self.assertEqual(result.exit_code, code, f"exit code of {command_line[:80]}")
            notices = notice_texts(result)
            notice = cases.NOTICE_FIRST_LINE[ending]
            if notice is None:
                self.assertEqual(notices, [], "a notice where none is due")
            else:
                self.assertEqual(len(notices), 1, "one notice expected")
                self.assertTrue(notices[0].startswith(notice + b"\r\n"),
                                f"wrong notice: {notices[0][:60]!r}")
            cases.check_files(self, case, layout, ending)
        finally:
            cases.release(case, layout)
        shutil.rmtree(work)

    def test_cases(self) -> None:
        for index, case in enumerate(cases.CASES):
            with self.subTest(case.name):
                self.run_case(index, case)


if __name__ == "__main__":
    unittest.main()
