"""lzs.open and LzsFile: one LZS image as a binary file object, in the manner
of gzip.open, over a path or a file object.

A path written to gets its image only when the file is closed, and only
whole: the image goes into an unnamed file in the target's folder (or,
where the system has none, a named one made at that moment), which is then
linked in under the target's name, taking the mode and owner of the file it
replaces. A device, a FIFO or a socket at that name, or reached through a
link there, is never replaced: opening it raises OSError. A link to a
regular file is itself replaced; the file it points to stays as it was.
"""
import errno
import io
import os
import secrets
import stat
import sys

from ._codec import LzsDecompressor
from ._lzs import DSTREAM_IN_SIZE, DSTREAM_OUT_SIZE, LEVEL_DEFAULT, LzsError, check_level, compress

# What is read from a file at a time, and what is decoded at a time: the
# library's recommended input piece and output room.
BUFFER_SIZE = DSTREAM_IN_SIZE
OUTPUT_SIZE = DSTREAM_OUT_SIZE
# Unnamed files (O_TMPFILE) are linked in through /proc/self/fd.
_UNNAMED_FILES = hasattr(os, "O_TMPFILE") and os.path.isdir("/proc/self/fd")
_MODES = {"r": "rb", "rb": "rb", "w": "wb", "wb": "wb", "x": "xb", "xb": "xb"}


class _ImageReader(io.RawIOBase):
    """The decoded bytes of the image in a binary file, read from it in
    pieces of BUFFER_SIZE as the output needs them: a cut-short image, one
    with bytes after its end and one that is not an image raise LzsError
    when the reading reaches that point."""

    def __init__(self, file):
        super().__init__()
        self._read_file = getattr(file, "read1", file.read)  # what is there, without waiting for more
        self._file = file
        self._start = file.tell() if file.seekable() else 0
        self._decompressor = LzsDecompressor()
        self._position = 0
        self._size = -1  # the decoded size, once the end is reached

    def readable(self):
        return True

    def seekable(self):
        return self._file.seekable()

    def readinto(self, buffer):
        with memoryview(buffer) as view, view.cast("B") as byte_view:
            data = self._read(len(byte_view))
            byte_view[:len(data)] = data
        return len(data)

    def readall(self):
        pieces = []
        while True:
            piece = self._read(sys.maxsize)  # as much as each piece of input gives
            if not piece:
                return b"".join(pieces)
            pieces.append(piece)

    def _read(self, size):
        decompressor = self._decompressor
        while size > 0 and not decompressor.eof:
            piece = self._read_file(BUFFER_SIZE) if decompressor.needs_input else b""
            if decompressor.needs_input and not piece:
                decompressor._end()  # cut short: raises
            try:
                data = decompressor.decompress(piece, size)
            except LzsError:
                if decompressor.eof:  # bytes after the image change the verdict
                    decompressor._end(self._read_file(BUFFER_SIZE))
                raise
            if data:
                self._position += len(data)
                return data
        if decompressor.eof and self._size < 0:
            decompressor._end(self._read_file(BUFFER_SIZE))  # the image's end must be the file's
            self._size = self._position
        return b""

    def tell(self):
        return self._position

    def seek(self, offset, whence=io.SEEK_SET):
        if whence == io.SEEK_CUR:
            offset += self._position
        elif whence == io.SEEK_END:
            while self._read(OUTPUT_SIZE):
                pass
            offset += self._size
        elif whence != io.SEEK_SET:
            raise ValueError(f"invalid whence ({whence}, should be 0, 1 or 2)")
        if offset < self._position:  # from the start again
            self._file.seek(self._start)
            self._decompressor = LzsDecompressor()
            self._position = 0
        while offset > self._position and self._read(min(OUTPUT_SIZE, offset - self._position)):
            pass
        return self._position


def _is_path(file):
    return isinstance(file, (str, bytes)) or hasattr(file, "__fspath__")


