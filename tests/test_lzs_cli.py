"""lzs, the batch tool, and lzs-pack end to end: the built programs (first and
second argument) run on files made here, one table row per behaviour,
checking the exit status, what it says, and every file left in the folder
afterwards."""

from __future__ import annotations

import contextlib
import dataclasses
import functools
import json
import os
import pty
import random
import re
import resource
import signal
import stat
import subprocess
import sys
import tempfile
import time
import typing
import unittest
from pathlib import Path

from support.lzs_images import NAMED_IMAGES, WORKED_EXAMPLE, WORKED_EXAMPLE_DECODED, decode, literal_image, named_image
from support.rewrite import rewritten

PROGRAM = ""
PACK = ""

WORKED = WORKED_EXAMPLE
TEXT = b"".join(b"line %d of a packable text, packed and unpacked\n" % (k % 40) for k in range(400))
ANY = object()  # a file that must exist, whatever it holds
# lzs-pack's sample: a text that packs, and bytes that do not.
SAMPLE = bytes(ord("packing, packed, pack "[k % 22]) + k // 1000 for k in range(5000))
NOISE = random.Random(1).randbytes(8 << 20)  # its image is above 8 MiB
# Images that differ in every block, to be unpacked many at once.
BLOCKS = {f"g{k:03}": random.Random(k).randbytes(20_000) for k in range(150)}


class Packed:
    """Expected file content: an image that decodes to these bytes (and is
    smaller than they are, when asked)."""

    def __init__(self, data: bytes, smaller: bool = False):
        self.data = data
        self.smaller = smaller


class Link(str):
    """Expected: a symbolic link to this target."""


def file_size_limit(limit: int) -> typing.Callable[[], None]:
    # SIGXFSZ is left as it is: the programs must ignore it themselves.
    return lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))


def descriptor_limit(limit: int) -> typing.Callable[[], None]:
    return lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (limit, limit))


def pack_line(d: Path, name: str, output: str) -> bytes:
    """What lzs-pack -v prints for a packed file."""
    size, packed = (d / name).stat().st_size, (d / output).stat().st_size
    return f"{name}: {size:,} bytes -> {output}: {packed:,} bytes ({100 * packed / size:.2f} %)\n".encode()


def list_row(packed: int, unpacked: int, name: str) -> bytes:
    """A row of lzs -l."""
    return f"{packed:>14,}{unpacked:>15,}{f'{100 * packed / unpacked:.2f} %':>9}  {name}\n".encode()


LIST_HEADER = b"        Packed       Unpacked    Ratio  Name\n"


