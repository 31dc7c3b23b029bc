import array
import io
import mmap
import os
from typing import IO, Literal, Union

BytesLike = Union[bytes, bytearray, memoryview, mmap.mmap, array.array]
_Path = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
_Mode = Literal["r", "rb", "w", "wb", "x", "xb"]

__version__: str
LEVEL_DEFAULT: int
LEVEL_FAST: int
LEVEL_OPTIMAL: int
# lzs_header.py: begin errors (made from include/lzs.h by tools/lzs_header.py write)
ERROR_NOT_AN_IMAGE: int
ERROR_TRUNCATED: int
ERROR_NO_OUTPUT: int
ERROR_DST_TOO_SMALL: int
ERROR_INPUT_TOO_LARGE: int
ERROR_OUT_OF_MEMORY: int
ERROR_EMPTY_INPUT: int
ERROR_BAD_ARGUMENT: int
ERROR_TRAILING_DATA: int
ERROR_BAD_LEVEL: int
# lzs_header.py: end errors

class LzsError(ValueError):
    code: int

def compress(data: BytesLike, level: int = ...) -> bytes: ...
def decompress(image: BytesLike, /) -> bytes: ...
def decoded_size(image: BytesLike, /) -> int: ...
def image_length(buffer: BytesLike, offset: int = ...) -> int: ...
def library_version() -> str: ...

class Encoder:
    def __init__(self) -> None: ...
    def compress(self, data: BytesLike, level: int = ...) -> bytes: ...

class LzsDecompressor:
    eof: bool
    needs_input: bool
    unused_data: bytes
    def __init__(self) -> None: ...
    def decompress(self, data: BytesLike, max_length: int = ...) -> bytes: ...

class LzsFile(io.BufferedIOBase):
    name: Union[str, bytes]
    mode: str
    def __init__(self, file: Union[_Path, IO[bytes]], mode: _Mode = ..., *, level: int = ...) -> None: ...

def open(file: Union[_Path, IO[bytes]], mode: _Mode = ..., *, level: int = ...) -> LzsFile: ...
