"""What the end-to-end suites share: LZS images made here, the program's
notice texts as the user must see them, and a TestCase base class that runs
the program in a fresh folder of its own and checks the endings."""

from __future__ import annotations

import os
import shutil
import sys
import unittest
from pathlib import Path

import wine

sys.path.insert(0, str(Path(__file__).resolve().parent.parent))
import expected_notices  # noqa: E402
from support.lzs_images import WORKED_EXAMPLE, WORKED_EXAMPLE_DECODED, literal_image  # noqa: E402,F401

MAX_INPUT_SIZE = 8 * 1024 * 1024
MB_FLAGS = 0x00042000  # MB_TOPMOST | MB_TASKMODAL, MB_OK, no icon
NOTICE_CODE_PAGE = 1251
NOTICE_CAPACITY = 1024  # UTF-16 units of each decoding buffer
# A notice: the caption decoded, the text decoded, the Unicode box.
NOTICE_CALLS = ["MultiByteToWideChar", "MultiByteToWideChar", "MessageBoxW"]

GENERIC_READ = 0x80000000
GENERIC_WRITE = 0x40000000
FILE_SHARE_READ = 1
CREATE_ALWAYS = 2
OPEN_EXISTING = 3
FILE_FLAG_SEQUENTIAL_SCAN = 0x08000000
GMEM_FIXED_ZEROINIT = 0x0040
INVALID_HANDLE = 0xFFFFFFFFFFFFFFFF

ERROR_INVALID_DATA = 13
ERROR_WRITE_FAULT = 29
ERROR_GEN_FAILURE = 31
ERROR_HANDLE_EOF = 38
ERROR_BAD_ARGUMENTS = 160
ERROR_FILE_TOO_LARGE = 223


def notice_bytes(name: str) -> bytes:
    """A notice as the program hands it over: Windows-1251, CR LF breaks."""
    return expected_notices.notice(name, "\r\n").encode("cp1251")


CAPTION = notice_bytes("caption")
USAGE_TEXT = notice_bytes("usage")
FORMAT_ERROR_TEXT = notice_bytes("format error")
GENERAL_ERROR_TEXT = notice_bytes("general error")


