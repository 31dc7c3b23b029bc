"""The installer lzs-unpack-VERSION-x64.msi under Wine, from a user's side:
installed with msiexec /i /qn for the current user, its files, registry
keys, PATH entry and Add/Remove Programs entry (size and icon) read back, the
right-click verb's exact command line (lzs.exe -d) run through our launcher
on a sample, on an image larger than lzs-unpack.exe reads and on a damaged
one, and lzs-unpack.exe run by name from the PATH, then uninstalled with
msiexec /x /qn, after which every key and the PATH read exactly as before.
One table row per state the user's registry was in beforehand: who opens
.lzs files, and the user's PATH without the install folder or holding it
already (as the installer writes it, without its backslash, in another
case); one row installs the same msi twice, two install the next version
over this one.

Wine shows neither Explorer's menu nor its double-click, so the test reads
what they would run from the registry and runs that. The registry is read in
one Wine process per snapshot, since each process costs a third of a second."""

import os
import re
import shutil
import struct
import subprocess
import tempfile
import unittest
import uuid
from dataclasses import dataclass
from pathlib import Path

import wine
from e2e_case import literal_image, pattern

SOURCE = Path(__file__).resolve().parents[2]
PROGID = "lzs-unpack.lzs"
CLASSES = r"HKCU\Software\Classes"
ENVIRONMENT = r"HKCU\Environment"
UNINSTALL = r"Software\Microsoft\Windows\CurrentVersion\Uninstall"
PRODUCTS = r"HKCU\Software\Microsoft\Installer\Products"
# Every key the installer may touch; each must read after uninstalling as it
# did before installing.
WATCHED = [r"HKCU\Software\lzs-unpack", CLASSES + r"\.lzs", CLASSES + "\\" + PROGID,
           CLASSES + r"\SystemFileAssociations\.lzs", r"HKLM\Software\Classes\.lzs", ENVIRONMENT]
# Where the Add/Remove Programs entries are (a per-user install lands in
# either, by the installer service).
ENTRIES = [f"HKCU\\{UNINSTALL}", f"HKLM\\{UNINSTALL}", PRODUCTS]


@dataclass
class Case:
    name: str
    user_owner: str | None     # the user's .lzs owner beforehand
    machine_owner: str | None  # the machine's
    path: tuple[str, str] | None  # the user's PATH (value, type); {folder}: the install
                                  # folder without its backslash, {FOLDER} in upper case
    owner_after: str | None    # the user's .lzs owner once installed
    adds_path: bool            # installing puts the folder on the PATH
    upgrade: bool = False      # the next version is installed over this one
    again: bool = False        # the same msi is installed a second time


MINE = r"C:\mine;%USERPROFILE%\bin"
CASES = [
    Case("nobody owns .lzs, no PATH of the user's", None, None, None, PROGID, True),
    Case("the user's owner kept, a PATH without the folder", "other.lzs", None,
         (MINE, "REG_EXPAND_SZ"), "other.lzs", True),
    Case("the machine's owner kept, the folder on the PATH as installed", None, "machine.lzs",
         ("C:\\mine;{folder}\\", "REG_SZ"), None, False),
    Case("the folder first on the PATH, without its backslash", None, None,
         (r"{folder};" + MINE, "REG_EXPAND_SZ"), PROGID, False),
    Case("the folder on the PATH in upper case", None, None,
         (r"C:\mine;{FOLDER}\;%USERPROFILE%\bin", "REG_EXPAND_SZ"), PROGID, False),
    Case("an upgrade keeps the entry it added", None, None, (r"C:\mine", "REG_SZ"), PROGID, True,
         upgrade=True),
    Case("an upgrade keeps the PATH it made", None, None, None, PROGID, True, upgrade=True),
    Case("a second install changes nothing", None, None, (MINE, "REG_EXPAND_SZ"), PROGID, True,
         again=True),
]
# The verb on an image larger than the 8 MiB that lzs-unpack.exe reads.
LARGE = pattern(9 << 20)


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


_VALUE = re.compile(r"^    (.*?)    (REG_\w+)(?:    (.*))?$")


