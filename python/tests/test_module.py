"""Tests of the lzs module against liblzs itself (through ctypes, for
reference only) and the facts in include/lzs.h.

Run by CTest, or by pytest from python/ with the module installed. The
reference library is LZS_LIBRARY, else build/native/liblzs/liblzs.so.1.
"""
import array
import ast
import ctypes
import inspect
import mmap
import os
import pathlib
import random
import re
import subprocess
import sys
import tempfile
import threading
import unittest

import lzs

SOURCE_DIR = pathlib.Path(os.environ.get("LZS_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))
LIBRARY = os.environ.get("LZS_LIBRARY", str(SOURCE_DIR / "build/native/liblzs/liblzs.so.1"))

# The error numbers (lzs.h's list of errors, LZS_ERRORS, and the last code)
# and the levels, by name, as lzs.h declares them.
HEADER = (SOURCE_DIR / "include/lzs.h").read_text()
CODES = {name: int(number) for name, number in re.findall(r"X\((\w+), (\d+),", HEADER)}
CODES["MAX_CODE"] = max(CODES.values())
LEVELS = {name: int(number) for name, number in re.findall(r"#define LZS_LEVEL_(\w+) (\d+)", HEADER)}


def load_reference():
    if not os.path.exists(LIBRARY):
        return None
    library = ctypes.CDLL(LIBRARY)
    library.lzs_error_name.restype = ctypes.c_char_p
    library.lzs_error_name.argtypes = [ctypes.c_size_t]
    library.lzs_version_string.restype = ctypes.c_char_p
    library.lzs_decode.restype = ctypes.c_size_t
    library.lzs_decode.argtypes = [ctypes.c_void_p, ctypes.c_size_t, ctypes.c_char_p, ctypes.c_size_t]
    library.lzs_decoded_size.restype = ctypes.c_size_t
    library.lzs_decoded_size.argtypes = [ctypes.c_char_p, ctypes.c_size_t]
    return library


REFERENCE = load_reference()
needs_reference = unittest.skipIf(REFERENCE is None, f"no reference library at {LIBRARY}")


def reference_message(code):
    return REFERENCE.lzs_error_name(2**64 - code).decode()


def reference_decode(image):
    """The C library's result for image: its bytes, or its error number."""
    size = REFERENCE.lzs_decoded_size(image, len(image))
    if size >= 2**64 - CODES["MAX_CODE"]:
        return 2**64 - size
    out = ctypes.create_string_buffer(size)
    n = REFERENCE.lzs_decode(out, size, image, len(image))
    return out.raw[:n] if n < 2**64 - CODES["MAX_CODE"] else 2**64 - n


# Tests of the memory a process takes, which an emulator maps its own way.
measures_memory = unittest.skipIf(os.environ.get("LZS_EMULATED"), "an emulator maps the program's memory its own way")


def image_of(payload):
    return len(payload).to_bytes(4, "little") + payload


# Every kind of bytes-like argument, each made from the same bytes.
def as_mmap(data):
    region = mmap.mmap(-1, len(data))
    region.write(data)
    return region


# Every kind of writable buffer, each of `size` bytes: (name, make, bytes of).
WRITABLE = [
    ("bytearray", bytearray, bytes),
    ("memoryview", lambda size: memoryview(bytearray(size)), bytes),
    ("array", lambda size: array.array("B", bytes(size)), bytes),
    ("mmap", lambda size: mmap.mmap(-1, max(size, 1)), lambda region: region[:]),
]

BYTES_LIKE = [
    ("bytes", bytes),
    ("bytearray", bytearray),
    ("memoryview", memoryview),
    ("memoryview slice", lambda data: memoryview(b"<" + data + b">")[1:-1]),
    ("array", lambda data: array.array("B", data)),
    ("mmap", as_mmap),
]

def random_bytes(seed, size):
    return random.Random(seed).getrandbits(8 * size).to_bytes(size, "little")


rng = random.Random(21)
ROUND_TRIP_DATA = [
    ("one byte", b"A"),
    ("random 4109", random_bytes(21, 4109)),
    ("random text 60000", bytes(rng.choice(b"abc def\n") for _ in range(60000))),
    ("zeros 70000", bytes(70000)),
    ("sample.txt", (SOURCE_DIR / "samples/sample.txt").read_bytes()),
] + [(f"corpus {path.name}", path.read_bytes())
     for path in sorted((SOURCE_DIR / "fuzz/corpus/fuzz_round_trip").iterdir()) if path.stat().st_size > 0]


class RoundTrip(unittest.TestCase):
    def test_every_level_and_bytes_like_type(self):
        encoder = lzs.Encoder()
        for name, data in ROUND_TRIP_DATA:
            for level in (lzs.LEVEL_DEFAULT, lzs.LEVEL_FAST, lzs.LEVEL_OPTIMAL):
                image = lzs.compress(data, level)
                with self.subTest(data=name, level=level):
                    self.assertEqual(encoder.compress(data, level=level), image)
                    self.assertEqual(lzs.image_length(image), len(image))
                for kind, make in BYTES_LIKE:
                    with self.subTest(data=name, level=level, kind=kind):
                        self.assertEqual(lzs.compress(make(data), level=level), image)
                        self.assertEqual(lzs.decoded_size(make(image)), len(data))
                        self.assertEqual(lzs.decompress(make(image)), data)
                        self.assertEqual(lzs.decompress(make(image), max_length=len(data)), data)
                for kind, make, contents in WRITABLE:
                    with self.subTest(data=name, level=level, into=kind):
                        buffer = make(len(data))
                        self.assertEqual(lzs.decompress_into(image, buffer), len(data))
                        self.assertEqual(contents(buffer)[:len(data)], data)
            with self.subTest(data=name):
                self.assertEqual(lzs.compress(data), lzs.compress(data, lzs.LEVEL_OPTIMAL))
                self.assertLessEqual(len(lzs.compress(data)), len(lzs.compress(data, lzs.LEVEL_FAST)))

    def test_both_roads_of_decompress_give_the_same_bytes_and_errors(self):
        # The library unpacks an image of up to about 3.7 MB in one pass into
        # room for the most it can unpack to (32 MiB at most), which the
        # module shrinks (or, on the stable ABI, copies out of), and a larger
        # one after a scan of its size into room of that size: random bytes
        # give an image on each side. A max_length below that room makes the
        # scan come first too.
        one_pass = set()
        for size in (3_200_000, 3_400_000):
            data = random_bytes(size, size)
            image = lzs.compress(data, lzs.LEVEL_FAST)
            one_pass.add(9 * (len(image) - 4) <= 32 << 20)
            with self.subTest(image=len(image)):
                self.assertEqual(lzs.decompress(image), data)
                self.assertEqual(lzs.decompress(image, max_length=size), data)
                with self.assertRaises(lzs.LzsError) as caught:
                    lzs.decompress(image, max_length=size - 1)
                self.assertEqual(caught.exception.code, CODES["INPUT_TOO_LARGE"])
                for bad, code, sizes in [
                        (image[:-1], "TRUNCATED", f"({len(image) - 1:,} of {len(image):,} bytes)"),
                        (image + b"x", "TRAILING_DATA", f"({len(image) + 1:,} bytes; the image is {len(image):,})")]:
                    with self.assertRaises(lzs.LzsError) as caught:
                        lzs.decompress(bad)
                    self.assertEqual(caught.exception.code, CODES[code])
                    self.assertTrue(str(caught.exception).endswith(sizes), str(caught.exception))
        self.assertEqual(one_pass, {True, False})

    @needs_reference
    def test_decoding_equals_the_library_on_the_fuzz_corpus(self):
        for path in sorted((SOURCE_DIR / "fuzz/corpus/fuzz_decode").iterdir()):
            image = path.read_bytes()
            expected = reference_decode(image)
            with self.subTest(path.name):
                if isinstance(expected, bytes):
                    self.assertEqual(lzs.decompress(image), expected)
                    self.assertEqual(lzs.decoded_size(image), len(expected))
                else:
                    with self.assertRaises(lzs.LzsError) as caught:
                        lzs.decompress(image)
                    self.assertEqual(caught.exception.code, expected)


class Errors(unittest.TestCase):
    @needs_reference
    def test_each_code_with_its_class_number_and_message(self):
        huge = mmap.mmap(-1, 2**31 + 1)  # not touched: refused by size alone
        self.addCleanup(huge.close)
        cases = [
            ("empty image", lzs.decompress, (b"",), "NOT_AN_IMAGE"),
            ("header only", lzs.decompress, (b"\x00\x00\x00\x00",), "NOT_AN_IMAGE"),
            ("header one short", lzs.decompress, (b"\x02\x00\x00\x00\xff",), "TRUNCATED", " (5 of 6 bytes)"),
            ("largest header", lzs.decoded_size, (b"\xff\xff\xff\xff\x00\x00",), "TRUNCATED",
             "probably not an LZS image (its header promises 4,294,967,299 bytes; there are 6)"),
            ("header 64 times the bytes", lzs.decompress, (b"\xfc\x01\x00\x00" + bytes(4),), "TRUNCATED",
             " (8 of 512 bytes)"),
            ("header above 64 times the bytes", lzs.decompress_into, (b"\xfd\x01\x00\x00" + bytes(4), bytearray(9)),
             "TRUNCATED", "probably not an LZS image (its header promises 513 bytes; there are 8)"),
            ("header one long", lzs.decoded_size, (b"\x00\x00\x00\x00\xff",), "TRAILING_DATA",
             " (5 bytes; the image is 4)"),
            ("flag byte alone", lzs.decompress, (image_of(b"\x00"),), "NO_OUTPUT"),
            ("cut reference", lzs.decoded_size, (image_of(b"\x00\x12"),), "NO_OUTPUT"),
            ("empty input", lzs.compress, (b"",), "EMPTY_INPUT"),
            ("encoder, empty input", lzs.Encoder().compress, (bytearray(),), "EMPTY_INPUT"),
            ("unknown level", lzs.compress, (b"abc", 2), "BAD_LEVEL"),
            ("encoder, level -1", lzs.Encoder().compress, (b"abc", -1), "BAD_LEVEL"),
            ("above 2 GiB", lzs.compress, (huge,), "INPUT_TOO_LARGE"),
            ("image_length, 3 bytes", lzs.image_length, (b"\x01\x00\x00",), "NOT_AN_IMAGE"),
            ("image_length, past the end", lzs.image_length, (b"\x02\x00\x00\x00\xff",), "TRUNCATED"),
            # An output cap, and a caller's buffer: the words of every face.
            ("above max_length", lzs.decompress, (lzs.compress(b"x" * 200_000), 199_999), "INPUT_TOO_LARGE",
             ": it would unpack to 200,000 bytes, above max_length (199,999)"),
            ("max_length 0", lambda image: lzs.decompress(image, max_length=0), (lzs.compress(b"x"),),
             "INPUT_TOO_LARGE"),
            ("max_length, one pass", lzs.decompress, (lzs.compress(b"xyz" * 9), 26), "INPUT_TOO_LARGE",
             ": it would unpack to 27 bytes, above max_length (26)"),
            ("max_length, cut short", lzs.decompress, (b"\x02\x00\x00\x00\xff", 1), "TRUNCATED", " (5 of 6 bytes)"),
            ("buffer too small", lzs.decompress_into, (lzs.compress(b"y" * 5000), bytearray(4999)), "DST_TOO_SMALL"),
            ("into, header one long", lzs.decompress_into, (b"\x00\x00\x00\x00\xff", bytearray(10)),
             "TRAILING_DATA", " (5 bytes; the image is 4)"),
            ("into, header one short", lzs.decompress_into, (b"\x02\x00\x00\x00\xff", bytearray(10)),
             "TRUNCATED", " (5 of 6 bytes)"),
            ("into, flag byte alone", lzs.decompress_into, (image_of(b"\x00"), bytearray(10)), "NO_OUTPUT"),
            ("into the image itself", lambda image: lzs.decompress_into(image, image), (bytearray(image_of(b"\xffabcdefgh")),),
             "BAD_ARGUMENT"),
        ]
        # The library's words (lzs_describe's, as every face writes them):
        # the error's name, then the sizes, or words of their own.
        for name, call, args, code, *sizes in cases:
            with self.subTest(name):
                with self.assertRaises(lzs.LzsError) as caught:
                    call(*args)
                self.assertIsInstance(caught.exception, ValueError)
                self.assertEqual(caught.exception.code, CODES[code])
                words = "".join(sizes)
                expected = words if words[:1].isalpha() else reference_message(CODES[code]) + words
                self.assertEqual(str(caught.exception), expected)

    def test_codes_and_levels_are_the_header_s(self):
        expected = {f"ERROR_{name}": number for name, number in CODES.items() if name != "MAX_CODE"}
        expected.update({f"LEVEL_{name}": number for name, number in LEVELS.items()})
        self.assertGreaterEqual(len(expected), 13)
        self.assertEqual({name: getattr(lzs, name, None) for name in expected}, expected)
        self.assertLessEqual(set(expected), set(lzs.__all__))

    @measures_memory
    def test_out_of_memory_is_memory_error(self):
        # 40 MiB more address space: not enough for the room of the image
        # of 64 MiB (its bound, a little above the input's size); then
        # 20 MiB more, but not the output's room: for the most a small image
        # (3 MB of random bytes) can yield, and the 64 MiB a larger one
        # unpacks to.
        script = "\n".join([
            "import random, resource, lzs",
            "def most(room):",
            "    size = int(open('/proc/self/statm').read().split()[0]) * resource.getpagesize()",
            "    resource.setrlimit(resource.RLIMIT_AS, (size + room, resource.RLIM_INFINITY))",
            "def call(function, argument):",
            "    try:",
            "        function(argument)",
            "    except MemoryError:",
            "        print('MemoryError')",
            "data = bytes(64 << 20)",
            "images = [lzs.compress(random.Random(1).getrandbits(24_000_000).to_bytes(3_000_000, 'little'), 1),",
            "          lzs.compress(data, 1)]",
            "most(40 << 20)",
            "for function in (lzs.compress, lzs.Encoder().compress):",
            "    call(function, data)",
            "most(20 << 20)",
            "for image in images:",
            "    call(lzs.decompress, image)",
        ])
        result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60)
        self.assertEqual((result.stdout.split(), result.returncode), (["MemoryError"] * 4, 0), result.stderr)

    def test_type_errors(self):
        cases = [(lzs.compress, "text"), (lzs.decompress, None), (lzs.decoded_size, [1, 2]),
                 (lzs.image_length, 12), (lzs.Encoder().compress, 1.5),
                 (lambda image: lzs.decompress_into(image, b"read-only"), lzs.compress(b"abc")),
                 (lambda image: lzs.decompress(image, max_length="1"), lzs.compress(b"abc"))]
        for call, argument in cases:
            with self.subTest(call=call.__qualname__, argument=argument):
                self.assertRaises(TypeError, call, argument)


class ImageLength(unittest.TestCase):
    def test_images_back_to_back(self):
        parts = [data for _, data in ROUND_TRIP_DATA[:4]]
        images = [lzs.compress(part, level) for part, level in zip(parts, [0, 1, 0, 1])]
        blob = bytearray(b"junk" + b"".join(images))
        offset, found = 4, []
        while offset < len(blob):
            length = lzs.image_length(blob, offset)
            found.append(lzs.decompress(memoryview(blob)[offset:offset + length]))
            offset += length
        self.assertEqual(found, parts)
        self.assertEqual(offset, len(blob))

    def test_headers_running_past_the_end(self):
        image = lzs.compress(b"hello, hello, hello")
        cases = [
            ("cut by one", image[:-1], 0, "TRUNCATED"),
            ("largest header", b"\xff\xff\xff\xff" + image, 0, "TRUNCATED"),
            ("second image cut", image + image[:-1], len(image), "TRUNCATED"),
            ("three bytes left", image + image[:3], len(image), "NOT_AN_IMAGE"),
            ("at the end", image, len(image), "NOT_AN_IMAGE"),
            ("past the end", image, len(image) + 10, "NOT_AN_IMAGE"),
        ]
        for name, blob, offset, code in cases:
            with self.subTest(name):
                with self.assertRaises(lzs.LzsError) as caught:
                    lzs.image_length(blob, offset)
                self.assertEqual(caught.exception.code, CODES[code])
        self.assertRaises(ValueError, lzs.image_length, image, -1)


class Threads(unittest.TestCase):
    """While one thread is inside a call, another runs Python code. The
    switch interval is made so long that a thread holding the GIL keeps it:
    the counter can only move during the call if the call released it."""

    def setUp(self):
        interval = sys.getswitchinterval()
        sys.setswitchinterval(100)
        self.addCleanup(sys.setswitchinterval, interval)

    def run_beside(self, call, side=lambda: None):
        """Runs call() here while a thread counts and calls side() every
        millisecond; returns how often the thread ran during call()."""
        done = threading.Event()
        count = [0]

        def beside():
            while not done.wait(0.001):
                count[0] += 1
                side()

        thread = threading.Thread(target=beside)
        thread.start()
        try:
            before = count[0]
            call()
            return count[0] - before
        finally:
            done.set()
            thread.join()

    def test_calls_release_the_gil(self):
        # 64 MiB of zeros from groups of eight 18-byte back-references.
        image = image_of((b"\x00" + b"\x00\x0f" * 8) * 466034)
        data = bytes(range(256)) * 40000
        room = bytearray(466034 * 8 * 18)
        packed = lzs.compress(data, lzs.LEVEL_FAST)
        container = random_bytes(8, 3 << 20) + packed  # a scan judges the image found: some 40 ms
        for name, call in [("decompress", lambda: lzs.decompress(image)),
                           ("salvage", lambda: lzs.decompress(image[:-1], salvage=True)),
                           ("decompress_into", lambda: lzs.decompress_into(image, room)),
                           # a scan takes about 2 ms: many give the thread its chances
                           ("decoded_size", lambda: [lzs.decoded_size(image) for _ in range(20)]),
                           ("compress", lambda: lzs.compress(data, lzs.LEVEL_FAST)),
                           ("compress like", lambda: lzs.compress(data, like=packed)),
                           ("LzsCompressor", lambda: lzs.LzsCompressor(lzs.LEVEL_FAST).compress(data)),
                           ("inspect", lambda: lzs.inspect(packed)),
                           ("scan", lambda: lzs.scan(container))]:
            with self.subTest(name):
                self.assertTrue(any(self.run_beside(call) > 0 for _ in range(20)))

    def test_second_thread_in_one_context_raises(self):
        data = random_bytes(5, 3 << 20)
        image = image_of((b"\x00" + b"\x00\x0f" * 8) * 466034)
        cases = [  # a long call, and a short one made meanwhile from another thread
            ("Encoder", lzs.Encoder, lambda encoder: encoder.compress(data, lzs.LEVEL_FAST),
             lambda encoder: encoder.compress(b"abc")),
            ("LzsDecompressor", lzs.LzsDecompressor, lambda stream: stream.decompress(image),
             lambda stream: stream.decompress(b"")),
            ("LzsCompressor", lzs.LzsCompressor, lambda stream: stream.compress(data),
             lambda stream: stream.compress(b"abc")),
        ]
        for name, make, long_call, short_call in cases:
            with self.subTest(name):
                refused = []

                def attempt(call, context):
                    # The other thread may be the one inside when this call
                    # starts: then this one is refused instead.
                    try:
                        call(context)
                    except RuntimeError as error:
                        refused.append(str(error))
                    except EOFError:
                        pass  # the decompressor's image ended first

                for _ in range(20):
                    context = make()
                    self.run_beside(lambda: attempt(long_call, context), lambda: attempt(short_call, context))
                    if refused:
                        break
                self.assertEqual(refused[:1], [f"this {name} is in use by another thread"])
        self.assertEqual(lzs.decompress(lzs.Encoder().compress(b"abc")), b"abc")

    def test_one_decompressor_drained_by_two_threads_gives_its_output_or_refuses(self):
        # Each call gives the next 4,096 bytes exactly: a race on the state
        # kept around the library's call would give other pieces.
        sys.setswitchinterval(1e-6)
        data = random_bytes(9, 100_000) + bytes(100_000)
        image = lzs.compress(data, lzs.LEVEL_FAST)
        pieces = sorted(data[k:k + 4096] for k in range(0, len(data), 4096))
        for trial in range(200):
            decompressor = lzs.LzsDecompressor()
            outputs = [decompressor.decompress(image, 4096)]

            def drain():
                while not decompressor.eof:
                    try:
                        outputs.append(decompressor.decompress(b"", 4096))
                    except RuntimeError:
                        pass  # the other thread is inside
                    except EOFError:
                        return

            threads = [threading.Thread(target=drain) for _ in range(2)]
            for thread in threads:
                thread.start()
            for thread in threads:
                thread.join()
            self.assertEqual(sorted(piece for piece in outputs if piece), pieces, f"trial {trial}")


class Names(unittest.TestCase):
    def test_versions(self):
        expected = os.environ.get("LZS_VERSION") or re.search(
            r"project\(lzs_unpack VERSION ([0-9.]+)", (SOURCE_DIR / "CMakeLists.txt").read_text())[1]
        self.assertEqual(lzs.__version__, expected)
        if REFERENCE is not None:
            self.assertEqual(lzs.library_version(), REFERENCE.lzs_version_string().decode())

    def test_every_name_documented_with_a_signature(self):
        callables = [getattr(lzs, name) for name in lzs.__all__
                     if callable(getattr(lzs, name)) and name not in ("LzsError", "SalvageWarning")]
        methods = [lzs.Encoder.compress, lzs.LzsCompressor.compress, lzs.LzsCompressor.flush,
                   lzs.LzsDecompressor.decompress]
        for call in callables + methods:
            with self.subTest(call.__qualname__):
                self.assertGreater(len(call.__doc__ or ""), 40)
                inspect.signature(call)
        self.assertEqual(str(inspect.signature(lzs.compress)), f"(data, level={lzs.LEVEL_DEFAULT}, *, like=None)")
        self.assertEqual(str(inspect.signature(lzs.decompress)), "(image, /, max_length=-1, *, salvage=False)")
        self.assertEqual(str(inspect.signature(lzs.decompress_into)), "(image, buffer, /)")

    def test_stubs_match_the_runtime(self):
        # mypy's stubtest: every name and signature of the stubs against the
        # module as it runs; and every method of LzsFile's own in its stub.
        try:
            import mypy.stubtest  # noqa: F401
        except ImportError:
            self.skipTest("no mypy for this Python (Debian: python3-mypy)")
        package = pathlib.Path(lzs.__file__).parent
        with tempfile.TemporaryDirectory() as folder:
            config = pathlib.Path(folder, "mypy.ini")
            config.write_text("[mypy]\n[mypy-lzs._lzs]\nignore_missing_imports = True\n")
            result = subprocess.run([sys.executable, "-m", "mypy.stubtest", "--mypy-config-file", str(config), "lzs"],
                                    cwd=folder, env=dict(os.environ, PYTHONPATH=str(package.parent)),
                                    capture_output=True, text=True, timeout=300)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        stub = ast.parse((package / "__init__.pyi").read_text())
        declared = next(node for node in stub.body if isinstance(node, ast.ClassDef) and node.name == "LzsFile")
        declared = {node.name for node in declared.body if isinstance(node, ast.FunctionDef)}
        own = {name for name in vars(lzs.LzsFile) if not name.startswith("_") and callable(getattr(lzs.LzsFile, name))}
        self.assertLessEqual(own, declared)

    def test_import_with_the_collector_at_every_allocation(self):
        # The collector visits the module while Python makes it.
        script = "import gc; gc.set_threshold(1); import hashlib, resource, lzs; print(lzs.decompress(lzs.compress(b'ok')))"
        result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120)
        self.assertEqual((result.returncode, result.stdout), (0, "b'ok'\n"), result.stderr)

    def test_public_names_are_all_and_only_the_public_ones(self):
        # Besides the dunder names, only the package's own submodules.
        submodules = {name for name in sys.modules if name.startswith("lzs.")}
        shown = [name for name in dir(lzs) if not name.startswith("__") and f"lzs.{name}" not in submodules]
        self.assertEqual(sorted(shown), sorted(lzs.__all__))


if __name__ == "__main__":
    unittest.main(verbosity=2)
