"""lzs.inspect, lzs.scan, decompress(..., salvage=True) and compress(...,
like=...) against lzs, the command: the same keys, numbers and words for
the same bytes. The command is LZS_PROGRAM, else build/native/cli/lzs."""
import json
import os
import pathlib
import random
import subprocess
import tempfile
import unittest
import warnings

import lzs
from test_module import CODES, ROUND_TRIP_DATA, SOURCE_DIR, image_of, random_bytes

PROGRAM = os.environ.get("LZS_PROGRAM", str(SOURCE_DIR / "build/native/cli/lzs"))
needs_program = unittest.skipUnless(os.path.exists(PROGRAM), f"no lzs at {PROGRAM}")

TEXT = ROUND_TRIP_DATA[2][1]
SMALL_DATA = b"abcabcabcabc, abcabc! " * 20 + bytes(30)
SMALL = lzs.compress(SMALL_DATA)


def run_lzs(folder, *args):
    """lzs run in folder: (exit status, standard output, standard error)."""
    result = subprocess.run([PROGRAM, *args], cwd=folder, capture_output=True, text=True, timeout=300)
    return result.returncode, result.stdout, result.stderr


def said(stderr):
    """lzs's words on standard error by file: {name: words}."""
    lines = (line.split(": ", 2) for line in stderr.splitlines())
    return {parts[1]: parts[2] for parts in lines if len(parts) == 3}


