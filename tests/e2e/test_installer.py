"""The installer lzs-unpack-VERSION-x64.msi under Wine, from a user's side:
installed with msiexec /i /qn for the current user, its files, registry
keys, PATH entry and Add/Remove Programs entry read back, the right-click
verb's exact command line run on a sample through our launcher, then
uninstalled with msiexec /x /qn, after which every key and the PATH read as
before. One table row per state the user's registry was in beforehand.

Wine shows neither Explorer's menu nor its double-click, so the test reads
what they would run from the registry and runs that."""

import os
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

import wine

SOURCE = Path(__file__).resolve().parents[2]
PROGID = "lzs-unpack.lzs"
CLASSES = r"HKCU\Software\Classes"
UNINSTALL = r"Software\Microsoft\Windows\CurrentVersion\Uninstall"
# Every key the installer may touch; each must read after uninstalling as it
# did before installing.
WATCHED = [r"HKCU\Software\lzs-unpack", CLASSES + r"\.lzs", CLASSES + "\\" + PROGID,
           CLASSES + r"\SystemFileAssociations\.lzs", r"HKLM\Software\Classes\.lzs",
           r"HKCU\Environment"]
OWN_PATH = (r"C:\mine;%USERPROFILE%\bin", "REG_EXPAND_SZ")

# (name, the user's .lzs owner, the machine's .lzs owner, the user's PATH
# (value, type) or None, the .lzs owner for the user after installing)
CASES = [
    ("nobody owns .lzs, no PATH of the user's", None, None, None, PROGID),
    ("the user's own PATH and owner are kept", "other.lzs", None, OWN_PATH, "other.lzs"),
    ("the machine's owner is kept", None, "machine.lzs", OWN_PATH, None),
]


