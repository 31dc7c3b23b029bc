"""LzsCompressor against the one-shot compress: the same image for every
split of a few inputs at both levels, the same errors.

LzsDecompressor and lzs.open(..., "rb") against the one-shot decompress:
the same bytes and the same errors for every split of a few images, at the
edges of max_length, for images cut short and with bytes after their end;
reading a path, an open file, a BytesIO and sources that give a few bytes
at a time or nothing for a while (non-blocking), in pieces, in constant
memory, as bytes, into the caller's buffers and as text."""
import errno
import io
import os
import pathlib
import re
import tempfile
import threading
import tracemalloc
import unittest
from unittest import mock

import lzs
from test_module import CODES, ROUND_TRIP_DATA, image_of, random_bytes

IMAGES = [(name, lzs.compress(data)) for name, data in ROUND_TRIP_DATA[:4]]
SMALL = lzs.compress(b"abcabcabcabc, abcabc! " * 20)  # every split point of it
# Images the one-shot decompress refuses, each with the code it gives.
BAD = [
    ("empty", b""),
    ("three bytes", b"\x01\x00\x00"),
    ("header of 0", b"\x00\x00\x00\x00"),
    ("header of 0 and more", b"\x00\x00\x00\x00\xff\xff"),
    ("cut by one", SMALL[:-1]),
    ("cut after the header", SMALL[:4]),
    ("one byte after the end", SMALL + b"x"),
    ("another image after it", SMALL + SMALL),
    ("flag byte alone", image_of(b"\x00")),
    ("header of 0, then xyz", b"\x00\x00\x00\x00xyz"),
    ("flag byte alone, then xyz", image_of(b"\x00") + b"xyz"),
]


def one_shot_error(image):
    try:
        lzs.decompress(image)
    except lzs.LzsError as error:
        return error.code, str(error)
    return None


class Trickle(io.RawIOBase):
    """A file that gives at most `size` bytes per read (a pipe's way)."""

    def __init__(self, data, size):
        self._data, self._size, self._at = data, size, 0

    def readable(self):
        return True

    def readinto(self, buffer):
        piece = self._data[self._at:self._at + min(self._size, len(buffer))]
        buffer[:len(piece)] = piece
        self._at += len(piece)
        return len(piece)


class Blocked(io.FileIO):
    """A non-blocking pipe's read end that says when it had nothing to give."""

    def __init__(self, fd, empty):
        super().__init__(fd, "rb")
        self._empty = empty

    def read(self, size=-1):
        piece = super().read(size)
        if piece is None:
            self._empty.set()
        return piece

    def readinto(self, buffer):
        count = super().readinto(buffer)
        if count is None:
            self._empty.set()
        return count


def feed(pieces, max_length=-1, eager=False):
    """The output of an LzsDecompressor given pieces (and b"" while it has
    more to give), each call's output checked against max_length; eager
    gives the next piece while input is still kept."""
    decompressor = lzs.LzsDecompressor()
    output = []
    for number, piece in enumerate(pieces, 1):
        output.append(decompressor.decompress(piece, max_length))
        while not decompressor.needs_input and not decompressor.eof and not (eager and number < len(pieces)):
            output.append(decompressor.decompress(b"", max_length))
            assert max_length >= 0 and 0 < len(output[-1]) <= max_length, len(output[-1])
        if decompressor.eof:
            break
    return b"".join(output), decompressor


def stream_verdict(pieces, max_length):
    """The error (code, words) an LzsDecompressor given pieces, all of the
    input, ends with as lzs.open's reader ends it, or None; the count of
    bytes after the image as decompress gives it (the stream says "at
    least" the bytes it was given of them)."""
    decompressor = lzs.LzsDecompressor()
    given = 0
    try:
        for piece in pieces:
            given += 1
            decompressor.decompress(piece, max_length)
            while not (decompressor.needs_input or decompressor.eof):
                decompressor.decompress(b"", max_length)
            if decompressor.eof:
                break
        decompressor._end(b"".join(pieces[given:]))
    except lzs.LzsError as error:
        if decompressor.eof:  # an image that is none, or yields nothing: what follows decides
            try:
                decompressor._end(b"".join(pieces[given:]))
            except lzs.LzsError as final:
                error = final
        words = str(error)
        if error.code == lzs.ERROR_TRAILING_DATA:
            whole = sum(map(len, pieces))
            words = re.sub(r"\(at least [\d,]+ bytes;", f"({whole:,} bytes;", words)
        return error.code, words
    return None


