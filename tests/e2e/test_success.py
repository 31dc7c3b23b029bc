"""The success ending of the real exe under Wine: the output bytes, the names
taken from the command line, and the largest accepted input."""

import unittest

from e2e_case import (MAX_INPUT_SIZE, WORKED_EXAMPLE, WORKED_EXAMPLE_DECODED, ExeTestCase,
                      image_of_size, literal_image, pattern)


class SuccessTest(ExeTestCase):
    def assert_success(self, result, written: int) -> None:
        self.assertEqual(result.exit_code, 0)
        self.assert_no_notice(result)
        self.assertEqual(result.call_names()[-8:], [
            "WriteFile", "Beep", "Sleep", "Beep", "CloseHandle", "CloseHandle", "GlobalFree",
            "ExitProcess"])
        self.assertEqual(result.calls_to("WriteFile")[0].values()[2], written)
        self.assert_exit(result, 0)

    def test_worked_example_gives_default_output_name(self):
        self.write("x.lzs", WORKED_EXAMPLE)
        result = self.run_exe('lzs-unpack.exe /D"x.lzs"')
        self.assert_success(result, 9)
        self.assertEqual(self.snapshot().keys(), {"x.lzs", "x.lzs.DeLZS"})
        self.assertEqual((self.dir / "x.lzs.DeLZS").read_bytes(), WORKED_EXAMPLE_DECODED)
        self.assertEqual((self.dir / "x.lzs").read_bytes(), WORKED_EXAMPLE)

    def test_output_option_in_either_order_and_other_text_ignored(self):
        self.write("a.lzs", WORKED_EXAMPLE)
        for line in ('p.exe /D"a.lzs" /O"first.bin"',
                     'p.exe /O"second.bin" /D"a.lzs"',
                     'p.exe x/y /X word //D"a.lzs" /o /O"third.bin" /d"zz" tail /'):
            with self.subTest(line=line):
                result = self.run_exe(line)
                self.assert_success(result, 9)
                name = line.split('/O"')[1].split('"')[0]
                self.assertEqual((self.dir / name).read_bytes(), WORKED_EXAMPLE_DECODED)
        self.assertEqual(self.snapshot().keys(), {"a.lzs", "first.bin", "second.bin", "third.bin"})

    def test_names_with_spaces_and_slashes(self):
        data = pattern(1000)
        self.write("my dir/in put.lzs", literal_image(data))
        self.write("out dir/keep", b"")
        result = self.run_exe(r'"C:\Program Files\lzs unpack.exe" /D"my dir/in put.lzs" '
                              r'/O"out dir\re sult.bin"')
        self.assert_success(result, 1000)
        self.assertEqual((self.dir / "out dir/re sult.bin").read_bytes(), data)
        result = self.run_exe('p /D"my dir\\in put.lzs"')
        self.assert_success(result, 1000)
        self.assertEqual((self.dir / "my dir/in put.lzs.DeLZS").read_bytes(), data)

    def test_existing_output_is_replaced(self):
        self.write("x.lzs", WORKED_EXAMPLE)
        self.write("x.lzs.DeLZS", b"an older and much longer file" * 100)
        result = self.run_exe('p /D"x.lzs"')
        self.assert_success(result, 9)
        self.assertEqual((self.dir / "x.lzs.DeLZS").read_bytes(), WORKED_EXAMPLE_DECODED)

    def test_input_of_exactly_8_mib_is_taken(self):
        image, decoded = image_of_size(MAX_INPUT_SIZE)
        path = self.write("big.lzs", image)
        self.addCleanup(path.unlink)
        result = self.run_exe('p /D"big.lzs" /O"big.out"')
        self.addCleanup((self.dir / "big.out").unlink, missing_ok=True)
        self.assert_success(result, len(decoded))
        self.assertEqual(result.calls_to("GlobalAlloc")[0].values(), [0x40, 83_887_104])
        self.assertEqual(result.calls_to("ReadFile")[0].values()[2], MAX_INPUT_SIZE)
        self.assertEqual((self.dir / "big.out").read_bytes(), decoded)


if __name__ == "__main__":
    unittest.main()
