#!/usr/bin/env python3
"""Loads liblzs.so.1 with ctypes, as a client in another language would, and
round-trips bytes at every level.

    round_trip.py PATH/TO/liblzs.so.1
"""
import ctypes
import sys

LEVEL_DEFAULT, LEVEL_FAST, LEVEL_OPTIMAL = 0, 1, 9
ERROR_NO_OUTPUT, ERROR_DST_TOO_SMALL, ERROR_EMPTY_INPUT, ERROR_BAD_LEVEL = 3, 4, 7, 10

lib = ctypes.CDLL(sys.argv[1])
size_t = ctypes.c_size_t
for name, args in {
    "lzs_decode": [ctypes.c_void_p, size_t, ctypes.c_char_p, size_t],
    "lzs_decoded_size": [ctypes.c_char_p, size_t],
    "lzs_encode_bound": [size_t],
    "lzs_encode": [ctypes.c_void_p, size_t, ctypes.c_char_p, size_t, ctypes.c_int],
    "lzs_get_error": [size_t],
    "lzs_error_name": [size_t],
}.items():
    getattr(lib, name).argtypes = args
    getattr(lib, name).restype = size_t
lib.lzs_get_error.restype = ctypes.c_int
lib.lzs_error_name.restype = ctypes.c_char_p
lib.lzs_version_string.restype = ctypes.c_char_p


def check(code):
    if lib.lzs_get_error(code) != 0:
        raise RuntimeError(lib.lzs_error_name(code).decode())
    return code


def pack(data, level):
    out = ctypes.create_string_buffer(lib.lzs_encode_bound(len(data)))
    n = check(lib.lzs_encode(out, len(out), data, len(data), level))
    return out.raw[:n]


def unpack(image):
    size = check(lib.lzs_decoded_size(image, len(image)))
    out = ctypes.create_string_buffer(size)
    n = check(lib.lzs_decode(out, size, image, len(image)))
    return out.raw[:n]


samples = [b"A", b"ABCABCABC", bytes(5000), bytes(range(256)) * 40,
           b"the window of the LZS file, a byte. " * 300]
for level in (LEVEL_DEFAULT, LEVEL_FAST, LEVEL_OPTIMAL):
    for data in samples:
        image = pack(data, level)
        assert unpack(image) == data, (level, len(data))
assert unpack(bytes.fromhex("06000000 07 414243 eef3")) == b"ABCABCABC"
assert lib.lzs_get_error(lib.lzs_decode(None, 0, b"\x01\0\0\0\0", 5)) == ERROR_NO_OUTPUT
short = ctypes.create_string_buffer(8)
nine = pack(b"ABCABCABC", LEVEL_OPTIMAL)
assert lib.lzs_get_error(lib.lzs_decode(short, 8, nine, len(nine))) == ERROR_DST_TOO_SMALL
assert lib.lzs_get_error(lib.lzs_encode(short, 8, b"", 0, LEVEL_FAST)) == ERROR_EMPTY_INPUT
assert lib.lzs_get_error(lib.lzs_encode(short, 8, b"", 0, 2)) == ERROR_BAD_LEVEL
print(f"round_trip.py: liblzs {lib.lzs_version_string().decode()}: {len(samples)} samples at every level")
