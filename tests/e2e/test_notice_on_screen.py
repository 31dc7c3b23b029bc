"""A notice of the real exe really shown on an X display (Xvfb): it stays up
with the program still running until Return closes it, and the run then
ends with the code of its ending. The screenshot is kept in the build folder
as notice.png."""

import os
import shutil
import subprocess
import time
import unittest

import wine
from e2e_case import CAPTION, ERROR_INVALID_DATA, FORMAT_ERROR_TEXT, ExeTestCase

TOOLS = ("Xvfb", "xdotool", "xwd", "convert")


def light_pixels(rgb: bytes) -> int:
    """The number of pixels of raw 8-bit RGB data whose three channels are
    all above 200."""
    return sum(1 for i in range(0, len(rgb) - 2, 3)
               if rgb[i] > 200 and rgb[i + 1] > 200 and rgb[i + 2] > 200)


def x_command(display: str, *args: str, **kwargs) -> subprocess.CompletedProcess:
    env = {**os.environ, "DISPLAY": display}
    return subprocess.run(args, env=env, capture_output=True, timeout=30, **kwargs)


@unittest.skipUnless(all(shutil.which(t) for t in TOOLS), "needs " + ", ".join(TOOLS))
class NoticeOnScreenTest(ExeTestCase):
    def start_xvfb(self) -> str:
        """Starts Xvfb on a display number it picks itself, stopped at the
        test's end; returns the display name."""
        read_end, write_end = os.pipe()
        xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "800x600x24",
             "-nolisten", "tcp"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        self.addCleanup(xvfb.wait, 10)
        self.addCleanup(xvfb.terminate)
        with os.fdopen(read_end) as numbers:
            number = numbers.readline().strip()
        self.assertTrue(number.isdigit(), "Xvfb gave no display")
        return ":" + number

    def find_window(self, display: str, process, timeout: float = 30) -> str:
        # xdotool takes a POSIX extended regular expression.
        caption = "".join("\\" + c if c in "[](){}.*+?^$|\\" else c
                          for c in CAPTION.decode("cp1251"))
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            found = x_command(display, "xdotool", "search", "--name", f"^{caption}$")
            windows = found.stdout.split()
            if windows:
                return windows[0].decode()
            self.assertIsNone(process.poll(), "the program ended without showing a notice")
            time.sleep(0.1)
        self.fail("no window with the caption appeared")

    def test_format_error_notice_stays_up_until_return(self):
        display = self.start_xvfb()
        # Wine's desktop process takes the display of the process that starts
        # it: let a fresh server make it for this run.
        wine.stop_servers(display=True)
        self.write("bad.lzs", b"\x06\x00\x00\x00\x07A")
        # A Russian locale gives Wine the ANSI code page 1251, so the second
        # line of the text shows as Cyrillic.
        process = wine.start_exe('lzs-unpack.exe /D"bad.lzs"', self.dir, display=display,
                                 relay=True, extra_env={"LC_ALL": "ru_RU.UTF-8"})
        try:
            window = self.find_window(display, process)
            name = x_command(display, "xdotool", "getwindowname", window).stdout
            self.assertEqual(name.decode().strip(), CAPTION.decode("cp1251"))
            time.sleep(1.0)
            self.assertIsNone(process.poll(), "the program went on while its notice was up")

            shot = wine.e2e_dir() / "notice.png"
            xwd = x_command(display, "xwd", "-root", "-silent")
            self.assertEqual(xwd.returncode, 0)
            subprocess.run(["convert", "xwd:-", f"png:{shot}"], input=xwd.stdout, check=True,
                           timeout=30)
            # The screen is black but for the box, which is light grey.
            rgb = subprocess.run(["convert", "xwd:-", "-depth", "8", "rgb:-"], input=xwd.stdout,
                                 capture_output=True, check=True, timeout=30).stdout
            self.assertEqual(len(rgb), 800 * 600 * 3)
            self.assertGreater(light_pixels(rgb), 5000)

            # With no window manager nothing has the focus: give it to the box.
            x_command(display, "xdotool", "windowfocus", "--sync", window, check=True)
            x_command(display, "xdotool", "key", "Return", check=True)
            result = wine.finish_exe(process, relay=True, timeout=30)
        finally:
            if process.poll() is None:
                process.kill()
            wine.stop_servers(display=True)
        self.assertEqual(result.call_names()[-4:],
                         ["MessageBoxA", "CloseHandle", "GlobalFree", "ExitProcess"])
        self.assert_notice(result, FORMAT_ERROR_TEXT)
        self.assertEqual(result.calls_to("MessageBoxA")[0].retval, 1)  # IDOK
        self.assert_exit(result, ERROR_INVALID_DATA)
        self.assertFalse((self.dir / "bad.lzs.DeLZS").exists())


if __name__ == "__main__":
    unittest.main()