def packed_in_pieces(pieces, level):
    compressor = lzs.LzsCompressor(level)
    image = b"".join(compressor.compress(piece) for piece in pieces)
    return image + compressor.flush()


def one_shot_pack_error(data, level):
    try:
        lzs.compress(data, level)
    except lzs.LzsError as error:
        return error.code, str(error)
    return None


class Compressor(unittest.TestCase):
    def test_every_split_gives_the_one_shot_image(self):
        inputs = [b"a", b"abcabcabcabc, abcabc! " * 20 + bytes(30), ROUND_TRIP_DATA[1][1][:600]]
        for data in inputs:
            for level in (lzs.LEVEL_FAST, lzs.LEVEL_OPTIMAL):
                expected = lzs.compress(data, level)
                with self.subTest(size=len(data), level=level):
                    for cut in range(len(data) + 1):
                        self.assertEqual(packed_in_pieces([data[:cut], data[cut:]], level), expected, cut)
                    byte_by_byte = [data[k:k + 1] for k in range(len(data))]
                    self.assertEqual(packed_in_pieces(byte_by_byte, level), expected)
                    thirds = [data[:len(data) // 3], b"", bytearray(data[len(data) // 3:2 * len(data) // 3]),
                              memoryview(data)[2 * len(data) // 3:]]
                    self.assertEqual(packed_in_pieces(thirds, level), expected)

    def test_inputs_beyond_a_piece_and_beyond_memory_kept(self):
        # Larger than one call's piece (1 MiB) and than the 4 MiB kept in
        # memory before the image goes into a temporary file.
        data = bytes(range(256)) * 8192 + ROUND_TRIP_DATA[2][1] * 70  # 6.2 MiB
        for level in (lzs.LEVEL_DEFAULT, lzs.LEVEL_FAST):
            with self.subTest(level=level):
                pieces = [data[k:k + 3_000_001] for k in range(0, len(data), 3_000_001)]
                self.assertEqual(packed_in_pieces(pieces, level), lzs.compress(data, level))
                self.assertEqual(packed_in_pieces([data], level), lzs.compress(data, level))

    def test_errors_are_the_one_shot_ones(self):
        for level in (lzs.LEVEL_DEFAULT, 2, -1):
            with self.subTest(level=level):
                try:
                    stream_error = None
                    packed_in_pieces([b"", b""], level)
                except lzs.LzsError as error:
                    stream_error = error.code, str(error)
                self.assertEqual(stream_error, one_shot_pack_error(b"", level))
                self.assertIsNotNone(stream_error)
        compressor = lzs.LzsCompressor()
        compressor.compress(b"data")
        compressor.flush()
        self.assertRaises(ValueError, compressor.flush)
        self.assertRaises(ValueError, compressor.compress, b"more")
        # A call that fails partway spends the compressor; one refused
        # before it packs anything does not.
        compressor = lzs.LzsCompressor()
        self.assertRaises(TypeError, compressor.compress, "text")
        self.assertEqual(compressor.compress(b"abc") + compressor.flush(), lzs.compress(b"abc"))
        compressor = lzs.LzsCompressor()
        compressor.compress(b"abc")
        with mock.patch.object(compressor._image, "write", side_effect=OSError(errno.ENOSPC, "no space left")):
            self.assertRaises(OSError, compressor.compress, random_bytes(1, 3 << 20))
        self.assertRaises(ValueError, compressor.compress, b"more")
        self.assertRaises(ValueError, compressor.flush)


class Decompressor(unittest.TestCase):
    def test_every_split_gives_the_one_shot_output(self):
        expected = lzs.decompress(SMALL)
        for cut in range(len(SMALL) + 1):
            for second in (cut, min(cut + 1, len(SMALL)), len(SMALL)):
                with self.subTest(cut=cut, second=second):
                    pieces = [SMALL[:cut], SMALL[cut:second], SMALL[second:]]
                    output, decompressor = feed(pieces)
                    self.assertEqual(output, expected)
                    self.assertTrue(decompressor.eof)
        for name, image in IMAGES:
            for size in (1, 2, 17, 4096, 65536):
                with self.subTest(name, piece=size):
                    pieces = [memoryview(image)[k:k + size] for k in range(0, len(image), size)]
                    self.assertEqual(feed(pieces)[0], lzs.decompress(image))
                    self.assertEqual(feed(pieces, 1000, eager=True)[0], lzs.decompress(image))

    def test_max_length_at_its_edges(self):
        for name, image in IMAGES:
            size = lzs.decoded_size(image)
            for max_length in sorted({0, 1, 4095, 4096, 4097, size - 1, size, size + 1}):
                with self.subTest(name, max_length=max_length):
                    decompressor = lzs.LzsDecompressor()
                    first = decompressor.decompress(image, max_length)
                    self.assertEqual(len(first), min(max_length, size))
                    self.assertEqual(decompressor.needs_input, False)
                    if max_length == 0:
                        continue
                    rest = b""
                    while not decompressor.eof:
                        rest += decompressor.decompress(b"", max_length)
                    self.assertEqual(first + rest, lzs.decompress(image))

    def test_max_length_inside_the_last_item_before_more_bytes(self):
        # The output stops anywhere in the image, its last back-reference
        # too, while what follows it is already there: it stays unused.
        data = b"ab" * 20
        image = lzs.compress(data)
        for tail in (b"NEXT", image):
            for max_length in range(1, len(data) + 2):
                with self.subTest(tail=tail, max_length=max_length):
                    output, decompressor = feed([image + tail], max_length)
                    self.assertEqual((output, decompressor.unused_data), (data, tail))

    def test_into_a_buffer_as_into_bytes(self):
        data = lzs.decompress(SMALL)
        for size in (1, 7, len(data) - 1, len(data), len(data) + 5):
            with self.subTest(buffer=size):
                decompressor, buffer, output = lzs.LzsDecompressor(), bytearray(size), b""
                piece = SMALL + b"after"
                while not decompressor.eof:
                    count = decompressor._decompress_into(piece, memoryview(buffer))
                    output += buffer[:count]
                    piece = b""
                self.assertEqual((output, decompressor.unused_data), (data, b"after"))

    def test_needs_input_and_eof_on_the_way(self):
        decompressor = lzs.LzsDecompressor()
        self.assertEqual((decompressor.eof, decompressor.needs_input), (False, True))
        self.assertEqual(decompressor.decompress(SMALL[:2]), b"")
        self.assertEqual((decompressor.eof, decompressor.needs_input), (False, True))
        decompressor.decompress(SMALL[2:-1])
        self.assertEqual((decompressor.eof, decompressor.needs_input), (False, True))
        decompressor.decompress(SMALL[-1:])
        self.assertEqual((decompressor.eof, decompressor.needs_input, decompressor.unused_data), (True, False, b""))
        self.assertRaises(EOFError, decompressor.decompress, b"")

    def test_bytes_after_the_end_are_unused_data(self):
        # Those of the call that reaches the end; a call after it is refused.
        data = SMALL + b"\x00next"
        for cut in (0, 3, len(SMALL) - 1, len(SMALL), len(SMALL) + 2):
            with self.subTest(cut=cut):
                output, decompressor = feed([data[:cut], data[cut:]])
                unused = data[len(SMALL):] if cut < len(SMALL) else data[len(SMALL):cut]
                self.assertEqual((output, decompressor.unused_data), (lzs.decompress(SMALL), unused))
                self.assertRaises(EOFError, decompressor.decompress, data[cut:])

    def test_errors_on_the_way_are_the_one_shot_ones(self):
        # Those of the image alone: a header of 0 ends it at once.
        for name, image in [("header of 0", b"\x00\x00\x00\x00"), ("flag byte alone", image_of(b"\x00"))]:
            with self.subTest(name):
                decompressor = lzs.LzsDecompressor()
                with self.assertRaises(lzs.LzsError) as caught:
                    decompressor.decompress(image + b"after")
                self.assertEqual((caught.exception.code, str(caught.exception)), one_shot_error(image))
                self.assertEqual((decompressor.eof, decompressor.unused_data), (True, b"after"))

    def test_one_verdict_for_every_split_and_room(self):
        # All of the input in two pieces, drained with rooms of a few bytes
        # (a back-reference's copy waits for more room) or none, then ended
        # as a reader ends it: decompress's verdict on the same bytes.
        for name, image in BAD + [("whole", SMALL)]:
            expected = one_shot_error(image)
            for cut in range(len(image) + 1):
                for max_length in (1, 2, 3, 8, 9, 18, -1):
                    with self.subTest(name, cut=cut, max_length=max_length):
                        self.assertEqual(stream_verdict([image[:cut], image[cut:]], max_length), expected)

    def test_any_bytes_like_input(self):
        for kind in (bytes, bytearray, memoryview, lambda data: memoryview(data).cast("H")):
            with self.subTest(kind):
                self.assertEqual(feed([kind(SMALL[:10]), kind(SMALL[10:])])[0], lzs.decompress(SMALL))
        self.assertRaises(TypeError, lzs.LzsDecompressor().decompress, "text")


class Reading(unittest.TestCase):
    def setUp(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.folder = pathlib.Path(folder.name)

    def sources(self, image):
        """The image as a path, an open file (after other bytes) and a BytesIO."""
        path = self.folder / "image.lzs"
        path.write_bytes(b"JUNK" + image)
        opened = open(path, "rb")
        self.addCleanup(opened.close)
        opened.seek(4)
        path.with_name("alone.lzs").write_bytes(image)
        return [("path", path.with_name("alone.lzs")), ("open file", opened), ("BytesIO", io.BytesIO(image))]

    def test_reads_as_decompress_does(self):
        name, image = IMAGES[2]
        data = lzs.decompress(image)
        for kind, source in self.sources(image):
            with self.subTest(kind), lzs.open(source) as packed:
                self.assertEqual(packed.read(5), data[:5])
                self.assertEqual(packed.readline(), data[5:data.index(b"\n", 5) + 1])
                packed.seek(1000)
                self.assertEqual(packed.read(10), data[1000:1010])
                packed.seek(-10, io.SEEK_END)
                self.assertEqual((packed.tell(), packed.read()), (len(data) - 10, data[-10:]))
                packed.seek(0)
                self.assertEqual(b"".join(packed), data)

    def test_errors_at_the_end_are_the_one_shot_ones(self):
        # Bytes after the end: as many as a stream read, "at least".
        for name, image in BAD:
            expected = one_shot_error(image)
            for kind, source in self.sources(image):
                with self.subTest(name, source=kind):
                    with self.assertRaises(lzs.LzsError) as caught, lzs.open(source) as packed:
                        packed.read()
                    message = str(caught.exception).replace("(at least ", "(")
                    self.assertEqual((caught.exception.code, message), expected)
        self.assertEqual(one_shot_error(SMALL[:-1]), (lzs.ERROR_TRUNCATED, f"cut short: the image is shorter "
                                                      f"than its header says ({len(SMALL) - 1} of {len(SMALL)} bytes)"))
        self.assertEqual(one_shot_error(SMALL + b"xy"), (lzs.ERROR_TRAILING_DATA, f"bytes after the end of the "
                                                         f"image ({len(SMALL) + 2} bytes; the image is {len(SMALL)})"))

    def test_every_split_of_the_file_gives_one_verdict(self):
        # Pieces of every size up to the image and more, and every cut in two.
        for name, image in BAD:
            expected = one_shot_error(image)
            splits = [("pieces", size, Trickle(image, size)) for size in range(1, len(image) + 2)]
            splits += [("cut", cut, io.BufferedReader(Trickle(image, cut or 1))) for cut in range(len(image) + 1)]
            for kind, size, source in splits:
                with self.subTest(name, split=kind, size=size):
                    with self.assertRaises(lzs.LzsError) as caught, lzs.open(source) as packed:
                        packed.read()
                    # Bytes after the end: as many as were read, at least.
                    message = re.sub(r"\(at least [\d,]+ bytes;", "(N bytes;", str(caught.exception))
                    self.assertEqual((caught.exception.code, message),
                                     (expected[0], re.sub(r"\([\d,]+ bytes;", "(N bytes;", expected[1])))

    def test_a_non_blocking_source_briefly_empty_is_waited_for(self):
        # The writer sends the rest only once the reader found nothing.
        name, image = IMAGES[2]
        for buffered in (False, True):
            with self.subTest(buffered=buffered):
                read_end, write_end = os.pipe()
                os.set_blocking(read_end, False)
                empty = threading.Event()
                source = Blocked(read_end, empty)
                self.addCleanup(source.close)

                def write():
                    with open(write_end, "wb", buffering=0) as pipe:
                        pipe.write(image[:1000])
                        empty.wait(60)
                        pipe.write(image[1000:])

                writer = threading.Thread(target=write)
                writer.start()
                try:
                    with lzs.open(io.BufferedReader(source) if buffered else source) as packed:
                        self.assertEqual(packed.read(), lzs.decompress(image))
                finally:
                    empty.set()
                    writer.join()
                self.assertTrue(empty.is_set())

    def test_readinto_and_fileno(self):
        name, image = IMAGES[2]
        data = lzs.decompress(image)
        for size in (1, 1000, lzs._files.OUTPUT_SIZE + 1, len(data) + 10):
            for kind, source in self.sources(image):
                with self.subTest(kind, buffer=size), lzs.open(source) as packed:
                    buffer, output = bytearray(size), b""
                    while True:
                        count = packed.readinto(memoryview(buffer))
                        if not count:
                            break
                        output += buffer[:count]
                    self.assertEqual(output, data)
                    if kind == "BytesIO":
                        self.assertRaises(io.UnsupportedOperation, packed.fileno)
                    else:
                        self.assertEqual(os.fstat(packed.fileno()).st_ino, os.fstat(source.fileno()).st_ino
                                         if kind == "open file" else os.stat(source).st_ino)

    def test_text(self):
        text = "première ligne\r\nzweite Zeile\n" * 50
        image = lzs.compress(text.encode("utf-8"))
        rows = [  # keywords, what is read
            ({"encoding": "utf-8"}, text.replace("\r\n", "\n")),
            ({"encoding": "utf-8", "newline": ""}, text),
            ({"encoding": "ascii", "errors": "replace"}, text.replace("\r\n", "\n").replace("è", "\ufffd\ufffd")),
        ]
        for keywords, expected in rows:
            for kind, source in self.sources(image):
                with self.subTest(kind, **keywords), lzs.open(source, "rt", **keywords) as packed:
                    self.assertIsInstance(packed, io.TextIOWrapper)
                    self.assertEqual(packed.read(), expected)

    def test_read_n_takes_only_what_it_needs_in_constant_memory(self):
        # 64 MiB of zeros from groups of eight 18-byte back-references.
        image = image_of((b"\x00" + b"\x00\x0f" * 8) * 466034)
        source = io.BytesIO(image)
        with lzs.open(source) as packed:
            self.assertEqual(packed.read(100), bytes(100))
            self.assertLess(source.tell(), 256 << 10)
            tracemalloc.start()
            self.addCleanup(tracemalloc.stop)
            total = 100
            while True:
                piece = packed.read(1 << 20)
                if not piece:
                    break
                total += len(piece)
            peak = tracemalloc.get_traced_memory()[1]
        self.assertEqual(total, 466034 * 8 * 18)
        self.assertLess(peak, 4 << 20)


if __name__ == "__main__":
    unittest.main(verbosity=2)
