"""lzs.exe, the Windows batch tool, under Wine: a batch over a folder,
unpacking, testing, listing, a refused overwrite, a file name outside the
system code page, wildcards, /? and the separators typed, one table row
each; and, on a console of its own as Explorer gives it, dropped files and a
double-click, read back from the console's screen, and the same console
given by a script, which must not wait."""

import os
import re
import shutil
import subprocess
import time
import unittest
from pathlib import Path

import wine
from e2e_case import WORKED_EXAMPLE, WORKED_EXAMPLE_DECODED, literal_image, pattern

PACKABLE = pattern(20_000)
# Outside Windows-1252, the code page Wine gives the C locale.
NON_ASCII = "файл-文件.txt"

# (name, files before: name -> bytes, or a size for a sparse file of zeros,
# arguments, exit status, text stderr holds, exact stdout (bytes), text it
# holds (str) or None, files after: name -> bytes, or None for absent)
CASES = [
    ("batch over a folder", {"d/a": PACKABLE, "d/e/b": b"xyz", "d/c.lzs": WORKED_EXAMPLE},
     ["-r", "d"], 0, "", b"", {"d/a": PACKABLE, "d/a.lzs": "round trip", "d/e/b.lzs": "round trip",
                               "d/c.lzs.lzs": None}),
    ("unpack", {"x.lzs": WORKED_EXAMPLE, "y.bin": WORKED_EXAMPLE}, ["-d", "x.lzs", "y.bin"], 0, "", b"",
     {"x": WORKED_EXAMPLE_DECODED, "y.bin.DeLZS": WORKED_EXAMPLE_DECODED}),
    ("test", {"x.lzs": WORKED_EXAMPLE, "bad.lzs": WORKED_EXAMPLE + b"!"}, ["-t", "x.lzs", "bad.lzs"], 1,
     "lzs: bad.lzs: bytes after the end of the image (11 bytes; the image is 10)", b"", {"x": None, "bad": None}),
    ("test an image cut short", {"cut.lzs": WORKED_EXAMPLE[:-1]}, ["-t", "cut.lzs"], 1,
     "lzs: cut.lzs: cut short: the image is shorter than its header says (9 of 10 bytes)\r\n", b"", {}),
    ("list", {"x.lzs": WORKED_EXAMPLE, "y.lzs": literal_image(b"0123456789")}, ["-l", "x.lzs", "y.lzs"], 0,
     "", b"        Packed       Unpacked    Ratio  Name\r\n"
         b"            10              9 111.11 %  x.lzs\r\n"
         b"            16             10 160.00 %  y.lzs\r\n"
         b"            26             19 136.84 %  (total, 2 files)\r\n", {}),
    ("refused overwrite", {"x.lzs": WORKED_EXAMPLE, "x": b"old"}, ["-d", "x.lzs"], 1,
     "lzs: x: already exists; not overwritten (use -f to overwrite)", b"", {"x": b"old"}),
    ("a name outside the code page", {NON_ASCII: PACKABLE}, ["-v", NON_ASCII], 0, NON_ASCII + ": 20,000 -> ",
     b"", {NON_ASCII + ".lzs": "round trip"}),
    ("--rm removes the input once the output is in place", {"x.lzs": WORKED_EXAMPLE}, ["-d", "--rm", "x.lzs"],
     0, "", b"", {"x": WORKED_EXAMPLE_DECODED, "x.lzs": None}),
    ("y.lzs and y.LZS both give y", {"y.lzs": WORKED_EXAMPLE, "y.LZS": literal_image(b"other")},
     ["-d", "-f", "--rm", "y.lzs", "y.LZS"], 1, "lzs: y.LZS: not done: its output y is also", b"",
     {"y": None, "y.lzs": WORKED_EXAMPLE, "y.LZS": literal_image(b"other")}),
    ("a 100 GB sparse file fails alone", {"d/a.lzs": 100 << 30, "d/b.lzs": WORKED_EXAMPLE},
     ["-d", "-r", "d"], 1, "lzs: d\\a.lzs: not an LZS image: larger than the largest, 4,294,967,299 bytes", b"", {"d/a": None, "d/b": WORKED_EXAMPLE_DECODED}),
    ("an empty file under -r is left, the batch succeeds", {"d/a": PACKABLE, "d/e": b""}, ["-r", "--rm", "d"], 0,
     "lzs: d\\e: empty: left as it is, not packed", b"", {"d/a.lzs": "round trip", "d/e": b"", "d/e.lzs": None}),
    ("-v totals the files unpacked", {"x.lzs": WORKED_EXAMPLE, "y.lzs": WORKED_EXAMPLE}, ["-d", "-v", "x.lzs", "y.lzs"],
     0, "lzs: 2 files unpacked: 20 -> 18 bytes (111.11 %)", b"", {"y": WORKED_EXAMPLE_DECODED}),
    # A backslash separates folders here: only the base name goes into out.
    ("--output-dir-flat takes the base name", {"d/x.Z": WORKED_EXAMPLE, "out/k": b""},
     ["-d", "-S", ".z", "--output-dir-flat=out", "d\\x.Z"], 0, "", b"",
     {"out/x": WORKED_EXAMPLE_DECODED, "d/x": None}),
    ("folders named outside the code page", {"папка/子/" + NON_ASCII: PACKABLE}, ["-r", "папка"], 0, "",
     b"", {"папка/子/" + NON_ASCII + ".lzs": "round trip"}),
    # cmd leaves patterns to the program: sorted without regard to case.
    ("a wildcard lists its matches sorted", {"b.lzs": WORKED_EXAMPLE, "A.lzs": literal_image(b"0123456789"),
                                             "c.lzs.txt": b"x"},
     ["-l", "*.lzs"], 0, "", b"        Packed       Unpacked    Ratio  Name\r\n"
                           b"            16             10 160.00 %  A.lzs\r\n"
                           b"            10              9 111.11 %  b.lzs\r\n"
                           b"            26             19 136.84 %  (total, 2 files)\r\n", {}),
    # Patterns match long names only: the system also matches the 8.3 name
    # it gives keep.lzsold (KEEP~1.LZS), which *.lzs would take.
    ("a pattern matches long names only", {"x.lzs": WORKED_EXAMPLE, "keep.lzsold": WORKED_EXAMPLE},
     ["-d", "--rm", "*.lzs"], 0, "", b"",
     {"x": WORKED_EXAMPLE_DECODED, "x.lzs": None, "keep.lzsold": WORKED_EXAMPLE, "keep": None,
      "keep.lzsold.DeLZS": None}),
    ("a pattern ignores case", {"x.lzs": WORKED_EXAMPLE}, ["-d", "X*.LZS"], 0, "", b"",
     {"x": WORKED_EXAMPLE_DECODED}),
    # As in cmd, *. is every name without a dot (and *.* every name).
    ("a pattern that ends in a dot matches names without one", {"notes": b"xyz", "a.txt": b"xyz"}, ["*."], 0, "", b"",
     {"notes.lzs": "round trip", "a.txt.lzs": None}),
    ("a question mark stands for one character", {"x1.lzs": WORKED_EXAMPLE, "x22.lzs": WORKED_EXAMPLE}, ["-d", "x?.lzs"],
     0, "", b"", {"x1": WORKED_EXAMPLE_DECODED, "x22": None}),
    ("a pattern that matches nothing fails alone", {"x.lzs": WORKED_EXAMPLE}, ["-d", "*.zzz", "x.lzs"], 1,
     "lzs: *.zzz: no file matches", b"", {"x": WORKED_EXAMPLE_DECODED}),
    ("a pattern keeps the folder as typed", {"d/x.lzs": WORKED_EXAMPLE}, ["-d", "-v", "d\\*.lzs"], 0,
     "lzs: d\\x.lzs: 10 -> 9 bytes (111.11 %) -> d\\x\r\n", b"", {"d/x": WORKED_EXAMPLE_DECODED}),
    ("outputs under a folder take the separator typed", {"g/sub/b": b"xyz", "h/c": b"xyz"},
     ["-v", "-r", "g\\sub", "h/"], 0, "-> g\\sub\\b.lzs\r\n", b"",
     {"g/sub/b.lzs": "round trip", "h/c.lzs": "round trip"}),
    ("-r over a folder typed with slashes keeps them", {"g/sub/b": b"xyz"}, ["-v", "-r", "g/sub"],
     0, "lzs: g/sub/b: 3 -> ", b"", {"g/sub/b.lzs": "round trip"}),
    ("/? shows the help", {"x.lzs": WORKED_EXAMPLE}, ["-d", "/?", "x.lzs"], 0, "",
     "Usage: lzs [OPTION]... [FILE]...", {"x": None}),
]

