"""Bad input through the whole program: the cases that the native test
(tests/test_bad_input.py) and the Wine test (tests/e2e/test_bad_input.py)
both run, those the native test alone runs, and the checks that are the
same for both.

Each case lays out a fresh work folder (the input, maybe an existing output
file, maybe a read-only folder), names the input and output, and says how
the run must end on each platform: the ending, which decides the notice,
and the exit code. After the run, whatever the ending:
  - the input is unchanged (bytes and modification time);
  - a refused input leaves no output file, and an output file that existed
    before keeps its bytes;
  - nothing else appears in the work folder.
"""

from __future__ import annotations

import dataclasses
import os
import random
import socket
import stat
import subprocess
from pathlib import Path

from expected_notices import notice
from support.lzs_images import WORKED_EXAMPLE, WORKED_EXAMPLE_DECODED, literal_image, with_header

# The endings and the first line of the notice each shows (None: no notice),
# ASCII in both the Windows and the native form.
NOTICE_FIRST_LINE = {
    "success": None,
    "silent": None,
    "format": notice("format error").split("\n")[0].encode("ascii"),
    "general": notice("general error").split("\n")[0].encode("ascii"),
}

# Exit codes (Windows error codes).
ACCESS_DENIED = 5
SHARING_VIOLATION = 32
NOT_SUPPORTED = 50  # natively: a FIFO, a socket or a device, not a file
FILE_TOO_LARGE = 223
INVALID_DATA = 13  # the format-error ending
HANDLE_EOF = 38  # an empty input
BAD_ARGUMENTS = 160  # a refused command line
FILE_NOT_FOUND = 2
FILENAME_EXCED_RANGE = 206


def random_bytes(count: int, seed: int) -> bytes:
    return bytes(random.Random(seed).getrandbits(8) for _ in range(count))


LARGE_DATA = random_bytes(20000, 6)
LARGE_IMAGE = literal_image(LARGE_DATA)


def name_of_length(length: int, stem: str = "n") -> str:
    """A relative file name of exactly `length` characters, in folders of at
    most 200 characters so that every part is a legal Unix file name."""
    parts = []
    left = length
    while left > 201:
        parts.append(stem * 200)
        left -= 201
    parts.append(stem * left)
    name = "/".join(parts)
    assert len(name) == length
    return name


@dataclasses.dataclass
class Case:
    name: str
    # The input file's bytes, or None for a folder given as input.
    contents: bytes | None = WORKED_EXAMPLE
    # The input's name, relative to the work folder.
    input_name: str = "in.lzs"
    # Whether the input is laid out at all (a name can also refer to nothing).
    create_input: bool = True
    # The /O name, or None for none (the default name then).
    output_name: str | None = "out.bin"
    # A folder, relative to the work folder, made read-only before the run.
    read_only_folder: str | None = None
    # Bytes of a file of the output name that exists before the run.
    existing_output: bytes | None = None
    # (ending, exit code) on the native build and under Wine.
    native: tuple[str, int] = ("format", INVALID_DATA)
    wine: tuple[str, int] | None = None  # None: as native
    # The decoded bytes for a success.
    expected_output: bytes | None = None
    # Natively only: the input or the output is a "fifo", a "socket" or a
    # "device" (a link to one) in place of a file.
    special_input: str | None = None
    special_output: str | None = None
    # Natively only: the file size limit (ulimit -f) of the run, in bytes.
    file_size_limit: int | None = None

    def expectation(self, platform: str) -> tuple[str, int]:
        if platform == "wine" and self.wine is not None:
            return self.wine
        return self.native

    def output_path(self) -> str:
        """The output name the run uses, the default one included."""
        return self.output_name if self.output_name is not None else self.input_name + ".DeLZS"

    def arguments(self) -> list[str]:
        """The options as they stand on the command line, with their quotes."""
        options = [f'/D"{self.input_name}"']
        if self.output_name is not None:
            options.append(f'/O"{self.output_name}"')
        return options


