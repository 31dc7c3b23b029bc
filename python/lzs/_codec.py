"""lzs.Encoder, lzs.LzsCompressor and lzs.LzsDecompressor: the library's
contexts, each held in a capsule of the extension, which keeps them to one
thread at a time."""
import contextlib
import tempfile

from . import _lzs
from ._lzs import CSTREAM_IN_SIZE, LEVEL_DEFAULT, LzsError

# LzsCompressor keeps the image in memory up to this size, in an unnamed
# temporary file beyond it.
SPOOL_SIZE = 4 << 20
# The most input packed in one call, so that its output stays as small.
PACK_PIECE = max(CSTREAM_IN_SIZE, 1 << 20)


class Encoder:
    """Encoder()

    A reusable packer: its workspace is kept from one compress() call to the
    next, so packing many inputs does not allocate it again.

    An Encoder is for one thread at a time: a call made while another thread
    is inside compress() of the same Encoder raises RuntimeError. Give each
    thread its own Encoder.
    """

    __slots__ = ("_workspace",)

    def __init__(self):
        self._workspace = _lzs.encoder_new()

    def compress(self, data, level=LEVEL_DEFAULT):
        """Pack data, as lzs.compress does, in this encoder's workspace."""
        return _lzs.encoder_compress(self._workspace, data, level)


class PackStream:
    """The library's streaming encoder at a level: pack() and end() give the
    image's bytes to a write function as they are ready, in pieces of about
    PACK_PIECE bytes at most; the first 4 bytes, zeros, stand for the
    header, which end() returns. The context is held for this thread during
    each call. A call that fails partway (write() raises, memory runs out,
    an interrupt) may have packed part of its data and lost its output:
    every later call raises ValueError. The library's own errors stay in
    its context and are raised again."""

    __slots__ = ("_stream", "_broken")

    def __init__(self, level):
        self._stream = _lzs.cstream_new(level)
        self._broken = False

    def pack(self, data, write):
        """Packs data (any bytes-like object) after the data given so far."""
        with memoryview(data) as view, view.cast("B") as byte_view, self._held():
            for start in range(0, len(byte_view), PACK_PIECE):
                write(_lzs.cstream_compress(self._stream, byte_view[start:start + PACK_PIECE], False))

    def end(self, write):
        """Ends the input, and returns the header of the image completed."""
        with self._held():
            write(_lzs.cstream_compress(self._stream, b"", True))
            return _lzs.cstream_header(self._stream)

    @contextlib.contextmanager
    def _held(self):
        _lzs.cstream_hold(self._stream)
        try:
            if self._broken:
                raise ValueError("an earlier call failed partway: the image cannot be completed")
            yield
        except LzsError:
            raise
        except BaseException:
            self._broken = True
            raise
        finally:
            _lzs.cstream_release(self._stream)


class LzsCompressor:
    """LzsCompressor(level=LEVEL_DEFAULT)

    Packs data that arrives in pieces, in the manner of lzma.LZMACompressor:
    give the pieces to compress() in order, then call flush(); the bytes
    they return, joined, are what lzs.compress gives for all of the data at
    that level, byte for byte.

    The image starts with its length, which is known only at the end: so
    compress() returns b"" and keeps the image as it is made, in memory up
    to 4 MiB and in an unnamed temporary file beyond that, and flush()
    returns all of it. Packing takes a few hundred KiB whatever the size;
    the bytes flush() returns are the image's size. To write an image of any
    size in bounded memory, use lzs.open(path, "wb"), which writes the
    header in place at the end. LEVEL_OPTIMAL holds more only where the
    choice of items stays open over a long span, on data made for it: past
    32 MiB it raises MemoryError there, where lzs.compress would go on.

    flush() raises LzsError when no byte was given (ERROR_EMPTY_INPUT), and
    ValueError when called twice; compress() after flush() raises
    ValueError, as does every call after one that failed partway (the
    temporary file could not be written, an interrupt), which may have
    packed part of its data. An LzsCompressor is for one thread at a time, as an Encoder
    is: a call made while another thread is inside one raises RuntimeError.
    """

    def __init__(self, level=LEVEL_DEFAULT):
        self._stream = PackStream(level)
        self._image = tempfile.SpooledTemporaryFile(SPOOL_SIZE)

    def compress(self, data):
        """Pack data (any bytes-like object) after the data given so far;
        returns b"", the image being kept until flush()."""
        self._stream.pack(data, self._open_image().write)
        return b""

    def flush(self):
        """Ends the input and returns the whole image."""
        image = self._open_image()
        self._image = None
        with image:
            header = self._stream.end(image.write)
            image.seek(0)
            image.write(header)
            image.seek(0)
            return image.read()

    def _open_image(self):
        if self._image is None:
            raise ValueError("the compressor was flushed already")
        return self._image