# Started on a console of its own, as Explorer starts it: (name, files
# before, arguments (file names are given as whole Windows paths, as
# Explorer passes them), exit status, lines the screen holds, in this order,
# texts it must not hold, files after). {} in a line stands for the test
# folder's Windows path.
EXPLORER_CASES = [
    ("dropped files: the .lzs unpacked, the other packed", {"x.lzs": WORKED_EXAMPLE, NON_ASCII: PACKABLE},
     ["x.lzs", NON_ASCII], 0,
     ["lzs: {}\\x.lzs: 10 -> 9 bytes (111.11 %) -> {}\\x",
      "lzs: {}\\" + NON_ASCII + ": 20,000 -> ", "-> {}\\" + NON_ASCII + ".lzs",
      "Press Enter to close this window."], ["files"],
     {"x": WORKED_EXAMPLE_DECODED, NON_ASCII + ".lzs": "round trip", "x.lzs": WORKED_EXAMPLE}),
    # Done in the order dropped, not the images first.
    ("dropped files: in the order dropped", {"b": b"xyz", "a.lzs": WORKED_EXAMPLE, "c": b"xyz"},
     ["b", "a.lzs", "c"], 0,
     ["lzs: {}\\b: 3 -> ", "lzs: {}\\a.lzs: 10 -> ", "lzs: {}\\c: 3 -> ", "lzs: 2 files packed: 6 -> ",
      "Press Enter to close this window."], ["unpacked"],
     {"a": WORKED_EXAMPLE_DECODED, "b.lzs": "round trip", "c.lzs": "round trip"}),
    # A drop cannot give -f or -r; no sizes of what was not done, but the
    # failures counted.
    ("dropped files: existing outputs are kept", {"x.lzs": WORKED_EXAMPLE, "x": b"old", "y": b"y", "y.lzs": b"old",
                                                  "d/z": b"z"},
     ["x.lzs", "y", "d"], 1,
     ["lzs: {}\\x: already exists; not overwritten (move or rename it, then drop again)",
      "lzs: {}\\y.lzs: already exists; not overwritten (move or rename it, then drop again)",
      "lzs: {}\\d: is a folder (open it and drop the files in it)", "lzs: 0 files packed; 2 failed",
      "Press Enter to close this window."], ["-f", "-r", " packed:", " unpacked"],
     {"x": b"old", "y.lzs": b"old", "d.lzs": None}),
    ("a double-click shows the help", {}, [], 0,
     ["Usage: lzs [OPTION]... [FILE]...", "Press Enter to close this window."], ["lzscat"], {}),
]


