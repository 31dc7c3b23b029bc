"""The usage ending and the silent exits of the real exe under Wine: nothing
is opened, no file is made, and the exit code is the one the run says."""

import unittest

from e2e_case import (ERROR_BAD_ARGUMENTS, NOTICE_CALLS, USAGE_TEXT, WORKED_EXAMPLE, ExeTestCase)


class UsageTest(ExeTestCase):
    def test_usage_notice_when_no_input_option(self):
        self.write("a.lzs", WORKED_EXAMPLE)
        before = self.snapshot()
        for line in ("lzs-unpack.exe",
                     r'"C:\Program Files\lzs unpack\lzs-unpack.exe"',
                     'lzs-unpack.exe /O"out.bin"',
                     'lzs-unpack.exe /d"a.lzs"',
                     'lzs-unpack.exe a.lzs /X /"a.lzs"'):
            with self.subTest(line=line):
                result = self.run_exe(line)
                self.assertEqual(result.call_names(),
                                 ["GetCommandLineA", *NOTICE_CALLS, "ExitProcess"])
                self.assert_notice(result, USAGE_TEXT)
                self.assert_exit(result, 0)
                self.assertEqual(self.snapshot(), before)


class SilentExitTest(ExeTestCase):
    def assert_silent_exit(self, result, calls):
        """No notice, nothing released: the code read from the platform is
        the exit code. Returns it."""
        self.assertEqual(result.call_names(), calls + ["GetLastError", "ExitProcess"])
        last_error = result.calls_to("GetLastError")[0].retval
        self.assert_exit(result, last_error)
        return last_error

    def test_syntax_errors_exit_silently_with_bad_arguments(self):
        """A refused command line sets ERROR_BAD_ARGUMENTS itself (Wine's log
        does not show SetLastError, a forward into ntdll), whatever code
        Wine's loader left: 14007 here."""
        self.write("a.lzs", WORKED_EXAMPLE)
        long_name = "n" * 506  # with ".DeLZS" one more than a name may hold
        before = self.snapshot()
        for line in ('p /D a.lzs',
                     'p /D "a.lzs"',
                     'p /D"a.lzs',
                     'p /D"a.lzs" /D"a.lzs"',
                     'p /D"a.lzs" /O"b" /O"b"',
                     'p /O b /D"a.lzs"',
                     'p /D"a.lzs" /O',
                     'p /D"a.lzs" /O"b',
                     'C:/Data/prog.exe /D"a.lzs"',
                     f'p /D"{long_name}"'):
            with self.subTest(line=line):
                result = self.run_exe(line)
                self.assertEqual(self.assert_silent_exit(result, ["GetCommandLineA"]),
                                 ERROR_BAD_ARGUMENTS)
                self.assertEqual(self.snapshot(), before)

    def test_input_that_cannot_be_opened_exits_silently(self):
        self.write("dir/keep", b"")
        before = self.snapshot()
        # (input name, the code Wine reports for the failed open)
        for name, code in (("missing.lzs", 2),      # ERROR_FILE_NOT_FOUND
                           ("nodir/a.lzs", 3),      # ERROR_PATH_NOT_FOUND
                           ("", 3),
                           ("dir", 5)):             # ERROR_ACCESS_DENIED
            with self.subTest(name=name):
                result = self.run_exe(f'p /D"{name}" /O"out.bin"')
                opens = result.calls_to("CreateFileA")
                self.assertEqual(len(opens), 1)
                self.assertEqual(result.string(opens[0].args[0]), name.encode())
                self.assertEqual(opens[0].retval, 0xFFFFFFFFFFFFFFFF)
                self.assertEqual(self.assert_silent_exit(result, ["GetCommandLineA", "CreateFileA"]),
                                 code)
                self.assertEqual(self.snapshot(), before)


if __name__ == "__main__":
    unittest.main()