def registry(keys: list[str]) -> dict[str, dict[str, tuple[str, str]] | None]:
    """Each key with its subkeys, as `reg query KEY /s` shows them, in one Wine
    process: {key: {subkey path in upper case: {value name in lower case:
    (type, data)}}}, or None for a key that does not exist or holds nothing.
    reg answers every key with at least a line (a key without values gets an
    empty one); a run of it that Wine failed to start prints nothing, and
    then the whole snapshot is read again."""
    mark = "@@lzs-key"
    command = []
    for key in keys:
        command += ["echo", mark, "&", "reg", "query", key, "/s", "&"]
    for _ in range(wine.WINE_STARTS):
        text = wine_run("cmd", "/c", *command[:-1]).stdout.decode("utf-8", "replace")
        answers = [a.split("\n", 1)[1] if "\n" in a else "" for a in text.split(mark)[1:]]
        if len(answers) != len(keys):
            raise RuntimeError(f"reg query gave {len(answers)} answers for {len(keys)} keys: {text}")
        if all(answers):
            return {key: read_tree(answer) for key, answer in zip(keys, answers)}
    raise RuntimeError(f"reg query left a key unanswered {wine.WINE_STARTS} times: {text}")


def read_tree(answer: str) -> dict[str, dict[str, tuple[str, str]]] | None:
    """One key's answer of `reg query KEY /s` as {subkey path in upper case:
    {value name in lower case: (type, data)}}, or None when it shows none."""
    tree, values = {}, None
    for line in answer.splitlines():
        if line.startswith("HKEY_"):
            values = tree.setdefault(line.strip().upper(), {})
        elif m := _VALUE.match(line):
            values[m.group(1).lower()] = (m.group(2), m.group(3) or "")
    return tree or None


def long_key(key: str) -> str:
    """HKCU\\... as HKEY_CURRENT_USER\\..., HKLM\\... as HKEY_LOCAL_MACHINE\\..."""
    root, rest = key.split("\\", 1)
    return {"HKCU": "HKEY_CURRENT_USER", "HKLM": "HKEY_LOCAL_MACHINE"}.get(root, root) + "\\" + rest


def value(tree: dict | None, key: str, name: str = "(Default)") -> tuple[str, str] | None:
    """(type, data) of a value in a tree that `registry` read, or None when
    absent."""
    found = (tree or {}).get(long_key(key).upper(), {}).get(name.lower())
    if name == "(Default)" and found == ("REG_SZ", "(value not set)"):
        return None  # how reg shows a key without a default value
    return found


def product_entries(state: dict) -> list[tuple[str, dict]]:
    """The Add/Remove Programs entries named lzs-unpack: (key, values)."""
    return [(key, values) for root in ENTRIES[:2] for key, values in (state[root] or {}).items()
            if "lzs-unpack" in values.get("displayname", ("", ""))[1]]


def reg_import(entries: list[str], folder: Path) -> None:
    """Imports the entries of a .reg file (REGEDIT4) in one Wine process."""
    file = folder / "state.reg"
    file.write_text("\r\n".join(["REGEDIT4", "", *entries, ""]), encoding="ascii")
    wine_run("reg", "import", wine.windows_path(file))


def reg_data(data: str, kind: str) -> str:
    """A value's data as a .reg file gives it: a string in quotes, an
    expandable one as its bytes with the closing zero."""
    if kind == "REG_EXPAND_SZ":
        return "hex(2):" + ",".join(f"{b:02x}" for b in data.encode("ascii") + b"\0")
    return '"' + data.replace("\\", "\\\\").replace('"', '\\"') + '"'


def unix_path(windows: str) -> Path:
    """A C: path of the prefix as a Unix path."""
    if not windows.upper().startswith("C:\\"):
        raise ValueError(f"not on drive C: {windows}")
    return wine.prefix_path() / "drive_c" / Path(*windows[3:].rstrip("\\").split("\\"))


def icon_sizes(data: bytes) -> list[int]:
    """The widths of the images in an .ico file (0 stands for 256)."""
    reserved, kind, count = struct.unpack_from("<HHH", data)
    if (reserved, kind) != (0, 1):
        raise ValueError("not an icon file")
    return [data[6 + 16 * i] for i in range(count)]


