"""lzs.open and LzsFile: one LZS image as a binary file object (or a text
file over one), in the manner of gzip.open, over a path or a file object.

What is written is packed as it comes, in bounded memory. A path written
to gets its image only when the file is closed, and only whole: the image
goes, as it is made, into an unnamed file in the target's folder (or,
where the system has none, a named one made at that moment, which a helper
process removes if this one dies first), which is then linked in under the
target's name, taking the mode and owner of the file it replaces. A device,
a FIFO or a socket at that name, or reached through a link there, is never
replaced: opening it raises OSError; nor is anything in /dev or /proc. A
name that leads to a descriptor of this process is written through it. A
link to a regular file is itself replaced; the file it points to stays as
it was.
"""
import _compression
import errno
import io
import os
import secrets
import select
import stat
import sys
import tempfile
import threading

from ._codec import PACK_PIECE, SPOOL_SIZE, LzsDecompressor, PackStream
from ._lzs import DSTREAM_IN_SIZE, DSTREAM_OUT_SIZE, LEVEL_DEFAULT, LzsError

# What is read from a file at a time, and what is decoded at a time: the
# library's recommended input piece and output room.
BUFFER_SIZE = DSTREAM_IN_SIZE
OUTPUT_SIZE = DSTREAM_OUT_SIZE
# Unnamed files (O_TMPFILE) are linked in through /proc/self/fd.
_UNNAMED_FILES = hasattr(os, "O_TMPFILE") and os.path.isdir("/proc/self/fd")
_MODES = {"r": "rb", "rb": "rb", "w": "wb", "wb": "wb", "x": "xb", "xb": "xb"}
_TEXT_MODES = {"rt": "rb", "wt": "wb", "xt": "xb"}
# Folders of the system's own names: nothing in them is replaced or removed.
_SYSTEM_FOLDERS = ("/dev", "/proc")


class _ImageReader(_compression.DecompressReader):
    """The decoded bytes of the image in a binary file, read from it in
    pieces of BUFFER_SIZE as the output needs them: a cut-short image, one
    with bytes after its end and one that is not an image raise LzsError
    when the reading reaches that point. readinto() decodes into the
    caller's buffer."""

    def __init__(self, file):
        super().__init__(file, LzsDecompressor)
        self._read_file = getattr(file, "read1", file.read)  # what is there, without waiting for more
        self._start = file.tell() if file.seekable() else 0

    def readinto(self, buffer):
        with memoryview(buffer) as view, view.cast("B") as byte_view:
            return self._next(len(byte_view), lambda piece: self._decompressor._decompress_into(piece, byte_view)) or 0

    def read(self, size=-1):
        if size < 0:
            return self.readall()
        return self._next(size, lambda piece: self._decompressor.decompress(piece, size)) or b""

    def readall(self):
        # As much as each piece of input gives, at a time.
        return b"".join(iter(lambda: self.read(sys.maxsize), b""))

    def _next(self, size, decode):
        """The next output, decode(piece) as the pieces of input need, or
        None once the image's end is found to be the file's end too."""
        decompressor = self._decompressor
        while size and not self._eof:
            if decompressor.eof:
                decompressor._end(self._take())  # the image's end must be the file's
                self._eof = True
                self._size = self._pos
                break
            piece = self._take() if decompressor.needs_input else b""
            if decompressor.needs_input and not piece:
                decompressor._end()  # cut short: raises
            try:
                output = decode(piece)
            except LzsError:
                if decompressor.eof:  # bytes after the image change the verdict
                    decompressor._end(self._take())
                raise
            if output:
                self._pos += output if isinstance(output, int) else len(output)
                return output
        return None

    def _take(self):
        """The next piece of the file, b"" at its end."""
        return _next_piece(self._fp, self._read_file, BUFFER_SIZE)

    def _rewind(self):
        self._fp.seek(self._start)
        self._eof = False
        self._pos = 0
        self._decompressor = LzsDecompressor()


def _next_piece(file, read, size):
    """read(size) of a file object, b"" at its end. A non-blocking file that
    has nothing yet (None, or b"" from a buffered one) is waited for."""
    piece = read(size)
    if piece is None or (not piece and not _blocking(file)):
        piece = None
        while piece is None:
            _wait(file, reading=True)
            piece = read(size)
    return piece