def pattern(length: int) -> bytes:
    """length bytes that repeat only every 251 bytes."""
    unit = bytes((i * 7 + 3) % 256 for i in range(251))
    return (unit * (length // 251 + 1))[:length]


def image_of_size(size: int) -> tuple[bytes, bytes]:
    """An LZS image of exactly size bytes (size >= 5) and what it decodes
    to: all-literal groups, the last one cut to fit."""
    payload_length = size - 4
    groups, rest = divmod(payload_length, 9)
    literals = groups * 8 + max(rest - 1, 0)
    data = pattern(literals)
    image = literal_image(data, trailing_flag=rest == 1)
    assert len(image) == size
    return image, data


def notice_texts(result: wine.RunResult) -> list[bytes]:
    """The Windows-1251 bytes of each notice shown: the text that was decoded
    into the buffer the box was handed."""
    decoded = {}
    texts = []
    for call in result.calls:
        if call.name == "MultiByteToWideChar":
            decoded[call.values()[4]] = result.string(call.args[2])
        elif call.name == "MessageBoxW":
            texts.append(decoded.get(call.values()[1], b"(not decoded)"))
    return texts


class ExeTestCase(unittest.TestCase):
    """Runs the program in a fresh folder per test (self.dir, under the
    build folder) and checks what a run left behind."""

    def setUp(self) -> None:
        self.dir = wine.work_path() / self.id().split(".", 1)[1]
        if self.dir.exists():
            shutil.rmtree(self.dir)
        self.dir.mkdir(parents=True)

    def write(self, name: str, data: bytes) -> Path:
        path = self.dir / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
        return path

    def run_exe(self, command_line: str, **kwargs) -> wine.RunResult:
        """Runs the program with relay on (unless relay=False is given)."""
        kwargs.setdefault("relay", True)
        return wine.run_exe(command_line, self.dir, **kwargs)

    def snapshot(self) -> dict[str, tuple[int, int, bytes | None]]:
        """Every file in the test folder with its size, change time and, for
        files up to 16 MiB, its bytes."""
        files = {}
        for path in sorted(self.dir.rglob("*")):
            if path.is_file():
                st = path.stat()
                data = path.read_bytes() if st.st_size <= 16 << 20 else None
                files[str(path.relative_to(self.dir))] = (st.st_size, st.st_mtime_ns, data)
        return files

    # -- the endings, as the platform calls show them

    def assert_exit(self, result: wine.RunResult, code: int) -> None:
        self.assertEqual(result.exit_code, code)
        exits = result.calls_to("ExitProcess")
        self.assertEqual([c.values() for c in exits], [[code]])
        self.assertEqual(result.calls[-1].name, "ExitProcess")

    def assert_notice(self, result: wine.RunResult, text: bytes) -> None:
        """Exactly one notice, with this text, the caption and the flags: the
        stored bytes decoded as Windows-1251, whole, into two buffers of the
        program's own writable data, which the Unicode box then shows."""
        names = result.call_names()
        self.assertEqual(names.count("MessageBoxW"), 1, names)
        start = names.index("MessageBoxW") - 2
        self.assertEqual(names[start:start + 3], NOTICE_CALLS)
        caption_decode, text_decode, box = result.calls[start:start + 3]
        buffers = []
        for decode, stored in ((caption_decode, CAPTION), (text_decode, text)):
            # The int arguments: only the low 32 bits of each register count.
            code_page, flags, _, length, buffer, capacity = decode.values()
            self.assertEqual([v & 0xFFFFFFFF for v in (code_page, flags, length, capacity)],
                             [NOTICE_CODE_PAGE, 0, 0xFFFFFFFF, NOTICE_CAPACITY])
            self.assertEqual(result.string(decode.args[2]), stored)
            self.assertEqual(decode.retval, len(stored) + 1)  # every unit and the zero
            section = result.image.section_at(buffer)
            self.assertTrue(section is not None and section.writable, hex(buffer))
            buffers.append(buffer)
        self.assertNotEqual(buffers[0], buffers[1])
        owner, text_arg, caption_arg, box_flags = box.args
        self.assertEqual(owner.value, 0)
        self.assertEqual([text_arg.value, caption_arg.value], [buffers[1], buffers[0]])
        self.assertEqual(box_flags.value, MB_FLAGS)
        # What Wine's log shows of the wide texts: the bytes read as
        # Windows-1251, as far as the log goes.
        for arg, stored in ((caption_arg, CAPTION), (text_arg, text)):
            self.assertIsNotNone(arg.text)
            self.assertTrue(stored.decode("cp1251").startswith(arg.text.decode("utf-8")),
                            arg.text[:60])
            if not arg.cut:
                self.assertEqual(arg.text.decode("utf-8"), stored.decode("cp1251"))

    def assert_no_notice(self, result: wine.RunResult) -> None:
        self.assertEqual(result.calls_to("MessageBoxW"), [])

    def assert_no_signal(self, result: wine.RunResult) -> None:
        self.assertEqual(result.calls_to("Beep") + result.calls_to("Sleep"), [])

    def assert_general_error(self, result: wine.RunResult, code: int) -> None:
        """The general-error road: the code read from the platform right
        before the notice is the exit code."""
        names = result.call_names()
        self.assertIn("GetLastError", names)
        last_error = result.calls_to("GetLastError")[-1]
        self.assertEqual(last_error.retval, code)
        self.assertEqual(names.index("MultiByteToWideChar"), result.calls.index(last_error) + 1)
        self.assert_notice(result, GENERAL_ERROR_TEXT)
        self.assert_no_signal(result)
        self.assert_exit(result, code)

    def assert_released(self, result: wine.RunResult, input_handle: int,
                        output_handle: int | None, block: int | None) -> None:
        """Cleanup's order: input, output (and a delete of an unfinished
        output right after it, checked by the caller), block, then the exit."""
        releases = [(c.name, c.values()) for c in result.calls
                    if c.name in ("CloseHandle", "GlobalFree")]
        expected = [("CloseHandle", [input_handle])]
        if output_handle is not None:
            expected.append(("CloseHandle", [output_handle]))
        if block is not None:
            expected.append(("GlobalFree", [block]))
        self.assertEqual(releases, expected)