class Folder(unittest.TestCase):
    def setUp(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.folder = pathlib.Path(folder.name)

    def put(self, name, data):
        (self.folder / name).write_bytes(data)
        return name


@needs_program
class Inspect(Folder):
    def test_the_keys_and_values_of_lzs_inspect_json(self):
        fast = lzs.compress(TEXT, lzs.LEVEL_FAST)
        rows = [  # name, bytes
            ("optimal.lzs", lzs.compress(TEXT)),
            ("fast.lzs", fast),
            ("zeros.lzs", lzs.compress(bytes(70000), lzs.LEVEL_FAST)),
            ("zero-references.lzs", image_of(b"\x00" + b"\x00\x0f" * 8)),
            ("cut.lzs", fast[:len(fast) // 2]),
            ("cut-into-an-item.lzs", SMALL[:-1]),
            ("trailing.lzs", fast + b"trailing bytes"),
            ("two-images.lzs", SMALL + SMALL),
            ("three-bytes", b"\x01\x00\x00"),
            ("random", random_bytes(3, 5000)),
        ]
        names = [self.put(name, data) for name, data in rows]
        status, out, err = run_lzs(self.folder, "--inspect", "--json", *names)
        self.assertEqual((status, err), (0, ""))
        expected = [json.loads(line) for line in out.splitlines()]
        self.assertEqual(len(expected), len(rows))
        statuses = set()
        for (name, data), printed in zip(rows, expected):
            with self.subTest(name):
                self.assertEqual(lzs.inspect(data, name), printed)
                self.assertEqual(list(lzs.inspect(data, name)), list(printed))  # in lzs's order too
                without = dict(printed)
                del without["file"]
                self.assertEqual(lzs.inspect(memoryview(data), None), without)
                statuses.add(printed["status"])
        self.assertEqual(statuses, {"ok", "truncated", "trailing", "not-an-image"})

    def test_not_bytes(self):
        self.assertRaises(TypeError, lzs.inspect, "text")
        self.assertRaises(TypeError, lzs.scan, None)


@needs_program
class Scan(Folder):
    def test_the_findings_of_lzs_scan_json(self):
        rng = random.Random(7)
        # Found high from 1 KiB on, low below (down to 128 bytes).
        images = [lzs.compress(TEXT), lzs.compress(ROUND_TRIP_DATA[1][1], lzs.LEVEL_FAST), lzs.compress(TEXT[:700]),
                  lzs.compress(bytes(range(256)) * 40, lzs.LEVEL_FAST)]
        program = pathlib.Path(PROGRAM).read_bytes()[:200_000]
        rows = [  # name, bytes with the images among them, the offsets of the images
            ("among random bytes", lambda size: random_bytes(rng.random(), size)),
            ("among the bytes of lzs", lambda size: program[rng.randrange(len(program) - size):][:size]),
        ]
        names = []
        for name, filler in rows:
            container, offsets = bytearray(), []
            for image in images:
                container += filler(rng.randrange(100, 20000))
                offsets.append(len(container))
                container += image
            container += filler(3000)
            names.append(self.put(name.replace(" ", "-"), bytes(container)))
            with self.subTest(name):
                findings = lzs.scan(container)
                found = {finding["offset"]: finding for finding in findings}
                for offset, image in zip(offsets, images):
                    self.assertEqual(found[offset]["image_size"], len(image))
                    self.assertEqual(found[offset]["decoded_size"], lzs.decoded_size(image))
                    self.assertEqual(found[offset]["confidence"], "high" if len(image) >= 1024 else "low")
                self.assertEqual(findings, sorted(findings, key=lambda finding: finding["offset"]))
                self.assertEqual(lzs.scan(container[:10]), [])
        status, out, err = run_lzs(self.folder, "--scan", "--json", *names)
        self.assertEqual((status, err), (0, ""))
        printed = [json.loads(line) for line in out.splitlines()]
        self.assertGreaterEqual(len(printed), 2 * len(images))
        ours = [finding for name in names for finding in lzs.scan((self.folder / name).read_bytes(), name)]
        self.assertEqual(ours, printed)


class Salvage(Folder):
    def salvage(self, image):
        """decompress(image, salvage=True): (output, the warnings' words) or
        the LzsError raised."""
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            try:
                output = lzs.decompress(image, salvage=True)
            except lzs.LzsError as error:
                self.assertEqual(caught, [])
                return error
        for warning in caught:
            self.assertIs(warning.category, lzs.SalvageWarning)
            self.assertEqual(warning.filename, __file__)  # said of the caller's line
        return output, [str(warning.message) for warning in caught]

    @needs_program
    def test_every_cut_and_bytes_appended_as_lzs_says(self):
        rows = [(f"cut{size}.lzs", SMALL[:size]) for size in range(len(SMALL) + 1)]
        rows += [("one-more.lzs", SMALL + b"x"), ("two-images.lzs", SMALL + SMALL),
                 ("zero-header-more.lzs", b"\x00\x00\x00\x00xyz")]
        names = [self.put(name, data) for name, data in rows]
        status, _, err = run_lzs(self.folder, "-d", "--salvage", "-k", *names)
        self.assertEqual(status, 1, err)  # some refused outright
        words = said(err)
        longest = 0
        for name, image in rows:
            with self.subTest(name):
                result = self.salvage(image)
                unpacked = self.folder / name[:-len(".lzs")]
                if isinstance(result, lzs.LzsError):
                    self.assertEqual(str(result), words[name])
                    self.assertFalse(unpacked.exists())
                    continue
                output, warned = result
                self.assertEqual(output, unpacked.read_bytes())
                self.assertEqual(warned, [words[name]] if name in words else [])
                # What the whole items before a cut give: more the later the cut.
                self.assertTrue(SMALL_DATA.startswith(output))
                self.assertGreaterEqual(len(output), longest)
                longest = len(output) if image == SMALL[:len(image)] else longest
        self.assertEqual(longest, len(SMALL_DATA))
        self.assertEqual(self.salvage(SMALL), (SMALL_DATA, []))
        self.assertEqual(self.salvage(SMALL + SMALL)[0], SMALL_DATA)

    def test_without_salvage_nothing_changes(self):
        for image, code in [(SMALL[:-1], "TRUNCATED"), (SMALL + b"x", "TRAILING_DATA"), (b"\x00" * 3, "NOT_AN_IMAGE"),
                            (image_of(b"\x00"), "NO_OUTPUT")]:
            with self.subTest(code):
                with self.assertRaises(lzs.LzsError) as caught:
                    lzs.decompress(image, salvage=False)
                self.assertEqual(caught.exception.code, CODES[code])
                if code in ("NOT_AN_IMAGE", "NO_OUTPUT"):
                    self.assertEqual(str(self.salvage(image)), str(caught.exception))

    def test_warnings_made_errors_and_max_length(self):
        with warnings.catch_warnings():
            warnings.simplefilter("error", lzs.SalvageWarning)
            with self.assertRaises(lzs.SalvageWarning) as caught:
                lzs.decompress(SMALL[:40], salvage=True)
            self.assertTrue(str(caught.exception).startswith("cut short: "), str(caught.exception))
            self.assertEqual(lzs.decompress(SMALL, salvage=True), SMALL_DATA)
        with self.assertRaises(lzs.LzsError) as caught:
            lzs.decompress(SMALL + b"x", len(SMALL_DATA) - 1, salvage=True)
        self.assertEqual(caught.exception.code, CODES["INPUT_TOO_LARGE"])
        self.assertTrue(issubclass(lzs.SalvageWarning, UserWarning))


class Like(Folder):
    def test_unchanged_data_gives_the_original_s_bytes(self):
        for name, data in ROUND_TRIP_DATA[:5]:
            for level in (lzs.LEVEL_FAST, lzs.LEVEL_OPTIMAL):
                with self.subTest(name, level=level):
                    orig = lzs.compress(data, level)
                    self.assertEqual(lzs.compress(data, like=orig), orig)
                    self.assertEqual(lzs.compress(bytearray(data), level, like=memoryview(orig)), orig)

    @needs_program
    def test_edits_as_lzs_packs_them(self):
        orig = lzs.compress(TEXT, lzs.LEVEL_FAST)
        self.put("orig.lzs", orig)
        rows = [  # name, the edited data
            ("same length", TEXT[:30000] + b"X" * 100 + TEXT[30100:]),
            ("longer", TEXT[:30000] + b"inserted " * 12 + TEXT[30000:]),
            ("shorter", TEXT[:30000] + TEXT[31000:]),
        ]
        for name, edited in rows:
            with self.subTest(name):
                image = lzs.compress(edited, like=orig)
                self.assertEqual(lzs.decompress(image), edited)
                if len(edited) != len(TEXT):
                    self.assertLessEqual(len(image), len(lzs.compress(edited, lzs.LEVEL_FAST)))
                self.put("edited", edited)
                packed = subprocess.run([PROGRAM, "-c", "--like=orig.lzs", "edited"], cwd=self.folder,
                                        capture_output=True, timeout=300)
                self.assertEqual((packed.returncode, packed.stderr), (0, b""))
                self.assertEqual(image, packed.stdout)
        same = lzs.compress(rows[0][1], like=orig)
        prefix = next(k for k, (a, b) in enumerate(zip(same, orig)) if a != b)
        suffix = next(k for k, (a, b) in enumerate(zip(same[::-1], orig[::-1])) if a != b)
        self.assertGreaterEqual(prefix + suffix, 0.9 * len(orig))

    def test_errors(self):
        rows = [  # data, like, the code, the words after the error's name
            (TEXT, SMALL[:-1], "TRUNCATED", f" ({len(SMALL) - 1:,} of {len(SMALL):,} bytes)"),
            (TEXT, SMALL + b"x", "TRAILING_DATA", f" ({len(SMALL) + 1:,} bytes; the image is {len(SMALL):,})"),
            (b"", SMALL, "EMPTY_INPUT", ""),
            (TEXT, b"", "NOT_AN_IMAGE", ""),
        ]
        for data, like, code, words in rows:
            with self.subTest(code):
                with self.assertRaises(lzs.LzsError) as caught:
                    lzs.compress(data, like=like)
                self.assertEqual(caught.exception.code, CODES[code])
                self.assertTrue(str(caught.exception).endswith(words), str(caught.exception))
        self.assertRaises(TypeError, lzs.compress, TEXT, like="text")
        self.assertRaises(TypeError, lzs.compress, TEXT, 0, SMALL)  # like is a keyword


if __name__ == "__main__":
    unittest.main(verbosity=2)