def wine_run(*args: str, check: bool = True, env: dict[str, str] | None = None,
             cwd: Path | None = None) -> subprocess.CompletedProcess:
    """Runs a Wine program and returns its outcome. Its output goes through
    files, not pipes: a Wine service that the run starts (msiexec starts the
    installer service) would hold a pipe open long after the run ends."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        result = subprocess.run([wine.WINE, *args], env=env or wine.wine_env(), cwd=cwd,
                                stdout=out, stderr=err, stdin=subprocess.DEVNULL, timeout=120)
        out.seek(0)
        err.seek(0)
        result.stdout, result.stderr = out.read(), err.read()
    if check:
        result.check_returncode()
    return result


def reg_query(key: str) -> str | None:
    """The text of `reg query KEY /s`, or None when there is no such key."""
    result = wine_run("reg", "query", key, "/s", check=False)
    return result.stdout.decode("utf-8", "replace") if result.returncode == 0 else None


def reg_value(key: str, name: str | None = None) -> tuple[str, str] | None:
    """(type, data) of a value (None: the default one), or None when absent."""
    args = ["/ve"] if name is None else ["/v", name]
    result = wine_run("reg", "query", key, *args, check=False)
    if result.returncode != 0:
        return None
    shown = "(Default)" if name is None else name
    for line in result.stdout.decode("utf-8", "replace").splitlines():
        fields = line.strip().split(None, 2)
        if len(fields) >= 2 and fields[0].lower() == shown.lower():
            if name is None and fields[2:] == ["(value not set)"]:
                return None  # how reg shows a key without a default value
            return fields[1], fields[2] if len(fields) == 3 else ""
    return None


def reg_set(key: str, name: str | None, data: str, kind: str = "REG_SZ") -> None:
    args = ["/ve"] if name is None else ["/v", name]
    wine_run("reg", "add", key, *args, "/t", kind, "/d", data, "/f")


def reg_delete(key: str, name: str | None = None) -> None:
    args = [] if name is None else ["/v", name]
    wine_run("reg", "delete", key, *args, "/f", check=False)


def unix_path(windows: str) -> Path:
    """A C: path of the prefix as a Unix path."""
    if not windows.upper().startswith("C:\\"):
        raise ValueError(f"not on drive C: {windows}")
    return wine.prefix_path() / "drive_c" / Path(*windows[3:].rstrip("\\").split("\\"))


def product_keys() -> list[str]:
    """The Add/Remove Programs entries named lzs-unpack, for the user and the
    machine (a per-user install lands in either, by the installer service)."""
    found = []
    for root in ("HKCU", "HKLM"):
        text = reg_query(f"{root}\\{UNINSTALL}") or ""
        key = None
        for line in text.splitlines():
            if line.startswith("HKEY_"):
                key = line.strip()
            elif line.strip().startswith("DisplayName") and "lzs-unpack" in line:
                found.append(key)
    return found


class InstallerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls) -> None:
        cls.msi = wine.windows_path(os.environ["LZS_MSI"])
        cls.version = os.environ["LZS_VERSION"]
        cls.packaging = Path(os.environ["LZS_WINDOWS_PACKAGING_DIR"])
        wine_run("msiexec", "/x", cls.msi, "/qn", check=False)  # left by a failed run

    def set_state(self, user_owner, machine_owner, path) -> None:
        for key in (CLASSES + r"\.lzs", r"HKLM\Software\Classes\.lzs"):
            reg_delete(key)
        reg_delete(r"HKCU\Environment", "PATH")
        if user_owner:
            reg_set(CLASSES + r"\.lzs", None, user_owner)
        if machine_owner:
            reg_set(r"HKLM\Software\Classes\.lzs", None, machine_owner)
        if path:
            reg_set(r"HKCU\Environment", "PATH", path[0], path[1])

    def run_verb(self, command: str, folder: Path) -> None:
        """Runs the verb's command line on sample.lzs in folder, with %1 as
        Explorer gives it: the file's full path."""
        shutil.copy(SOURCE / "samples" / "sample.lzs", folder / "sample.lzs")
        line = command.replace("%1", wine.windows_path(folder / "sample.lzs"))
        program = command.split('"')[1]
        env = wine.wine_env()
        env.update(LZS_PROGRAM=program, LZS_COMMAND_LINE=line)
        result = wine_run(str(wine.launcher_path()), check=False, env=env, cwd=wine.work_path())
        self.assertEqual(result.stdout.strip(), b"exit code 0", result.stderr[-2000:])
        self.assertEqual((folder / "sample.lzs.DeLZS").read_bytes(),
                         (SOURCE / "samples" / "sample.txt").read_bytes())

    def test_install_verb_uninstall(self) -> None:
        for name, user_owner, machine_owner, path, owner_after in CASES:
            with self.subTest(name):
                folder = wine.work_path() / "installer" / name.replace(" ", "_")
                shutil.rmtree(folder, ignore_errors=True)
                folder.mkdir(parents=True)
                self.set_state(user_owner, machine_owner, path)
                before = {key: reg_query(key) for key in WATCHED}
                local = wine.prefix_path() / "drive_c" / "users"
                files_before = sorted(str(p) for p in local.rglob("*") if "lzs" in p.name.lower())

                installed = wine_run("msiexec", "/i", self.msi, "/qn", check=False)
                self.assertEqual(installed.returncode, 0, installed.stderr[-2000:])
                try:
                    self.check_installed(user_owner, path, owner_after, folder)
                finally:
                    removed = wine_run("msiexec", "/x", self.msi, "/qn", check=False)
                self.assertEqual(removed.returncode, 0, removed.stderr[-2000:])

                after = {key: reg_query(key) for key in WATCHED}
                if path is not None:
                    # Wine leaves the ";" before the entry it removed: the
                    # entries must be the user's own, in their order and type.
                    kind, value = reg_value(r"HKCU\Environment", "PATH")
                    self.assertEqual(([e for e in value.split(";") if e], kind),
                                     (path[0].split(";"), path[1]))
                    for state in (before, after):
                        state[r"HKCU\Environment"] = "\n".join(
                            line for line in state[r"HKCU\Environment"].splitlines()
                            if not line.strip().startswith("PATH"))
                self.assertEqual(after, before)
                self.assertEqual(product_keys(), [])
                self.assertEqual(sorted(str(p) for p in local.rglob("*") if "lzs" in p.name.lower()),
                                 files_before)
        self.set_state(None, None, None)

    def check_installed(self, user_owner, path, owner_after, folder: Path) -> None:
        folder_value = reg_value(r"HKCU\Software\lzs-unpack", "InstallDir")
        self.assertIsNotNone(folder_value)
        install_dir = folder_value[1]
        self.assertRegex(install_dir, r"(?i)^C:\\users\\[^\\]+\\AppData\\Local\\Programs\\lzs-unpack\\$")
        target = unix_path(install_dir)
        sources = {"lzs-unpack.exe": os.environ["LZS_EXE"], "lzs.exe": os.environ["LZS_CLI_EXE"],
                   "lzs-pack.exe": os.environ["LZS_PACK_EXE"],
                   "README.txt": self.packaging / "README.txt",
                   "LICENSE.txt": self.packaging / "LICENSE.txt"}
        web_page = os.environ.get("LZS_WEB_PAGE")
        if web_page and Path(web_page).is_file():
            sources["lzs.html"] = web_page
        self.assertEqual(sorted(p.name for p in target.iterdir()), sorted(sources))
        for file, source in sources.items():
            self.assertEqual((target / file).read_bytes(), Path(source).read_bytes(), file)

        command = f'"{install_dir}lzs-unpack.exe" /D"%1"'
        verb = CLASSES + r"\SystemFileAssociations\.lzs\shell\Unpack"
        self.assertEqual(reg_value(verb), ("REG_SZ", "Unpack"))
        self.assertEqual(reg_value(verb + r"\command"), ("REG_SZ", command))
        progid = CLASSES + "\\" + PROGID
        self.assertEqual(reg_value(progid + r"\shell"), ("REG_SZ", "Unpack"))
        self.assertEqual(reg_value(progid + r"\shell\Unpack\command"), ("REG_SZ", command))
        self.assertIsNotNone(reg_value(CLASSES + r"\.lzs\OpenWithProgids", PROGID))
        owner = reg_value(CLASSES + r"\.lzs")
        self.assertEqual(owner and owner[1], owner_after)

        own = path[0] + ";" if path else ""
        self.assertEqual(reg_value(r"HKCU\Environment", "PATH"),
                         (path[1] if path else "REG_SZ", own + install_dir))

        [product] = product_keys()
        self.assertEqual(reg_value(product, "DisplayVersion"), ("REG_SZ", self.version))
        self.run_verb(command, folder)


if __name__ == "__main__":
    unittest.main()