def next_version(msi: Path, version: str, folder: Path) -> tuple[Path, str]:
    """A copy of the installer as the next version would be made: one more
    in the version's last number, a product and package code of its own, and
    the upgrade of every version below it."""
    numbers = version.split(".")
    following = ".".join(numbers[:-1] + [str(int(numbers[-1]) + 1)])
    copy = folder / f"lzs-unpack-{following}-x64.msi"
    shutil.copy(msi, copy)
    codes = [str(uuid.uuid5(uuid.NAMESPACE_URL, f"lzs-unpack test {what} {following}")).upper()
             for what in ("product", "package")]
    upgrade_code = subprocess.run(
        ["msiinfo", "export", str(copy), "Property"], capture_output=True, check=True,
        text=True).stdout.split("UpgradeCode\t", 1)[1].split()[0]
    for query in (
            f"UPDATE `Property` SET `Value` = '{following}' WHERE `Property` = 'ProductVersion'",
            f"UPDATE `Property` SET `Value` = '{{{codes[0]}}}' WHERE `Property` = 'ProductCode'",
            "DELETE FROM `Upgrade` WHERE `ActionProperty` = 'WIX_UPGRADE_DETECTED'",
            "INSERT INTO `Upgrade` (`UpgradeCode`, `VersionMax`, `Attributes`, `ActionProperty`) "
            f"VALUES ('{upgrade_code}', '{following}', 1, 'WIX_UPGRADE_DETECTED')"):
        subprocess.run(["msibuild", str(copy), "-q", query], check=True)
    subprocess.run(["msibuild", str(copy), "-s", "lzs-unpack", "", "x64;1033", f"{{{codes[1]}}}"],
                   check=True)
    return copy, following


class InstallerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls) -> None:
        cls.msi = Path(os.environ["LZS_MSI"])
        cls.version = os.environ["LZS_VERSION"]
        cls.packaging = Path(os.environ["LZS_WINDOWS_PACKAGING_DIR"])
        # Left by a failed run: this version, and the next one that the
        # upgrade rows install (its codes follow from its version).
        wine.work_path().mkdir(parents=True, exist_ok=True)
        with tempfile.TemporaryDirectory(dir=wine.work_path()) as temp:
            following, _ = next_version(cls.msi, cls.version, Path(temp))
            for msi in (following, cls.msi):
                wine_run("msiexec", "/x", wine.windows_path(msi), "/qn", check=False)
        shell = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders"
        local = value(registry([shell])[shell], shell, "Local AppData")[1]
        cls.folder = local + r"\Programs\lzs-unpack"

    def set_state(self, case: Case, folder: Path) -> None:
        owners = {long_key(CLASSES + r"\.lzs"): case.user_owner,
                  long_key(r"HKLM\Software\Classes\.lzs"): case.machine_owner}
        environment = f"[{long_key(ENVIRONMENT)}]"
        entries = [f"[-{key}]" for key in owners] + [environment, '"PATH"=-']
        for key, owner in owners.items():
            if owner:
                entries += [f"[{key}]", "@=" + reg_data(owner, "REG_SZ")]
        if case.path:
            entries += [environment, '"PATH"=' + reg_data(self.user_path(case), case.path[1])]
        reg_import(entries, folder)

    def user_path(self, case: Case) -> str:
        return case.path[0].format(folder=self.folder, FOLDER=self.folder.upper())

    def install(self, msi: Path) -> None:
        installed = wine_run("msiexec", "/i", wine.windows_path(msi), "/qn", check=False)
        self.assertEqual(installed.returncode, 0, installed.stderr[-2000:])

    def run_verb(self, command: str, folder: Path) -> None:
        """Runs the verb's command line, with %1 as Explorer gives it (the
        file's full path), on the sample, on an image of more than 8 MiB and
        on a damaged image: each whole one unpacked to NAME, the damaged
        one named in the message and no output left."""
        sample = (SOURCE / "samples" / "sample.lzs").read_bytes()
        rows = [("sample.lzs", sample, (SOURCE / "samples" / "sample.txt").read_bytes(), b""),
                ("large.lzs", literal_image(LARGE), LARGE, b""),
                ("cut.lzs", sample[:-1], None, b"cut short: the image is shorter than its header says")]
        program = command.split('"')[1]
        for name, image, unpacked, message in rows:
            (folder / name).write_bytes(image)
            path = wine.windows_path(folder / name)
            env = wine.wine_env()
            env.update(LZS_PROGRAM=program, LZS_COMMAND_LINE=command.replace("%1", path))
            result = wine_run(str(wine.launcher_path()), check=False, env=env, cwd=wine.work_path())
            output = folder / name.removesuffix(".lzs")
            if unpacked is None:
                self.assertEqual(result.stdout.strip(), b"exit code 1", name)
                self.assertIn(f"lzs: {path}: ".encode() + message, result.stderr, name)
                self.assertFalse(output.exists(), name)
            else:
                self.assertEqual(result.stdout.strip(), b"exit code 0", result.stderr[-2000:])
                self.assertEqual(output.read_bytes(), unpacked, name)

    def run_from_path(self, folder: Path) -> None:
        """lzs-unpack.exe by name, as the README gives it for a command prompt
        opened after installing: found through the user's PATH."""
        shutil.copy(SOURCE / "samples" / "sample.lzs", folder / "data.lzs")
        cmd = wine.prefix_path() / "drive_c" / "windows" / "system32" / "cmd.exe"
        result = wine.run_exe('cmd /c lzs-unpack.exe /D"data.lzs"', folder, program=cmd)
        self.assertEqual(result.exit_code, 0, result.output)
        self.assertEqual((folder / "data.lzs.DeLZS").read_bytes(),
                         (SOURCE / "samples" / "sample.txt").read_bytes())

    def our_files(self) -> list[str]:
        """The files and folders in the users' folders whose names hold lzs."""
        users = wine.prefix_path() / "drive_c" / "users"
        return sorted(str(p) for p in users.rglob("*") if "lzs" in p.name.lower())

    def test_install_verb_uninstall(self) -> None:
        for case in CASES:
            with self.subTest(case.name):
                folder = wine.work_path() / "installer" / case.name.replace(" ", "_")
                shutil.rmtree(folder, ignore_errors=True)
                folder.mkdir(parents=True)
                self.set_state(case, folder)
                before = registry(WATCHED)
                files_before = self.our_files()

                msi, version = self.msi, self.version
                self.install(msi)
                try:
                    if case.again:
                        self.install(msi)
                    if case.upgrade:
                        msi, version = next_version(self.msi, self.version, folder)
                        self.install(msi)
                    self.check_installed(case, version, folder)
                finally:
                    removed = wine_run("msiexec", "/x", wine.windows_path(msi), "/qn", check=False)
                self.assertEqual(removed.returncode, 0, removed.stderr[-2000:])

                after = registry(WATCHED + ENTRIES)
                self.assertEqual({key: after[key] for key in WATCHED}, before)
                self.assertEqual(product_entries(after), [])
                self.assertEqual(self.our_files(), files_before)
        self.set_state(CASES[0], wine.work_path() / "installer")

    def check_installed(self, case: Case, version: str, folder: Path) -> None:
        state = registry(WATCHED + ENTRIES)
        classes = state[CLASSES + r"\.lzs"]
        install_dir = value(state[WATCHED[0]], WATCHED[0], "InstallDir")[1]
        self.assertEqual(install_dir, self.folder + "\\")
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

        command = f'"{install_dir}lzs.exe" -d -- "%1"'
        verb = CLASSES + r"\SystemFileAssociations\.lzs\shell\Unpack"
        verbs = state[CLASSES + r"\SystemFileAssociations\.lzs"]
        self.assertEqual(value(verbs, verb), ("REG_SZ", "Unpack"))
        self.assertEqual(value(verbs, verb + r"\command"), ("REG_SZ", command))
        progid = CLASSES + "\\" + PROGID
        self.assertEqual(value(state[progid], progid + r"\shell"), ("REG_SZ", "Unpack"))
        self.assertEqual(value(state[progid], progid + r"\shell\Unpack\command"),
                         ("REG_SZ", command))
        self.assertIsNotNone(value(classes, CLASSES + r"\.lzs\OpenWithProgids", PROGID))
        owner = value(classes, CLASSES + r"\.lzs")
        self.assertEqual(owner and owner[1], case.owner_after)

        # The folder alone where the user had no PATH, else first on it.
        path = value(state[ENVIRONMENT], ENVIRONMENT, "PATH")
        if not case.path:
            self.assertEqual(path, ("REG_SZ", install_dir))
        elif case.adds_path:
            self.assertEqual(path, (case.path[1], install_dir + ";" + self.user_path(case)))
        else:
            self.assertEqual(path, (case.path[1], self.user_path(case)))

        [(_, entry)] = product_entries(state)
        self.assertEqual(entry["displayversion"], ("REG_SZ", version))
        size = sum(p.stat().st_size for p in target.iterdir())
        # Wine records ARPSIZE as Size; Windows as EstimatedSize.
        self.assertEqual(entry["size"], ("REG_SZ", str((size + 1023) // 1024)))
        [icon] = [values["producticon"][1] for key, values in state[PRODUCTS].items()
                  if "producticon" in values]
        self.assertEqual(icon_sizes(unix_path(icon).read_bytes()), [32, 16])

        self.run_verb(command, folder)
        self.run_from_path(folder)


if __name__ == "__main__":
    unittest.main()