def _blocking(file):
    """False for a file object over a non-blocking descriptor."""
    try:
        return os.get_blocking(file.fileno())
    except (AttributeError, OSError, ValueError):
        return True


def _wait(file, reading):
    """Waits until a non-blocking file object can be read (or written);
    BlockingIOError when it has no descriptor to wait on."""
    try:
        fd = file.fileno()
    except (AttributeError, OSError, ValueError):
        raise BlockingIOError(errno.EAGAIN, f"the file object would block {'reading' if reading else 'writing'}, "
                              "and has no descriptor to wait on") from None
    poll = select.poll()
    poll.register(fd, select.POLLIN if reading else select.POLLOUT)
    poll.poll()


def _write_all(file, data):
    """Writes all of data into a binary file object, and flushes it: again
    after a short write and, where a non-blocking one takes nothing now
    (None, or BlockingIOError), once it can take more. A write() that gives
    None from an object that is no RawIOBase took everything (such objects
    do not count what they take)."""
    rest, piece = memoryview(data), data
    while rest:
        try:
            taken = file.write(piece)
            if taken is None and not isinstance(file, io.RawIOBase):
                break
        except BlockingIOError as error:
            taken = error.characters_written or None  # a buffered file, full for now
        if taken is None:
            _wait(file, reading=False)
        elif taken == 0:
            raise OSError(errno.EIO, f"the file object took none of the last {len(rest):,} bytes")
        else:
            rest = piece = rest[taken:]
    flush = getattr(file, "flush", None)
    while flush is not None:
        try:
            flush()
            break
        except BlockingIOError:
            _wait(file, reading=False)


def _is_path(file):
    return isinstance(file, (str, bytes)) or hasattr(file, "__fspath__")