FORMAT = ("format", INVALID_DATA)

CASES = [
    Case("truncated by one byte", WORKED_EXAMPLE[:-1]),
    Case("truncated to the header", WORKED_EXAMPLE[:4]),
    Case("large image truncated", LARGE_IMAGE[:-100]),
    Case("one byte appended", WORKED_EXAMPLE + b"\x00"),
    Case("bytes appended to a large image", LARGE_IMAGE + b"appended"),
    Case("header one too large", with_header(WORKED_EXAMPLE[4:], +1)),
    Case("header one too small", with_header(WORKED_EXAMPLE[4:], -1)),
    Case("one byte", b"\x01"),
    Case("random bytes", random_bytes(3000, 1)),
    Case("random bytes, default output name", random_bytes(777, 2), output_name=None),
    Case("refused input keeps an existing output", WORKED_EXAMPLE + b"\x00",
         existing_output=b"keep me"),
    Case("payload of one flag byte", with_header(b"\x01")),
    Case("empty input", b"", native=("general", HANDLE_EOF)),
    Case("directory as input", None, input_name="folder.lzs",
         native=("silent", ACCESS_DENIED)),
    Case("missing input", input_name="missing.lzs", create_input=False,
         native=("silent", FILE_NOT_FOUND)),
    # 512 characters do not fit a name buffer: refused by the scan.
    Case("input name of 512 characters", input_name=name_of_length(512),
         native=("silent", BAD_ARGUMENTS)),
    Case("output name of 512 characters", output_name=name_of_length(512, "o"),
         native=("silent", BAD_ARGUMENTS)),
    # 511 characters fit, but the default name needs six more.
    Case("input name of 511 characters, default output", input_name=name_of_length(511),
         output_name=None, native=("silent", BAD_ARGUMENTS)),
    # 511 characters with /O fit; the name refers to nothing, so the open
    # fails. Windows names are limited to 260 characters, so under Wine the
    # open fails on the length first.
    Case("input name of 511 characters to nothing", input_name=name_of_length(511),
         create_input=False, native=("silent", FILE_NOT_FOUND),
         wine=("silent", FILENAME_EXCED_RANGE)),
    # The same names of the longest lengths, of real files: taken whole.
    Case("input name of 511 characters", input_name=name_of_length(511),
         native=("success", 0), wine=("silent", FILENAME_EXCED_RANGE),
         expected_output=WORKED_EXAMPLE_DECODED),
    Case("input name of 505 characters, default output of 511", input_name=name_of_length(505),
         output_name=None, native=("success", 0), wine=("silent", FILENAME_EXCED_RANGE),
         expected_output=WORKED_EXAMPLE_DECODED),
    Case("output in a read-only folder", LARGE_IMAGE, output_name="locked/out.bin",
         read_only_folder="locked", native=("general", ACCESS_DENIED)),
    Case("a good image, for comparison", LARGE_IMAGE, native=("success", 0),
         expected_output=LARGE_DATA),
]


# Cases of the native program only: files that are not regular files, which
# are refused before any read or write, and limits that a Windows process
# does not have.
NATIVE_CASES = [
    Case("FIFO as input", special_input="fifo", native=("silent", NOT_SUPPORTED)),
    Case("socket as input", special_input="socket", native=("silent", NOT_SUPPORTED)),
    Case("device as input", special_input="device", native=("silent", NOT_SUPPORTED)),
    Case("FIFO as output", special_output="fifo", native=("general", NOT_SUPPORTED)),
    Case("socket as output", special_output="socket", native=("general", NOT_SUPPORTED)),
    Case("full device as output", special_output="device", native=("general", NOT_SUPPORTED)),
    Case("output beyond the file size limit", LARGE_IMAGE, file_size_limit=8192,
         native=("general", FILE_TOO_LARGE)),
]


# --------------------------------------------------------------------------
# Laying out a case and checking what is left


