"""lzs.open for writing, on paths and file objects, and python -m lzs: what
appears on disk, what is left when something fails, and what is never
replaced."""
import io
import os
import pathlib
import pty
import re
import signal
import stat
import subprocess
import sys
import tempfile
import threading
import time
import unittest
from unittest import mock

import lzs
from lzs import _files
from test_module import CODES, ROUND_TRIP_DATA, SOURCE_DIR, measures_memory, random_bytes

DATA = ROUND_TRIP_DATA[2][1]
BIG = random_bytes(4, 300_000)  # an image of 337,506 bytes: five times a pipe's room


class Sip(io.RawIOBase):
    """A raw file that takes at most `most` bytes per write, and with
    `stalls`, nothing (None) every other time, as a non-blocking one may."""

    def __init__(self, most, stalls=False, descriptor=None):
        self.taken, self._most, self._stalls, self._descriptor, self._calls = bytearray(), most, stalls, descriptor, 0

    def writable(self):
        return True

    def write(self, data):
        self._calls += 1
        if self._stalls and self._calls % 2:
            return None
        piece = bytes(data[:self._most])
        self.taken += piece
        return len(piece)

    def fileno(self):
        if self._descriptor is None:
            raise io.UnsupportedOperation("no descriptor")
        return self._descriptor


class Keeper:
    """A file object whose write() returns nothing, as many written before io did."""

    def __init__(self):
        self.pieces = []

    def write(self, data):
        self.pieces.append(data)


def quiet_run(script, *args):
    """Runs a Python script with every warning an error, as in development
    mode; returns (exit code, standard output, standard error)."""
    result = subprocess.run([sys.executable, "-X", "dev", "-W", "error", "-c", script, *args],
                            capture_output=True, text=True, timeout=120)
    return result.returncode, result.stdout, result.stderr


def read_or_end(fd):
    """What a terminal's main side has; b"" once its other side is closed."""
    try:
        return os.read(fd, 65536)
    except OSError:
        return b""


def one_shot_level_error(level):
    try:
        lzs.compress(b"x", level)
    except lzs.LzsError as error:
        return str(error)