class LzsFile(io.BufferedIOBase):
    """LzsFile(file, mode="rb", *, level=LEVEL_DEFAULT)

    A binary file object over one LZS image; made by lzs.open(), which
    describes it. name and mode say what it was opened with.
    """

    # What a file holds, as it is before __init__ has set it: a file whose
    # opening failed is closed as quietly as one never used.
    _reader = None  # "rb": what decodes the image
    _packer = None  # "wb", "xb": what packs what is written, as it comes
    _written = 0  # the bytes written
    _spool = None  # the image until it is written, for a target that cannot take it in place
    _file = None  # a file object written to, which is not ours
    _owned = None  # the file object opened here, closed with this one
    _output = None  # the target of a path written to
    _writing = False  # until the image is written or given up

    def __init__(self, file, mode="rb", *, level=LEVEL_DEFAULT):
        if mode not in _MODES:
            raise ValueError(f"invalid mode: {mode!r} (use 'rb', 'wb' or 'xb')")
        if not _is_path(file) and not hasattr(file, "read" if _MODES[mode] == "rb" else "write"):
            raise TypeError(f"file must be a path or a binary file object, not {type(file).__name__}")
        packer = PackStream(level) if _MODES[mode] != "rb" else None  # LzsError for an unknown level
        super().__init__()
        self.mode = _MODES[mode]
        self.name = os.fspath(file) if _is_path(file) else getattr(file, "name", "")
        if self.mode == "rb":
            self._owned = io.open(file, "rb") if _is_path(file) else None
            self._reader = io.BufferedReader(_ImageReader(self._owned or file), OUTPUT_SIZE)
            return
        if _is_path(file):
            self._output = _Output(os.fspath(file), exclusive=self.mode == "xb")
        else:
            self._file = file
        # The image goes into the file made for a path, its header written
        # in place at the end; a file object, or a descriptor written
        # through, gets it whole when the file is closed.
        if self._output is None or self._output.through:
            self._spool = tempfile.SpooledTemporaryFile(SPOOL_SIZE)
        self._packer = packer
        self._writing = True

    def readable(self):
        self._check_open()
        return self.mode == "rb"

    def writable(self):
        self._check_open()
        return self.mode != "rb"

    def seekable(self):
        self._check_open()
        return self.mode == "rb" and self._reader.seekable()

    def fileno(self):
        """The descriptor of the file read, or of the file object written to;
        io.UnsupportedOperation for a path written to, which gets its file
        only when closed."""
        self._check_open()
        underneath = self._owned or self._file or (self._reader.raw._fp if self._reader else None)
        if underneath is None:
            raise io.UnsupportedOperation("fileno: the file is made only when closed")
        return underneath.fileno()

    def read(self, size=-1):
        self._check_mode("rb")
        return self._reader.read(size)

    def read1(self, size=-1):
        self._check_mode("rb")
        return self._reader.read1(size)

    def readinto(self, buffer):
        """Reads into buffer (any writable bytes-like object), decoding into it
        where it is larger than the file's own buffer; returns the number of
        bytes read, 0 at the end."""
        self._check_mode("rb")
        return self._reader.readinto(buffer)

    def readinto1(self, buffer):
        self._check_mode("rb")
        return self._reader.readinto1(buffer)

    def readline(self, size=-1):
        self._check_mode("rb")
        return self._reader.readline(size)

    def peek(self, size=0):
        """The bytes that the next read would give, at least one unless at
        the end, without moving on."""
        self._check_mode("rb")
        return self._reader.peek(size)

    def seek(self, offset, whence=io.SEEK_SET):
        self._check_mode("rb")
        return self._reader.seek(offset, whence)

    def tell(self):
        self._check_open()
        return self._reader.tell() if self.mode == "rb" else self._written

    def write(self, data):
        """Packs data (any bytes-like object) and returns its length."""
        self._check_mode("wb", "xb")
        with memoryview(data) as view:
            size = view.nbytes
        self._packer.pack(data, self._sink().write)
        self._written += size
        return size

    def close(self):
        """Closes the file; in a write mode, packs what was written and writes
        it first (raising LzsError, for example, when nothing was written, and
        leaving no file)."""
        if self.closed:
            return
        try:
            if self._writing:
                self._write_end()
        finally:
            self._discard()
            super().close()

    def _write_end(self):
        """Ends the image and puts it in place: its header at the start of
        the file made for a path, or all of it, from the spool, into the
        file object or the descriptor."""
        spool, output = self._spool, self._output
        header = self._packer.end(self._sink().write)
        if spool is None:
            output.write_at_start(header)
        else:
            spool.seek(0)
            spool.write(header)
            spool.seek(0)
            for piece in iter(lambda: spool.read(PACK_PIECE), b""):
                if output is not None:
                    output.write(piece)
                else:
                    _write_all(self._file, piece)
        if output is not None:
            output.commit()

    def _sink(self):
        """Where the image goes as it is made."""
        return self._spool if self._spool is not None else self._output

    def __exit__(self, exc_type, exc, traceback):
        if exc_type is not None:
            self._discard()  # what was written may be incomplete: write nothing
        self.close()

    def __del__(self):
        self._let_go_if_unused()
        super().__del__()

    def _let_go_if_unused(self):
        """For collection: a file into which nothing was written (never used,
        or its opening failed) has no image to write and nothing to say."""
        if self._writing and not self._written:
            self._discard()

    def _discard(self):
        """Lets go of what this file holds, writing nothing."""
        self._writing = False
        self._file = None
        for held in (self._reader, self._output, self._owned, self._spool):
            if held is not None:
                held.close()

    def _check_open(self):
        if self.closed:
            raise ValueError("I/O operation on closed file")

    def _check_mode(self, *modes):
        self._check_open()
        if self.mode not in modes:
            raise io.UnsupportedOperation(f"not available in mode {self.mode!r}")


class _TextFile(io.TextIOWrapper):
    """lzs.open's text file: an io.TextIOWrapper over an LzsFile, which
    writes nothing when its with block raises, as the LzsFile does."""

    def __exit__(self, exc_type, exc, traceback):
        if exc_type is not None:
            self.buffer._discard()
        self.close()

    def __del__(self):
        try:
            self.flush()  # the text it holds, to the LzsFile
            self.buffer._let_go_if_unused()
        except (AttributeError, ValueError):  # closed, or never made
            pass
        super().__del__()


