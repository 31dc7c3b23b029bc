"""The format-error and general-error endings of the real exe under Wine: the
notice, the exit code, what is released, and what is left on disk."""

import os
import signal
import time
import unittest

import wine

from e2e_case import (ERROR_FILE_TOO_LARGE, ERROR_HANDLE_EOF, ERROR_INVALID_DATA,
                      ERROR_WRITE_FAULT, FORMAT_ERROR_TEXT, INVALID_HANDLE, MAX_INPUT_SIZE,
                      NOTICE_CALLS, WORKED_EXAMPLE, ExeTestCase, image_of_size)

OLD_OUTPUT = b"an older output that must stay as it is"


class FormatErrorTest(ExeTestCase):
    def test_images_that_are_not_lzs(self):
        example = WORKED_EXAMPLE
        cases = {
            "1 byte": example[:1],
            "2 bytes": example[:2],
            "3 bytes": example[:3],
            "4 bytes": example[:4],
            "header one too large": (7).to_bytes(4, "little") + example[4:],
            "header one too small": (5).to_bytes(4, "little") + example[4:],
            "byte appended": example + b"A",
            "no decoded byte": bytes.fromhex("0100000001"),
        }
        for what, image in cases.items():
            with self.subTest(what=what):
                self.write("in.lzs", image)
                self.write("in.lzs.DeLZS", OLD_OUTPUT)
                before = self.snapshot()
                result = self.run_exe('p /D"in.lzs"')
                self.assertEqual(result.call_names(), [
                    "GetCommandLineA", "CreateFileA", "GetFileSize", "GlobalAlloc", "ReadFile",
                    *NOTICE_CALLS, "CloseHandle", "GlobalFree", "ExitProcess"])
                self.assert_notice(result, FORMAT_ERROR_TEXT)
                opened = result.calls_to("CreateFileA")[0].retval
                block = result.calls_to("GlobalAlloc")[0].retval
                self.assert_released(result, opened, None, block)
                self.assert_exit(result, ERROR_INVALID_DATA)
                self.assertEqual(self.snapshot(), before)

    def test_no_output_made_when_none_existed(self):
        self.write("in.lzs", WORKED_EXAMPLE[:5])
        result = self.run_exe('p /D"in.lzs" /O"never.bin"')
        self.assert_exit(result, ERROR_INVALID_DATA)
        self.assertEqual(self.snapshot().keys(), {"in.lzs"})


