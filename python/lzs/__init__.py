"""Packs and unpacks LZS images: a 4-byte little-endian length of the rest,
then an LZSS stream of flag bytes, literals and two-byte back-references
into a 4,096-byte window.

    image = lzs.compress(data)             # bytes, header included
    data = lzs.decompress(image)
    with lzs.open("file.lzs", "wb") as f:  # packed when closed
        f.write(data)

The calls take any bytes-like object (bytes, bytearray, memoryview, mmap,
array) without copying it, raise TypeError for anything else, and release
the GIL while the codec runs, so threads working on different data run in
parallel. Failures of the codec raise LzsError (a ValueError), and
MemoryError when memory runs out. decompress_into unpacks into a buffer of
the caller's; LzsDecompressor unpacks an image that arrives in pieces and
LzsCompressor packs data that does; lzs.open also gives text files ("rt",
"wt", "xt"); python -m lzs packs and unpacks files. inspect tells what an
image holds, scan finds images inside other data, decompress(...,
salvage=True) keeps what a damaged image holds, and compress(...,
like=orig) packs data again as orig was packed.
"""
from ._codec import Encoder, LzsCompressor, LzsDecompressor
from ._files import LzsFile, open
from ._lzs import (
    # lzs_header.py: begin error-imports (made from include/lzs.h by tools/lzs_header.py write)
    ERROR_BAD_ARGUMENT,
    ERROR_BAD_LEVEL,
    ERROR_DST_TOO_SMALL,
    ERROR_EMPTY_INPUT,
    ERROR_INPUT_TOO_LARGE,
    ERROR_NO_OUTPUT,
    ERROR_NOT_AN_IMAGE,
    ERROR_OUT_OF_MEMORY,
    ERROR_TRAILING_DATA,
    ERROR_TRUNCATED,
    # lzs_header.py: end error-imports
    LEVEL_DEFAULT,
    LEVEL_FAST,
    LEVEL_OPTIMAL,
    LzsError,
    SalvageWarning,
    __version__,
    compress,
    decoded_size,
    decompress,
    decompress_into,
    image_length,
    library_version,
)
from ._workbench import inspect, scan

__all__ = [
    # lzs_header.py: begin error-names (made from include/lzs.h by tools/lzs_header.py write)
    "ERROR_BAD_ARGUMENT",
    "ERROR_BAD_LEVEL",
    "ERROR_DST_TOO_SMALL",
    "ERROR_EMPTY_INPUT",
    "ERROR_INPUT_TOO_LARGE",
    "ERROR_NO_OUTPUT",
    "ERROR_NOT_AN_IMAGE",
    "ERROR_OUT_OF_MEMORY",
    "ERROR_TRAILING_DATA",
    "ERROR_TRUNCATED",
    # lzs_header.py: end error-names
    "LEVEL_DEFAULT",
    "LEVEL_FAST",
    "LEVEL_OPTIMAL",
    "Encoder",
    "LzsCompressor",
    "LzsDecompressor",
    "LzsError",
    "LzsFile",
    "SalvageWarning",
    "compress",
    "decoded_size",
    "decompress",
    "decompress_into",
    "image_length",
    "inspect",
    "library_version",
    "open",
    "scan",
]

# The classes as the package's own.
for _class in (Encoder, LzsCompressor, LzsDecompressor, LzsFile):
    _class.__module__ = __name__
del _class