class _Output:
    """A file written under a path, which appears there (or replaces the file
    there) only when commit() is called; discard() leaves nothing. The
    target is checked when it is made and again just before it is put in
    place. A path that leads to a descriptor of this process (/dev/stdout,
    /dev/fd/N, /proc/self/fd/N, or a link to one) is written through that
    descriptor instead, as it comes, and never replaced. As a context
    manager: committed when the block ends, discarded when it raises."""

    def __init__(self, path, exclusive):
        self._path = path
        self._exclusive = exclusive
        self._fd = None
        self._temp = None  # a named temporary file, while there is one
        self.through = False  # whether _fd is a descriptor written through
        if exclusive and os.path.lexists(path):
            raise FileExistsError(errno.EEXIST, "file exists", path)
        descriptor = _descriptor(path)
        if descriptor is not None:
            try:
                self._fd, self.through = os.dup(descriptor), True
            except OSError as error:  # not open
                raise OSError(error.errno, error.strerror, path) from None
            return
        _check_replaceable(path)
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
        try:
            _write_all(io.FileIO(self._fd, "wb", closefd=False), data)
        except OSError as error:  # said of the path written to
            raise OSError(error.errno, error.strerror, self._path) from None

    def write_at_start(self, data):
        """Writes data over the first bytes written (not through a
        descriptor)."""
        try:
            if os.pwrite(self._fd, data, 0) != len(data):
                raise OSError(errno.EIO, "short write")
        except OSError as error:  # said of the path written to
            raise OSError(error.errno, error.strerror, self._path) from None

    def commit(self):
        """Puts what was written in place under the path."""
        try:
            if self.through:
                return
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
                _guard.forget(self._fd, self._temp)
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
                _guard.watch(self._fd, temp)
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
                _guard.forget(fd, temp)
        finally:
            if fd is not None:
                os.close(fd)


def _descriptor(path):
    """The descriptor of this process that path leads to, through links
    (/dev/stdout, /dev/fd/N, /proc/self/fd/N, or a link to one), or None.
    The last link, a descriptor's own in /proc, is not followed."""
    path = os.fsdecode(path)
    own = f"/proc/{os.getpid()}"
    for _ in range(40):  # as many links as the system follows
        folder, base = os.path.split(os.path.abspath(path))
        folder = os.path.realpath(folder)
        parent, last = os.path.split(folder)
        if last == "fd" and base.isdigit() and (parent == own or os.path.dirname(parent) == own + "/task"):
            return int(base)
        try:
            path = os.path.join(folder, os.readlink(os.path.join(folder, base)))
        except OSError:  # not a link, or not there
            return None
    return None


def _check_replaceable(path):
    """Raises OSError when path names a folder, a device, a FIFO or a socket,
    directly or through links, or anything in /dev or /proc."""
    folder = os.fsdecode(os.path.realpath(os.path.dirname(os.path.abspath(path))))
    for top in _SYSTEM_FOLDERS:
        if (folder == top or folder.startswith(top + "/")) and os.path.lexists(path):
            raise OSError(errno.EPERM, f"is in {top}; not replaced", path)
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
    """A new file beside path, named after it, opened for writing: (fd, name).
    The guard removes it if this process ends before it is put in place."""
    for temp in _temporary_names(path):
        try:
            fd = os.open(temp, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC, 0o666)
        except FileExistsError:
            continue
        _guard.watch(fd, temp)
        return fd, temp
    raise FileExistsError(errno.EEXIST, "no free temporary name beside it", path)