class LzsDecompressor:
    """LzsDecompressor()

    Unpacks one LZS image that arrives in pieces, in the manner of
    lzma.LZMADecompressor: feed the pieces to decompress() in order; its
    output, joined, is what lzs.decompress gives for the whole image. The
    context holds the last 4,096 bytes of output and the input that a
    max_length left over, nothing more.

    eof is True once the image is complete, unused_data then holds the bytes
    that came after it, and needs_input is False when decompress() can give
    more output before it needs more input. An image whose input ends
    before eof is cut short. An image that ends in an error (a header of 0,
    an image that yields no byte) raises LzsError as lzs.decompress does for
    those bytes alone; eof and unused_data are then set as for any end.

    An LzsDecompressor is for one thread at a time, as an Encoder is: a call
    made while another thread is inside one raises RuntimeError.
    """

    def __init__(self):
        self._stream = _lzs.stream_new()
        self._input = b""  # what a max_length left over, ours: sliced, never copied again
        self.eof = False
        self.needs_input = True
        self.unused_data = b""

    def decompress(self, data, max_length=-1):
        """Decode data (any bytes-like object) after the input given so far,
        and return at most max_length bytes of output (all there is when
        negative). Input that max_length leaves over is kept for the next
        call, which may give b"" as data. Raises EOFError after the end."""
        return self._decode(data, max_length)

    def _decompress_into(self, data, buffer):
        """decompress() into a writable buffer, as much as it holds: returns
        the number of bytes written."""
        return self._decode(data, buffer)

    def _decode(self, data, room):
        # The context's flag is held around all of it: the state kept here
        # belongs to the call as much as the library's does.
        _lzs.stream_hold(self._stream)
        try:
            if self.eof:
                raise EOFError("already at the end of the image")
            own = bool(self._input)
            if own:
                data = b"".join((self._input, data)) if len(data) else self._input
            if isinstance(room, int):
                output, taken, ended = _lzs.stream_decode(self._stream, data, room)
                room_left = room < 0 or len(output) < room
            else:
                output, taken, ended = _lzs.stream_decode_into(self._stream, data, room)
                room_left = output < len(room)
            # The caller's buffer is copied (once), and no view of it stays.
            with memoryview(data) as view, view.cast("B") as byte_view:
                rest = byte_view[taken:] if own else bytes(byte_view[taken:])
            if ended:
                self.eof = True
                self.needs_input = False
                self.unused_data = bytes(rest)
                self._input = b""
                _lzs.stream_end(self._stream)  # an image that ended in an error raises it
            else:
                self._input = rest if own else bytes(rest)
                self.needs_input = not rest and room_left
            return output
        finally:
            _lzs.stream_release(self._stream)

    def _end(self, rest=b""):
        """Raises LzsError unless the image is complete and nothing came after
        it (unused_data, or rest: input after that): for when the input has
        ended."""
        _lzs.stream_hold(self._stream)
        try:
            _lzs.stream_end(self._stream, self.unused_data or rest)
        finally:
            _lzs.stream_release(self._stream)
