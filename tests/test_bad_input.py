"""Bad input through the native program: every case of bad_input_cases.py,
the native ones included, run through a copy of build/native/lzs-unpack
(the path is the first argument) by its absolute path, with its ending, exit
code, notice (on standard error) and the files it leaves.

A read-only folder does not stop root, so when the test runs as root the
run of that case is made as the user nobody.
"""

from __future__ import annotations

import os
import resource
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


def preparation(case: cases.Case, drop: bool):
    """What the child does before it starts the program: the case's file size
    limit, then, with drop, the change to the user nobody."""
    def prepare() -> None:
        if case.file_size_limit is not None:
            resource.setrlimit(resource.RLIMIT_FSIZE, (case.file_size_limit,) * 2)
        if drop:
            as_nobody()
    return prepare


class BadInputNative(unittest.TestCase):
    def run_case(self, case: cases.Case) -> None:
        with tempfile.TemporaryDirectory() as temp:
            base = Path(temp)
            work = base / "work"
            work.mkdir()
            # Started by an absolute path under a folder named Downloads: the
            # program's path on the command line must not count as /D.
            program = base / "Downloads" / "lzs-unpack"
            program.parent.mkdir()
            shutil.copy(PROGRAM, program)
            drop = case.read_only_folder is not None and os.geteuid() == 0
            if drop:
                # The copy and the folders must be usable by nobody.
                base.chmod(0o755)
                program.parent.chmod(0o755)
                work.chmod(0o777)
            layout = cases.lay_out(case, work)
            try:
                # The shell would remove the quotes. No case may block: there
                # is no timeout.
                arguments = [a.replace('"', "") for a in case.arguments()]
                result = subprocess.run([str(program), *arguments], cwd=work,
                                        capture_output=True,
                                        preexec_fn=preparation(case, drop))
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
        for case in cases.CASES + cases.NATIVE_CASES:
            with self.subTest(case.name):
                self.run_case(case)


if __name__ == "__main__":
    PROGRAM = Path(sys.argv.pop(1)).resolve()
    unittest.main()
