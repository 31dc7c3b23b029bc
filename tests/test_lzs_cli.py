"""lzs, the batch tool, and lzs-pack end to end: the built programs (first and
second argument) run on files made here, one table row per behaviour,
checking the exit status, what it says, and every file left in the folder
afterwards."""

from __future__ import annotations

import dataclasses
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
import typing
import unittest
from pathlib import Path

PROGRAM = ""
PACK = ""

# 6 payload bytes: literals A B C, then 6 bytes copied from 3 back.
WORKED = bytes.fromhex("06000000074142 43EEF3".replace(" ", ""))
TEXT = b"".join(b"line %d of a packable text, packed and unpacked\n" % (k % 40) for k in range(400))
ANY = object()  # a file that must exist, whatever it holds
# lzs-pack's sample: a text that packs, and bytes that do not.
SAMPLE = bytes(ord("packing, packed, pack "[k % 22]) + k // 1000 for k in range(5000))
NOISE = random.Random(1).randbytes(8 << 20)  # its image is above 8 MiB
# Images that differ in every block, to be unpacked many at once.
BLOCKS = {f"g{k:03}": random.Random(k).randbytes(20_000) for k in range(150)}


def literal_image(data: bytes) -> bytes:
    payload = b"".join(b"\xff" + data[k:k + 8] for k in range(0, len(data), 8))
    return len(payload).to_bytes(4, "little") + payload


def decode(image: bytes) -> bytes:
    """A plain decoder of our own, to check what the tool packed."""
    assert int.from_bytes(image[:4], "little") == len(image) - 4
    out = bytearray()
    pos = 4
    while pos < len(image):
        flags = image[pos]
        pos += 1
        for bit in range(8):
            if pos >= len(image):
                break
            if flags >> bit & 1:
                out.append(image[pos])
                pos += 1
                continue
            if len(image) - pos < 2:
                return bytes(out)
            b0, b1 = image[pos], image[pos + 1]
            pos += 2
            j = len(out) - (len(out) - (b0 | (b1 >> 4) << 8) - 18) % 4096
            for _ in range((b1 & 15) + 3):
                out.append(out[j] if 0 <= j < len(out) else 0)
                j += 1
    return bytes(out)


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


def pack_line(d: Path, name: str, output: str) -> bytes:
    """What lzs-pack -v prints for a packed file."""
    size, packed = (d / name).stat().st_size, (d / output).stat().st_size
    return b"%s: %d bytes -> %s: %d bytes (%.1f%%)\n" % (name.encode(), size, output.encode(), packed,
                                                        100 * packed / size)


# Two literals, then a back-reference cut off by the end after one byte.
CUT = (4).to_bytes(4, "little") + b"\x03AB\x00"


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
    tool: str = "lzs"  # or "lzs-pack"
    links: dict[str, str] = dataclasses.field(default_factory=dict)  # name -> target
    setup: typing.Callable[[], None] | None = None  # in the child, before it starts


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
    Case("pack refuses a .lzs name", {"b.LZS": TEXT}, ["b.LZS"], 1, {"b.LZS.lzs": None},
         "b.LZS: already has the .lzs suffix"),
    Case("pack refuses an empty file", {"e": b""}, ["e"], 1, {"e.lzs": None}, "e: is empty"),
    Case("a missing file fails, the others are done", {"a.txt": TEXT}, ["nothing", "a.txt"], 1,
         {"a.txt.lzs": Packed(TEXT)}, "nothing: cannot open: No such file"),
    Case("a folder needs -r", {"d/a": TEXT}, ["d"], 1, {"d.lzs": None, "d/a.lzs": None}, "d: is a folder"),
    Case("pack -r takes every file but *.lzs", {"d/a": TEXT, "d/e/b": b"xyz", "d/c.lzs": WORKED}, ["-r", "d"], 0,
         {"d/a.lzs": Packed(TEXT), "d/e/b.lzs": Packed(b"xyz"), "d/c.lzs.lzs": None}),
    Case("unpack NAME.lzs in any case", {"x.lzs": WORKED, "y.LzS": WORKED}, ["-d", "x.lzs", "y.LzS"], 0,
         {"x": b"ABCABCABC", "y": b"ABCABCABC", "x.lzs": WORKED}),
    Case("unpack another name to NAME.DeLZS", {"x.bin": WORKED}, ["--decompress", "x.bin"], 0,
         {"x.bin.DeLZS": b"ABCABCABC"}),
    Case("unpack -r takes only *.lzs", {"d/x.lzs": WORKED, "d/e/y.lzs": WORKED, "d/z": WORKED}, ["-d", "-r", "d"], 0,
         {"d/x": b"ABCABCABC", "d/e/y": b"ABCABCABC", "d/z.DeLZS": None}),
    Case("bad header: existing output untouched even with -f", {"x.lzs": WORKED + b"!", "x": b"keep"},
         ["-d", "-f", "--rm", "x.lzs"], 1, {"x": b"keep", "x.lzs": ANY}, "x.lzs: not LZS: header is not"),
    Case("too short to be LZS", {"x.lzs": b"\x00\x00\x00\x00"}, ["-d", "x.lzs"], 1, {"x": None},
         "x.lzs: not LZS: not an LZS image (4 bytes or fewer)"),
    Case("an image that yields nothing", {"x.lzs": b"\x01\x00\x00\x00\x00"}, ["-d", "x.lzs"], 1,
         {"x": None}, "x.lzs: not LZS: image yields no byte"),
    Case("unpack --rm", {"x.lzs": WORKED}, ["-d", "--rm", "x.lzs"], 0, {"x.lzs": None, "x": b"ABCABCABC"}),
    Case("the input as its own output", {"x.lzs": WORKED}, ["-d", "-f", "x.lzs", "-o", "./x.lzs"], 1,
         {"x.lzs": WORKED}, "is the input file itself"),
    Case("-t writes nothing", {"x.lzs": WORKED}, ["-t", "x.lzs"], 0, {"x": None}),
    Case("-t -v says OK", {"x.lzs": WORKED}, ["-t", "-v", "x.lzs"], 0, {}, "x.lzs: OK, 9 bytes"),
    Case("-t fails a bad image", {"x.lzs": WORKED[:-1]}, ["-t", "x.lzs"], 1, {}, "x.lzs: not LZS"),
    Case("-t warns of a cut-off item", {"c.lzs": CUT}, ["-t", "c.lzs"], 0, {}, "c.lzs: warning: the last back-reference is cut off"),
    Case("-t -q does not", {"c.lzs": CUT}, ["-t", "-q", "c.lzs"], 0, {}),
    Case("-l lists one file", {"x.lzs": WORKED}, ["-l", "x.lzs"], 0, {"x": None}, "",
         b"      Packed     Unpacked    Ratio  Name\n          10            9    0.900  x.lzs\n"),
    Case("-l totals several, failures named", {"x.lzs": WORKED, "y.lzs": literal_image(b"0123456789")},
         ["-l", "x.lzs", "bad.lzs", "y.lzs"], 1, {}, "bad.lzs: cannot open",
         b"      Packed     Unpacked    Ratio  Name\n          10            9    0.900  x.lzs\n"
         b"          16           10    0.625  y.lzs\n          26           19    0.731  (total, 2 files)\n"),
    Case("-c writes standard output", {"x.lzs": WORKED, "y.lzs": WORKED}, ["-dc", "x.lzs", "y.lzs"], 0,
         {"x": None}, "", b"ABCABCABC" * 2),
    Case("standard input to standard output", {}, ["-d"], 0, {}, "", b"ABCABCABC", WORKED),
    Case("- is standard input", {}, ["-", "-c"], 0, {}, "", None, TEXT,
         lambda err, out, _: decode(out) == TEXT),
    Case("-v, messages in input order with 2 threads", {"a": TEXT * 30, "b": b"b", "c": b"c"},
         ["-v", "-T2", "a", "b", "c"], 0, {"c.lzs": Packed(b"c")}, "lzs: a: 573000 -> ",
         check=lambda err, out, _: [line.split(":")[1].strip() for line in err.splitlines()] == ["a", "b", "c"]),
    Case("-q keeps the errors", {}, ["-q", "nothing"], 1, {}, "nothing: cannot open"),
    Case("--help", {}, ["--help"], 0, {}, "", None,
         check=lambda err, out, _: out.startswith(b"Usage: lzs [OPTION]... [FILE]...\n")),
    Case("-V", {}, ["-V"], 0, {}, "", None,
         check=lambda err, out, _: re.fullmatch(rb"lzs \d+\.\d+\.\d+ \(liblzs \d+\.\d+\.\d+\)\n", out) is not None),
    Case("--uncompress -k", {"x.lzs": WORKED}, ["--uncompress", "-k", "x.lzs"], 0,
         {"x": b"ABCABCABC", "x.lzs": WORKED}),
    Case("unknown option", {"a": TEXT}, ["--bogus", "a"], 2, {"a.lzs": None}, "Try 'lzs --help'"),
    Case("-o with two inputs", {"a": TEXT, "b": TEXT}, ["a", "b", "-o", "x"], 2, {"x": None},
         "-o takes exactly one input file"),
    Case("-c packs one input only", {"a": TEXT, "b": TEXT}, ["-c", "a", "b"], 2, {}, "cannot be joined", b""),
    Case("-T takes a number", {"a": TEXT}, ["-T", "two", "a"], 2, {"a.lzs": None}, "-T takes a number"),
    Case("a closed stderr takes no output's place", {k + ".lzs": literal_image(v) for k, v in BLOCKS.items()},
         ["-d", "-v", "-T2", *(k + ".lzs" for k in BLOCKS)], 0, BLOCKS, setup=lambda: os.close(2)),
    Case("a closed stdout still fails the write", {"x.lzs": WORKED}, ["-dc", "x.lzs"], 1, {},
         "(standard output): cannot write: Bad file descriptor", setup=lambda: os.close(1)),
    Case("a file over the size limit fails alone", {"a": TEXT, "b": TEXT, "b.lzs": b"old", "s": b"xyz"},
         ["a", "-f", "b", "s"], 1, {"a.lzs": None, "b.lzs": b"old", "s.lzs": Packed(b"xyz")},
         "a.lzs: cannot write: File too large", setup=file_size_limit(100)),
    Case("-f -o a link replaces the link, not its target", {"a": TEXT, "t": b"old"}, ["-f", "-o", "l", "a"], 0,
         {"l": Packed(TEXT), "t": b"old"}, links={"l": "t"}),
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
           {"a.bin": SAMPLE, "empty.bin": b"", "noise.bin": NOISE, "folder/x": b"", "t": b"old"}, args, 1,
           {"a.bin": SAMPLE, "t": b"old", **after}, err, tool="lzs-pack", links={"l": "t"}, setup=setup)
      for args, err, after, setup in [
          (["missing.bin"], "missing.bin: cannot open: No such file", {"missing.bin.lzs": None}, None),
          (["folder"], "folder: cannot read", {"folder.lzs": None}, None),
          (["empty.bin"], "empty.bin: is empty", {"empty.bin.lzs": None}, None),
          (["noise.bin"], "noise.bin: is too large", {"noise.bin.lzs": None}, None),
          (["a.bin", "-o", "no/such/dir.lzs"], "cannot create", {"no": None}, None),
          (["a.bin", "-o", "folder"], "folder: already exists; not overwritten (use -f", {"folder/a.bin.lzs": None}, None),
          (["a.bin", "-f", "-o", "folder"], "folder: cannot create", {"folder/a.bin.lzs": None}, None),
          (["a.bin", "-o", "./a.bin"], "is the input file itself", {"a.bin.lzs": None}, None),
          (["a.bin", "-o", "t"], "t: already exists; not overwritten", {}, None),
          (["a.bin", "-f", "-o", "t"], "t: cannot write: File too large", {}, file_size_limit(100)),
          (["a.bin", "-f", "-o", "l"], "l: cannot write: File too large", {"l": Link("t")},
           file_size_limit(100)),
      ]),
    Case("lzs-pack out of memory", {"big": NOISE * 6}, ["big"], 1, {"big.lzs": None}, "big: out of memory",
         tool="lzs-pack", setup=lambda: resource.setrlimit(resource.RLIMIT_AS, (50 << 20, 50 << 20))),
    Case("lzs-pack -f replaces an output", {"a.bin": SAMPLE, "a.bin.lzs": b"old"}, ["-f", "a.bin"], 0,
         {"a.bin.lzs": Packed(SAMPLE)}, tool="lzs-pack"),
    Case("lzs-pack -f -o a link replaces the link, not its target", {"a.bin": SAMPLE, "t": b"old"},
         ["--force", "-o", "l", "a.bin"], 0, {"l": Packed(SAMPLE), "t": b"old"}, tool="lzs-pack",
         links={"l": "t"}),
]


