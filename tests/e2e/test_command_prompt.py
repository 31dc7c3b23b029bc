"""The Windows README's command lines for lzs-unpack.exe, run under Wine as a
user types them: the program in C:\\Tools\\lzs-unpack (and in C:\\My Tools\\...
for the line with a space in its path), the packed files in C:\\Data, the
current folder. A line typed at the prompt runs here as `cmd /c LINE` through
our launcher, with that exact command line; the outer cmd ends with the
code that %ERRORLEVEL% holds after the line. A batch line runs from a .cmd
file. Every README line that starts lzs-unpack.exe with /D"..." is a row."""

import os
import re
import shutil
import unittest
from dataclasses import dataclass
from pathlib import Path

import wine

SOURCE = Path(__file__).resolve().parents[2]
ERROR_FILE_NOT_FOUND = 2
ERROR_BAD_ARGUMENTS = 160

UNPACK = r'C:\Tools\lzs-unpack\lzs-unpack.exe /D"data.lzs"'
COMPLAINT = "data.lzs was not unpacked"
NOT_UNPACKED = "if errorlevel 1 echo " + COMPLAINT


@dataclass
class Row:
    name: str
    lines: list[str]         # typed at the prompt (one line) or the batch file's lines
    exit_code: int           # what %ERRORLEVEL% holds afterwards
    output: str | None       # the file written in C:\Data, holding sample.txt
    batch: bool = False
    inputs: bool = True      # C:\Data holds data.lzs and "my data.lzs"
    on_path: bool = False    # C:\Tools\lzs-unpack is on the PATH
    complains: bool = False  # the batch file prints COMPLAINT
    in_readme: bool = True


ROWS = [
    Row("cmd /c waits and hands on the exit code", ["cmd /c " + UNPACK], 0, "data.lzs.DeLZS"),
    Row("a missing input's code reaches %ERRORLEVEL%", ["cmd /c " + UNPACK], ERROR_FILE_NOT_FOUND,
        None, inputs=False),
    Row("the output named", ["cmd /c " + UNPACK + ' /O"data.bin"'], 0, "data.bin"),
    Row("a space in the program's path",
        [r'cmd /c ""C:\My Tools\lzs-unpack\lzs-unpack.exe" /D"my data.lzs""'], 0,
        "my data.lzs.DeLZS"),
    Row("the program found on the PATH", ['cmd /c lzs-unpack.exe /D"data.lzs"'], 0,
        "data.lzs.DeLZS", on_path=True),
    Row("a batch file waits by itself", [UNPACK, NOT_UNPACKED], 0, "data.lzs.DeLZS", batch=True),
    Row("a batch file sees the failure", [UNPACK, NOT_UNPACKED], ERROR_FILE_NOT_FOUND, None,
        batch=True, inputs=False, complains=True),
    # What the README warns of: start hands the program /Ddata.lzs.
    Row("start /wait loses the quotes", ["start /wait " + UNPACK], ERROR_BAD_ARGUMENTS, None,
        in_readme=False),
]


class CommandPromptTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls) -> None:
        cls.drive = wine.prefix_path() / "drive_c"
        cls.cmd = cls.drive / "windows" / "system32" / "cmd.exe"
        cls.readme = (Path(os.environ["LZS_WINDOWS_PACKAGING_DIR"]) / "README.txt").read_text()
        cls.folders = [cls.drive / "Tools", cls.drive / "My Tools", cls.drive / "Data"]
        for folder in ("Tools", "My Tools"):
            program = cls.drive / folder / "lzs-unpack" / "lzs-unpack.exe"
            program.parent.mkdir(parents=True, exist_ok=True)
            shutil.copy(wine.exe_path(), program)

    @classmethod
    def tearDownClass(cls) -> None:
        for folder in cls.folders:
            shutil.rmtree(folder, ignore_errors=True)

    def test_rows_are_the_readme_lines(self) -> None:
        shown = {line.strip() for line in self.readme.splitlines() if line.startswith("    ")}
        rows = {line for row in ROWS if row.in_readme for line in row.lines}
        self.assertLessEqual(rows, shown)
        self.assertLessEqual({line for line in shown
                              if re.search(r'lzs-unpack\.exe"? /D"(?!the file)', line)}, rows)

    def test_lines(self) -> None:
        data = self.drive / "Data"
        for row in ROWS:
            with self.subTest(row.name):
                shutil.rmtree(data, ignore_errors=True)
                data.mkdir()
                if row.inputs:
                    for name in ("data.lzs", "my data.lzs"):
                        shutil.copy(SOURCE / "samples" / "sample.lzs", data / name)
                before = sorted(p.name for p in data.iterdir())
                if row.batch:
                    (data / "unpack.cmd").write_text("\r\n".join(row.lines) + "\r\n")
                    before.append("unpack.cmd")
                    line = "cmd /c unpack.cmd"
                else:
                    [typed] = row.lines
                    line = "cmd /c " + typed
                extra = {"WINEPATH": r"C:\Tools\lzs-unpack"} if row.on_path else {}
                result = wine.run_exe(line, data, program=self.cmd, extra_env=extra)
                self.assertEqual(result.exit_code, row.exit_code, result.output)
                written = [row.output] if row.output else []
                self.assertEqual(sorted(p.name for p in data.iterdir()), sorted(before + written))
                if row.output:
                    self.assertEqual((data / row.output).read_bytes(),
                                     (SOURCE / "samples" / "sample.txt").read_bytes())
                printed = result.output.decode("latin-1").splitlines()
                self.assertEqual(COMPLAINT in printed, row.complains, result.output)


if __name__ == "__main__":
    unittest.main()
