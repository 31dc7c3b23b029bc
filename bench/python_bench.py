#!/usr/bin/env python3
"""The Python module against liblzs called directly, on make-corpus files:

- lzs.decompress of a 1 MiB and an 8 MiB image of text and an 8 MiB image
  of binary-like data, beside lzs_decode into a buffer made once (the C
  caller's best case), and beside lzs_decoded_size plus lzs_decode into a
  new buffer (what decompress does), with the scan alone;
  lzs.open(...).read() of the same image, in pieces;
- lzs.compress(level=LEVEL_FAST) beside lzs_encode at the fast level;
- two threads decoding one 8 MiB image each beside one thread decoding both.

Each figure is the best of RUNS rounds (default 15), in which the calls
compared take turns. liblzs is called through
ctypes, which adds about a microsecond to a call of some milliseconds.

    /usr/bin/python3 bench/python_bench.py [BUILD_DIR]   (default build/native)

LZS_LIBRARY names another liblzs to compare with (one built with
-DLZS_SIMD=OFF, say, to compare loop with loop).
"""
import ctypes
import io
import os
import subprocess
import sys
import tempfile
import threading
import time

here = os.path.dirname(os.path.abspath(__file__))
build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "build", "native"))
sys.path.insert(0, os.path.join(build, "python", "lib"))
import lzs  # noqa: E402

runs = int(os.environ.get("RUNS", "15"))
library = ctypes.CDLL(os.environ.get("LZS_LIBRARY", os.path.join(build, "liblzs", "liblzs.so.1")))
for name in ("lzs_decode", "lzs_decoded_size", "lzs_encode", "lzs_encode_bound"):
    getattr(library, name).restype = ctypes.c_size_t
library.lzs_decode.argtypes = [ctypes.c_void_p, ctypes.c_size_t, ctypes.c_char_p, ctypes.c_size_t]
library.lzs_decoded_size.argtypes = [ctypes.c_char_p, ctypes.c_size_t]
library.lzs_encode.argtypes = [ctypes.c_void_p, ctypes.c_size_t, ctypes.c_char_p, ctypes.c_size_t, ctypes.c_int]
library.lzs_encode_bound.argtypes = [ctypes.c_size_t]
libc = ctypes.CDLL(None)
libc.malloc.restype = ctypes.c_void_p
libc.malloc.argtypes = [ctypes.c_size_t]
libc.free.argtypes = [ctypes.c_void_p]


def best(*calls):
    """The best time of each call over RUNS rounds, the calls taking turns in
    each round, so that a machine busy for a while weighs on all alike."""
    times = [[] for _ in calls]
    for _ in range(runs):
        for call, taken in zip(calls, times):
            start = time.perf_counter()
            call()
            taken.append(time.perf_counter() - start)
    return [min(taken) for taken in times]


def corpus(size, kind):
    """make-corpus's text-like or binary-like file of about size bytes."""
    with tempfile.TemporaryDirectory() as folder:
        subprocess.run([os.path.join(build, "tools", "make-corpus"), folder, str(size)], check=True)
        with open(os.path.join(folder, f"{kind}.bin"), "rb") as file:
            return file.read()


def c_decode_fresh(image):
    """What decompress does, in C: the size scan, an allocation, the decode."""
    size = library.lzs_decoded_size(image, len(image))
    out = libc.malloc(size)
    result = library.lzs_decode(out, size, image, len(image))
    libc.free(out)
    return result


def row(name, python_time, c_time, mib):
    print(f"{name:<44} {python_time * 1e3:8.2f} ms {mib / python_time:8.0f} MiB/s   "
          f"C {c_time * 1e3:8.2f} ms   Python/C {python_time / c_time:5.3f}")


print(f"lzs {lzs.__version__}, liblzs {lzs.library_version()}, best of {runs}")
images = {}
for label, size, kind in (("1 MiB", 2_200_000, "text"), ("8 MiB", 17_500_000, "text"),
                          ("8 MiB binary", 12_000_000, "binary")):
    data = corpus(size, kind)
    image = lzs.compress(data)
    images[label] = image
    out = ctypes.create_string_buffer(len(data))
    mib = len(data) / 2**20
    assert lzs.decompress(image) == data
    assert library.lzs_decode(out, len(data), image, len(image)) == len(data)
    py, c, fresh, scan, pieces = best(lambda: lzs.decompress(image),
                                      lambda: library.lzs_decode(out, len(data), image, len(image)),
                                      lambda: c_decode_fresh(image),
                                      lambda: library.lzs_decoded_size(image, len(image)),
                                      lambda: lzs.open(io.BytesIO(image)).read())
    row(f"decompress, {label} image ({len(image)} bytes)", py, c, mib)
    row("  the same, C sizing and allocating too", py, fresh, mib)
    row("  C lzs_decoded_size alone", py, scan, mib)
    row("  lzs.open(BytesIO).read(), in pieces", pieces, c, mib)
    bound = library.lzs_encode_bound(len(data))
    packed = ctypes.create_string_buffer(bound)
    assert library.lzs_encode(packed, bound, data, len(data), lzs.LEVEL_FAST) == len(lzs.compress(data, lzs.LEVEL_FAST))
    row(f"compress LEVEL_FAST, {len(data)} bytes",
        *best(lambda: lzs.compress(data, lzs.LEVEL_FAST),
              lambda: library.lzs_encode(packed, bound, data, len(data), lzs.LEVEL_FAST)), mib)

image = images["8 MiB"]


def one_thread():
    lzs.decompress(image)
    lzs.decompress(image)


def two_threads():
    threads = [threading.Thread(target=lzs.decompress, args=(image,)) for _ in range(2)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()


one, two = best(one_thread, two_threads)
print(f"two 8 MiB images: one thread {one * 1e3:.2f} ms, two threads {two * 1e3:.2f} ms, "
      f"ratio {two / one:.3f} (target at most 0.6)")
