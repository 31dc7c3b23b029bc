#!/usr/bin/env python3
"""The Python module against liblzs called directly, on the benchmark
corpora (bench/corpora.sh: headers.tar, text; libs.bin, binary):

- lzs.decompress of each corpus's first 1 MiB, first 8 MiB and whole,
  packed at LEVEL_FAST and at LEVEL_OPTIMAL, beside lzs_decode into a buffer
  made once (the C caller's best case), and beside lzs_decode_alloc (the
  C caller that asks the library for the memory, as decompress does);
  lzs.open(...).read() of the 8 MiB images, in pieces;
- lzs.compress(level=LEVEL_FAST) of the 8 MiB prefixes beside lzs_encode;
- two threads decoding one 8 MiB image each beside one thread decoding both.

Each figure is the best of RUNS rounds (default 15), in which the calls
compared take turns, so that a machine busy for a while weighs on all
alike; the ratio is Python's time over C's. The times are the processor
time of the thread (wall time for the two threads), which other work on a
shared machine changes least. liblzs is called through
ctypes, which adds about a microsecond to a call of some milliseconds.

    /usr/bin/python3 bench/python_bench.py [BUILD_DIR]   (default build/native)

The corpora are made in BUILD_DIR/../corpora when missing. LZS_LIBRARY
names another liblzs to compare with (one built with -DLZS_SIMD=OFF, say,
to compare loop with loop).
"""
import ctypes
import io
import os
import subprocess
import sys
import threading
import time

here = os.path.dirname(os.path.abspath(__file__))
build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "build", "native"))
sys.path.insert(0, os.path.join(build, "python", "lib"))
import lzs  # noqa: E402

runs = int(os.environ.get("RUNS", "15"))
library = ctypes.CDLL(os.environ.get("LZS_LIBRARY", os.path.join(build, "liblzs", "liblzs.so.1")))
for name in ("lzs_decode", "lzs_decode_alloc", "lzs_encode", "lzs_encode_bound"):
    getattr(library, name).restype = ctypes.c_size_t
library.lzs_decode.argtypes = [ctypes.c_void_p, ctypes.c_size_t, ctypes.c_char_p, ctypes.c_size_t]
library.lzs_decode_alloc.argtypes = [ctypes.POINTER(ctypes.c_void_p), ctypes.c_char_p, ctypes.c_size_t,
                                     ctypes.c_size_t, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_void_p]
library.lzs_encode.argtypes = [ctypes.c_void_p, ctypes.c_size_t, ctypes.c_char_p, ctypes.c_size_t, ctypes.c_int]
library.lzs_encode_bound.argtypes = [ctypes.c_size_t]
libc = ctypes.CDLL(None)
libc.free.argtypes = [ctypes.c_void_p]
SIZE_MAX = 2**64 - 1


def best(*calls, clock=time.thread_time):
    """The best time of each call over RUNS rounds, the calls taking turns in
    each round: the processor time of this thread, which a machine busy
    with other work changes the least, or another clock."""
    times = [[] for _ in calls]
    for _ in range(runs):
        for call, taken in zip(calls, times):
            start = clock()
            call()
            taken.append(clock() - start)
    return [min(taken) for taken in times]


def corpora():
    """{name: bytes} of the benchmark corpora, made when missing."""
    folder = os.path.join(os.path.dirname(build), "corpora")
    paths = subprocess.run([os.path.join(here, "corpora.sh"), folder], check=True, capture_output=True,
                           text=True).stdout.split()
    return {os.path.basename(path): open(path, "rb").read() for path in paths}


def c_decode_alloc(image):
    """What decompress does, in C: the library asks malloc for the room."""
    out = ctypes.c_void_p()
    result = library.lzs_decode_alloc(ctypes.byref(out), image, len(image), SIZE_MAX, None, None, None)
    libc.free(out)
    return result


def row(name, python_time, c_time, mib):
    print(f"{name:<46} {python_time * 1e3:8.2f} ms {mib / python_time:7.0f} MiB/s   "
          f"C {c_time * 1e3:8.2f} ms   Python/C {python_time / c_time:5.3f}")


print(f"lzs {lzs.__version__}, liblzs {lzs.library_version()}, best of {runs}")
images = {}
texts = corpora()
for corpus, text in texts.items():
    for label, size in (("1 MiB", 1 << 20), ("8 MiB", 8 << 20), ("whole", len(text))):
        data = text[:size]
        mib = len(data) / 2**20
        for level_name, level in (("fast", lzs.LEVEL_FAST), ("optimal", lzs.LEVEL_OPTIMAL)):
            image = lzs.compress(data, level)
            images[corpus, label, level_name] = image
            out = ctypes.create_string_buffer(len(data))
            assert lzs.decompress(image) == data
            assert library.lzs_decode(out, len(data), image, len(image)) == len(data)
            py, c, alloc = best(lambda: lzs.decompress(image),
                                lambda: library.lzs_decode(out, len(data), image, len(image)),
                                lambda: c_decode_alloc(image))
            row(f"decompress {corpus} {label} {level_name} ({len(image):,} B)", py, c, mib)
            row("  the same, C lzs_decode_alloc", py, alloc, mib)
        if label == "8 MiB":
            image = images[corpus, label, "optimal"]
            pieces, c = best(lambda: lzs.open(io.BytesIO(image)).read(),
                             lambda: library.lzs_decode(out, len(data), image, len(image)))
            row("  lzs.open(BytesIO).read(), in pieces", pieces, c, mib)
            bound = library.lzs_encode_bound(len(data))
            packed = ctypes.create_string_buffer(bound)
            row(f"compress LEVEL_FAST {corpus} {label}",
                *best(lambda: lzs.compress(data, lzs.LEVEL_FAST),
                      lambda: library.lzs_encode(packed, bound, data, len(data), lzs.LEVEL_FAST)), mib)

image = images["headers.tar", "8 MiB", "optimal"]


def one_thread():
    lzs.decompress(image)
    lzs.decompress(image)


def two_threads():
    threads = [threading.Thread(target=lzs.decompress, args=(image,)) for _ in range(2)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()


one, two = best(one_thread, two_threads, clock=time.perf_counter)
print(f"two 8 MiB images: one thread {one * 1e3:.2f} ms, two threads {two * 1e3:.2f} ms, "
      f"ratio {two / one:.3f} (target at most 0.6)")