class LzsFile(io.BufferedIOBase):
    """LzsFile(file, mode="rb", *, level=LEVEL_DEFAULT)

    A binary file object over one LZS image; made by lzs.open(), which
    describes it. name and mode say what it was opened with.
    """

    def __init__(self, file, mode="rb", *, level=LEVEL_DEFAULT):
        if mode not in _MODES:
            raise ValueError(f"invalid mode: {mode!r} (use 'rb', 'wb' or 'xb')")
        if not _is_path(file) and not hasattr(file, "read" if _MODES[mode] == "rb" else "write"):
            raise TypeError(f"file must be a path or a binary file object, not {type(file).__name__}")
        if _MODES[mode] != "rb":
            check_level(level)
        super().__init__()
        self.mode = _MODES[mode]
        self.name = os.fspath(file) if _is_path(file) else getattr(file, "name", "")
        self._level = level
        self._reader = None  # "rb": what decodes the image
        self._data = io.BytesIO()  # what is written, packed when closed
        self._file = None  # a file object written to, which is not ours
        self._owned = None  # the file object opened here, closed with this one
        self._output = None  # the target of a path written to
        self._writing = False  # until the image is written or given up
        if self.mode == "rb":
            self._owned = io.open(file, "rb") if _is_path(file) else None
            self._reader = io.BufferedReader(_ImageReader(self._owned or file), OUTPUT_SIZE)
        elif _is_path(file):
            self._output = _Output(os.fspath(file), exclusive=self.mode == "xb")
        else:
            self._file = file
        self._writing = self.mode != "rb"

    def readable(self):
        self._check_open()
        return self.mode == "rb"

    def writable(self):
        self._check_open()
        return self.mode != "rb"

    def seekable(self):
        self._check_open()
        return self.mode == "rb" and self._reader.seekable()

    def read(self, size=-1):
        self._check_mode("rb")
        return self._reader.read(size)

    def read1(self, size=-1):
        self._check_mode("rb")
        return self._reader.read1(size)

    def readinto(self, buffer):
        self._check_mode("rb")
        return self._reader.readinto(buffer)

    def readinto1(self, buffer):
        self._check_mode("rb")
        return self._reader.readinto1(buffer)

    def readline(self, size=-1):
        self._check_mode("rb")
        return self._reader.readline(size)

    def peek(self, size=0):
        self._check_mode("rb")
        return self._reader.peek(size)

    def seek(self, offset, whence=io.SEEK_SET):
        self._check_mode("rb")
        return self._reader.seek(offset, whence)

    def tell(self):
        self._check_open()
        return self._reader.tell() if self.mode == "rb" else self._data.tell()

    def write(self, data):
        self._check_mode("wb", "xb")
        return self._data.write(data)

    def close(self):
        """Closes the file; in a write mode, packs what was written and writes
        it first (raising LzsError, for example, when nothing was written, and
        leaving no file)."""
        if self.closed:
            return
        try:
            if self._writing:
                image = compress(self._data.getbuffer(), self._level)
                if self._output is not None:
                    self._output.write(image)
                    self._output.commit()
                else:
                    self._file.write(image)
        finally:
            self._discard()
            super().close()

    def __exit__(self, exc_type, exc, traceback):
        if exc_type is not None:
            self._discard()  # what was written may be incomplete: write nothing
        self.close()

    def _discard(self):
        """Lets go of what this file holds, writing nothing."""
        self._writing = False
        self._data = io.BytesIO()
        self._file = None
        for held in (self._reader, self._output, self._owned):
            if held is not None:
                held.close()

    def _check_open(self):
        if self.closed:
            raise ValueError("I/O operation on closed file")

    def _check_mode(self, *modes):
        self._check_open()
        if self.mode not in modes:
            raise io.UnsupportedOperation(f"not available in mode {self.mode!r}")