class _Guard:
    """A helper process that removes the named temporary files of this one
    that are left when this process ends, however it ends (SIGKILL too): it
    is told of each file when it is named and when the name is gone, and
    does its work when its input, which only this process writes to, comes
    to its end. A file whose name now names another is left alone. Started
    for the first named temporary file; where it cannot be, files are
    written without it."""

    # Each line: "+" or "-", the file's device and inode, its path in hex.
    CODE = """if True:
        import os, sys
        watched = set()
        for line in sys.stdin.buffer:
            sign, device, inode, name = line.split()
            entry = (int(device), int(inode), bytes.fromhex(name.decode()))
            (watched.add if sign == b"+" else watched.discard)(entry)
        for device, inode, name in watched:
            try:
                named = os.lstat(name)
                if (named.st_dev, named.st_ino) == (device, inode):
                    os.unlink(name)
            except OSError:
                pass
        """

    def __init__(self):
        self._lock = threading.Lock()
        self._input = None  # the write end of its input; -1 when it could not be started

    def watch(self, fd, path):
        self._tell("+", fd, path)

    def forget(self, fd, path):
        self._tell("-", fd, path)

    def _tell(self, sign, fd, path):
        with self._lock:
            if self._input is None:
                self._input = self._start()
            if self._input < 0:
                return
            named = os.fstat(fd)
            line = f"{sign} {named.st_dev} {named.st_ino} {os.fsencode(os.path.abspath(path)).hex()}\n"
            try:
                os.write(self._input, line.encode())  # one write, under PIPE_BUF: whole
            except OSError:  # it is gone
                os.close(self._input)
                self._input = -1

    def _start(self):
        if not sys.executable or not hasattr(os, "posix_spawn"):
            return -1
        read_end, write_end = os.pipe()  # neither is inherited by other programs
        try:
            # A session of its own: a Ctrl-C for this process does not reach it.
            os.posix_spawn(sys.executable, [sys.executable, "-I", "-S", "-c", self.CODE], os.environ,
                           file_actions=[(os.POSIX_SPAWN_DUP2, read_end, 0),
                                         (os.POSIX_SPAWN_OPEN, 1, os.devnull, os.O_WRONLY, 0),
                                         (os.POSIX_SPAWN_OPEN, 2, os.devnull, os.O_WRONLY, 0)],
                           setsid=True)
        except OSError:
            os.close(write_end)
            return -1
        finally:
            os.close(read_end)
        return write_end


_guard = _Guard()


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


def open(file, mode="rb", *, level=LEVEL_DEFAULT, encoding=None, errors=None,  # noqa: A001 (as gzip.open)
         newline=None):
    """open(file, mode="rb", *, level=LEVEL_DEFAULT, encoding=None, errors=None, newline=None)

    Open an LZS image as a binary file object (an LzsFile, an
    io.BufferedIOBase), or with "rt", "wt" or "xt" as a text file (an
    io.TextIOWrapper over one, with encoding, errors and newline as io.open
    takes them), in the manner of gzip.open. file is a path (str, bytes or
    os.PathLike) or a binary file object to read from or write to, which
    closing the LzsFile leaves open.

    "rb" reads the image in pieces, in constant memory; read(n) returns as
    soon as it has n bytes. An image cut short, one with bytes after its end
    and one that is not an image raise LzsError when the reading gets there.

    "wb" and "xb" pack what is written as it comes, at the given level
    (LzsError at once for one the library does not know), in bounded memory
    whatever the size: a few hundred KiB beside the pieces written.
    Closing a file into which nothing was written raises LzsError (empty
    input). A write that fails partway (a full disk, an interrupt) may have
    packed part of its data: every later write, and the close, raise
    ValueError, and the close writes nothing. A file object gets the image when the file is closed, all of
    it, kept until then in memory up to 4 MiB and in an unnamed temporary
    file beyond that. A path gets it only complete: the file appears (or is replaced, keeping its mode and
    owner) only then, and nothing is left when packing fails or the with
    block raises. A device, a FIFO or a socket at the path, or reached
    through a link there, is never replaced: OSError, at once (open the
    device as a file and pass that to write into it); nor is anything in
    /dev or /proc. A path that leads to a descriptor of this process
    (/dev/stdout, /dev/fd/N, /proc/self/fd/N) is written through it. A link
    to a regular file is replaced itself, not the file it points to. "xb"
    raises FileExistsError when the path exists.
    """
    if mode not in _MODES and mode not in _TEXT_MODES:
        raise ValueError(f"invalid mode: {mode!r} (use 'rb', 'wb' or 'xb', or 'rt', 'wt' or 'xt' for text)")
    if mode not in _TEXT_MODES:
        for name, value in (("encoding", encoding), ("errors", errors), ("newline", newline)):
            if value is not None:
                raise ValueError(f"argument '{name}' not supported in binary mode")
        return LzsFile(file, mode, level=level)
    binary = LzsFile(file, _TEXT_MODES[mode], level=level)
    try:
        if hasattr(io, "text_encoding"):  # from Python 3.10: says when the locale's is taken
            encoding = io.text_encoding(encoding)
        return _TextFile(binary, encoding, errors, newline)
    except BaseException:
        binary._discard()
        binary.close()
        raise
