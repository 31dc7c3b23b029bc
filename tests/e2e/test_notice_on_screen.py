"""A notice of the real exe really shown on an X display (Xvfb), under a
Western and under a Cyrillic ANSI code page: it stays up with the program
still running until Return closes it, the run then ends with the code of its
ending, and the box looks the same under both. The screenshots are kept in
the build folder as notice-1252.png and notice-1251.png."""

import os
import shutil
import subprocess
import time
import unittest

import wine
from e2e_case import (CAPTION, ERROR_INVALID_DATA, FORMAT_ERROR_TEXT, NOTICE_CALLS, WORKED_EXAMPLE,
                      ExeTestCase)

TOOLS = ("Xvfb", "xdotool", "xwd", "convert")


def light_pixels(rgb: bytes) -> int:
    """The number of pixels of raw 8-bit RGB data whose three channels are
    all above 200."""
    return sum(1 for i in range(0, len(rgb) - 2, 3)
               if rgb[i] > 200 and rgb[i + 1] > 200 and rgb[i + 2] > 200)


def ansi_code_page(locale: str) -> str:
    """The ANSI code page Wine takes from a Unix locale, as it records it in
    the registry of the X11 prefix."""
    env = {**wine.wine_env(), "WINEPREFIX": str(wine.prefix_path(True)), "LC_ALL": locale}
    for _ in range(3):  # on a busy machine Wine now and then fails to start reg.exe at all
        query = [wine.WINE, "reg", "query",
                 r"HKLM\System\CurrentControlSet\Control\Nls\CodePage", "/v", "ACP"]
        found = subprocess.run(query, env=env, capture_output=True,
                               timeout=120).stdout.decode("latin-1")
        words = found.split()
        if "REG_SZ" in words:
            return words[words.index("REG_SZ") + 1]
    return found


def x_command(display: str, *args: str, **kwargs) -> subprocess.CompletedProcess:
    env = {**os.environ, "DISPLAY": display}
    return subprocess.run(args, env=env, capture_output=True, timeout=30, **kwargs)


@unittest.skipUnless(all(shutil.which(t) for t in TOOLS), "needs " + ", ".join(TOOLS))
class NoticeOnScreenTest(ExeTestCase):
    def start_xvfb(self) -> str:
        """Starts Xvfb, stopped at the test's end; returns the display name."""
        display, xvfb = wine.start_xvfb()
        self.addCleanup(xvfb.wait, 10)
        self.addCleanup(xvfb.terminate)
        return display

    def find_window(self, display: str, process, timeout: float = 120) -> str | None:
        """The window of the notice, or None if the program ended first."""
        # xdotool takes a POSIX extended regular expression.
        caption = "".join("\\" + c if c in "[](){}.*+?^$|\\" else c
                          for c in CAPTION.decode("cp1251"))
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            found = x_command(display, "xdotool", "search", "--name", f"^{caption}$")
            windows = found.stdout.split()
            if windows:
                return windows[0].decode()
            if process.poll() is not None:
                return None
            time.sleep(0.1)
        self.fail("no window with the caption appeared")

    def show_notice(self, display: str, locale: str, shot_name: str) -> bytes:
        """Runs the exe on a bad image under a Unix locale (from which Wine
        takes its ANSI code page), checks that the notice stays up with the
        program still running until Return closes it, and keeps a screenshot
        as shot_name in the build folder. Returns the pixels of the box's text
        (raw RGB of the upper half of the window)."""
        # Wine's desktop process takes the display of the process that starts
        # it: let a fresh server make it for this run.
        for _ in range(3):
            wine.stop_servers(display=True)
            process = wine.start_exe('lzs-unpack.exe /D"bad.lzs"', self.dir, display=display,
                                     relay=True, extra_env={"LC_ALL": locale})
            window = self.find_window(display, process)
            if window is not None:
                break
            # On a busy machine Wine's desktop, just restarted, now and then
            # fails to show the box: MessageBoxW then returns 0 at once.
            shown = wine.finish_exe(process, relay=True, timeout=30).calls_to("MessageBoxW")
            self.assertTrue(shown and shown[0].retval == 0,
                            "the program ended without showing a notice")
        else:
            self.fail("Wine failed to show the notice three times")
        try:
            name = x_command(display, "xdotool", "getwindowname", window).stdout
            self.assertEqual(name.decode().strip(), CAPTION.decode("cp1251"))
            time.sleep(1.0)
            self.assertIsNone(process.poll(), "the program went on while its notice was up")

            shot = wine.e2e_dir() / shot_name
            xwd = x_command(display, "xwd", "-root", "-silent")
            self.assertEqual(xwd.returncode, 0)
            subprocess.run(["convert", "xwd:-", f"png:{shot}"], input=xwd.stdout, check=True,
                           timeout=30)
            # The screen is black but for the box, which is light grey.
            rgb = subprocess.run(["convert", "xwd:-", "-depth", "8", "rgb:-"], input=xwd.stdout,
                                 capture_output=True, check=True, timeout=30).stdout
            self.assertEqual(len(rgb), 800 * 600 * 3)
            self.assertGreater(light_pixels(rgb), 5000)
            shape = dict(line.split("=", 1) for line in x_command(
                display, "xdotool", "getwindowgeometry", "--shell", window,
                check=True).stdout.decode().split())
            # The upper half holds the text; the button below it is Wine's
            # own, and its "OK" is spelt in Cyrillic under a Russian locale.
            area = f"{shape['WIDTH']}x{int(shape['HEIGHT']) // 2}+{shape['X']}+{shape['Y']}"
            box = subprocess.run(["convert", "xwd:-", "-crop", area, "+repage", "-depth", "8",
                                  "rgb:-"], input=xwd.stdout, capture_output=True, check=True,
                                 timeout=30).stdout

            # With no window manager nothing has the focus: give it to the box.
            x_command(display, "xdotool", "windowfocus", "--sync", window, check=True)
            x_command(display, "xdotool", "key", "Return", check=True)
            result = wine.finish_exe(process, relay=True, timeout=30)
        finally:
            if process.poll() is None:
                process.kill()
            wine.stop_servers(display=True)
        self.assertEqual(result.call_names()[-6:],
                         [*NOTICE_CALLS, "CloseHandle", "GlobalFree", "ExitProcess"])
        self.assert_notice(result, FORMAT_ERROR_TEXT)
        self.assertEqual(result.calls_to("MessageBoxW")[0].retval, 1)  # IDOK
        self.assert_exit(result, ERROR_INVALID_DATA)
        self.assertFalse((self.dir / "bad.lzs.DeLZS").exists())
        return box

    def test_format_error_notice_reads_the_same_under_any_code_page(self):
        """The text of the box under a Western code page is pixel for pixel
        the one under Windows-1251, where the Russian line has always read right: so it
        reads right under both. (The 8-bit box would show "Îøèáêà!" under
        1252.) The screenshots are notice-1252.png and notice-1251.png."""
        display = self.start_xvfb()
        self.write("bad.lzs", WORKED_EXAMPLE[:6])
        boxes = {}
        for code_page, locale in (("1252", "en_US.UTF-8"), ("1251", "ru_RU.UTF-8")):
            with self.subTest(code_page=code_page):
                self.assertEqual(ansi_code_page(locale), code_page)
                boxes[code_page] = self.show_notice(display, locale, f"notice-{code_page}.png")
        self.assertEqual(len(boxes), 2)
        self.assertGreater(len(boxes["1251"]), 0)
        self.assertTrue(boxes["1252"] == boxes["1251"],
                        "the text differs between the code pages")

if __name__ == "__main__":
    unittest.main()
