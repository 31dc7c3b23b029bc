"""The installer's pages, as a double-click shows them (msiexec /i with its
full user interface), on an X display (Xvfb) in the X11 prefix: each row
presses keys on the first and the last page, and reads back from msiexec's
log which pages were shown, in order, and the code it ended with. The first
page waits for the user with nothing installed yet; the last one stays until
the user closes it, with the work already done. The screenshots of both
pages are kept in the build folder as msi-ROW-first.png and msi-ROW-last.png."""

import os
import re
import shutil
import subprocess
import time
import unittest
from dataclasses import dataclass
from pathlib import Path

import wine

TOOLS = ("Xvfb", "xdotool", "xwd", "convert")
ERROR_INSTALL_USEREXIT = 1602


@dataclass
class Row:
    name: str
    keys: tuple[str, str]  # pressed on the first page and on the last one
    pages: list[str]       # the dialogs shown, in order
    exit_code: int
    installed: bool        # the programs are there afterwards


# In this order: the second row finds what the first installed.
ROWS = [
    Row("a double-click installs", ("Return", "Return"), ["WelcomeDlg", "ProgressDlg", "ExitDlg"],
        0, True),
    Row("a double-click on it installed removes it", ("Return", "Return"),
        ["MaintenanceDlg", "ProgressDlg", "ExitDlg"], 0, False),
    Row("cancel on the first page changes nothing", ("Escape", "Return"),
        ["WelcomeDlg", "UserExitDlg"], ERROR_INSTALL_USEREXIT, False),
]


def x_command(display: str, *args: str, **kwargs) -> subprocess.CompletedProcess:
    return subprocess.run(args, env={**os.environ, "DISPLAY": display}, capture_output=True,
                          timeout=30, **kwargs)


@unittest.skipUnless(all(shutil.which(t) for t in TOOLS), "needs " + ", ".join(TOOLS))
class InstallerWindowTest(unittest.TestCase):
    def setUp(self) -> None:
        self.display, xvfb = wine.start_xvfb()
        self.addCleanup(xvfb.wait, 10)
        self.addCleanup(xvfb.terminate)
        # Wine's desktop process takes the display of the process that
        # starts it: a fresh server for this display.
        wine.stop_servers(display=True)
        self.addCleanup(wine.stop_servers, display=True)
        self.env = wine.wine_env(self.display)
        self.msi = wine.windows_path(os.environ["LZS_MSI"])
        self.title = "^" + re.escape(f"lzs-unpack {os.environ['LZS_VERSION']} Setup") + "$"
        self.dir = wine.work_path() / "installer-window"
        shutil.rmtree(self.dir, ignore_errors=True)
        self.dir.mkdir(parents=True)
        self.uninstall()  # left by a failed run
        self.addCleanup(self.uninstall)

    def uninstall(self) -> None:
        subprocess.run([wine.WINE, "msiexec", "/x", self.msi, "/qn"], env=self.env,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=120)

    def programs(self) -> list[Path]:
        users = wine.prefix_path(True) / "drive_c" / "users"
        return list(users.glob("*/AppData/Local/Programs/lzs-unpack/lzs-unpack.exe"))

    def window(self, process: subprocess.Popen, first: tuple[str, int] | None = None,
               timeout: float = 60) -> tuple[str, int]:
        """The one page up with the installer's title, as (window, height):
        the first one, or one other than `first` at least two thirds as tall
        (the progress page, which takes no key, is 90 units tall, the others
        110 or 150)."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            found = x_command(self.display, "xdotool", "search", "--name", self.title)
            pages = []
            for window in found.stdout.decode().split():
                shape = x_command(self.display, "xdotool", "getwindowgeometry", "--shell", window)
                height = re.search(r"^HEIGHT=(\d+)$", shape.stdout.decode(), re.M)
                if height and (first is None or
                               window != first[0] and 3 * int(height[1]) > 2 * first[1]):
                    pages.append((window, int(height[1])))
            if len(pages) == 1:
                return pages[0]
            self.assertIsNone(process.poll(), "msiexec ended with no page up")
            time.sleep(0.1)
        self.fail("no page of the installer came up")

    def shown(self, log: Path) -> list[str]:
        """The dialogs msiexec's log says it showed, in order."""
        text = log.read_bytes().decode("latin-1") if log.exists() else ""
        return re.findall(r"^Action start [\d:]+: (\w+Dlg)\.", text, re.M)

    def press(self, window: tuple[str, int], key: str, shot: str) -> None:
        """Keeps a screenshot, then gives the window the focus (there is no
        window manager) and presses key."""
        picture = x_command(self.display, "xwd", "-root", "-silent").stdout
        subprocess.run(["convert", "xwd:-", f"png:{wine.e2e_dir() / shot}"], input=picture,
                       check=True, timeout=30)
        x_command(self.display, "xdotool", "windowfocus", "--sync", window[0], check=True)
        x_command(self.display, "xdotool", "key", key, check=True)

    def test_pages(self) -> None:
        for row in ROWS:
            with self.subTest(row.name):
                slug = row.name.replace(" ", "_")
                log = self.dir / (slug + ".log")
                process = subprocess.Popen(
                    [wine.WINE, "msiexec", "/i", self.msi, "/l*v", wine.windows_path(log)],
                    env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                    stderr=subprocess.DEVNULL)
                try:
                    first = self.window(process)
                    installed = bool(self.programs())
                    time.sleep(1)
                    self.assertIsNone(process.poll(), "msiexec went on without the user")
                    self.assertEqual(bool(self.programs()), installed)
                    self.press(first, row.keys[0], f"msi-{slug}-first.png")

                    deadline = time.monotonic() + 60
                    while self.shown(log)[-1:] != row.pages[-1:] and time.monotonic() < deadline:
                        self.assertIsNone(process.poll(), "msiexec ended before its last page")
                        time.sleep(0.1)
                    last = self.window(process, first)
                    time.sleep(1)
                    self.assertIsNone(process.poll(), "the last page did not wait for the user")
                    self.assertEqual(bool(self.programs()), row.installed)
                    self.press(last, row.keys[1], f"msi-{slug}-last.png")
                    process.wait(60)
                finally:
                    if process.poll() is None:
                        process.kill()
                        process.wait()
                self.assertEqual(self.shown(log), row.pages)
                self.assertEqual(process.returncode, row.exit_code & 0xFF)
                self.assertEqual(bool(self.programs()), row.installed)


if __name__ == "__main__":
    unittest.main()