class _Output:
    """A file written under a path, which appears there (or replaces the file
    there) only when commit() is called; discard() leaves nothing. The
    target is checked when it is made and again just before it is put in
    place. As a context manager: committed when the block ends, discarded
    when it raises."""

    def __init__(self, path, exclusive):
        self._path = path
        self._exclusive = exclusive
        if exclusive and os.path.lexists(path):
            raise FileExistsError(errno.EEXIST, "file exists", path)
        _check_replaceable(path)
        self._fd = None
        self._temp = None  # a named temporary file, while there is one
        if _UNNAMED_FILES:
            try:
                self._fd = os.open(os.path.dirname(path) or ".", os.O_TMPFILE | os.O_WRONLY | os.O_CLOEXEC,
                                   0o666)
            except OSError as error:
                # A file system without unnamed files; any other failure
                # (a folder that cannot be written to) is one now.
                if error.errno not in (errno.EOPNOTSUPP, errno.EISDIR, errno.EINVAL):
                    raise

    def __enter__(self):
        return self

    def __exit__(self, exc_type, exc, traceback):
        if exc_type is None:
            self.commit()
        else:
            self.discard()

    def write(self, data):
        if self._fd is None:  # no unnamed file: a named one, as late as can be
            self._fd, self._temp = _create_named(self._path)
        with memoryview(data) as view:
            while view:
                view = view[os.write(self._fd, view):]

    def commit(self):
        """Puts what was written in place under the path."""
        try:
            self.write(b"")
            os.fsync(self._fd)
            _copy_stamp(self._fd, self._path)
            if self._temp is None and self._link_unnamed():
                return
            _check_replaceable(self._path)
            if self._exclusive:
                os.link(self._temp, self._path)  # FileExistsError when the name was taken meanwhile
            else:
                os.replace(self._temp, self._path)
                self._temp = None
        finally:
            self.discard()

    def _link_unnamed(self):
        """Links the unnamed file in under the path; where a file is already
        there, and it may be replaced, links it beside it under a temporary
        name instead and returns False. True once it is in place."""
        # The descriptor's link in /proc, followed. A source folder given
        # makes os.link call linkat(), which can follow it, rather than
        # link(), which cannot; for an absolute path it is not used.
        self_path = f"/proc/self/fd/{self._fd}"
        try:
            os.link(self_path, self._path, src_dir_fd=self._fd, follow_symlinks=True)
            return True
        except FileExistsError:
            if self._exclusive:
                raise
        for temp in _temporary_names(self._path):
            try:
                os.link(self_path, temp, src_dir_fd=self._fd, follow_symlinks=True)
                self._temp = temp
                return False
            except FileExistsError:
                continue
        raise FileExistsError(errno.EEXIST, "no free temporary name beside it", self._path)

    def close(self):
        self.discard()

    def discard(self):
        """Closes the file being written and removes its name, if any is left."""
        fd, temp = self._fd, self._temp
        self._fd = self._temp = None
        try:
            if temp is not None and fd is not None and _names(fd, temp):
                os.unlink(temp)
        finally:
            if fd is not None:
                os.close(fd)


def _check_replaceable(path):
    """Raises OSError when path names a folder, a device, a FIFO or a socket,
    directly or through links."""
    try:
        kind = os.stat(path).st_mode
    except FileNotFoundError:
        return
    if stat.S_ISDIR(kind):
        raise IsADirectoryError(errno.EISDIR, "is a folder", path)
    if not stat.S_ISREG(kind):
        raise OSError(errno.EPERM, "is not a regular file; not replaced", path)


def _temporary_names(path):
    folder, base = os.path.split(path)
    for _ in range(100):
        yield os.path.join(folder, f".{base}.{secrets.token_hex(6)}.tmp")


def _create_named(path):
    """A new file beside path, named after it, opened for writing: (fd, name)."""
    for temp in _temporary_names(path):
        try:
            return os.open(temp, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC, 0o666), temp
        except FileExistsError:
            continue
    raise FileExistsError(errno.EEXIST, "no free temporary name beside it", path)


def _copy_stamp(fd, path):
    """Gives the file open as fd the owner (where allowed) and the mode of the
    file at path, if there is one."""
    try:
        old = os.stat(path)
    except FileNotFoundError:
        return
    # The owner before the mode: a change of owner can clear mode bits.
    for owner in (old.st_uid, -1):
        try:
            os.fchown(fd, owner, old.st_gid)
            break
        except PermissionError:
            continue
    os.fchmod(fd, stat.S_IMODE(old.st_mode))


def _names(fd, path):
    """Whether path still names the file open as fd."""
    try:
        named = os.lstat(path)
    except FileNotFoundError:
        return False
    opened = os.fstat(fd)
    return (named.st_dev, named.st_ino) == (opened.st_dev, opened.st_ino)


def open(file, mode="rb", *, level=LEVEL_DEFAULT):  # noqa: A001 (in the manner of gzip.open)
    """open(file, mode="rb", *, level=LEVEL_DEFAULT) -> LzsFile

    Open an LZS image as a binary file object (io.BufferedIOBase), in the
    manner of gzip.open. file is a path (str, bytes or os.PathLike) or a
    binary file object to read from or write to, which closing the LzsFile
    leaves open.

    "rb" reads the image in pieces, in constant memory; read(n) returns as
    soon as it has n bytes. An image cut short, one with bytes after its end
    and one that is not an image raise LzsError when the reading gets there.

    "wb" and "xb" collect what is written and pack it at the given level
    (LzsError at once for one the library does not know) when the file is
    closed; closing a file into which nothing was written raises LzsError
    (empty input). A file object gets the image then. A path gets
    it only complete: the file appears (or is replaced, keeping its mode and
    owner) only then, and nothing is left when packing fails or the with
    block raises. A device, a FIFO or a socket at the path, or reached
    through a link there, is never replaced: OSError, at once (open the
    device as a file and pass that to write into it). A link to a regular
    file is replaced itself, not the file it points to. "xb" raises
    FileExistsError when the path exists.
    """
    return LzsFile(file, mode, level=level)