CUT = named_image("last-item-cut").image
# An image of many input pieces and output rooms, for the reads in pieces.
LONG = TEXT * 30
LONG_IMAGE = literal_image(LONG)
# An image of TEXT, and sizes as messages give them.
IMAGE = literal_image(TEXT)
# 64 MiB of zeros: groups of a flag byte 00 and 8 back-references of 18.
ZEROS_64M = ((64 << 20) // 144 * 17).to_bytes(4, "little") + (b"\x00" + b"\x00\x0f" * 8) * ((64 << 20) // 144)


def size(count: int) -> str:
    return f"{count:,}"


def zeros_image(path: Path, size: int) -> None:
    """A sparse image of size bytes: its header, then zeros, a payload of
    groups of eight back-references that each write 3 zero bytes."""
    sparse(path, size, header=True)


def zeros_decoded(size: int) -> int:
    """How many bytes zeros_image(size) decodes to."""
    groups, rest = divmod(size - 4, 17)
    return groups * 24 + (rest - 1) // 2 * 3 if rest else groups * 24


def all_zeros(path: Path, size: int) -> bool:
    return path.stat().st_size == size and path.read_bytes().count(0) == size


@dataclasses.dataclass
class Case:
    name: str
    files: dict[str, bytes]
    args: list[str]
    code: int
    after: dict[str, object]  # name -> bytes, Packed, ANY, or None for absent
    err: str = ""  # a text stderr must hold ("" : stderr must be empty)
    out: bytes | None = None  # exact standard output, when given
    stdin: bytes = b""
    check: typing.Callable[[str, bytes, Path], bool] | None = None  # on stderr, stdout, folder
    tool: str = "lzs"  # or "lzs-pack", or lzscat or unlzs (links beside lzs)
    links: dict[str, str] = dataclasses.field(default_factory=dict)  # name -> target
    preexec: typing.Callable[[], None] | None = None  # in the child, before it starts
    setup: typing.Callable[[Path], None] | None = None  # makes what files cannot say
    stdin_file: str | None = None  # a file of the folder as standard input
    stdout_file: str | None = None  # where standard output goes, instead of a pipe
    memory: int | None = None  # the address space limit, in bytes
    user: int | None = None  # run as this uid and gid (root only can), not as root
    private_dev: bool = False  # as root, in a /dev of its own (PRIVATE_DEV), left as it was


# A /dev of its own for a run that may write to names there, in a mount
# namespace of its own: the links to the standard descriptors, a null
# device and a regular file. Whatever the run does to it, the machine's
# /dev is untouched; afterwards dev.after in the run's folder lists it.
PRIVATE_DEV = ["unshare", "-m", "sh", "-c",
               "mount --make-rprivate / && mount -t tmpfs none /dev && mknod -m 666 /dev/null c 1 3 && "
               "ln -s /proc/self/fd /dev/fd && ln -s /proc/self/fd/0 /dev/stdin && "
               "ln -s /proc/self/fd/1 /dev/stdout && ln -s /proc/self/fd/2 /dev/stderr && "
               "echo old > /dev/regular && \"$0\" \"$@\"; status=$?; "
               "find /dev -printf '%y %s %p %l\\n' | sort > dev.after; exit $status"]


# Looking inside images: a text that packs to a few KiB, packed by lzs
# itself in the folder (setup), and a container of random bytes with that
# image at offset 1,000.
PROSE = Path(__file__).read_bytes()[:30000]
BACKGROUND = random.Random(9).randbytes(50_000)


def packed_prose(d: Path) -> None:
    (d / "p.txt").write_bytes(PROSE)
    subprocess.run([PROGRAM, "-k", "p.txt"], cwd=d, check=True)


def container(d: Path) -> None:
    packed_prose(d)
    (d / "c.bin").write_bytes(BACKGROUND[:1000] + (d / "p.txt.lzs").read_bytes() + BACKGROUND)


def found_line(d: Path, at: int) -> str:
    """What lzs --scan says of the prose's image at offset at of c.bin."""
    return (f"c.bin: at {at:,}: an image of {(d / 'p.txt.lzs').stat().st_size:,} bytes that unpacks to "
            f"{len(PROSE):,} bytes, high confidence\n")


def inspected(out: bytes, **want: object) -> bool:
    """Whether lzs --inspect --json said what want holds, key for key."""
    got = json.loads(out)
    return all(got[key] == value for key, value in want.items())


def sparse(path: Path, size: int, header: bool = False) -> None:
    """A file of size bytes, all holes but its header (size - 4) when asked.
    Zeros are a valid LZS payload: a flag byte 0 and back-references 00 00."""
    path.parent.mkdir(parents=True, exist_ok=True)
    with open(path, "wb") as f:
        if header:
            f.write((size - 4).to_bytes(4, "little"))
        f.truncate(size)


def too_deep(folder: Path) -> None:
    """d/a, and under d a chain of folders whose last holds a file that no
    path from the run's folder can name: lstat fails with ENAMETOOLONG, even
    for root."""
    (folder / "d").mkdir()
    (folder / "d/a").write_bytes(TEXT)
    fd = os.open(folder / "d", os.O_RDONLY)
    for _ in range(16):  # 1 + 16 * 251 characters: 4017, below PATH_MAX
        os.mkdir("s" * 250, dir_fd=fd)
        inner = os.open("s" * 250, os.O_RDONLY, dir_fd=fd)
        os.close(fd)
        fd = inner
    os.close(os.open("f" * 250, os.O_WRONLY | os.O_CREAT, dir_fd=fd))
    os.close(fd)


def shut_folder(folder: Path) -> None:
    """d/x.lzs, and d/shut/y.lzs in a folder that can be listed but not
    entered by anyone but root."""
    folder.chmod(0o755)
    for name in ("d/x.lzs", "d/shut/y.lzs"):
        (folder / name).parent.mkdir(parents=True, exist_ok=True)
        (folder / name).write_bytes(WORKED)
    (folder / "d/shut").chmod(0o744)


CASES = [
    Case("pack to NAME.lzs, input kept", {"a.txt": TEXT}, ["a.txt"], 0,
         {"a.txt": TEXT, "a.txt.lzs": Packed(TEXT)}),
    Case("pack with -o", {"a.txt": TEXT}, ["a.txt", "-o", "x"], 0,
         {"a.txt.lzs": None, "x": Packed(TEXT)}),
    Case("pack --fast", {"a.txt": TEXT}, ["--fast", "a.txt"], 0, {"a.txt.lzs": Packed(TEXT)}),
    Case("pack --rm", {"a.txt": TEXT}, ["--rm", "a.txt"], 0, {"a.txt": None, "a.txt.lzs": Packed(TEXT)}),
    Case("pack refuses an existing output", {"a.txt": TEXT, "a.txt.lzs": b"old"}, ["--rm", "a.txt"], 1,
         {"a.txt": TEXT, "a.txt.lzs": b"old"}, "a.txt.lzs: already exists; not overwritten"),
    Case("pack -f overwrites", {"a.txt": TEXT, "a.txt.lzs": b"old"}, ["-f", "a.txt"], 0,
         {"a.txt.lzs": Packed(TEXT)}),
    # Here the shell expands patterns and /? is a path: both reach lzs as names.
    Case("a pattern the shell left is a name", {"*.txt": TEXT, "a.txt": TEXT}, ["*.txt"], 0,
         {"*.txt.lzs": Packed(TEXT), "a.txt.lzs": None}),
    Case("/? is a file name, not the help", {}, ["-d", "/?"], 1, {}, "lzs: /?: cannot open"),
    Case("-r keeps a backslash as part of a name", {"d\\e/f": TEXT}, ["-r", "-v", "d\\e"], 0,
         {"d\\e/f.lzs": Packed(TEXT)}, "lzs: d\\e/f: "),
    Case("pack refuses a .lzs name", {"b.LZS": TEXT}, ["b.LZS"], 1, {"b.LZS.lzs": None},
         "b.LZS: already has the .lzs suffix"),
    # An empty file stays as it is and does not fail the run; where an image
    # had to be written (-c, -o), it fails.
    Case("an empty file is left, even with --rm", {"e": b""}, ["--rm", "e"], 0, {"e": b"", "e.lzs": None},
         "lzs: e: empty: left as it is, not packed"),
    Case("an empty file under -r", {"d/a": TEXT, "d/e": b""}, ["-r", "--rm", "d"], 0,
         {"d/a": None, "d/a.lzs": Packed(TEXT), "d/e": b"", "d/e.lzs": None}, "lzs: d/e: empty: left as it is"),
    Case("an empty file with -q", {"e": b""}, ["-q", "e"], 0, {"e": b"", "e.lzs": None}),
    Case("an empty file beside an existing image", {"e": b"", "e.lzs": b"old"}, ["e"], 0,
         {"e": b"", "e.lzs": b"old"}, "lzs: e: empty: left as it is, not packed"),
    Case("an empty file to standard output fails", {"e": b""}, ["-c", "e"], 1, {}, "e: is empty", b""),
    Case("an empty file with -o fails", {"e": b""}, ["-o", "x", "e"], 1, {"x": None}, "e: is empty"),
    Case("a missing file fails, the others are done", {"a.txt": TEXT}, ["nothing", "a.txt"], 1,
         {"a.txt.lzs": Packed(TEXT)}, "nothing: cannot open: No such file"),
    Case("a folder needs -r", {"d/a": TEXT}, ["d"], 1, {"d.lzs": None, "d/a.lzs": None}, "d: is a folder"),
    Case("pack -r takes every file but *.lzs", {"d/a": TEXT, "d/e/b": b"xyz", "d/c.lzs": WORKED}, ["-r", "d"], 0,
         {"d/a.lzs": Packed(TEXT), "d/e/b.lzs": Packed(b"xyz"), "d/c.lzs.lzs": None},
         "lzs: d/e/b: warning: the image, 8 bytes, is larger than its input, 3 bytes"),
    # Warnings when packing, and none with -q.
    Case("an image larger than 8 MiB", {"n": NOISE}, ["--fast", "n"], 0, {"n.lzs": Packed(NOISE)}, "is larger than 8 MiB",
         check=lambda err, out, d: err == "lzs: n: warning: the image, %s bytes, is larger than 8 MiB: "
         "lzs-unpack.exe refuses it (lzs -d takes it)\nlzs: n: warning: the image, %s bytes, is larger "
         "than its input, %s bytes\n" % (size((d / "n.lzs").stat().st_size), size((d / "n.lzs").stat().st_size),
                                          size(len(NOISE)))),
    Case("no warnings with -q", {"n": NOISE, "b": b"xyz"}, ["-q", "--fast", "n", "b"], 0,
         {"n.lzs": Packed(NOISE), "b.lzs": Packed(b"xyz")}),
    Case("an image no larger than its input: no warning", {"a": TEXT}, ["a"], 0, {"a.lzs": Packed(TEXT, True)}),
    # Links and special files under -r: skipped, with a warning that names them.
    Case("-r skips links and special files", {"d/a": TEXT}, ["-r", "d"], 0,
         {"d/a.lzs": Packed(TEXT), "d/l.lzs": None, "d/f.lzs": None, "d/l": Link("a")}, "; skipped",
         links={"d/l": "a"}, setup=lambda d: os.mkfifo(d / "d/f"),
         check=lambda err, out, _: err == "lzs: d/f: is not a regular file; skipped\n"
                                          "lzs: d/l: is a symbolic link; skipped\n"),
    Case("-r -q skips them quietly", {"d/a": TEXT}, ["-r", "-q", "d"], 0, {"d/a.lzs": Packed(TEXT)},
         links={"d/l": "a"}, setup=lambda d: os.mkfifo(d / "d/f")),
    Case("-d -r: only the links it would have taken", {"d/x.lzs": WORKED}, ["-d", "-r", "d"], 0,
         {"d/x": WORKED_EXAMPLE_DECODED}, "lzs: d/y.lzs: is a symbolic link; skipped", links={"d/y.lzs": "x.lzs", "d/z": "x.lzs"},
         check=lambda err, out, _: "d/z" not in err),
    Case("unpack NAME.lzs in any case", {"x.lzs": WORKED, "y.LzS": WORKED}, ["-d", "x.lzs", "y.LzS"], 0,
         {"x": WORKED_EXAMPLE_DECODED, "y": WORKED_EXAMPLE_DECODED, "x.lzs": WORKED}),
    Case("unpack another name to NAME.DeLZS", {"x.bin": WORKED}, ["--decompress", "x.bin"], 0,
         {"x.bin.DeLZS": WORKED_EXAMPLE_DECODED}),
    Case("unpack -r takes only *.lzs", {"d/x.lzs": WORKED, "d/e/y.lzs": WORKED, "d/z": WORKED}, ["-d", "-r", "d"], 0,
         {"d/x": WORKED_EXAMPLE_DECODED, "d/e/y": WORKED_EXAMPLE_DECODED, "d/z.DeLZS": None}),
    Case("bad header: existing output untouched even with -f", {"x.lzs": WORKED + b"!", "x": b"keep"},
         ["-d", "-f", "--rm", "x.lzs"], 1, {"x": b"keep", "x.lzs": ANY},
         "lzs: x.lzs: bytes after the end of the image (11 bytes; the image is 10)\n"),
    # The named images: what each decodes to, or the library's words for
    # it and nothing else, named or on standard input (on a file: read as a
    # named one is).
    *(Case(f"-d {named.name}", {"x.lzs": named.image}, ["-d", "x.lzs"], 0 if named.output else 1,
           {"x": named.output}, err, check=lambda err, out, _, said=err: err == said)
      for named in NAMED_IMAGES for err in ["" if named.output else f"lzs: x.lzs: {named.error}\n"]),
    *(Case(f"-dc {named.name} on standard input", {"x.lzs": named.image}, ["-dc"], 0 if named.output else 1, {},
           err, named.output, stdin_file="x.lzs", check=lambda err, out, _, said=err: err == said)
      for named in NAMED_IMAGES for err in ["" if named.output else f"lzs: (standard input): {named.error}\n"]),
    Case("unpack --rm", {"x.lzs": WORKED}, ["-d", "--rm", "x.lzs"], 0, {"x.lzs": None, "x": WORKED_EXAMPLE_DECODED}),
    *(Case(f"the input as its own output{extra}", {"x.lzs": WORKED}, ["-d", *force, "x.lzs", "-o", "./x.lzs"], 1,
           {"x.lzs": WORKED}, "lzs: ./x.lzs: is the input file itself\n") for force, extra in ((["-f"], ""), ([], ", no -f"))),
    Case("standard input as its own output", {"x.lzs": WORKED}, ["-d", "-f", "-o", "x.lzs"], 1, {"x.lzs": WORKED},
         "lzs: x.lzs: is the input file itself\n", stdin_file="x.lzs"),
    Case("-t writes nothing", {"x.lzs": WORKED}, ["-t", "x.lzs"], 0, {"x": None}),
    Case("-t -v says OK", {"x.lzs": WORKED}, ["-t", "-v", "x.lzs"], 0, {}, "x.lzs: OK, 9 bytes",
         check=lambda err, out, _: "files tested" not in err),  # no total for one file
    # A changed literal keeps the structure: -t cannot see it, and says so.
    Case("-t -v says what it checked", {"x.lzs": WORKED.replace(b"A", b"a")}, ["-t", "-v", "x.lzs"], 0, {},
         "lzs: x.lzs: OK, 9 bytes (structure and size; the format has no checksum)\n"),
    # An image cut short, and two joined: told apart, with the sizes, read
    # whole or in pieces.
    Case("-t fails a bad image", {"x.lzs": WORKED[:-1]}, ["-t", "x.lzs"], 1, {},
         "lzs: x.lzs: cut short: the image is shorter than its header says (9 of 10 bytes)\n"),
    Case("-t of an image cut short", {"cut.lzs": IMAGE[:5000]}, ["-t", "cut.lzs"], 1, {},
         f"lzs: cut.lzs: cut short: the image is shorter than its header says (5,000 of {size(len(IMAGE))} bytes)\n"),
    Case("-d of two images joined", {"two.lzs": IMAGE * 2}, ["-d", "two.lzs"], 1, {"two": None},
         f"lzs: two.lzs: bytes after the end of the image ({size(2 * len(IMAGE))} bytes; the image is "
         f"{size(len(IMAGE))})\n"),
    Case("-d of an image cut short on standard input", {"cut.lzs": IMAGE[:5000]}, ["-d", "-o", "x"], 1, {"x": None},
         f"lzs: (standard input): cut short: the image is shorter than its header says (5,000 of "
         f"{size(len(IMAGE))} bytes)\n", stdin_file="cut.lzs"),
    Case("-t of two images joined on standard input", {"two.lzs": IMAGE * 2}, ["-t"], 1, {},
         f"lzs: (standard input): bytes after the end of the image ({size(2 * len(IMAGE))} bytes; the image is "
         f"{size(len(IMAGE))})\n", stdin_file="two.lzs"),
    # A pipe is read no further than the image: of its length, only what
    # was read is known.
    Case("-t of two images joined on a pipe", {}, ["-t"], 1, {}, "lzs: (standard input): bytes after the end of the "
         "image (at least ", stdin=IMAGE * 2,
         check=lambda err, out, _: err.endswith(f" bytes; the image is {size(len(IMAGE))})\n")),
    Case("-t warns of a cut-off item", {"c.lzs": CUT}, ["-t", "c.lzs"], 0, {}, "c.lzs: warning: the last back-reference is cut off"),
    Case("-t -q does not", {"c.lzs": CUT}, ["-t", "-q", "c.lzs"], 0, {}),
    # Inspect: the library's counts, as words or JSON, of any bytes.
    Case("--inspect a whole image", {"x.lzs": WORKED}, ["--inspect", "x.lzs"], 0, {},
         check=lambda err, out, _: out.startswith(b"x.lzs: an image of 10 bytes that unpacks to 9 bytes\n"
                                                  b"  groups: 1, literals: 3, back-references: 1\n")
         and b"\n  smallest image (lzs -9): 10 bytes\n" in out and err == ""),
    Case("--inspect --json", {"x.lzs": WORKED}, ["--inspect", "--json", "x.lzs"], 0, {},
         check=lambda err, out, _: out.count(b"\n") == 1 and inspected(
             out, file="x.lzs", status="ok", image_size=10, decoded_size=9, groups=1, literals=3, references=1,
             length_histogram=[0, 0, 0, 1] + [0] * 12, distance_histogram=[0, 0, 1] + [0] * 10,
             zero_references=0, first_zero_reference=None, smallest_image_size=10, stopped_at=6)),
    Case("--inspect a cut image and bytes that are none", {"x.lzs": WORKED[:-1], "y": b"abc"},
         ["--inspect", "--json", "x.lzs", "y"], 0, {},
         check=lambda err, out, _: inspected(out.split(b"\n")[0], status="truncated", promised_size=10,
                                             decoded_size=3, stopped_at=4, last_item_cut=True)
         and inspected(out.split(b"\n")[1], file="y", status="not-an-image", decoded_size=0)),
    # Scan: where images are in other bytes, and out with --extract.
    Case("--scan finds an image among other bytes", {}, ["--scan", "c.bin"], 0, {}, setup=container,
         check=lambda err, out, d: out.decode() == found_line(d, 1000)),
    Case("--scan --json --extract", {"out/keep": b""}, ["--scan", "--json", "--extract=out", "c.bin"], 0,
         {"out/c.bin@1000": PROSE}, setup=container,
         check=lambda err, out, d: json.loads(out) == {
             "file": "c.bin", "offset": 1000, "image_size": (d / "p.txt.lzs").stat().st_size,
             "decoded_size": len(PROSE), "confidence": "high"}),
    Case("--scan --extract keeps what is there", {"out/c.bin@1000": b"old"}, ["--scan", "--extract=out", "c.bin"], 1,
         {"out/c.bin@1000": b"old"}, "lzs: out/c.bin@1000: already exists; not overwritten (use -f to overwrite)\n",
         setup=container),
    Case("--scan of random bytes finds nothing", {"r.bin": BACKGROUND}, ["--scan", "r.bin"], 0, {}, "",
         b"r.bin: no LZS image found\n"),
    Case("--json alone is refused", {"x.lzs": WORKED}, ["--json", "x.lzs"], 2, {"x.lzs.lzs": None},
         "lzs: --json goes with --inspect or --scan\n"),
    # Salvage: what a damaged image holds, kept with a warning and status 2;
    # without --salvage nothing changes (above).
    Case("-d --salvage of an image cut short", {"cut.lzs": IMAGE[:5000]}, ["-d", "--salvage", "cut.lzs"], 2,
         {"cut": TEXT[:4440], "cut.lzs": IMAGE[:5000]},
         f"lzs: cut.lzs: cut short: the image is shorter than its header says (5,000 of {size(len(IMAGE))} "
         "bytes); kept what its whole items give, 4,440 bytes\n"),
    Case("-dc --salvage of two images joined", {"two.lzs": IMAGE * 2}, ["-dc", "--salvage", "two.lzs"], 2, {},
         f"lzs: two.lzs: bytes after the end of the image ({size(2 * len(IMAGE))} bytes; the image is "
         f"{size(len(IMAGE))}); kept the image's {size(len(TEXT))} bytes\n", TEXT),
    Case("-t --salvage", {"cut.lzs": WORKED[:-1]}, ["-t", "--salvage", "cut.lzs"], 2, {},
         "lzs: cut.lzs: cut short: the image is shorter than its header says (9 of 10 bytes); kept what its "
         "whole items give, 3 bytes\n", check=lambda err, out, _: "cut off" not in err),
    Case("--salvage of a whole image", {"x.lzs": WORKED}, ["-d", "--salvage", "x.lzs"], 0, {"x": b"ABCABCABC"}),
    Case("--salvage of no image", {"x.lzs": b"\0\0\0\0abc"}, ["-d", "--salvage", "x.lzs"], 1, {"x": None},
         "lzs: x.lzs: not an LZS image\n"),
    Case("--salvage of standard input cut short", {}, ["-d", "--salvage"], 2, {},
         "lzs: (standard input): cut short: the image is shorter than its header says", LONG[:len(LONG) - 8],
         LONG_IMAGE[:-9]),
    Case("--salvage of a pipe with bytes after the image", {}, ["-d", "--salvage"], 2, {},
         "bytes after the end of the image (at least ", LONG, LONG_IMAGE + b"more"),
    Case("--salvage --rm is refused", {"x.lzs": WORKED}, ["-d", "--salvage", "--rm", "x.lzs"], 2,
         {"x.lzs": WORKED, "x": None}, "lzs: --salvage keeps the input: --rm cannot be used with it\n"),
    # Like: the same content packs to the same bytes; -v counts the items.
    Case("--like gives the image back", {}, ["-c", "--like=p.txt.lzs", "p.txt"], 0, {}, "", None,
         setup=packed_prose, check=lambda err, out, d: out == (d / "p.txt.lzs").read_bytes()),
    Case("--like -v counts what it reused", {}, ["-v", "--like=p.txt.lzs", "-o", "q.lzs", "p.txt"], 0,
         {"q.lzs": Packed(PROSE)}, " items of p.txt.lzs reused\n", setup=packed_prose,
         check=lambda err, out, d: re.search(r"lzs: p.txt: ([\d,]+) of the \1 items of p.txt.lzs reused\n", err)),
    Case("--like of an edited file", {"e.txt": PROSE[:9000] + b"#" * 50 + PROSE[9050:]},
         ["--like=p.txt.lzs", "e.txt"], 0, {"e.txt.lzs": Packed(PROSE[:9000] + b"#" * 50 + PROSE[9050:])},
         setup=packed_prose),
    Case("--like of a damaged image", {"a": TEXT, "x.lzs": WORKED[:-1]}, ["--like=x.lzs", "a"], 1, {"a.lzs": None},
         "lzs: a: x.lzs: cut short: the image is shorter than its header says (9 of 10 bytes)\n"),
    Case("--like with -d is refused", {"x.lzs": WORKED}, ["-d", "--like=x.lzs", "x.lzs"], 2, {"x": None},
         "lzs: --like goes with packing\n"),
    Case("-l lists one file", {"x.lzs": WORKED}, ["-l", "x.lzs"], 0, {"x": None}, "",
         b"        Packed       Unpacked    Ratio  Name\n            10              9 111.11 %  x.lzs\n"),
    Case("-l totals several, failures named", {"x.lzs": WORKED, "y.lzs": literal_image(b"0123456789")},
         ["-l", "x.lzs", "bad.lzs", "y.lzs"], 1, {}, "bad.lzs: cannot open",
         b"        Packed       Unpacked    Ratio  Name\n            10              9 111.11 %  x.lzs\n"
         b"            16             10 160.00 %  y.lzs\n            26             19 136.84 %  (total, 2 files; 1 failed)\n"),
    Case("-l: sizes with separators", {"big.lzs": literal_image(TEXT * 3)}, ["-l", "big.lzs"], 0, {}, "",
         LIST_HEADER + list_row(len(literal_image(TEXT * 3)), len(TEXT * 3), "big.lzs")),
    Case("-l: nothing listed, the failures counted", {}, ["-l", "a.lzs", "b.lzs"], 1, {}, "b.lzs: cannot open",
         LIST_HEADER, check=lambda err, out, _: err.endswith("cannot open: No such file or directory\n"
                                                              "lzs: 0 files listed; 2 failed\n")),
    Case("-c writes standard output", {"x.lzs": WORKED, "y.lzs": WORKED}, ["-dc", "x.lzs", "y.lzs"], 0,
         {"x": None}, "", WORKED_EXAMPLE_DECODED * 2),
    Case("standard input to standard output", {}, ["-d"], 0, {}, "", WORKED_EXAMPLE_DECODED, WORKED),
    Case("- is standard input", {}, ["-", "-c"], 0, {}, "", None, TEXT,
         lambda err, out, _: decode(out) == TEXT),
    # Unpacking and testing standard input go piece by piece: to standard
    # output the bytes go out as they come, a file is put in place only
    # once the image proves whole.
    Case("standard input in many pieces", {}, ["-d"], 0, {}, "", LONG, LONG_IMAGE),
    Case("standard input to a file", {}, ["-d", "-o", "x"], 0, {"x": LONG}, stdin=LONG_IMAGE),
    Case("standard input cut short", {}, ["-d"], 1, {},
         f"lzs: (standard input): cut short: the image is shorter than its header says "
         f"({size(len(LONG_IMAGE) - 5)} of {size(len(LONG_IMAGE))} bytes)\n", stdin=LONG_IMAGE[:-5],
         check=lambda err, out, _: len(out) > 0 and LONG.startswith(out)),
    Case("standard input cut short, to a file", {}, ["-d", "-o", "x"], 1, {"x": None},
         "lzs: (standard input): cut short: the image is shorter than its header says", stdin=LONG_IMAGE[:-5]),
    Case("standard input with a header too small", {}, ["-d", "-o", "x"], 1, {"x": None},
         "lzs: (standard input): bytes after the end of the image (at least ",
         stdin=(len(LONG_IMAGE) - 6).to_bytes(4, "little") + LONG_IMAGE[4:],
         check=lambda err, out, _: err.endswith(f" bytes; the image is {size(len(LONG_IMAGE) - 2)})\n")),
    Case("standard input of 4 bytes", {}, ["-d"], 1, {}, "lzs: (standard input): not an LZS image\n", b"",
         b"\0\0\0\0"),
    Case("standard input, empty", {}, ["-d"], 1, {}, "lzs: (standard input): not an LZS image\n", b""),
    Case("standard input yields nothing", {}, ["-d"], 1, {}, "lzs: (standard input): the image yields no byte\n",
         b"", b"\x01\0\0\0\xff"),
    Case("-t -v of standard input", {}, ["-t", "-v"], 0, {},
         "(standard input): OK, %s bytes (structure and size" % size(len(LONG)), b"", LONG_IMAGE),
    Case("-t of standard input, no cut-off item", {}, ["-t"], 0, {}, stdin=WORKED),
    Case("-t of standard input, a cut-off item", {}, ["-t"], 0, {},
         "(standard input): warning: the last back-reference is cut off", stdin=CUT),
    Case("-t of standard input, bad", {}, ["-t"], 1, {},
         "lzs: (standard input): bytes after the end of the image (at least 11 bytes; the image is 10)\n",
         stdin=WORKED + b"x"),
    Case("-v, messages in input order with 2 threads", {"a": TEXT * 30, "b": b"b", "c": b"c"},
         ["-v", "-T2", "a", "b", "c"], 0, {"c.lzs": Packed(b"c")}, "lzs: a: 573,000 -> ",
         check=lambda err, out, _: [line.split(":")[1].strip() for line in err.splitlines()
                                    if "warning" not in line and "files" not in line] == ["a", "b", "c"]),
    # The total of -v for more than one file: the failed files apart.
    Case("-v totals what it packed", {"a": TEXT * 30, "b": TEXT}, ["-v", "a", "b", "missing"], 1, {}, "missing: cannot open",
         check=lambda err, out, d: err.endswith(
             "lzs: 2 files packed: 592,100 -> {:,} bytes ({:.2f} %); 1 failed\n".format(
                 *(lambda n: (n, 100 * n / 592_100))((d / "a.lzs").stat().st_size + (d / "b.lzs").stat().st_size)))),
    # A ratio is the packed size as a percentage of the unpacked size, in
    # every line.
    Case("-d -v totals what it unpacked", {"x.lzs": WORKED, "y.lzs": WORKED}, ["-d", "-v", "x.lzs", "y.lzs"], 0,
         {"x": WORKED_EXAMPLE_DECODED}, "lzs: y.lzs: 10 -> 9 bytes (111.11 %) -> y\n",
         check=lambda err, out, _: err.endswith("lzs: 2 files unpacked: 20 -> 18 bytes (111.11 %)\n")),
    Case("-t -v totals what it tested", {"x.lzs": WORKED, "bad.lzs": b"bad"}, ["-t", "-v", "x.lzs", "bad.lzs"], 1,
         {}, "lzs: bad.lzs: not an LZS image\n",
         check=lambda err, out, _: err.endswith("lzs: 1 file tested: 10 -> 9 bytes (111.11 %); 1 failed\n")),
    Case("-v packs with the same ratio", {"a": TEXT}, ["-v", "a"], 0, {}, "lzs: a: ",
         check=lambda err, out, d: err == "lzs: a: {:,} -> {:,} bytes ({:.2f} %) -> a.lzs\n".format(
             len(TEXT), (d / "a.lzs").stat().st_size, 100 * (d / "a.lzs").stat().st_size / len(TEXT))),
    # No total of nothing: every file skipped, or none done.
    Case("-v: every file skipped, no total", {"a.lzs": WORKED, "b.lzs": WORKED},
         ["-v", "--exclude-compressed", "a.lzs", "b.lzs"], 0, {"a.lzs.lzs": None},
         "lzs: a.lzs: already packed; skipped\nlzs: b.lzs: already packed; skipped\n",
         check=lambda err, out, _: "files" not in err),
    Case("-d -v: none done, the failures counted", {"x.lzs": WORKED, "x": b"old", "y.lzs": WORKED, "y": b"old"},
         ["-d", "-v", "x.lzs", "y.lzs"], 1, {"x": b"old"}, "lzs: y: already exists; not overwritten (use -f",
         check=lambda err, out, _: err.endswith("(use -f to overwrite)\nlzs: 0 files unpacked; 2 failed\n")),
    # A run with failures ends with its total, also without -v; not with
    # -q, nor for one file, whose own message says it all.
    Case("failures end with a total", {"a.lzs": WORKED, "b.lzs": b"bad", "c.lzs": WORKED},
         ["-t", "a.lzs", "b.lzs", "c.lzs"], 1, {}, "lzs: b.lzs: not an LZS image\n"
         "lzs: 2 files tested: 20 -> 18 bytes (111.11 %); 1 failed\n",
         check=lambda err, out, _: err.count("\n") == 2),
    Case("-t -r: 3 bad among 40", {f"d/{k:02}.lzs": b"bad" if k % 13 == 5 else WORKED for k in range(40)},
         ["-t", "-r", "d"], 1, {}, "lzs: d/31.lzs: not an LZS image\n",
         check=lambda err, out, _: err.endswith("lzs: 37 files tested: 370 -> 333 bytes (111.11 %); 3 failed\n")
         and err.count("\n") == 4),
    Case("-q: failures without a total", {"a.lzs": WORKED, "b.lzs": b"bad"}, ["-q", "-d", "a.lzs", "b.lzs"], 1,
         {"a": WORKED_EXAMPLE_DECODED}, "lzs: b.lzs: not an LZS image\n", check=lambda err, out, _: err.count("\n") == 1),
    Case("one file failed: its message alone", {"b.lzs": b"bad"}, ["-d", "b.lzs"], 1, {}, "lzs: b.lzs: not",
         check=lambda err, out, _: err == "lzs: b.lzs: not an LZS image\n"),
    Case("no total without -v", {"x.lzs": WORKED, "y.lzs": WORKED}, ["-d", "x.lzs", "y.lzs"], 0, {"y": WORKED_EXAMPLE_DECODED}),
    Case("-q keeps the errors", {}, ["-q", "nothing"], 1, {}, "nothing: cannot open"),
    Case("--help", {}, ["--help"], 0, {}, "", None,
         check=lambda err, out, _: out.startswith(b"Usage: lzs [OPTION]... [FILE]...\n")),
    Case("--help names the new flags and the limit of -t", {}, ["--help"], 0, {}, "", None,
         check=lambda err, out, _: all(word in out for word in (
             b"-z, --compress", b"-1, --fast", b"-9, --best", b"-S, --suffix=SUF", b"--no-progress",
             b"--exclude-compressed", b"--output-dir-flat=DIR", b"the format has no checksum",
             b"-o, --output=FILE", b"--to-stdout")) and b"/?" not in out),
    # Flags typed by habit. Levels: each run's image is the one --fast or
    # the default gives (the two differ for TEXT).
    *(Case(f"level {' '.join(args)}", {"a": TEXT}, [*args, "a"], 0, {"a.lzs": Packed(TEXT)},
           setup=lambda d, ref=ref: subprocess.run([PROGRAM, *ref, "-o", "ref.lzs", "a"], cwd=d, check=True),
           check=lambda err, out, d: (d / "a.lzs").read_bytes() == (d / "ref.lzs").read_bytes())
      for args, ref in [(["-1"], ["--fast"]), (["-9"], []), (["--best"], []), (["--fast", "-9"], []),
                        (["--best", "-1"], ["--fast"]), (["-z"], []), (["-d", "-z"], [])]),
    *(Case(f"level {arg} is refused", {"a": TEXT}, [arg, "a"], 2, {"a.lzs": None},
           f"lzs: {arg}: there are two levels, -1 (fast) and -9 (smallest image, the default)")
      for arg in ("-0", "-5", "-8")),
    Case("-S packs to NAME.SUF", {"a": TEXT}, ["-S", ".z", "a"], 0, {"a.z": Packed(TEXT), "a.lzs": None}),
    Case("--suffix unpacks NAME.SUF, in any case", {"x.Z": WORKED}, ["-d", "--suffix=.z", "x.Z"], 0,
         {"x": WORKED_EXAMPLE_DECODED}),
    Case("-S: NAME.lzs is another name", {"x.lzs": WORKED}, ["-d", "-S", ".z", "x.lzs"], 0,
         {"x.lzs.DeLZS": WORKED_EXAMPLE_DECODED}),
    Case("-S with -r", {"d/x.z": WORKED, "d/y.lzs": WORKED}, ["-d", "-r", "-S", ".z", "d"], 0,
         {"d/x": WORKED_EXAMPLE_DECODED, "d/y": None, "d/y.lzs.DeLZS": None}),
    Case("-S refuses a packed name", {"a.z": TEXT}, ["-S", ".z", "a.z"], 1, {"a.z.z": None},
         "a.z: already has the .z suffix"),
    *(Case(f"-S '{suffix}' is refused", {"a": TEXT}, ["-S", suffix, "a"], 2, {"a": TEXT},
           f"-S takes a suffix for file names, not '{suffix}'") for suffix in ("", "/x", "a/b")),
    Case("--exclude-compressed skips images", {"a": TEXT, "b.lzs": WORKED},
         ["--exclude-compressed", "-f", "a", "b.lzs"], 0, {"a.lzs": Packed(TEXT), "b.lzs.lzs": None}),
    Case("--exclude-compressed -v names them", {"b.LZS": WORKED}, ["--exclude-compressed", "-v", "b.LZS"], 0,
         {"b.LZS.lzs": None}, "lzs: b.LZS: already packed; skipped"),
    # A file that is skipped or refused is read by no job and written by
    # none: it clashes with no other file.
    Case("--exclude-compressed: an excluded image is no job", {"t1": TEXT, "t1.lzs": b"old"},
         ["--exclude-compressed", "-f", "t1", "t1.lzs"], 0, {"t1.lzs": Packed(TEXT), "t1.lzs.lzs": None}),
    Case("--exclude-compressed -f: a folder packed again, as d/* gives it",
         {"d/a": TEXT, "d/a.lzs": b"old", "d/b": b"xyz", "d/b.lzs": b"old"},
         ["--exclude-compressed", "-f", "-q", "d/a", "d/a.lzs", "d/b", "d/b.lzs"], 0,
         {"d/a.lzs": Packed(TEXT), "d/b.lzs": Packed(b"xyz"), "d/a.lzs.lzs": None}),
    Case("an image refused for its suffix is no job", {"t1": TEXT, "t1.lzs": b"old"}, ["t1", "t1.lzs"], 1,
         {"t1.lzs": b"old", "t1.lzs.lzs": None}, "lzs: t1.lzs: already exists; not overwritten (use -f",
         check=lambda err, out, _: "not done" not in err and "t1.lzs: already has the .lzs suffix" in err),
    Case("--output-dir-flat", {"a/x": TEXT, "b/c/y": b"yyyyyyyyyyyyyyyyyyyyyyyyyyyy", "out/k": b""},
         ["--output-dir-flat=out", "a/x", "b/c/y"], 0,
         {"out/x.lzs": Packed(TEXT), "out/y.lzs": Packed(b"y" * 28), "a/x.lzs": None, "a/x": TEXT}),
    Case("--output-dir-flat -d", {"a/x.lzs": WORKED, "out/k": b""}, ["-d", "--output-dir-flat", "out/", "a/x.lzs"], 0,
         {"out/x": WORKED_EXAMPLE_DECODED, "a/x": None}),
    Case("--output-dir-flat: the same base name twice", {"a/x": TEXT, "b/x": b"other x", "out/k": b""},
         ["--output-dir-flat=out", "a/x", "b/x"], 1, {"out/x.lzs": None},
         "lzs: b/x: not done: its output out/x.lzs is also the input or the output of another file"),
    Case("--output-dir-flat into a missing folder", {"a": TEXT}, ["--output-dir-flat=none", "a"], 1,
         {"none": None, "a.lzs": None}, "none/a.lzs: cannot create"),
    *(Case(f"--output-dir-flat with {' '.join(args)}", {"a": TEXT, "out/k": b""}, ["--output-dir-flat=out", *args, "a"],
           2, {"out/a.lzs": None, "x": None}, "--output-dir-flat cannot be used with -o or -c")
      for args in (["-o", "x"], ["-c"])),
    # lzscat and unlzs, the links to lzs.
    Case("lzscat", {"x.lzs": WORKED, "y.lzs": literal_image(b"other")}, ["x.lzs", "y.lzs"], 0, {"x": None},
         out=b"ABCABCABCother", tool="lzscat"),
    Case("lzscat from standard input", {}, [], 0, {}, out=WORKED_EXAMPLE_DECODED, stdin=WORKED, tool="lzscat"),
    Case("lzscat -o is refused", {"x.lzs": WORKED}, ["-o", "x", "x.lzs"], 2, {"x": None},
         "lzscat: writes to standard output; -o cannot be used", out=b"", tool="lzscat"),
    Case("lzscat --output-dir-flat is refused", {"x.lzs": WORKED}, ["--output-dir-flat=d", "x.lzs"], 2, {"d": None},
         "lzscat: writes to standard output; --output-dir-flat cannot be used", out=b"", tool="lzscat"),
    Case("unlzs", {"x.lzs": WORKED}, ["--rm", "x.lzs"], 0, {"x": WORKED_EXAMPLE_DECODED, "x.lzs": None}, out=b"",
         tool="unlzs"),
    Case("unlzs -z packs", {"a": TEXT}, ["-z", "a"], 0, {"a.lzs": Packed(TEXT)}, tool="unlzs"),
    Case("-V", {}, ["-V"], 0, {}, "", None,
         check=lambda err, out, _: re.fullmatch(rb"lzs \d+\.\d+\.\d+ \(liblzs \d+\.\d+\.\d+\)\n", out) is not None),
    Case("--uncompress -k", {"x.lzs": WORKED}, ["--uncompress", "-k", "x.lzs"], 0,
         {"x": WORKED_EXAMPLE_DECODED, "x.lzs": WORKED}),
    Case("unknown option", {"a": TEXT}, ["--bogus", "a"], 2, {"a.lzs": None}, "Try 'lzs --help'"),
    Case("-o with two inputs", {"a": TEXT, "b": TEXT}, ["a", "b", "-o", "x"], 2, {"x": None},
         "-o takes exactly one input file"),
    Case("-c packs one input only", {"a": TEXT, "b": TEXT}, ["-c", "a", "b"], 2, {}, "cannot be joined", b""),
    Case("-T takes a number", {"a": TEXT}, ["-T", "two", "a"], 2, {"a.lzs": None}, "-T takes a number"),
    Case("a closed stderr takes no output's place", {k + ".lzs": literal_image(v) for k, v in BLOCKS.items()},
         ["-d", "-v", "-T2", *(k + ".lzs" for k in BLOCKS)], 0, BLOCKS, preexec=lambda: os.close(2)),
    Case("a closed stdout still fails the write", {"x.lzs": WORKED}, ["-dc", "x.lzs"], 1, {},
         "(standard output): cannot write: Bad file descriptor", preexec=lambda: os.close(1)),
    Case("a file over the size limit fails alone", {"a": TEXT, "b": TEXT, "b.lzs": b"old", "s": b"xyz"},
         ["a", "-f", "b", "s"], 1, {"a.lzs": None, "b.lzs": b"old", "s.lzs": Packed(b"xyz")},
         "a.lzs: cannot write: File too large", preexec=file_size_limit(100)),
    Case("-f -o a link replaces the link, not its target", {"a": TEXT, "t": b"old"}, ["-f", "-o", "l", "a"], 0,
         {"l": Packed(TEXT), "t": b"old"}, links={"l": "t"}),
    # A name that leads to a descriptor is written through, as -c writes,
    # never replaced, without -f; nothing in /dev or /proc is replaced or
    # removed, -f and --rm or not.
    *(Case(f"-d {' '.join(args)}, standard output a file", {"x.lzs": WORKED, "out": b"old "}, ["-d", *args, "x.lzs"],
           0, {"out": b"old ABCABCABC", "x.lzs": WORKED}, stdout_file="out", private_dev=True)
      for args in (["-o", "/dev/stdout"], ["-f", "-o", "/dev/stdout"], ["-f", "--rm", "-o", "/dev/stdout"],
                   ["-o", "/dev/fd/1"], ["-f", "-o", "/proc/self/fd/1"])),
    Case("-o /dev/stdout packs, standard output a file", {"a": TEXT}, ["-o", "/dev/stdout", "a"], 0,
         {"out": Packed(TEXT), "a.lzs": None}, stdout_file="out", private_dev=True),
    Case("lzs-pack -o /dev/stdout", {"a": TEXT}, ["a", "-f", "-o", "/dev/stdout"], 0,
         {"out": Packed(TEXT), "a.lzs": None}, stdout_file="out", private_dev=True, tool="lzs-pack"),
    *(Case(f"-d -o {name}, standard output a pipe", {"x.lzs": WORKED}, ["-d", "-o", name, "x.lzs"], 0, {},
           out=WORKED_EXAMPLE_DECODED, links={"l": "/dev/stdout"}, private_dev=True)
      for name in ("/dev/stdout", "/dev/fd/1", "/proc/self/fd/1", "l")),
    Case("-d -v -o /dev/stderr", {"x.lzs": WORKED}, ["-d", "-v", "-o", "/dev/stderr", "x.lzs"], 0, {},
         "ABCABCABClzs: x.lzs: 10 -> 9 bytes (111.11 %) -> /dev/stderr\n", b"", private_dev=True),
    Case("-o /dev/stdout, standard output closed", {"x.lzs": WORKED}, ["-d", "-o", "/dev/stdout", "x.lzs"], 1,
         {"x.lzs": WORKED}, "lzs: /dev/stdout: cannot write: Bad file descriptor\n", preexec=lambda: os.close(1),
         private_dev=True),
    Case("-o /dev/stdout, standard output the input", {"x.lzs": WORKED}, ["-d", "-f", "-o", "/dev/stdout", "x.lzs"],
         1, {"x.lzs": WORKED}, "lzs: /dev/stdout: is the input file itself\n", stdout_file="x.lzs", private_dev=True),
    Case("-o a closed descriptor", {"x.lzs": WORKED}, ["-d", "-f", "-o", "/dev/fd/9", "x.lzs"], 1, {},
         "lzs: /dev/fd/9: cannot create a file in '/dev/fd'", private_dev=True),
    Case("-f -o a regular file in /dev", {"x.lzs": WORKED}, ["-d", "-f", "-o", "/dev/regular", "x.lzs"], 1, {},
         "lzs: /dev/regular: is in /dev; not replaced\n", private_dev=True),
    *(Case(f"--rm {name}", {"x.lzs": WORKED}, ["-d", "--rm", "-o", "out", name], 1,
           {"out": WORKED_EXAMPLE_DECODED, "x.lzs": WORKED}, f"lzs: {name}: is in {folder}; not removed\n",
           stdin_file="x.lzs", private_dev=True)
      for name, folder in (("/dev/stdin", "/dev"), ("/dev/fd/0", "/proc"), ("/proc/self/fd/0", "/proc"))),
    # lzs-pack
    Case("lzs-pack packs to NAME.lzs", {"a.bin": SAMPLE}, ["a.bin"], 0, {"a.bin.lzs": Packed(SAMPLE, True)},
         out=b"", tool="lzs-pack"),
    Case("lzs-pack -v -o", {"a.bin": SAMPLE}, ["a.bin", "-v", "-o", "out.lzs"], 0,
         {"out.lzs": Packed(SAMPLE), "a.bin.lzs": None}, tool="lzs-pack",
         check=lambda err, out, d: out == pack_line(d, "a.bin", "out.lzs")),
    *(Case(f"lzs-pack {arg}", {}, [arg], 0, {}, tool="lzs-pack",
           check=lambda err, out, _: out.startswith(b"Usage: lzs-pack INPUT [-o OUTPUT]")) for arg in ("-h", "--help")),
    Case("lzs-pack --version", {}, ["--version"], 0, {}, tool="lzs-pack",
         check=lambda err, out, _: re.fullmatch(rb"lzs-pack \d+\.\d+\.\d+\n", out) is not None),
    *(Case(f"lzs-pack: {err}", {"a.bin": SAMPLE}, args, 2, {"a.bin.lzs": None}, err, tool="lzs-pack")
      for args, err in [([], "no input file"), (["a.bin", "-o"], "-o needs a file name"),
                        (["a.bin", "--bogus"], "unknown option '--bogus'"),
                        (["a.bin", "b.bin"], "only one input file")]),
    *(Case(f"lzs-pack {' '.join(args)}: {err}",
           {"a.bin": SAMPLE, "empty.bin": b"", "folder/x": b"", "t": b"old"}, args, 1,
           {"a.bin": SAMPLE, "t": b"old", **after}, err, tool="lzs-pack", links={"l": "t"}, preexec=preexec)
      for args, err, after, preexec in [
          (["missing.bin"], "lzs-pack: missing.bin: cannot open: No such file", {"missing.bin.lzs": None}, None),
          (["folder"], "lzs-pack: folder: is a folder\n", {"folder.lzs": None}, None),  # it has no -r
          (["empty.bin", "-o", "e.lzs"], "lzs-pack: empty.bin: is empty; no LZS image holds zero bytes",
           {"e.lzs": None}, None),
          (["a.bin", "-o", "./a.bin"], "lzs-pack: ./a.bin: is the input file itself", {"a.bin.lzs": None}, None),
          (["a.bin", "-o", "no/such/dir.lzs"], "cannot create", {"no": None}, None),
          (["a.bin", "-o", "folder"], "folder: already exists; not overwritten (use -f", {"folder/a.bin.lzs": None}, None),
          (["a.bin", "-f", "-o", "folder"], "folder: cannot create", {"folder/a.bin.lzs": None}, None),
          (["a.bin", "-o", "t"], "t: already exists; not overwritten", {}, None),
          (["a.bin", "-f", "-o", "t"], "t: cannot write: File too large", {}, file_size_limit(100)),
          (["a.bin", "-f", "-o", "l"], "l: cannot write: File too large", {"l": Link("t")},
           file_size_limit(100)),
      ]),
    # Empty files and images above 8 MiB: lzs's rules, in lzs-pack's name.
    Case("lzs-pack leaves an empty file", {"e": b""}, ["e"], 0, {"e": b"", "e.lzs": None},
         "lzs-pack: e: empty: left as it is, not packed\n", tool="lzs-pack"),
    Case("lzs-pack warns of an image above 8 MiB", {"n": NOISE}, ["n"], 0, {"n.lzs": Packed(NOISE)}, "8 MiB",
         check=lambda err, out, d: err == "lzs-pack: n: warning: the image, %s bytes, is larger than 8 MiB: "
         "lzs-unpack.exe refuses it (lzs -d takes it)\nlzs-pack: n: warning: the image, %s bytes, is larger "
         "than its input, %s bytes\n" % (size((d / "n.lzs").stat().st_size), size((d / "n.lzs").stat().st_size),
                                          size(len(NOISE))),
         tool="lzs-pack"),
    Case("lzs-pack packs a name with the suffix too", {"x.lzs": TEXT}, ["x.lzs"], 0, {"x.lzs.lzs": Packed(TEXT)},
         tool="lzs-pack"),
    Case("lzs-pack: - is a file name", {"-": SAMPLE}, ["-"], 0, {"-.lzs": Packed(SAMPLE)}, tool="lzs-pack"),
    Case("lzs-pack -v on a full disk", {"a.bin": SAMPLE}, ["a.bin", "-v"], 1, {"a.bin.lzs": Packed(SAMPLE)},
         "lzs-pack: (standard output): cannot write: No space left on device", tool="lzs-pack",
         stdout_file="/dev/full"),
    Case("lzs-pack packs a file larger than its memory", {"big": NOISE * 6}, ["big"], 0,
         {"big.lzs": Packed(NOISE * 6)}, "big: warning: the image, ", tool="lzs-pack", memory=50 << 20),
    Case("lzs-pack -f replaces an output", {"a.bin": SAMPLE, "a.bin.lzs": b"old"}, ["-f", "a.bin"], 0,
         {"a.bin.lzs": Packed(SAMPLE)}, tool="lzs-pack"),
    Case("lzs-pack -f -o a link replaces the link, not its target", {"a.bin": SAMPLE, "t": b"old"},
         ["--force", "-o", "l", "a.bin"], 0, {"l": Packed(SAMPLE), "t": b"old"}, tool="lzs-pack",
         links={"l": "t"}),
    *(Case(f"-T {n} is taken as 64", {"a": TEXT}, ["-T", n, "a"], 0, {"a.lzs": Packed(TEXT)},
           f"warning: -T {n}: at most 64 files are worked on at once") for n in ("65", "5000")),
    # Outputs that are other jobs' inputs or outputs: refused before any work.
    Case("unpack a.lzs and a.lzs.lzs", {"a.lzs": WORKED, "a.lzs.lzs": literal_image(b"other")},
         ["-d", "-f", "--rm", "a.lzs.lzs", "a.lzs"], 1, {"a": WORKED_EXAMPLE_DECODED, "a.lzs": None,
                                                         "a.lzs.lzs": literal_image(b"other")},
         "a.lzs.lzs: not done: its output a.lzs is also the input or the output of another file"),
    Case("pack a and a.lzs", {"a": TEXT, "a.lzs": b"other"}, ["-f", "--rm", "a", "a.lzs"], 1,
         {"a": TEXT, "a.lzs": None, "a.lzs.lzs": Packed(b"other")}, "a: not done: its output a.lzs"),
    Case("y.lzs and y.LZS both give y", {"y.lzs": WORKED, "y.LZS": literal_image(b"other")},
         ["-d", "-f", "--rm", "y.lzs", "y.LZS"], 1, {"y": None, "y.lzs": WORKED, "y.LZS": ANY},
         "y.LZS: not done: its output y"),
    Case("the same, found by -r", {"d/a.lzs": WORKED, "d/a.lzs.lzs": literal_image(b"other")},
         ["-d", "-r", "-f", "--rm", "d"], 1, {"d/a": WORKED_EXAMPLE_DECODED, "d/a.lzs.lzs": ANY},
         "d/a.lzs.lzs: not done: its output d/a.lzs"),
    Case("an output that is a link to another input", {"x.lzs": WORKED, "p.lzs": literal_image(b"other")},
         ["-d", "-f", "--rm", "x.lzs", "p.lzs"], 1, {"x": WORKED_EXAMPLE_DECODED, "p.lzs": ANY},
         "p.lzs: not done: its output p", setup=lambda d: (d / "p").symlink_to("x.lzs")),
    # Huge inputs fail alone; the files after them are still done.
    Case("-d -r: a 100 GB sparse file", {"d/b.lzs": WORKED}, ["-d", "-r", "d"], 1, {"d/b": WORKED_EXAMPLE_DECODED},
         "lzs: d/a.lzs: not an LZS image: larger than the largest, 4,294,967,299 bytes\n",
         setup=lambda d: sparse(d / "d/a.lzs", 100 << 30)),
    Case("-t -r: a 100 GB sparse file", {"d/b.lzs": WORKED}, ["-t", "-v", "-r", "d"], 1, {},
         "d/b.lzs: OK, 9 bytes", setup=lambda d: sparse(d / "d/a.lzs", 100 << 30)),
    Case("-l -r: a 100 GB sparse file", {"d/b.lzs": WORKED}, ["-l", "-r", "d"], 1, {}, "d/a.lzs: not an LZS image",
         LIST_HEADER + list_row(10, 9, "d/b.lzs") + list_row(10, 9, "(total, 1 file; 1 failed)"),
         setup=lambda d: sparse(d / "d/a.lzs", 100 << 30)),
    Case("a wrong header is refused before the read", {"c.lzs": WORKED}, ["-d", "a.lzs", "c.lzs"], 1,
         {"c": WORKED_EXAMPLE_DECODED, "a": None}, "lzs: a.lzs: bytes after the end of the image (3,221,225,472 bytes; the "
         "image is 4)\n", setup=lambda d: sparse(d / "a.lzs", 3 << 30), memory=1 << 30),
    # An image whose whole read cannot have its memory (12 MB read, room for
    # 108 MB of output) is unpacked in pieces; standard input always is.
    Case("a file too large to read whole", {"c.lzs": WORKED}, ["-d", "-v", "big.lzs", "c.lzs"], 0,
         {"c": WORKED_EXAMPLE_DECODED}, "big.lzs: 12,000,000 -> %s bytes" % size(zeros_decoded(12_000_000)),
         setup=lambda d: zeros_image(d / "big.lzs", 12_000_000), memory=48 << 20,
         check=lambda err, out, d: all_zeros(d / "big", zeros_decoded(12_000_000))),
    Case("-t of a file too large to read whole", {}, ["-t", "-v", "big.lzs"], 0, {"big": None},
         "big.lzs: OK, %s bytes" % size(zeros_decoded(12_000_000)),
         setup=lambda d: zeros_image(d / "big.lzs", 12_000_000), memory=48 << 20),
    Case("a large standard input", {}, ["-d", "-o", "big"], 0, {}, "",
         setup=lambda d: zeros_image(d / "big.lzs", 12_000_000), stdin_file="big.lzs", memory=48 << 20,
         check=lambda err, out, d: all_zeros(d / "big", zeros_decoded(12_000_000))),
    # A whole read that runs out of memory lets its file go: with few
    # descriptors, the files after it are still read.
    Case("-t: whole reads out of memory release their files", {}, ["-t", "-T1", *(f"b{k}.lzs" for k in range(6))],
         0, {}, setup=lambda d: [zeros_image(d / f"b{k}.lzs", 60_000_000) for k in range(6)], memory=48 << 20,
         preexec=descriptor_limit(6)),
    Case("packing: files larger than memory, one after another", {"a": TEXT},
         ["-T1", *(f"p{k}" for k in range(3)), "a"], 0, {"a.lzs": Packed(TEXT), "p2.lzs": ANY}, "",
         setup=lambda d: [sparse(d / f"p{k}", 60_000_000) for k in range(3)], memory=48 << 20,
         preexec=descriptor_limit(6)),
    # -l goes in pieces: an image larger than memory is listed.
    Case("-l of a file too large to read whole", {}, ["-l", "big.lzs"], 0, {}, "",
         LIST_HEADER + list_row(60_000_000, zeros_decoded(60_000_000), "big.lzs"),
         setup=lambda d: zeros_image(d / "big.lzs", 60_000_000), memory=48 << 20),
    Case("-r reports what it cannot look at, and counts it", {}, ["-r", "d"], 1, {"d/a.lzs": Packed(TEXT)},
         "f" * 250 + ": cannot read: File name too long", setup=too_deep,
         check=lambda err, out, _: re.search(rf"\nlzs: 1 file packed: {size(len(TEXT))} -> [\d,]+ bytes "
                                             r"\([\d.]+ %\); 1 failed\n$", err) is not None),
    Case("-r reports what it may not look at", {}, ["-l", "-r", "d"], 1, {},
         "d/shut/y.lzs: cannot read: Permission denied", setup=shut_folder, user=65534),
    # Standard output on a full disk.
    Case("-l on a full disk", {"x.lzs": WORKED}, ["-l", "x.lzs"], 1, {},
         "(standard output): cannot write: No space left on device", stdout_file="/dev/full"),
    Case("-T 2 on a full disk", {"n": NOISE}, ["-T", "2", "-c", "n"], 1, {},
         "(standard output): cannot write: No space left on device", stdout_file="/dev/full"),
    Case("--help on a full disk", {}, ["--help"], 1, {}, "cannot write: No space left", stdout_file="/dev/full"),
    Case("-V on a full disk", {}, ["-V"], 1, {}, "cannot write: No space left", stdout_file="/dev/full"),
]


class LzsCli(unittest.TestCase):
    def setUp(self) -> None:
        self.temp = tempfile.TemporaryDirectory()
        self.dir = Path(self.temp.name)

    def tearDown(self) -> None:
        self.temp.cleanup()

    def run_lzs(self, args, data=b"", program="", wrapper=(), **kwargs) -> subprocess.CompletedProcess:
        kwargs.setdefault("timeout", 120)
        kwargs.setdefault("stdout", subprocess.PIPE)
        if "stdin" not in kwargs:
            kwargs["input"] = data
        return subprocess.run([*wrapper, program or PROGRAM, *args], cwd=self.dir, stderr=subprocess.PIPE,
                              **kwargs)

    def private_dev(self) -> list[str]:
        """PRIVATE_DEV as root, who could damage the machine's /dev; nothing
        for another user, who cannot."""
        return PRIVATE_DEV if os.geteuid() == 0 else []

    def run_case(self, case: Case) -> subprocess.CompletedProcess:
        kwargs: dict[str, typing.Any] = {}
        if case.user is not None:
            if os.geteuid() != 0:
                self.skipTest("needs root, to run as another user")
            kwargs["user"], kwargs["group"], kwargs["extra_groups"] = case.user, case.user, []
        limit, preexec = case.memory, case.preexec
        if limit is not None and os.environ.get("LZS_SANITIZED"):
            self.skipTest("a sanitized program reserves more address space than any limit leaves")
        if limit is not None and os.environ.get("LZS_EMULATED"):
            self.skipTest("an emulator reserves the program's whole address space at once")

        def prepare() -> None:
            if limit is not None:
                resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
            if preexec is not None:
                preexec()

        if limit is not None or preexec is not None:
            kwargs["preexec_fn"] = prepare
        with contextlib.ExitStack() as files:
            if case.stdin_file is not None:
                kwargs["stdin"] = files.enter_context(open(self.dir / case.stdin_file, "rb"))
            if case.stdout_file is not None:  # added to, as >> does
                kwargs["stdout"] = files.enter_context(open(self.dir / case.stdout_file, "ab"))
            program = {"lzs": PROGRAM, "lzs-pack": PACK}.get(case.tool) or str(Path(PROGRAM).with_name(case.tool))
            wrapper = self.private_dev() if case.private_dev else []
            return self.run_lzs(case.args, case.stdin, program, wrapper, **kwargs)

    @functools.cache
    def dev_as_made(self) -> str:
        """What dev.after lists after a run that leaves PRIVATE_DEV alone."""
        with tempfile.TemporaryDirectory() as temp:
            subprocess.run([*PRIVATE_DEV, "true"], cwd=temp, check=True)
            return (Path(temp) / "dev.after").read_text()

    def lay_out(self, files: dict[str, bytes], links: dict[str, str] | None = None) -> None:
        for name, data in files.items():
            path = self.dir / name
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(data)
        for name, target in (links or {}).items():
            (self.dir / name).symlink_to(target)

    def test_cases(self) -> None:
        for case in CASES:
            with self.subTest(case.name), tempfile.TemporaryDirectory() as temp:
                self.dir = Path(temp)
                self.lay_out(case.files, case.links)
                if case.setup is not None:
                    case.setup(self.dir)
                result = self.run_case(case)
                err = result.stderr.decode(errors="replace")
                self.assertEqual(result.returncode, case.code, err)
                if case.private_dev and self.private_dev():
                    self.assertEqual((self.dir / "dev.after").read_text(), self.dev_as_made(), "/dev changed")
                if case.err:
                    self.assertIn(case.err, err)
                elif case.code != 2:
                    self.assertEqual(err, "")
                if case.out is not None:
                    self.assertEqual(result.stdout, case.out)
                if case.check is not None:
                    self.assertTrue(case.check(err, result.stdout, self.dir), (err, result.stdout[:200]))
                for name, want in case.after.items():
                    path = self.dir / name
                    if want is None:
                        self.assertFalse(path.exists(), name)
                    elif want is ANY:
                        self.assertTrue(path.exists(), name)
                    elif isinstance(want, Link):
                        self.assertEqual(os.readlink(path), want, name)
                    elif isinstance(want, Packed):
                        image = path.read_bytes()
                        self.assertEqual(decode(image), want.data, name)
                        if want.smaller:
                            self.assertLess(len(image), len(want.data), name)
                    else:
                        self.assertEqual(path.read_bytes(), want, name)
                self.assertEqual([p.name for p in self.dir.rglob(".*")], [], "temporary files left")

    def test_naming_table(self) -> None:
        # Every row of the table all faces share: the input alone in a
        # folder, packed or unpacked by its name, leaves the output named
        # there, or (-) is refused with nothing written.
        table = (Path(__file__).resolve().parent / "naming.tsv").read_text().splitlines()
        rows = [line.split("\t") for line in table if line and not line.startswith("#")][1:]
        self.assertGreater(len(rows), 10)
        for mode, given, output in rows:
            with self.subTest(mode=mode, input=given), tempfile.TemporaryDirectory() as temp:
                self.dir = Path(temp)
                self.lay_out({given: WORKED if mode == "unpack" else TEXT})
                result = self.run_lzs(["-d", given] if mode == "unpack" else [given])
                made = sorted(str(p.relative_to(self.dir)) for p in self.dir.rglob("*") if p.is_file())
                if output == "-":
                    self.assertEqual((result.returncode, made), (1, [given]), result.stderr)
                    self.assertIn(b"already has the .lzs suffix", result.stderr)
                else:
                    self.assertEqual((result.returncode, made), (0, sorted([given, output])), result.stderr)

    def test_special_files_are_neither_waited_on_nor_replaced(self) -> None:
        self.lay_out({"x.lzs": WORKED}, {"to-fifo": "fifo", "to-null": "/dev/null"})
        os.mkfifo(self.dir / "fifo")
        specials = ["fifo", "to-fifo", "to-null"]
        if os.geteuid() == 0:
            os.mknod(self.dir / "null", 0o666 | stat.S_IFCHR, os.makedev(1, 3))
            specials.append("null")
        for name in specials:
            for program, args, reason in [
                    (PROGRAM, [name], "is not a regular file"),
                    (PROGRAM, ["-d", "-f", "-o", name, "x.lzs"], "is not a regular file; not replaced"),
                    (PACK, [name], "is not a regular file"),
                    (PACK, ["x.lzs", "-f", "-o", name], "is not a regular file; not replaced")]:
                with self.subTest(program=Path(program).name, name=name, args=args):
                    result = self.run_lzs(args, program=program, timeout=20)
                    self.assertEqual(result.returncode, 1)
                    self.assertIn(f"{name}: {reason}", result.stderr.decode())
                    mode = (self.dir / name).lstat().st_mode
                    self.assertFalse(stat.S_ISREG(mode), "replaced by a plain file")
                    self.assertEqual(sorted(p.name for p in self.dir.iterdir()), sorted(["x.lzs", *specials]))

    def test_outputs_keep_mode_times_and_owner(self) -> None:
        self.lay_out({"a": TEXT})
        (self.dir / "a").chmod(0o600)
        os.utime(self.dir / "a", ns=(1_000_000_123_456_789, 1_500_000_987_654_321))
        # As root, another user's file stays theirs; otherwise it is ours.
        owner = (12345, 23456) if os.geteuid() == 0 else (os.geteuid(), os.getegid())
        os.chown(self.dir / "a", *owner)
        for program, args, output in ((PROGRAM, ["a"], "a.lzs"), (PROGRAM, ["-d", "a.lzs", "-o", "b"], "b"),
                                      (PACK, ["a", "-o", "p.lzs"], "p.lzs")):
            with self.subTest(output):
                os.utime(self.dir / "a", ns=(1_000_000_123_456_789, 1_500_000_987_654_321))  # read since
                self.assertEqual(self.run_lzs(args, program=program).returncode, 0)
                st = (self.dir / output).stat()
                self.assertEqual((st.st_uid, st.st_gid), owner)
                self.assertEqual(st.st_mode & 0o777, 0o600)
                self.assertEqual((st.st_atime_ns, st.st_mtime_ns), (1_000_000_123_456_789, 1_500_000_987_654_321))

    def test_packs_above_what_one_call_of_the_encoder_takes(self) -> None:
        # Sparse, 2 GiB and a byte: packed in pieces, in the memory of a few.
        with open(self.dir / "big", "wb") as big:
            big.truncate((1 << 31) + 1)
        result = self.run_lzs(["-1", "-q", "big"])
        self.assertEqual(result.returncode, 0, result.stderr)
        listed = self.run_lzs(["-l", "big.lzs"])
        self.assertIn(b" 2,147,483,649 ", listed.stdout)

    def test_rm_keeps_an_input_that_grew_after_the_read(self) -> None:
        # Random bytes pack slowly enough to append a line between the read
        # (seen in /proc/PID/io) and the removal.
        data = random.Random(2).randbytes(48 << 20)
        log = self.dir / "log"
        for _ in range(5):
            log.write_bytes(data)
            (self.dir / "log.lzs").unlink(missing_ok=True)
            process = subprocess.Popen([PROGRAM, "--rm", "log"], cwd=self.dir, stderr=subprocess.PIPE)
            appended = False
            while not appended and process.poll() is None:
                try:
                    io = Path(f"/proc/{process.pid}/io").read_text()
                    if int(re.search(r"rchar: (\d+)", io).group(1)) >= len(data):
                        with open(log, "r+b") as f:  # never a new file
                            f.seek(0, os.SEEK_END)
                            f.write(b"one more line\n")
                        appended = True
                except OSError:
                    break
            err = process.communicate()[1].decode()
            if appended:
                break
        self.assertTrue(appended, "every run ended before the line was appended")
        self.assertEqual(process.returncode, 1, err)
        self.assertRegex(err, "lzs: log: changed (after|while) it was read")
        self.assertEqual(log.read_bytes(), data + b"one more line\n")

    def test_input_rewritten_while_read(self) -> None:
        # Two images of one size that differ in every block, written over
        # each other in place, again and again, while the input is unpacked.
        rng = random.Random(3)
        plain = [rng.randbytes(8 << 20), rng.randbytes(8 << 20)]
        images = [literal_image(p) for p in plain]
        source = self.dir / "x.lzs"
        source.write_bytes(images[0])
        outcomes = []
        with rewritten(source, images):
            for _ in range(30):
                result = self.run_lzs(["-d", "--rm", "x.lzs"])  # kept unless it is whole and unchanged
                output = self.dir / "x"
                outcomes.append((result.returncode, result.stderr.decode(),
                                 output.read_bytes() if output.exists() else None))
                output.unlink(missing_ok=True)
                if not source.exists():
                    source.write_bytes(images[0])
        for code, err, output in outcomes:
            if code == 0 or "x.lzs: changed after it was read; not removed" in err:
                # Whole, from one image or the other; an input that changed
                # after the read is kept (and the next run rewrites it).
                self.assertTrue(output in plain, "a torn input taken for a whole one")
            else:
                self.assertRegex(err, "x.lzs: (changed while it was read|is open for writing in another)")
                self.assertIsNone(output, "an output left for a changed input")

    def test_standard_input_rewritten_while_read(self) -> None:
        # Standard input on a regular file is read under the rules of a named
        # one: rewritten meanwhile (by data that differs in every block), it
        # fails with nothing left, for -d, -t and packing alike.
        rng = random.Random(5)
        plain = [rng.randbytes(4 << 20), rng.randbytes(4 << 20)]
        images = [literal_image(p) for p in plain]
        for args, contents in [(["-d", "-o", "out"], images), (["-t"], images), (["--fast", "-o", "out"], plain)]:
            with self.subTest(args=args):
                source = self.dir / "flip"
                source.write_bytes(contents[0])
                outcomes = []
                with rewritten(source, contents):
                    for _ in range(8):
                        with open(source, "rb") as stdin:
                            result = self.run_lzs(args, stdin=stdin)
                        output = self.dir / "out"
                        outcomes.append((result.returncode, result.stderr.decode(),
                                         output.read_bytes() if output.exists() else None))
                        output.unlink(missing_ok=True)
                for code, err, output in outcomes:
                    if code == 0 and output is not None:
                        whole = decode(output) if args[0] == "--fast" else output
                        self.assertTrue(whole in plain, "a torn input taken for a whole one")
                    elif code != 0:
                        self.assertRegex(err, r"^lzs: \(standard input\): (changed while it was read; not used|"
                                              r"is open for writing in another process; not read)\n$")
                        self.assertIsNone(output, "an output left for a changed input")
                # Every run overlaps a rewrite: -t cannot have passed them all.
                self.assertNotEqual([code for code, _, _ in outcomes], [0] * len(outcomes))

    def start_half_fed(self, command: list[str], image: bytes) -> subprocess.Popen:
        """Starts command with the first half of image on a pipe as its
        standard input, and returns once that half is taken: lzs has then
        written part of its output and waits for the rest, however fast or
        slow the machine."""
        process = subprocess.Popen(command, cwd=self.dir, stdin=subprocess.PIPE)
        process.stdin.write(image[:len(image) // 2])
        process.stdin.flush()
        return process

    def wait_until(self, process: subprocess.Popen, written: typing.Callable[[], bool]) -> None:
        """Polls written() until it holds; the run must still be going."""
        while not written():
            self.assertIsNone(process.poll(), "the run ended before it was seen writing")
            time.sleep(0.001)

    def output_written(self, process: subprocess.Popen) -> bool:
        """Whether a file of the run's folder open for writing in process
        holds bytes (an unnamed output, seen through /proc)."""
        for fd in Path(f"/proc/{process.pid}/fd").iterdir():
            try:
                target = os.readlink(fd)
                size = fd.stat().st_size
            except OSError:
                continue
            if target.startswith(str(self.dir)) and size > 0:
                return True
        return False

    def test_killed_while_writing_leaves_nothing(self) -> None:
        # 64 MiB of zeros (ZEROS_64M), of which half the image is given:
        # killed while it waits for the rest, with part of the output written.
        self.lay_out({"z": b"old"})
        process = self.start_half_fed([PROGRAM, "-d", "-f", "-o", "z"], ZEROS_64M)
        self.wait_until(process, lambda: self.output_written(process))
        process.kill()
        process.wait()
        process.stdin.close()
        self.assertEqual(sorted(p.name for p in self.dir.iterdir()), ["z"])
        self.assertEqual((self.dir / "z").read_bytes(), b"old")

    def test_named_temporary_file_has_the_input_mode_and_goes_on_signals(self) -> None:
        # Without /proc (hidden in a mount namespace of its own), an output
        # cannot be an unnamed file: it is a named one beside its target.
        hide_proc = ["unshare", "-m", "sh", "-c", 'mount -t tmpfs none /proc && exec "$0" "$@"']
        if os.geteuid() != 0 or subprocess.run([*hide_proc, "true"]).returncode != 0:
            self.skipTest("needs a mount namespace of its own")
        self.lay_out({"z.lzs": ZEROS_64M, "z": b"old"})

        def temp_modes() -> set[int]:
            modes = set()
            for path in self.dir.glob(".z.*.tmp"):
                with contextlib.suppress(OSError):
                    modes.add(stat.S_IMODE(path.stat().st_mode) if path.stat().st_size > 0 else -1)
            return modes

        # Ended by each signal while it waits for the rest of its input on a
        # pipe (the temporary file has only the user's bits: the input has
        # none to give), it leaves nothing.
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT, signal.SIGPIPE,
                    signal.SIGXCPU):
            with self.subTest(sig.name):
                process = self.start_half_fed([*hide_proc, PROGRAM, "-d", "-f", "-o", "z"], ZEROS_64M)
                modes = set()
                self.wait_until(process, lambda: bool(modes.update(temp_modes()) or modes - {-1}))
                process.send_signal(sig)
                self.assertEqual(process.wait(timeout=300), -sig)  # with the rest of its input still to come
                process.stdin.close()
                self.assertEqual(modes - {-1}, {0o600})
                self.assertEqual(sorted(p.name for p in self.dir.iterdir()), ["z", "z.lzs"])
                self.assertEqual((self.dir / "z").read_bytes(), b"old")
        # From a file, the temporary file has the input's bits from the
        # start: seen while the run writes it (a run may end before it is
        # seen; one in ten is).
        (self.dir / "z.lzs").chmod(0o640)
        if os.environ.get("LZS_SANITIZED"):
            return  # a sanitized program that ends without /proc fails its leak check
        seen = set()
        for _ in range(10):
            process = subprocess.Popen([*hide_proc, PROGRAM, "-d", "-f", "z.lzs"], cwd=self.dir)
            while process.poll() is None:
                seen |= temp_modes() - {-1}
            self.assertEqual(process.wait(), 0)
            if seen:
                break
        self.assertEqual(seen, {0o640})
        self.assertEqual(sorted(p.name for p in self.dir.iterdir()), ["z", "z.lzs"])

    def test_threads_keep_the_image(self) -> None:
        # A single file is cut into chunks of 1 MiB, in a ring of two per
        # thread and one more (5 on 2 threads, 9 on 4): sizes around the
        # edges of chunks and past the ring's end, and the 18 bytes after a
        # chunk that tell it is not the last, give the same image on any
        # number of threads, from a file and from a pipe.
        rng = random.Random(38)
        words = [bytes(rng.choices(b"etaoin shrdlu", k=rng.randint(2, 9))) for _ in range(300)]
        mib = 1 << 20
        text = b" ".join(rng.choices(words, k=2_200_000))[: 12 * mib + 19]
        sizes = (1, 4095, mib - 1, mib, mib + 17, mib + 18, 2 * mib + 2, 3 * mib + 19, 4 * mib + 17,
                 4 * mib + 18, 5 * mib + 18, 6 * mib + 18, 12 * mib + 19)
        for level in ("-1", "-9"):
            for size_ in sizes:
                data = text[:size_]
                (self.dir / "in").write_bytes(data)
                one = self.run_lzs([level, "-T1", "-q", "-c", "in"])
                self.assertEqual((one.returncode, decode(one.stdout)), (0, data), (level, size_))
                for threads in ("2", "3", "4"):
                    with self.subTest(level=level, size=size_, threads=threads):
                        # Images compared as such: a difference of megabytes is not shown.
                        got = self.run_lzs([level, "-T", threads, "-q", "-c", "in"])
                        self.assertEqual((got.returncode, got.stdout == one.stdout), (0, True))
                        if threads == "3":
                            got = self.run_lzs([level, "-T", threads, "-q", "-f", "-o", "out"], data)
                            self.assertEqual(got.returncode, 0, got.stderr)
                            self.assertTrue((self.dir / "out").read_bytes() == one.stdout)

    def test_spool_goes_on_every_ending(self) -> None:
        # Packed to a pipe, the image waits in a scratch file in $TMPDIR
        # until it is complete: nothing of it is left when the reader goes
        # after one byte, nor when a signal ends the run with its input half
        # read.
        spool = self.dir / "tmp"
        spool.mkdir()
        env = {**os.environ, "TMPDIR": str(spool)}
        data = random.Random(5).randbytes(4 << 20)
        (self.dir / "in").write_bytes(data)
        for threads in ("-T1", "-T2"):
            with self.subTest(threads):
                process = subprocess.Popen([PROGRAM, "-1", threads, "-c", "in"], cwd=self.dir, env=env,
                                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
                self.assertEqual(len(process.stdout.read(1)), 1)
                process.stdout.close()
                self.assertNotEqual(process.wait(timeout=300), 0)
                self.assertEqual(list(spool.iterdir()), [])
        for sig in (signal.SIGINT, signal.SIGTERM):
            with self.subTest(sig.name):
                process = subprocess.Popen([PROGRAM, "-1", "-T1", "-c"], cwd=self.dir, env=env, stdin=subprocess.PIPE,
                                           stdout=subprocess.DEVNULL)
                process.stdin.write(data)
                process.stdin.flush()
                self.wait_until(process, lambda: self.output_written(process))
                process.send_signal(sig)
                self.assertEqual(process.wait(timeout=300), -sig)
                process.stdin.close()
                self.assertEqual(list(spool.iterdir()), [])

    def test_standard_output_on_a_file_takes_the_image_where_it_stands(self) -> None:
        # A file not opened to append is written in place, the header last;
        # one opened to append gets the image through the spool. Either way
        # what was there before stays.
        data = TEXT * 50
        (self.dir / "in").write_bytes(data)
        for mode in ("r+b", "ab"):
            for threads in ("-T1", "-T2"):
                with self.subTest(mode=mode, threads=threads):
                    (self.dir / "out").write_bytes(b"before")
                    with open(self.dir / "out", mode) as out:
                        out.seek(6)
                        result = self.run_lzs(["-c", threads, "in"], stdout=out)
                    self.assertEqual(result.returncode, 0, result.stderr)
                    written = (self.dir / "out").read_bytes()
                    self.assertEqual((written[:6], decode(written[6:])), (b"before", data))

    def test_progress_in_bytes_for_one_file(self) -> None:
        # One file packed or unpacked from a pipe that holds back the rest
        # of its input: a line of the bytes read and the rate, redrawn,
        # until the input ends; then the line is cleared.
        for args, data in ((["-1", "-c", "-f"], random.Random(6).randbytes(1000) * 4000),
                           (["-dc"], ZEROS_64M)):
            with self.subTest(args=args):
                master, slave = pty.openpty()
                process = subprocess.Popen([PROGRAM, *args], cwd=self.dir, stdin=subprocess.PIPE,
                                           stdout=subprocess.DEVNULL, stderr=slave)
                os.close(slave)
                process.stdin.write(data[:len(data) // 2])
                process.stdin.flush()
                seen = b""
                while not re.search(rb"lzs: [\d,.]+ MiB, [\d,.]+ MiB/s", seen):
                    seen += os.read(master, 4096)
                process.stdin.write(data[len(data) // 2:])
                process.stdin.close()
                self.assertEqual(process.wait(timeout=300), 0)
                with contextlib.suppress(OSError):
                    while chunk := os.read(master, 4096):
                        seen += chunk
                os.close(master)
                line = seen.split(b"\r")[-2]
                self.assertEqual(seen.split(b"\r")[-1], b"")
                self.assertEqual(line.strip(b" "), b"")

    def run_on_terminal(self, args: list[str], stream: str) -> tuple[int, bytes]:
        """Runs with stdin, stdout or stderr on a new terminal; returns the
        status and what the terminal got."""
        master, slave = pty.openpty()
        process = subprocess.Popen([PROGRAM, *args], cwd=self.dir,
                                   stdin=slave if stream == "stdin" else subprocess.DEVNULL,
                                   stdout=slave if stream == "stdout" else subprocess.DEVNULL,
                                   stderr=slave if stream == "stderr" else subprocess.DEVNULL)
        os.close(slave)
        seen = b""
        while True:
            try:
                chunk = os.read(master, 4096)
            except OSError:
                break
            if not chunk:
                break
            seen += chunk
        os.close(master)
        return process.wait(), seen

    def test_another_process_descriptor(self) -> None:
        # A descriptor of this test's, by its name in /proc: written through,
        # added at a file's end (not written over from its start), a pipe
        # fed; never replaced.
        self.lay_out({"x.lzs": WORKED, "other": b"old "})
        read_end, write_end = os.pipe()
        with open(self.dir / "other", "r+b") as other:
            for fd, args in ((other.fileno(), ["-f"]), (write_end, [])):
                with self.subTest(fd=fd):
                    result = self.run_lzs(["-d", *args, "-o", f"/proc/{os.getpid()}/fd/{fd}", "x.lzs"])
                    self.assertEqual((result.returncode, result.stderr), (0, b""))
        os.close(write_end)
        with os.fdopen(read_end, "rb") as pipe:
            self.assertEqual(pipe.read(), WORKED_EXAMPLE_DECODED)
        self.assertEqual((self.dir / "other").read_bytes(), b"old ABCABCABC")
        self.assertEqual(sorted(p.name for p in self.dir.iterdir()), ["other", "x.lzs"])

    def test_terminals(self) -> None:
        self.lay_out({f"f{k}": TEXT for k in range(6)})
        self.lay_out({"x.lzs": WORKED})
        code, seen = self.run_on_terminal(["-c", "f0"], "stdout")
        self.assertEqual((code, seen), (1, b""))
        code, seen = self.run_on_terminal(["-c", "-f", "f0"], "stdout")
        self.assertEqual(code, 0)
        self.assertGreater(len(seen), 100)
        # A name that leads to a terminal is one: packed data only with -f.
        code, seen = self.run_on_terminal(["-o", "/dev/stdout", "f0"], "stdout")
        self.assertEqual((code, seen), (1, b""))
        code, seen = self.run_on_terminal(["-f", "-o", "/dev/stdout", "f0"], "stdout")
        self.assertEqual(code, 0)
        self.assertGreater(len(seen), 100)
        code, _ = self.run_on_terminal(["-d"], "stdin")
        self.assertEqual(code, 1)
        code, seen = self.run_on_terminal(["-dc", "x.lzs"], "stdout")
        self.assertEqual((code, seen), (0, WORKED_EXAMPLE_DECODED))
        code, seen = self.run_on_terminal(["-f"] + [f"f{k}" for k in range(6)], "stderr")
        self.assertEqual(code, 0)
        self.assertIn(b" of 6 files", seen)
        code, seen = self.run_on_terminal(["-f", "-q"] + [f"f{k}" for k in range(6)], "stderr")
        self.assertEqual((code, seen), (0, b""))
        code, seen = self.run_on_terminal(["-f", "--no-progress"] + [f"f{k}" for k in range(6)], "stderr")
        self.assertEqual((code, seen), (0, b""))

    def test_bash_completion(self) -> None:
        script = Path(__file__).resolve().parent.parent / "packaging/bash-completion/lzs"
        self.lay_out({"x.lzs": WORKED, "x.txt": b"", "sub/y": b""})
        for line, want in [("lzs --de", "--decompress"), ("lzs -", "--output-dir-flat"), ("lzscat --std", "--stdout"),
                           ("unlzs --exclude-c", "--exclude-compressed"), ("lzs-pack --f", "--force"),
                           ("lzs-unpack /Dx.l", "/Dx.lzs"), ("lzs-unpack /Os", "/Osub/"), ("lzs-unpack ", "/D /O")]:
            with self.subTest(line):
                words = line.split(" ")
                function = {"lzs-pack": "_lzs_pack", "lzs-unpack": "_lzs_unpack"}.get(words[0], "_lzs")
                result = subprocess.run(
                    ["bash", "-c", f'source "$0"; complete -p {words[0]} >/dev/null || exit 9; COMP_WORDS=("$@"); '
                                   f'COMP_CWORD=$(($# - 1)); {function}; echo "${{COMPREPLY[*]}}"', script, *words],
                    cwd=self.dir, capture_output=True, text=True, timeout=20)
                self.assertEqual(result.returncode, 0, result.stderr)
                if want.startswith("--") and line != "lzs -":
                    self.assertEqual(result.stdout.split(), [want])
                else:
                    self.assertIn(want, result.stdout.split() if " " not in want else [result.stdout.strip()])


if __name__ == "__main__":
    PROGRAM = str(Path(sys.argv.pop(1)).resolve())
    PACK = str(Path(sys.argv.pop(1)).absolute())  # a link to lzs: its name counts
    unittest.main()