class LzsExeTest(unittest.TestCase):
    def test_cases(self) -> None:
        program = Path(os.environ["LZS_CLI_EXE"])
        for name, files, args, code, err, out, after in CASES:
            with self.subTest(name):
                # No character that Windows refuses in a name: the run
                # would start in the Windows folder instead.
                folder = wine.work_path() / "lzs_exe" / re.sub(r'[ \\/:*?"<>|]', "_", name)
                shutil.rmtree(folder, ignore_errors=True)
                for file, data in files.items():
                    (folder / file).parent.mkdir(parents=True, exist_ok=True)
                    with open(folder / file, "wb") as f:
                        if isinstance(data, int):
                            f.truncate(data)
                        else:
                            f.write(data)
                result = wine.run_console(program, args, folder)
                stderr = result.stderr.decode("utf-8", "replace")
                self.assertEqual(result.returncode, code, stderr)
                self.assertIn(err, stderr)
                if isinstance(out, bytes):
                    self.assertEqual(result.stdout, out)
                elif out is not None:
                    self.assertIn(out, result.stdout.decode("utf-8", "replace"))
                self.check_files(program, folder, files, after)
                self.assertEqual([p.name for p in folder.rglob(".*")], [], "temporary files left")

    def check_files(self, program: Path, folder: Path, files: dict, after: dict) -> None:
        """Each file of `after` is absent (None), unpacks with lzs.exe to the
        input it was packed from ("round trip"), or holds the bytes given."""
        for file, want in after.items():
            path = folder / file
            if want is None:
                self.assertFalse(path.exists(), file)
            elif want == "round trip":
                unpacked = wine.run_console(program, ["-dc", file], folder)
                self.assertEqual(unpacked.stdout, files[file[:-4]], file)
            else:
                self.assertEqual(path.read_bytes(), want, file)

    @unittest.skipUnless(shutil.which("Xvfb"), "needs Xvfb: Wine's console opens a window")
    def test_started_from_explorer(self) -> None:
        program = Path(os.environ["LZS_CLI_EXE"])
        display, xvfb = wine.start_xvfb()
        self.addCleanup(xvfb.wait, 10)
        self.addCleanup(xvfb.terminate)
        self.addCleanup(wine.stop_servers, True)
        wine.stop_servers(display=True)
        # Explorer: the launcher, by the name explorer.exe.
        explorer = wine.work_path() / "lzs_exe" / "explorer" / "explorer.exe"
        explorer.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(wine.launcher_path(), explorer)
        # The exe's own path, quoted as Explorer quotes it, then each file.
        quoted = lambda path: '"' + wine.windows_path(path) + '"'  # noqa: E731
        # With an option the line is done as typed, as from cmd (the
        # installer's Unpack verb is lzs.exe -d -- FILE): a success ends
        # without waiting, a failure waits so that its message can be read.
        # A script that gives the program a console of its own (start,
        # Start-Process, the Task Scheduler) is no Explorer either: the line
        # is done as typed and the program ends without waiting.
        cases = [(*case, explorer) for case in EXPLORER_CASES] + [
            ("an option given: the usual refusal, waiting", {"x.lzs": WORKED_EXAMPLE}, ["-v", "x.lzs"], 1,
             ["lzs: {}\\x.lzs: already has the .lzs suffix", "Press Enter to close this window."], [],
             {"x.lzs.lzs": None, "x": None}, explorer),
            ("the Unpack verb on an image: NAME, no waiting", {"x.lzs": WORKED_EXAMPLE}, ["-d", "--", "x.lzs"],
             0, None, [], {"x": WORKED_EXAMPLE_DECODED, "x.lzs": WORKED_EXAMPLE}, explorer),
            ("the Unpack verb on a damaged image: named, waiting", {"cut.lzs": WORKED_EXAMPLE[:-1]},
             ["-d", "--", "cut.lzs"], 1,
             ["lzs: {}\\cut.lzs: cut short: the image is shorter than its header says (9 of 10 bytes)",
              "Press Enter to close this window."], [], {"cut": None}, explorer),
            ("a console of its own from a script: as typed, no waiting", {"y": b"xyz"}, ["y"], 0, None,
             [], {"y.lzs": "round trip"}, None)]
        for name, files, args, code, lines, absent, after, parent in cases:
            with self.subTest(name):
                folder = wine.work_path() / "lzs_exe" / name.replace(" ", "_").replace(":", "")
                shutil.rmtree(folder, ignore_errors=True)
                folder.mkdir(parents=True)
                for file, data in files.items():
                    (folder / file).parent.mkdir(parents=True, exist_ok=True)
                    (folder / file).write_bytes(data)
                line = " ".join([quoted(program)] + [a if a.startswith("-") else quoted(folder / a)
                                                     for a in args])
                result = wine.run_exe(line, folder, display=display, program=program, new_console=True,
                                      extra_env={"LC_ALL": "C.UTF-8"}, launcher=parent,
                                      screen_end="Press Enter to close this window.")
                screen = result.screen()
                self.assertEqual(result.exit_code, code, screen)
                if lines is None:
                    self.assertIsNone(screen, "the window waited")
                else:
                    self.assertIsNotNone(screen, "the window closed without waiting")
                    at = 0
                    for want in lines:
                        at = screen.find(want.replace("{}", wine.windows_path(folder)), at)
                        self.assertGreaterEqual(at, 0, f"{want!r}, in this order, in {screen}")
                    for text in absent:
                        self.assertNotIn(text, screen.replace(wine.windows_path(folder), ""))
                self.check_files(program, folder, files, after)
        # A cmd script that starts it with start /wait, which gives it a
        # console of its own: the script goes on once the file is done.
        with self.subTest("start /wait in a cmd script"):
            folder = wine.work_path() / "lzs_exe" / "start_wait"
            shutil.rmtree(folder, ignore_errors=True)
            folder.mkdir(parents=True)
            (folder / "y").write_bytes(b"xyz")
            (folder / "run.cmd").write_text(f'start "" /wait {quoted(program)} y\r\necho back %ERRORLEVEL%\r\n')
            cmd = wine.prefix_path(x11=True) / "drive_c/windows/system32/cmd.exe"
            result = wine.run_exe(f"cmd.exe /c {quoted(folder / 'run.cmd')}", folder, display=display,
                                  program=cmd, timeout=60)
            self.assertEqual(result.exit_code, 0)
            self.assertIn(b"back 0", result.output)
            self.check_files(program, folder, {"y": b"xyz"}, {"y.lzs": "round trip"})

    def test_standard_input_in_pieces(self) -> None:
        # Standard input is unpacked piece by piece: an image of many pieces,
        # whole and cut short (its output is then not put in place).
        folder = wine.work_path() / "lzs_exe" / "stdin"
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        data = pattern(700_000)
        image = literal_image(data)
        program = Path(os.environ["LZS_CLI_EXE"])
        for args, feed, code, err, want in [
                (["-dc"], image, 0, b"", data),
                (["-d", "-o", "x"], image, 0, b"", None),
                (["-d", "-o", "y"], image[:-3], 1, b"lzs: (standard input): cut short: the image is shorter "
                 b"than its header says (%s of %s bytes)\r\n" % (f"{len(image) - 3:,}".encode(),
                                                                f"{len(image):,}".encode()), None)]:
            with self.subTest(args=args, size=len(feed)):
                result = wine.run_console(program, args, folder, stdin=feed)
                self.assertEqual(result.returncode, code, result.stderr)
                self.assertIn(err, result.stderr)
                if want is not None:
                    self.assertEqual(result.stdout, want)
        self.assertEqual((folder / "x").read_bytes(), data)
        self.assertEqual(sorted(p.name for p in folder.iterdir()), ["x"])

    def test_failed_write_leaves_nothing(self) -> None:
        folder = wine.work_path() / "lzs_exe" / "failed_write"
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        (folder / "a").write_bytes(PACKABLE)
        (folder / "b").write_bytes(PACKABLE)
        (folder / "b.lzs").write_bytes(b"old")
        result = wine.run_console(Path(os.environ["LZS_CLI_EXE"]), ["a", "-f", "b"], folder,
                                  file_size_limit=100)
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"lzs: a.lzs: cannot write", result.stderr)
        self.assertEqual(sorted(p.name for p in folder.iterdir()), ["a", "b", "b.lzs"])
        self.assertEqual((folder / "b.lzs").read_bytes(), b"old")

    def test_nul_is_no_terminal(self) -> None:
        # Standard output on NUL, a character device but no console: packed
        # data goes there as to a file, where a console would be refused.
        folder = wine.work_path() / "lzs_exe" / "nul"
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        (folder / "f").write_bytes(PACKABLE)
        result = subprocess.run([wine.WINE, os.environ["LZS_CLI_EXE"], "-c", "f"], cwd=folder,
                                env=wine.wine_env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.PIPE, timeout=120)
        self.assertEqual((result.returncode, result.stderr), (0, b""))

    def test_closed_pipe_is_reported_by_the_failed_call(self) -> None:
        # Standard output on a pipe nobody reads: data, a listing and the
        # help fail alike, with the Windows error of the write that failed.
        folder = wine.work_path() / "lzs_exe" / "closed_pipe"
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        (folder / "x.lzs").write_bytes(WORKED_EXAMPLE)
        said = set()
        for args in (["-dc", "x.lzs"], ["-l", "x.lzs"], ["--help"]):
            with self.subTest(args=args):
                read_end, write_end = os.pipe()
                os.close(read_end)
                result = subprocess.run([wine.WINE, os.environ["LZS_CLI_EXE"], *args], cwd=folder,
                                        env=wine.wine_env(), stdin=subprocess.DEVNULL, stdout=write_end,
                                        stderr=subprocess.PIPE, timeout=120)
                os.close(write_end)
                self.assertEqual(result.returncode, 1, result.stderr)
                # The Windows error, never the C library's "Success" of a
                # call that did not fail.
                self.assertRegex(result.stderr,
                                 rb"^lzs: \(standard output\): cannot write: (?!Success)[^\r\n]+\r\n$")
                said.add(result.stderr)
        self.assertEqual(len(said), 1, said)

    def test_lzs_pack_exe(self) -> None:
        # lzs-pack.exe on lzs.exe's file layer: no overwrite without -f, and
        # a failed write leaves the old output whole.
        folder = wine.work_path() / "lzs_exe" / "pack"
        help_text = wine.run_console(Path(os.environ["LZS_PACK_EXE"]), ["/?"], wine.work_path())
        self.assertEqual((help_text.returncode, help_text.stderr), (0, b""))
        self.assertTrue(help_text.stdout.startswith(b"Usage: lzs-pack INPUT"), help_text.stdout[:40])
        for args, limit, code, err, want in [
                (["a"], None, 1, b"lzs-pack: a.lzs: already exists; not overwritten", b"old"),
                (["a", "-f"], 100, 1, b"lzs-pack: a.lzs: cannot write", b"old"),
                (["a", "-f"], None, 0, b"", PACKABLE)]:
            with self.subTest(args=args, limit=limit):
                shutil.rmtree(folder, ignore_errors=True)
                folder.mkdir(parents=True)
                (folder / "a").write_bytes(PACKABLE)
                (folder / "a.lzs").write_bytes(b"old")
                result = wine.run_console(Path(os.environ["LZS_PACK_EXE"]), args, folder, file_size_limit=limit)
                self.assertEqual(result.returncode, code, result.stderr)
                self.assertIn(err, result.stderr)
                got = (folder / "a.lzs").read_bytes()
                if code == 0:
                    got = wine.run_console(Path(os.environ["LZS_CLI_EXE"]), ["-dc", "a.lzs"], folder).stdout
                self.assertEqual(got, want)
                self.assertEqual(sorted(p.name for p in folder.iterdir()), ["a", "a.lzs"])
    def test_input_changed_while_read(self) -> None:
        # A file, named or as standard input, written to by a Unix process
        # (which Windows sharing does not stop) while lzs.exe reads it: a block
        # written over once the read is seen under way, from where the
        # program's descriptor on the file stands, fails it with no output.
        # (A race of rewrites cannot be told apart here from a rewrite that
        # stood still before the read, which no check of a reader can see.)
        folder = wine.work_path() / "lzs_exe" / "changed"
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        size = 96 << 20
        source = folder / "zeros.lzs"
        for args, name, stdin in [(["-t", "zeros.lzs"], "zeros.lzs", False),
                                  (["-d", "-f", "zeros.lzs"], "zeros.lzs", False),
                                  (["-t"], "(standard input)", True),
                                  (["-d", "-o", "zeros"], "(standard input)", True)]:
            with open(source, "wb") as f:  # a sparse image of zeros, read in pieces
                f.write((size - 4).to_bytes(4, "little"))
                f.truncate(size)
            with self.subTest(args=args), open(source, "rb") as feed:
                process = subprocess.Popen([wine.WINE, os.environ["LZS_CLI_EXE"], *args], cwd=folder,
                                           env=wine.wine_env(), stdin=feed if stdin else subprocess.DEVNULL,
                                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
                written = False
                while not written and process.poll() is None:
                    if 0 < self.read_position(process.pid, source, stdin) < size // 2:
                        with open(source, "r+b") as f:
                            os.pwrite(f.fileno(), b"\xff" * 4096, size - 4096)
                        written = True
                    time.sleep(0.001)
                err = process.communicate(timeout=120)[1]
                self.assertTrue(written, "the run ended before its read was seen half done")
                self.assertEqual(process.returncode, 1, err)
                self.assertEqual(err, f"lzs: {name}: changed while it was read; not used\r\n".encode())
                self.assertEqual(sorted(p.name for p in folder.iterdir()), ["zeros.lzs"])

    @staticmethod
    def read_position(pid: int, path: Path, stdin: bool) -> int:
        """Where a process's read of path stands: its standard input's, or
        that of a descriptor it holds on path; 0 while it holds none."""
        try:
            fds = ["0"] if stdin else [fd.name for fd in Path(f"/proc/{pid}/fd").iterdir()]
        except OSError:
            return 0
        for fd in fds:
            try:
                if stdin or os.readlink(f"/proc/{pid}/fd/{fd}") == str(path):
                    return int(Path(f"/proc/{pid}/fdinfo/{fd}").read_text().split()[1])
            except (OSError, ValueError, IndexError):
                continue
        return 0

    def test_help_says_what_windows_has(self) -> None:
        # The zip holds lzs.exe and lzs-pack.exe: no lzscat, no unlzs.
        result = wine.run_console(Path(os.environ["LZS_CLI_EXE"]), ["--help"], wine.work_path())
        self.assertEqual((result.returncode, result.stderr), (0, b""))
        for text in (b"lzscat", b"unlzs"):
            self.assertNotIn(text, result.stdout)
        for text in (b"-o, --output=FILE", b"--to-stdout", b"show this help and exit (also /?)",
                     b"match long file names only", b"in the order dropped"):
            self.assertIn(text, result.stdout)

    def test_only_lzs_exe_sets_the_utf8_code_page(self) -> None:
        setting = b"<activeCodePage"
        self.assertIn(setting, Path(os.environ["LZS_CLI_EXE"]).read_bytes())
        self.assertNotIn(setting, wine.exe_path().read_bytes())


if __name__ == "__main__":
    unittest.main()