@dataclasses.dataclass
class Layout:
    folder: Path
    before: dict[str, tuple[bytes | None, int]]  # every path: (bytes or None for a folder, mtime)
    immutable: bool = False


def snapshot(folder: Path) -> dict[str, tuple[bytes | str | None, int]]:
    """Every file and folder under folder, by relative name: a file's bytes,
    None for a folder, and what anything else is (it is never opened)."""
    seen = {}
    for root, dirs, files in os.walk(folder):
        for name in dirs + files:
            path = Path(root) / name
            relative = str(path.relative_to(folder))
            info = path.lstat()
            if stat.S_ISREG(info.st_mode):
                contents = path.read_bytes()
            elif stat.S_ISDIR(info.st_mode):
                contents = None
            elif stat.S_ISLNK(info.st_mode):
                contents = "link to " + os.readlink(path)
            else:
                contents = stat.filemode(info.st_mode)
            seen[relative] = (contents, info.st_mtime_ns)
    return seen


def make_special(path: Path, kind: str, device: str) -> None:
    """A FIFO, a bound socket's name or a link to device at path."""
    path.parent.mkdir(parents=True, exist_ok=True)
    if kind == "fifo":
        os.mkfifo(path)
    elif kind == "socket":
        with socket.socket(socket.AF_UNIX) as bound:
            bound.bind(str(path))
    else:
        path.symlink_to(device)


def lay_out(case: Case, folder: Path, immutable: bool = False) -> Layout:
    """Makes the case's files in the empty work folder. A read-only folder
    loses its write bits, and with immutable=True (for root, whom write bits
    do not stop) it is also marked immutable with chattr."""
    input_path = folder / case.input_name
    if case.special_input is not None:
        make_special(input_path, case.special_input, "/dev/null")
    elif case.create_input:
        input_path.parent.mkdir(parents=True, exist_ok=True)
        if case.contents is None:
            input_path.mkdir()
        else:
            input_path.write_bytes(case.contents)
    if case.special_output is not None:
        make_special(folder / case.output_path(), case.special_output, "/dev/full")
    if case.existing_output is not None:
        output = folder / case.output_path()
        output.parent.mkdir(parents=True, exist_ok=True)
        output.write_bytes(case.existing_output)
    if case.read_only_folder is not None:
        locked = folder / case.read_only_folder
        locked.mkdir(parents=True, exist_ok=True)
    before = snapshot(folder)
    if case.read_only_folder is not None:
        locked = folder / case.read_only_folder
        locked.chmod(0o555)
        if immutable:
            subprocess.run(["chattr", "+i", str(locked)], check=True)
    return Layout(folder, before, immutable)


def release(case: Case, layout: Layout) -> None:
    """Makes the work folder removable again."""
    if case.read_only_folder is not None:
        locked = layout.folder / case.read_only_folder
        if layout.immutable:
            subprocess.run(["chattr", "-i", str(locked)], check=True)
        locked.chmod(0o755)


def check_files(test, case: Case, layout: Layout, ending: str) -> None:
    """The files after the run: the input unchanged, the output only after a
    success (with the expected bytes), an existing output kept otherwise, and
    nothing else new or changed."""
    after = snapshot(layout.folder)
    expected = dict(layout.before)
    output = case.output_path()
    if ending == "success":
        test.assertIn(output, after, "no output file after a success")
        test.assertEqual(after[output][0], case.expected_output, "wrong output bytes")
        expected[output] = after[output]
    for name, (contents, mtime) in expected.items():
        test.assertIn(name, after, f"{name} is gone")
        if name == output and ending == "success":
            continue
        test.assertEqual(after[name][0], contents, f"{name} was changed")
        if isinstance(contents, bytes):
            test.assertEqual(after[name][1], mtime, f"{name} was rewritten")
    test.assertEqual(sorted(after), sorted(expected), "files appeared or vanished")