class LzsCli(unittest.TestCase):
    def setUp(self) -> None:
        self.temp = tempfile.TemporaryDirectory()
        self.dir = Path(self.temp.name)

    def tearDown(self) -> None:
        self.temp.cleanup()

    def run_lzs(self, args, stdin=b"", program="", **kwargs) -> subprocess.CompletedProcess:
        kwargs.setdefault("timeout", 120)
        return subprocess.run([program or PROGRAM, *args], cwd=self.dir, input=stdin, capture_output=True,
                              **kwargs)

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
                result = self.run_lzs(case.args, case.stdin, PACK if case.tool == "lzs-pack" else PROGRAM,
                                      preexec_fn=case.setup)
                err = result.stderr.decode(errors="replace")
                self.assertEqual(result.returncode, case.code, err)
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

    def test_refuses_to_pack_above_the_header_limit(self) -> None:
        # Sparse: refused from its size, before anything is read.
        with open(self.dir / "big", "wb") as big:
            big.truncate((1 << 31) + 1)
        result = self.run_lzs(["big"])
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"lzs: big: is too large to pack: more than 2147483648 bytes", result.stderr)
        self.assertFalse((self.dir / "big.lzs").exists())

    def test_killed_while_writing_leaves_nothing(self) -> None:
        # 256 MiB of zeros: groups of a flag byte 00 and 8 back-references of 18.
        groups = (256 << 20) // 144
        payload = (b"\x00" + b"\x00\x0f" * 8) * groups
        self.lay_out({"z.lzs": len(payload).to_bytes(4, "little") + payload, "z": b"old"})
        size = groups * 144
        process = subprocess.Popen([PROGRAM, "-d", "-f", "z.lzs"], cwd=self.dir)
        writing = False
        # Killed once an output file of the run holds part of the bytes.
        while not writing and process.poll() is None:
            for fd in Path(f"/proc/{process.pid}/fd").iterdir():
                try:
                    target = os.readlink(fd)
                    written = fd.stat().st_size
                except OSError:
                    continue
                if target.startswith(str(self.dir)) and "z.lzs" not in target and 0 < written < size:
                    writing = True
                    break
        process.kill()
        process.wait()
        self.assertTrue(writing, "the run ended before it was seen writing")
        self.assertEqual(sorted(p.name for p in self.dir.iterdir()), ["z", "z.lzs"])
        self.assertEqual((self.dir / "z").read_bytes(), b"old")

    def test_named_temporary_file_has_the_input_mode_and_goes_on_signals(self) -> None:
        # Without /proc (hidden in a mount namespace of its own), an output
        # cannot be an unnamed file: it is a named one beside its target.
        hide_proc = ["unshare", "-m", "sh", "-c", 'mount -t tmpfs none /proc && exec "$0" "$@"']
        if os.geteuid() != 0 or subprocess.run([*hide_proc, "true"]).returncode != 0:
            self.skipTest("needs a mount namespace of its own")
        groups = (256 << 20) // 144  # 256 MiB of zeros, as below
        payload = (b"\x00" + b"\x00\x0f" * 8) * groups
        self.lay_out({"z.lzs": len(payload).to_bytes(4, "little") + payload, "z": b"old"})
        (self.dir / "z.lzs").chmod(0o600)
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT, signal.SIGPIPE,
                    signal.SIGXCPU):
            with self.subTest(sig.name):
                for path in self.dir.glob(".*"):  # left by a failed row before
                    path.unlink()
                process = subprocess.Popen([*hide_proc, PROGRAM, "-d", "-f", "z.lzs"], cwd=self.dir,
                                           preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_CORE, (0, 0)))
                modes = set()
                writing = False
                while not writing and process.poll() is None:
                    for path in self.dir.glob(".z.*.tmp"):
                        try:
                            st = path.stat()
                        except OSError:
                            continue
                        modes.add(stat.S_IMODE(st.st_mode))
                        writing = st.st_size > 0
                process.send_signal(sig)
                self.assertEqual(process.wait(), -sig)
                self.assertTrue(writing, "the run ended before it was seen writing")
                self.assertEqual(sorted(p.name for p in self.dir.iterdir()), ["z", "z.lzs"])
                self.assertEqual(modes, {0o600})
                self.assertEqual((self.dir / "z").read_bytes(), b"old")

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

    def test_terminals(self) -> None:
        self.lay_out({f"f{k}": TEXT for k in range(6)})
        self.lay_out({"x.lzs": WORKED})
        code, seen = self.run_on_terminal(["-c", "f0"], "stdout")
        self.assertEqual((code, seen), (1, b""))
        code, seen = self.run_on_terminal(["-c", "-f", "f0"], "stdout")
        self.assertEqual(code, 0)
        self.assertGreater(len(seen), 100)
        code, _ = self.run_on_terminal(["-d"], "stdin")
        self.assertEqual(code, 1)
        code, seen = self.run_on_terminal(["-dc", "x.lzs"], "stdout")
        self.assertEqual((code, seen), (0, b"ABCABCABC"))
        code, seen = self.run_on_terminal(["-f"] + [f"f{k}" for k in range(6)], "stderr")
        self.assertEqual(code, 0)
        self.assertIn(b" of 6 files", seen)
        code, seen = self.run_on_terminal(["-f", "-q"] + [f"f{k}" for k in range(6)], "stderr")
        self.assertEqual((code, seen), (0, b""))


if __name__ == "__main__":
    PROGRAM = str(Path(sys.argv.pop(1)).resolve())
    PACK = str(Path(sys.argv.pop(1)).resolve())
    unittest.main()