class Folder(unittest.TestCase):
    def setUp(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.folder = pathlib.Path(folder.name)
        self.path = self.folder / "data.lzs"

    def listing(self):
        return sorted(os.listdir(self.folder))


class OpenWrite(Folder):
    def test_text(self):
        text = "première ligne\nzweite Zeile\n" * 40
        rows = [  # mode, keywords, the bytes packed
            ("wt", {"encoding": "utf-8"}, text.encode("utf-8")),
            ("xt", {"encoding": "latin-1"}, text.encode("latin-1")),
            ("wt", {"encoding": "utf-8", "newline": "\r\n"}, text.replace("\n", "\r\n").encode("utf-8")),
            ("wt", {"encoding": "ascii", "errors": "replace"}, text.replace("è", "?").encode("ascii")),
        ]
        for mode, keywords, packed in rows:
            with self.subTest(mode=mode, **keywords):
                with lzs.open(self.path, mode, **keywords) as out:
                    self.assertIsInstance(out, io.TextIOWrapper)
                    out.write(text)
                self.assertEqual(lzs.decompress(self.path.read_bytes()), packed)
                target = io.BytesIO()
                with lzs.open(target, mode, **keywords) as out:
                    out.write(text)
                self.assertEqual(lzs.decompress(target.getvalue()), packed)
                self.path.unlink()
        with self.assertRaises(KeyError):
            with lzs.open(self.path, "wt", encoding="utf-8") as out:
                out.write(text)
                raise KeyError("stop")
        self.assertEqual(self.listing(), [])

    def test_write_then_read(self):
        for mode, level, path in [("wb", lzs.LEVEL_OPTIMAL, self.path), ("xb", lzs.LEVEL_FAST, str(self.path)),
                                  ("w", lzs.LEVEL_FAST, os.fsencode(self.path))]:
            with self.subTest(mode=mode, level=level, path=type(path).__name__):
                with lzs.open(path, mode, level=level) as out:
                    self.assertTrue(out.writable())
                    out.write(DATA[:1000])
                    out.write(memoryview(DATA)[1000:])
                    self.assertEqual(self.listing(), [])  # nothing named before close
                self.assertEqual(self.path.read_bytes(), lzs.compress(DATA, level))
                self.assertEqual(self.listing(), ["data.lzs"])
                with lzs.open(self.path) as packed:
                    self.assertEqual(list(packed), DATA.splitlines(keepends=True))
                self.path.unlink()

    def test_file_objects_get_the_image_when_closed_and_stay_open(self):
        with open(self.path, "w+b") as opened:
            opened.write(b"HEAD")
            # (kind, file object, where the image starts, data): the image of
            # the last is kept in a temporary file, past the 4 MiB in memory.
            targets = [("BytesIO", io.BytesIO(), 0, DATA), ("open file", opened, 4, DATA),
                       ("beyond 4 MiB", io.BytesIO(), 0, random_bytes(6, 5 << 20))]
            for kind, target, start, data in targets:
                with self.subTest(kind):
                    with lzs.open(target, "wb", level=lzs.LEVEL_FAST) as out:
                        out.write(data)
                        self.assertEqual((target.tell(), out.tell()), (start, len(data)))
                    self.assertFalse(target.closed)
                    target.seek(start)
                    self.assertEqual(target.read(), lzs.compress(data, lzs.LEVEL_FAST))
        self.assertRaises(TypeError, lzs.open, 12, "wb")

    def test_file_objects_get_every_byte(self):
        image = lzs.compress(BIG, lzs.LEVEL_FAST)
        read_end, write_end = os.pipe()
        self.addCleanup(os.close, read_end)
        os.set_blocking(write_end, False)
        pipe = open(write_end, "wb", buffering=0)
        self.addCleanup(pipe.close)
        drained = []
        reader = threading.Thread(target=lambda: drained.extend(iter(lambda: os.read(read_end, 4096), b"")))
        # (name, file object, what it took once closed); the pipe's reader
        # takes 4,096 bytes at a time, far slower than it is written.
        rows = [
            ("4,096 bytes per write", Sip(4096), lambda target: bytes(target.taken)),
            ("one byte, and nothing every other time", Sip(1, stalls=True, descriptor=write_end),
             lambda target: bytes(target.taken)),
            ("unbuffered non-blocking pipe", pipe, lambda target: (target.close(), reader.join(), b"".join(drained))[2]),
            ("buffered non-blocking pipe", None, None),
            ("write() that returns nothing", Keeper(), lambda target: b"".join(target.pieces)),
        ]
        for name, target, taken in rows:
            if target is None:
                continue  # below, on a pipe of its own
            with self.subTest(name):
                if target is pipe:
                    reader.start()
                self.assertGreater(len(image), 4 * 65536)
                with lzs.open(target, "wb", level=lzs.LEVEL_FAST) as out:
                    out.write(BIG)
                self.assertEqual(taken(target), image)
        with self.subTest("buffered non-blocking pipe"):
            read_end, write_end = os.pipe()
            os.set_blocking(write_end, False)
            with open(read_end, "rb") as source, open(write_end, "wb") as target:
                reader = threading.Thread(target=lambda: drained.append(source.read()))
                drained.clear()
                reader.start()
                with lzs.open(target, "wb", level=lzs.LEVEL_FAST) as out:
                    out.write(BIG)
                target.close()
                reader.join()
            self.assertEqual(drained, [image])
        # Nothing taken, and no descriptor to wait on: an error, not a loss.
        with self.assertRaises(BlockingIOError):
            with lzs.open(Sip(0, stalls=True), "wb") as out:
                out.write(DATA)

    @measures_memory
    def test_writing_takes_bounded_memory(self):
        # 110 MiB written in 1 MiB pieces: the peak of resident memory grows
        # by less than 32 MiB (holding it all took 280 MiB more). A file
        # object gets the image at the end, kept in a temporary file.
        script = "\n".join([
            "import random, resource, sys, lzs",
            "level, target = int(sys.argv[1]), sys.argv[2]",
            "table = bytes(b'abcdefghijklmno '[k % 16] for k in range(256))",
            "base = random.Random(1).getrandbits(8 << 20).to_bytes(1 << 20, 'little').translate(table)",
            "peak = lambda: resource.getrusage(resource.RUSAGE_SELF).ru_maxrss",
            "before = peak()",
            "with lzs.open(open(target, 'wb') if sys.argv[3] == 'object' else target, 'wb', level=level) as out:",
            "    for k in range(110):",
            "        rotation = k * 7919 % len(base)",
            "        out.write(base[rotation:] + base[:rotation])",
            "print((peak() - before) // 1024)",
        ])
        for level, kind in [(lzs.LEVEL_FAST, "path"), (lzs.LEVEL_OPTIMAL, "path"), (lzs.LEVEL_FAST, "object")]:
            with self.subTest(level=level, target=kind):
                result = subprocess.run([sys.executable, "-c", script, str(level), str(self.path), kind],
                                        capture_output=True, text=True, timeout=600)
                self.assertEqual((result.returncode, result.stderr), (0, ""))
                self.assertLess(int(result.stdout), 32)
                with lzs.open(self.path) as packed:
                    self.assertEqual(sum(len(piece) for piece in iter(lambda: packed.read(1 << 20), b"")), 110 << 20)

    def test_nothing_said_when_collected(self):
        script = ("import gc, io, sys, lzs\n"
                  "unused = lzs.open(io.BytesIO(), 'wb')\n"
                  "text = lzs.open(io.BytesIO(), 'wt', encoding='utf-8')\n"
                  "for args in [(12, 'wb'), (sys.argv[1] + '/missing/x.lzs', 'rb'), (sys.argv[1] + '/missing/x.lzs', 'wb'),\n"
                  "             (sys.argv[1], 'r+b'), (sys.argv[1] + '/x.lzs', 'xb', 5), (sys.argv[1] + '/x', 'wt', 0, 'nope')]:\n"
                  "    try:\n"
                  "        lzs.open(*args[:2], **dict(zip(('level', 'encoding'), args[2:])))\n"
                  "    except (TypeError, OSError, ValueError, LookupError) as error:\n"
                  "        print(type(error).__name__)\n"
                  "del unused, text\n"
                  "gc.collect()\n")
        self.assertEqual(quiet_run(script, str(self.folder)),
                         (0, "TypeError\nFileNotFoundError\nFileNotFoundError\nValueError\nLzsError\nLookupError\n", ""))
        self.assertEqual(self.listing(), [])

    def test_exclusive_create(self):
        self.path.write_bytes(b"keep")
        self.assertRaises(FileExistsError, lzs.open, self.path, "xb")
        # The name taken between open and close: the file there stays.
        other = self.folder / "other.lzs"
        out = lzs.open(other, "xb")
        out.write(b"new")
        other.write_bytes(b"taken")
        self.assertRaises(FileExistsError, out.close)
        self.assertTrue(out.closed)
        self.assertEqual(other.read_bytes(), b"taken")
        self.assertEqual(self.path.read_bytes(), b"keep")
        self.assertEqual(self.listing(), ["data.lzs", "other.lzs"])

    def test_nothing_left_when_packing_fails_or_the_block_raises(self):
        for unnamed in (True, False):
            for before in (None, b"old contents"):
                if before is not None:
                    self.path.write_bytes(before)
                with self.subTest(unnamed_files=unnamed, existing=before is not None), \
                        mock.patch.object(_files, "_UNNAMED_FILES", unnamed and _files._UNNAMED_FILES):
                    with self.assertRaises(lzs.LzsError) as caught:
                        with lzs.open(self.path, "wb"):
                            pass
                    self.assertEqual(caught.exception.code, CODES["EMPTY_INPUT"])
                    with self.assertRaises(KeyError):
                        with lzs.open(self.path, "wb") as out:
                            out.write(b"partial")
                            raise KeyError("stop")
                    self.assertEqual(self.listing(), [] if before is None else ["data.lzs"])
                    if before is not None:
                        self.assertEqual(self.path.read_bytes(), before)
                        self.path.unlink()

    def test_a_write_that_fails_partway_leaves_nothing(self):
        # A file size limit of 1 MiB (Python ignores SIGXFSZ: the write
        # fails with EFBIG) while 3 MiB of random bytes are written.
        script = "\n".join([
            "import os, resource, sys, lzs",
            "from lzs import _files",
            "_files._UNNAMED_FILES &= sys.argv[2] == 'unnamed'",
            "resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 20, 1 << 20))",
            "out = lzs.open(sys.argv[1], 'wb')",
            "for call in (lambda: out.write(os.urandom(3 << 20)), lambda: out.write(b'more'), out.close):",
            "    try:",
            "        call()",
            "    except (OSError, ValueError) as error:",
            "        print(type(error).__name__, getattr(error, 'filename', None) == sys.argv[1])",
            "print(out.closed)",
        ])
        for files in ("unnamed", "named"):
            with self.subTest(files=files):
                self.assertEqual(quiet_run(script, str(self.path), files),
                                 (0, "OSError True\nValueError False\nValueError False\nTrue\n", ""))
                self.assertEqual(self.listing(), [])

    def test_bad_arguments(self):
        self.path.write_bytes(b"not an image")
        for mode in ("rbt", "ab", "r+b", "t", "at"):
            with self.subTest(mode=mode):
                self.assertRaises(ValueError, lzs.open, self.path, mode)
        for keyword in ("encoding", "errors", "newline"):
            with self.subTest(binary_mode_with=keyword):
                self.assertRaises(ValueError, lzs.open, self.path, "rb", **{keyword: "utf-8"})
        # An unknown level is refused when the file is opened, in the library's words.
        for mode, level in [("wb", 2), ("xb", -1), ("wb", 10)]:
            with self.subTest(mode=mode, level=level):
                with self.assertRaises(lzs.LzsError) as caught:
                    lzs.open(self.folder / "new.lzs", mode, level=level)
                self.assertEqual(caught.exception.code, lzs.ERROR_BAD_LEVEL)
                self.assertEqual(str(caught.exception), one_shot_level_error(level))
        self.assertEqual(self.listing(), ["data.lzs"])
        with lzs.open(self.folder / "x.lzs", "wb") as out:
            out.write(b"x")
            self.assertRaises(OSError, out.read)
        self.assertRaises(ValueError, out.write, b"after close")


class WhatIsReplaced(Folder):
    """A path written to: only a regular file there is replaced (a link to
    one is replaced itself); its mode and owner stay; nothing is ever named
    beside it before the image is complete."""

    def check_refused(self, make):
        make(self.path)
        before = os.lstat(self.path)
        with self.assertRaises(OSError):
            with lzs.open(self.path, "wb") as out:
                out.write(b"data")
        after = os.lstat(self.path)
        self.assertEqual((after.st_ino, after.st_mode), (before.st_ino, before.st_mode))

    def test_devices_fifos_and_links_to_them_are_refused(self):
        cases = [
            ("FIFO", os.mkfifo),
            ("link to a FIFO", lambda path: (os.mkfifo(self.folder / "fifo"), os.symlink("fifo", path))),
            ("link to /dev/null", lambda path: os.symlink("/dev/null", path)),
            ("link to a folder", lambda path: (os.mkdir(self.folder / "sub"), os.symlink("sub", path))),
        ]
        for name, make in cases:
            with self.subTest(name):
                self.check_refused(make)
                for leftover in self.folder.iterdir():
                    (os.rmdir if leftover.is_dir() and not leftover.is_symlink() else os.unlink)(leftover)

    def test_a_device_node_is_refused(self):
        try:
            os.mknod(self.path, 0o666 | stat.S_IFCHR, os.makedev(1, 3))
        except PermissionError:
            self.skipTest("no permission to make a device node here")
        os.unlink(self.path)
        self.check_refused(lambda path: os.mknod(path, 0o666 | stat.S_IFCHR, os.makedev(1, 3)))

    def test_a_link_to_a_regular_file_is_replaced_itself(self):
        target = self.folder / "target"
        target.write_bytes(b"stays")
        os.symlink("target", self.path)
        with lzs.open(self.path, "wb") as out:
            out.write(DATA)
        self.assertFalse(self.path.is_symlink())
        self.assertEqual(self.path.read_bytes(), lzs.compress(DATA))
        self.assertEqual(target.read_bytes(), b"stays")

    def test_mode_and_owner_of_the_file_replaced_stay(self):
        owner = 4321 if os.geteuid() == 0 else os.geteuid()
        for mode in (0o600, 0o640, 0o604):
            with self.subTest(mode=oct(mode)):
                self.path.write_bytes(b"old")
                os.chmod(self.path, mode)
                os.chown(self.path, owner, -1)
                with lzs.open(self.path, "wb") as out:
                    out.write(DATA)
                after = os.stat(self.path)
                self.assertEqual((stat.S_IMODE(after.st_mode), after.st_uid), (mode, owner))
                self.assertEqual(self.path.read_bytes(), lzs.compress(DATA))

    def test_a_process_killed_while_writing_leaves_nothing(self):
        # Killed while it writes, or while the image goes to disk (where the
        # file system has no unnamed files, a named one is there then, which
        # a helper process removes once this one is gone).
        script = ("import os, signal, sys, lzs\n"
                  "from lzs import _files\n"
                  "_files._UNNAMED_FILES = _files._UNNAMED_FILES and sys.argv[2] == 'unnamed'\n"
                  "kill = lambda *args: os.kill(os.getpid(), signal.SIGKILL)\n"
                  "if sys.argv[3] == 'syncing':\n"
                  "    os.fsync = kill\n"
                  "out = lzs.open(sys.argv[1], 'wb')\n"
                  "out.write(b'data' * 1000)\n"
                  "out.close() if sys.argv[3] == 'syncing' else kill()\n")
        for files in ("unnamed", "named"):
            for when in ("writing", "syncing"):
                for existing in (False, True):
                    with self.subTest(files=files, when=when, existing=existing):
                        if existing:
                            self.path.write_bytes(b"old")
                        result = subprocess.run([sys.executable, "-c", script, str(self.path), files, when],
                                                capture_output=True)
                        self.assertEqual(result.returncode, -signal.SIGKILL, result.stderr)
                        expected = ["data.lzs"] if existing else []
                        for _ in range(600):  # the helper's work takes a moment; a minute at most
                            if self.listing() == expected:
                                break
                            time.sleep(0.1)
                        self.assertEqual(self.listing(), expected)
                        if existing:
                            self.assertEqual(self.path.read_bytes(), b"old")
                            self.path.unlink()

    def test_names_that_lead_to_a_descriptor_are_written_through(self):
        # Standard output, a file here, gets what the script printed and then
        # the image, at its place; the names stay what they were.
        os.symlink("/dev/stdout", self.folder / "link")
        script = ("import sys, lzs\n"
                  "print('before', flush=True)\n"
                  "with lzs.open(sys.argv[1], sys.argv[2]) as out:\n"
                  "    out.write(b'through ' * 100)\n")
        image = lzs.compress(b"through " * 100)
        # The system's own /dev/stdout last, once the same road is known to be safe.
        for name in (str(self.folder / "link"), "/dev/fd/1", "/proc/self/fd/1", "/dev/stdout"):
            for mode in ("wb", "xb"):
                with self.subTest(name=name, mode=mode):
                    with open(self.folder / "out", "wb") as out:
                        result = subprocess.run([sys.executable, "-c", script, name, mode], stdout=out,
                                                stderr=subprocess.PIPE, text=True, timeout=60)
                    if mode == "xb":  # the name is there
                        self.assertIn("FileExistsError", result.stderr)
                        continue
                    self.assertEqual(result.returncode, 0, result.stderr)
                    self.assertEqual((self.folder / "out").read_bytes(), b"before\n" + image)
                    self.assertEqual(os.readlink("/dev/stdout"), "/proc/self/fd/1")
                    self.assertEqual(os.readlink(self.folder / "link"), "/dev/stdout")

    def test_nothing_in_dev_or_proc_is_replaced(self):
        shm = pathlib.Path("/dev/shm")
        if not shm.is_dir() or not os.access(shm, os.W_OK):
            self.skipTest("no /dev/shm to write in")
        existing = shm / f"lzs-test-{os.getpid()}-existing"
        existing.write_bytes(b"stays")
        self.addCleanup(existing.unlink)
        new = shm / f"lzs-test-{os.getpid()}-new.lzs"
        self.addCleanup(lambda: new.exists() and new.unlink())
        for name in (existing, "/dev/null", "/proc/self/status", f"/proc/{os.getppid()}/fd/0", "/dev/fd/987"):
            with self.subTest(name=str(name)):
                before = os.lstat(name) if os.path.lexists(name) else None
                with self.assertRaises(OSError):
                    with lzs.open(name, "wb") as out:
                        out.write(b"data")
                if before is not None:
                    after = os.lstat(name)
                    self.assertEqual((after.st_ino, after.st_mode, after.st_size),
                                     (before.st_ino, before.st_mode, before.st_size))
        self.assertEqual(existing.read_bytes(), b"stays")
        with lzs.open(new, "xb") as out:  # a new name there takes nothing away
            out.write(b"data")
        self.assertEqual(lzs.decompress(new.read_bytes()), b"data")


class CommandLine(Folder):
    def lzs(self, *args, stdin=b""):
        return subprocess.run([sys.executable, "-m", "lzs", *args], input=stdin, cwd=self.folder,
                              capture_output=True, timeout=60)

    def test_closed_standard_streams(self):
        (self.folder / "a.txt").write_bytes(DATA)
        for redirection, words in [(">&-", "standard output is closed"), ("<&-", "standard input is closed")]:
            with self.subTest(redirection):
                command = f'exec "$0" -m lzs -c {"a.txt" if ">" in redirection else "-d"} {redirection}'
                result = subprocess.run(["sh", "-c", command, sys.executable], cwd=self.folder,
                                        stderr=subprocess.PIPE, timeout=60)
                self.assertEqual(result.returncode, 1)
                self.assertIn(words, result.stderr.decode())

    def test_packed_data_and_terminals(self):
        # lzs's words, where lzs says them; -f packs to a terminal all the same.
        sources = "".join(path.read_text() for path in sorted((SOURCE_DIR / "cli").glob("*.cpp")))
        words = {kind: re.search(rf'"(will not {kind} packed data [^"]*)"', sources)[1] for kind in ("write", "read")}
        (self.folder / "a.txt").write_bytes(DATA)
        (self.folder / "a.lzs").write_bytes(lzs.compress(DATA))
        rows = [  # arguments, which stream is a terminal, exit code, words on standard error
            (["-c", "a.txt"], "stdout", 1, words["write"]),
            (["a.txt", "-"], "stdout", 1, words["write"]),
            (["-f", "-c", "a.txt"], "stdout", 0, ""),
            (["-d", "-c", "a.lzs"], "stdout", 0, ""),
            (["-d"], "stdin", 1, words["read"]),
            (["-d", "-f", "-"], "stdin", 1, words["read"]),
            (["-c", "-"], "stdin", 1, words["write"]),  # standard output is a terminal too, there
        ]
        for args, terminal, code, said in rows:
            with self.subTest(args=args, terminal=terminal):
                main, other = pty.openpty()
                # What the terminal is given is read, until it is closed.
                reader = threading.Thread(target=lambda: list(iter(lambda: read_or_end(main), b"")))
                reader.start()
                try:
                    streams = {"stdin": subprocess.DEVNULL, "stdout": subprocess.DEVNULL, terminal: other}
                    if args == ["-c", "-"]:
                        streams["stdout"] = other
                    result = subprocess.run([sys.executable, "-m", "lzs", *args], cwd=self.folder, stderr=subprocess.PIPE,
                                            timeout=60, **streams)
                finally:
                    os.close(other)
                    reader.join()
                    os.close(main)
                self.assertEqual(result.returncode, code, result.stderr)
                self.assertEqual(result.stderr.decode(), f"python -m lzs: {said}\n" if said else "")
        self.assertEqual(sorted(self.listing()), ["a.lzs", "a.txt"])

    def test_output_names_are_lzs_s(self):
        # tests/naming.tsv, the table every face is run against: each input
        # alone in a folder; "-", a pack lzs refuses unless forced, in its
        # words, and with -f the packed name.
        sources = "".join(path.read_text() for path in sorted((SOURCE_DIR / "cli").glob("*.cpp")))
        words = re.search(r'"(already has the )" \+ options\.suffix \+\s*"( suffix; [^"]*)"', sources)
        refused = words[1] + ".lzs" + words[2]
        lines = (SOURCE_DIR / "tests/naming.tsv").read_text(encoding="utf-8").splitlines()
        rows = [line.split("\t") for line in lines if line and not line.startswith("#")][1:]
        self.assertGreater(len(rows), 20)
        image = lzs.compress(DATA)
        for mode, name, output in rows:
            for force in ([], ["-f"]) if output == "-" else ([],):
                with self.subTest(mode=mode, input=name, force=force):
                    folder = pathlib.Path(tempfile.mkdtemp(dir=self.folder))
                    (folder / name).parent.mkdir(parents=True, exist_ok=True)
                    (folder / name).write_bytes(image if mode == "unpack" else DATA)
                    result = subprocess.run([sys.executable, "-m", "lzs", *force, *(["-d"] if mode == "unpack" else []),
                                             name], cwd=folder, capture_output=True, timeout=60)
                    made = sorted(str(path.relative_to(folder)) for path in folder.rglob("*") if path.is_file())
                    if output == "-" and not force:
                        self.assertEqual((result.returncode, result.stderr.decode()),
                                         (1, f"python -m lzs: {name}: {refused}\n"))
                        self.assertEqual(made, [name])
                        continue
                    expected = name + ".lzs" if force else output
                    self.assertEqual(result.returncode, 0, result.stderr)
                    self.assertEqual(made, sorted([name, expected]))
                    self.assertEqual((folder / expected).read_bytes(), DATA if mode == "unpack" else image)

    def test_rows(self):
        image = lzs.compress(DATA)
        fast = lzs.compress(DATA, lzs.LEVEL_FAST)
        cut = image[:-3]
        # (arguments, standard input, files before, exit code, standard
        # output, files after, words on standard error)
        rows = [
            (["a.txt"], b"", {"a.txt": DATA}, 0, b"", {"a.txt": DATA, "a.txt.lzs": image}, ""),
            (["-1", "a.txt"], b"", {"a.txt": DATA}, 0, b"", {"a.txt": DATA, "a.txt.lzs": fast}, ""),
            (["-9", "-o", "x", "a.txt"], b"", {"a.txt": DATA}, 0, b"", {"a.txt": DATA, "x": image}, ""),
            (["-c", "a.txt"], b"", {"a.txt": DATA}, 0, image, {"a.txt": DATA}, ""),
            ([], DATA, {}, 0, image, {}, ""),
            (["-1", "-"], DATA, {}, 0, fast, {}, ""),
            (["-d", "a.lzs"], b"", {"a.lzs": image}, 0, b"", {"a.lzs": image, "a": DATA}, ""),
            (["-d", "-o", "b", "a.lzs"], b"", {"a.lzs": fast}, 0, b"", {"a.lzs": fast, "b": DATA}, ""),
            (["-d", "-c", "a.lzs"], b"", {"a.lzs": image}, 0, DATA, {"a.lzs": image}, ""),
            (["-d"], image, {}, 0, DATA, {}, ""),
            # Failures: nothing written under the output's name.
            (["-d", "a.lzs"], b"", {"a.lzs": cut}, 1, b"", {"a.lzs": cut},
             f"a.lzs: cut short: the image is shorter than its header says ({len(cut):,} of {len(image):,} bytes)"),
            (["-d", "a.lzs"], b"", {"a.lzs": image + b"x"}, 1, b"", {"a.lzs": image + b"x"},
             "a.lzs: bytes after the end of the image"),
            (["-d"], b"abc", {}, 1, b"", {}, "(standard input): not an LZS image"),
            (["a.txt"], b"", {"a.txt": DATA, "a.txt.lzs": b"keep"}, 1, b"",
             {"a.txt": DATA, "a.txt.lzs": b"keep"}, "a.txt.lzs: "),
            (["-d", "a.txt"], b"", {"a.txt": image}, 0, b"", {"a.txt": image, "a.txt.DeLZS": DATA}, ""),
            (["-c", "a.lzs"], b"", {"a.lzs": DATA}, 1, b"", {"a.lzs": DATA}, "a.lzs: already has the .lzs suffix"),
            (["-f", "-c", "a.lzs"], b"", {"a.lzs": DATA}, 0, image, {"a.lzs": DATA}, ""),
            (["missing", "a.txt"], b"", {"a.txt": DATA}, 1, b"", {"a.txt": DATA, "a.txt.lzs": image},
             "missing: "),
            ([], b"", {}, 1, b"", {}, "empty input"),
            (["-c", "-o", "x", "a.txt"], b"", {"a.txt": DATA}, 2, b"", {"a.txt": DATA}, "exclude"),
            # -f replaces what is there, as lzs -f does; a descriptor is written through.
            (["-f", "a.txt"], b"", {"a.txt": DATA, "a.txt.lzs": b"old"}, 0, b"", {"a.txt": DATA, "a.txt.lzs": image}, ""),
            (["-d", "-f", "a.lzs"], b"", {"a.lzs": image, "a": b"old"}, 0, b"", {"a.lzs": image, "a": DATA}, ""),
            (["-d", "-f", "-o", "/dev/fd/1", "a.lzs"], b"", {"a.lzs": image}, 0, DATA, {"a.lzs": image}, ""),
            (["-f", "-o", "/proc/self/fd/1", "a.txt"], b"", {"a.txt": DATA}, 0, image, {"a.txt": DATA}, ""),
            (["-d", "-o", "/dev/fd/1", "a.lzs"], b"", {"a.lzs": image}, 1, b"", {"a.lzs": image},
             "/dev/fd/1: file exists"),
        ]
        for args, stdin, before, code, stdout, after, words in rows:
            with self.subTest(args=args, files=sorted(before)):
                for name, content in before.items():
                    (self.folder / name).write_bytes(content)
                result = self.lzs(*args, stdin=stdin)
                self.assertEqual((result.returncode, result.stdout), (code, stdout), result.stderr)
                self.assertEqual({name: (self.folder / name).read_bytes() for name in self.listing()}, after)
                self.assertIn(words, result.stderr.decode())
                for name in self.listing():
                    os.unlink(self.folder / name)


if __name__ == "__main__":
    unittest.main(verbosity=2)
