"""Bad input through the native program: every case of bad_input_cases.py
run through build/native/lzs-unpack (the path is the first
argument), with its ending, exit code, notice (on standard error) and the
files it leaves.

A read-only folder does not stop root, so when the test runs as root the
run of that case is made as the user nobody.
"""

from __future__ import annotations

import os
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import bad_input_cases as cases  # noqa: E402

PROGRAM: Path | None = None
NOBODY = 65534


def as_nobody() -> None:
    os.setgroups([])
    os.setgid(NOBODY)
    os.setuid(NOBODY)


class BadInputNative(unittest.TestCase):
    def run_case(self, case: cases.Case) -> None:
        with tempfile.TemporaryDirectory() as temp:
            base = Path(temp)
            work = base / "work"
            work.mkdir()
            program = PROGRAM
            drop = case.read_only_folder is not None and os.geteuid() == 0
            if drop:
                # The copy and the folders must be usable by nobody.
                program = base / "lzs-unpack"
                shutil.copy(PROGRAM, program)
                base.chmod(0o755)
                work.chmod(0o777)
            layout = cases.lay_out(case, work)
            try:
                # The shell would remove the quotes. The program's own path
                # is scanned too, so it is given as a bare name: the build
                # folder's path might hold a /D or /O.
                arguments = [a.replace('"', "") for a in case.arguments()]
                result = subprocess.run(["lzs-unpack", *arguments], executable=str(program),
                                        cwd=work,
                                        capture_output=True, timeout=60,
                                        preexec_fn=as_nobody if drop else None)
                ending, code = case.expectation("native")
                self.assertEqual(result.returncode, code, result.stderr.decode(errors="replace"))
                notice = cases.NOTICE_FIRST_LINE[ending]
                if notice is None:
                    self.assertEqual(result.stderr, b"", "a notice where none is due")
                else:
                    self.assertIn(notice, result.stderr, "the notice of the ending is missing")
                self.assertEqual(result.stdout, b"")
                cases.check_files(self, case, layout, ending)
            finally:
                cases.release(case, layout)

    def test_cases(self) -> None:
        for case in cases.CASES:
            with self.subTest(case.name):
                self.run_case(case)


if __name__ == "__main__":
    PROGRAM = Path(sys.argv.pop(1)).resolve()
    unittest.main()
