"""lzs.open for writing, on paths and file objects, and python -m lzs: what
appears on disk, what is left when something fails, and what is never
replaced."""
import io
import os
import pathlib
import signal
import stat
import subprocess
import sys
import tempfile
import unittest
from unittest import mock

import lzs
from lzs import _files
from test_module import CODES, ROUND_TRIP_DATA

DATA = ROUND_TRIP_DATA[2][1]


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
            targets = [("BytesIO", io.BytesIO(), 0), ("open file", opened, 4)]
            for kind, target, start in targets:
                with self.subTest(kind):
                    with lzs.open(target, "wb", level=lzs.LEVEL_FAST) as out:
                        out.write(DATA)
                        self.assertEqual(target.tell(), start)
                    self.assertFalse(target.closed)
                    target.seek(start)
                    self.assertEqual(target.read(), lzs.compress(DATA, lzs.LEVEL_FAST))
        self.assertRaises(TypeError, lzs.open, 12, "wb")

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

    def test_bad_arguments(self):
        self.path.write_bytes(b"not an image")
        for mode in ("rt", "ab", "r+b"):
            with self.subTest(mode=mode):
                self.assertRaises(ValueError, lzs.open, self.path, mode)
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
        script = ("import os, signal, sys, lzs\n"
                  "out = lzs.open(sys.argv[1], 'wb')\n"
                  "out.write(b'data' * 1000)\n"
                  "os.kill(os.getpid(), signal.SIGKILL)\n")
        for existing in (False, True):
            with self.subTest(existing=existing):
                if existing:
                    self.path.write_bytes(b"old")
                result = subprocess.run([sys.executable, "-c", script, str(self.path)], capture_output=True)
                self.assertEqual(result.returncode, -signal.SIGKILL, result.stderr)
                self.assertEqual(self.listing(), ["data.lzs"] if existing else [])


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
            (["-d", "a.txt"], b"", {"a.txt": DATA}, 1, b"", {"a.txt": DATA}, "does not end in .lzs"),
            (["missing", "a.txt"], b"", {"a.txt": DATA}, 1, b"", {"a.txt": DATA, "a.txt.lzs": image},
             "missing: "),
            ([], b"", {}, 1, b"", {}, "empty input"),
            (["-c", "-o", "x", "a.txt"], b"", {"a.txt": DATA}, 2, b"", {"a.txt": DATA}, "exclude"),
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