class GeneralErrorTest(ExeTestCase):
    def assert_size_refused(self, line, code):
        before = self.snapshot()
        result = self.run_exe(line)
        self.assertEqual(result.call_names(), [
            "GetCommandLineA", "CreateFileA", "GetFileSize", "GetLastError", *NOTICE_CALLS,
            "CloseHandle", "ExitProcess"])
        self.assert_general_error(result, code)
        self.assert_released(result, result.calls_to("CreateFileA")[0].retval, None, None)
        self.assertEqual(self.snapshot(), before)

    def test_empty_input(self):
        self.write("in.lzs", b"")
        self.write("in.lzs.DeLZS", OLD_OUTPUT)
        self.assert_size_refused('p /D"in.lzs"', ERROR_HANDLE_EOF)
        self.write("other.lzs", b"")
        self.assert_size_refused('p /D"other.lzs"', ERROR_HANDLE_EOF)
        self.assertFalse((self.dir / "other.lzs.DeLZS").exists())

    def test_input_one_byte_above_8_mib(self):
        image, _ = image_of_size(MAX_INPUT_SIZE + 1)  # a valid image: only its size is wrong
        path = self.write("big.lzs", image)
        self.addCleanup(path.unlink)
        self.write("out.bin", OLD_OUTPUT)
        self.assert_size_refused('p /D"big.lzs" /O"out.bin"', ERROR_FILE_TOO_LARGE)
        self.assert_size_refused('p /D"big.lzs"', ERROR_FILE_TOO_LARGE)

    def test_input_above_4_gib_is_not_taken_by_its_low_part(self):
        # 4 GiB + 10 bytes, starting with the worked example: its low 32 bits
        # alone would pass for the 10-byte file.
        path = self.write("huge.lzs", WORKED_EXAMPLE)
        self.addCleanup(path.unlink)
        os.truncate(path, (1 << 32) + len(WORKED_EXAMPLE))
        if path.stat().st_blocks * 512 > (1 << 20):
            self.skipTest("the file system here has no sparse files")
        self.assert_size_refused('p /D"huge.lzs"', ERROR_FILE_TOO_LARGE)

    def test_output_that_cannot_be_created(self):
        self.write("in.lzs", WORKED_EXAMPLE)
        (self.dir / "adir").mkdir()
        # (output name, the code Wine reports for the failed create)
        for name, code in (("in.lzs", 32),             # ERROR_SHARING_VIOLATION
                           ("nodir\\out.bin", 3),       # ERROR_PATH_NOT_FOUND
                           ("adir", 5)):                # ERROR_ACCESS_DENIED
            with self.subTest(name=name):
                before = self.snapshot()
                result = self.run_exe(f'p /D"in.lzs" /O"{name}"')
                self.assertEqual(result.call_names(), [
                    "GetCommandLineA", "CreateFileA", "GetFileSize", "GlobalAlloc", "ReadFile",
                    "CreateFileA", "GetLastError", *NOTICE_CALLS, "CloseHandle", "GlobalFree",
                    "ExitProcess"])
                opened, created = result.calls_to("CreateFileA")
                self.assertEqual(result.string(created.args[0]), name.encode())
                self.assertEqual(created.retval, INVALID_HANDLE)
                self.assert_general_error(result, code)
                self.assert_released(result, opened.retval, None,
                                     result.calls_to("GlobalAlloc")[0].retval)
                self.assertEqual(self.snapshot(), before)

    def test_failed_or_short_write_deletes_the_output(self):
        self.write("in.lzs", WORKED_EXAMPLE)
        # (file size limit for the run, the exit code): with no byte allowed
        # the write fails (Wine gives ERROR_GEN_FAILURE for EFBIG); with 4 of
        # the 9 bytes allowed it writes short.
        for limit, code in ((0, 31), (4, ERROR_WRITE_FAULT)):
            with self.subTest(limit=limit):
                self.write("out.bin", OLD_OUTPUT)
                result = self.run_exe('p /D"in.lzs" /O"out.bin"', file_size_limit=limit)
                self.assertEqual(result.call_names(), [
                    "GetCommandLineA", "CreateFileA", "GetFileSize", "GlobalAlloc", "ReadFile",
                    "CreateFileA", "WriteFile", "GetLastError", *NOTICE_CALLS, "CloseHandle",
                    "CloseHandle", "DeleteFileA", "GlobalFree", "ExitProcess"])
                opened, created = result.calls_to("CreateFileA")
                self.assertEqual(result.calls_to("WriteFile")[0].retval, 1 if limit else 0)
                self.assert_general_error(result, code)
                self.assert_released(result, opened.retval, created.retval,
                                     result.calls_to("GlobalAlloc")[0].retval)
                delete = result.calls_to("DeleteFileA")[0]
                self.assertEqual(result.string(delete.args[0]), b"out.bin")
                self.assertEqual(result.calls.index(delete),
                                 result.calls.index(result.calls_to("CloseHandle")[1]) + 1)
                self.assertEqual(self.snapshot().keys(), {"in.lzs"})
                self.assertEqual((self.dir / "in.lzs").read_bytes(), WORKED_EXAMPLE)

    def test_program_killed_by_the_size_limit_is_no_success(self):
        # Left at its default, as after a plain `ulimit -f`, SIGXFSZ kills the
        # program in the middle of its write, before its own cleanup can run.
        # Wine then reports exit code 0 for it, over a torn output: the run
        # must not pass for a success.
        image, _ = image_of_size(200_000)
        self.write("in.lzs", image)
        with self.assertRaises(wine.ProgramKilled) as raised:
            self.run_exe('p /D"in.lzs" /O"out.bin"', relay=False, file_size_limit=4096,
                         ignore_sigxfsz=False)
        self.assertEqual(raised.exception.signals, [signal.SIGXFSZ])
        self.assertEqual((self.dir / "out.bin").stat().st_size, 4096)


class FifoOutputTest(ExeTestCase):
    """/O naming a Unix FIFO, as it stands. Wine's server opens the FIFO
    O_RDWR | O_NONBLOCK, which Linux grants with no reader, and the exe's
    process then holds both ends: CreateFileA returns a handle, and once the
    64 KiB the pipe holds are full, WriteFile waits in poll() for room that
    only a reader can make. The exe's calls cannot tell a FIFO from a file
    without a new call (GetFileType), so it stays as it is; the native
    program refuses a FIFO with 50."""

    def read_fifo(self, fifo, run, size: int) -> bytes:
        """What the run writes into the FIFO, read until size bytes or the
        run's end; never blocks, so a run that opens nothing cannot hang it."""
        fd = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
        self.addCleanup(os.close, fd)
        got = bytearray()
        deadline = time.monotonic() + 30
        while len(got) < size and run.poll() is None and time.monotonic() < deadline:
            try:
                got += os.read(fd, 1 << 16)
            except BlockingIOError:
                pass
            time.sleep(0.01)
        return bytes(got)

    def test_output_to_a_fifo(self):
        image, data = image_of_size(200_000)  # 177,774 bytes: more than a pipe holds
        self.write("in.lzs", image)
        for reader in (True, False):
            with self.subTest(reader=reader):
                fifo = self.dir / "out.fifo"
                fifo.unlink(missing_ok=True)
                os.mkfifo(fifo)
                run = wine.start_exe('p /D"in.lzs" /O"out.fifo"', self.dir)
                if reader:
                    self.assertEqual(self.read_fifo(fifo, run, len(data)), data)
                    self.assertEqual(wine.finish_exe(run, timeout=30).exit_code, 0)
                else:
                    # Blocked for good, not slow: only a reader can free it.
                    with self.assertRaises(TimeoutError):
                        wine.finish_exe(run, timeout=3)


if __name__ == "__main__":
    unittest.main()
