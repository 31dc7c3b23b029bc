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
MemoryError when memory runs out.
"""
import io
import os
import secrets

from ._lzs import (
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
    LEVEL_DEFAULT,
    LEVEL_FAST,
    LEVEL_OPTIMAL,
    Encoder,
    LzsError,
    __version__,
    compress,
    decoded_size,
    decompress,
    image_length,
    library_version,
)

__all__ = [
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
    "LEVEL_DEFAULT",
    "LEVEL_FAST",
    "LEVEL_OPTIMAL",
    "Encoder",
    "LzsError",
    "LzsFile",
    "compress",
    "decoded_size",
    "decompress",
    "image_length",
    "library_version",
    "open",
]

_MODES = {"r": "rb", "rb": "rb", "w": "wb", "wb": "wb", "x": "xb", "xb": "xb"}


class LzsFile(io.BufferedIOBase):
    """A binary file over one LZS image on disk; made by lzs.open().

    Read mode decodes the whole image when the file is opened. Write modes
    collect what is written and pack it when the file is closed, into a
    temporary file beside the target that is then renamed to the target's
    name: the target appears only complete, and when packing or writing
    fails (or the with-block that holds the file raises) nothing is left.
    """

    def __init__(self, path, mode="rb", *, level=LEVEL_DEFAULT):
        self._temp = None  # write modes: (fd, path) of the temporary file
        if mode not in _MODES:
            raise ValueError(f"invalid mode: {mode!r} (use 'rb', 'wb' or 'xb')")
        if level not in (LEVEL_DEFAULT, LEVEL_FAST, LEVEL_OPTIMAL):
            raise ValueError(f"unknown level: {level!r}")
        super().__init__()
        self.name = os.fspath(path)
        self.mode = _MODES[mode]
        self._level = level
        self._path = os.fsdecode(self.name)
        if self.mode == "rb":
            with io.open(self._path, "rb") as packed:
                self._buffer = io.BytesIO(decompress(packed.read()))
            return
        if self.mode == "xb" and os.path.lexists(self._path):
            raise FileExistsError(f"file exists: {self._path!r}")
        self._buffer = io.BytesIO()
        self._temp = _create_temporary(self._path)

    def readable(self):
        self._check_open()
        return self.mode == "rb"

    def writable(self):
        self._check_open()
        return self.mode != "rb"

    def seekable(self):
        self._check_open()
        return self.mode == "rb"

    def read(self, size=-1):
        self._check_mode("rb")
        return self._buffer.read(size)

    def read1(self, size=-1):
        return self.read(size)

    def readinto(self, buffer):
        self._check_mode("rb")
        return self._buffer.readinto(buffer)

    def readinto1(self, buffer):
        return self.readinto(buffer)

    def readline(self, size=-1):
        self._check_mode("rb")
        return self._buffer.readline(size)

    def seek(self, offset, whence=io.SEEK_SET):
        self._check_mode("rb")
        return self._buffer.seek(offset, whence)

    def tell(self):
        self._check_open()
        return self._buffer.tell()

    def write(self, data):
        self._check_mode("wb", "xb")
        return self._buffer.write(data)

    def close(self):
        """Closes the file; in a write mode, packs what was written and puts
        it in place first (raising LzsError, for example, when nothing was
        written, and leaving no file)."""
        if self.closed:
            return
        try:
            if self._temp is not None:
                self._finish()
        finally:
            self._discard()
            super().close()

    def __exit__(self, exc_type, exc, traceback):
        if exc_type is not None:
            self._discard()  # what was written may be incomplete: leave no file
        self.close()

    def _finish(self):
        fd, temp = self._temp
        image = compress(self._buffer.getbuffer(), self._level)
        with io.open(fd, "wb", closefd=False) as out:
            out.write(image)
            out.flush()
            os.fsync(fd)
        _check_same(fd, temp)
        if self.mode == "wb":
            os.replace(temp, self._path)
        else:
            os.link(temp, self._path)  # FileExistsError when the name was taken meanwhile
            _check_same(fd, temp)
            os.unlink(temp)
        self._temp = (fd, None)

    def _discard(self):
        """Closes and removes the temporary file, if any is left."""
        if self._temp is None:
            return
        fd, temp = self._temp
        self._temp = None
        try:
            if temp is not None and _is_same(fd, temp):
                os.unlink(temp)
        finally:
            os.close(fd)
        self._buffer = io.BytesIO()

    def _check_open(self):
        if self.closed:
            raise ValueError("I/O operation on closed file")

    def _check_mode(self, *modes):
        self._check_open()
        if self.mode not in modes:
            raise io.UnsupportedOperation(f"not available in mode {self.mode!r}")


def _create_temporary(path):
    """A new file beside path, named after it, opened for writing: (fd, name)."""
    folder, base = os.path.split(path)
    for _ in range(100):
        temp = os.path.join(folder, f".{base}.{secrets.token_hex(6)}.tmp")
        try:
            return os.open(temp, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC, 0o666), temp
        except FileExistsError:
            continue
    raise FileExistsError(f"no free temporary name beside {path!r}")


def _is_same(fd, path):
    """Whether path still names the file open as fd."""
    try:
        named = os.lstat(path)
    except FileNotFoundError:
        return False
    opened = os.fstat(fd)
    return (named.st_dev, named.st_ino) == (opened.st_dev, opened.st_ino)


def _check_same(fd, path):
    if not _is_same(fd, path):
        raise FileNotFoundError(f"temporary file {path!r} was replaced or removed")


def open(path, mode="rb", *, level=LEVEL_DEFAULT):  # noqa: A001 (in the manner of gzip.open)
    """open(path, mode="rb", *, level=LEVEL_DEFAULT) -> LzsFile

    Open an LZS file as a binary file object (io.BufferedIOBase), in the
    manner of gzip.open. path is a str, bytes or os.PathLike.

    "rb" reads and decodes the whole image at once. "wb" and "xb" collect
    what is written and pack it at the given level when the file is closed;
    the file appears under its name only complete (written beside it and
    renamed), and nothing is left when packing fails: closing a file into
    which nothing was written raises LzsError (empty input). "xb" raises
    FileExistsError when the file exists. Use it in a with statement; when
    the with block raises, nothing is written.
    """
    return LzsFile(path, mode, level=level)
