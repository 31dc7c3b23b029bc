"""The release check (tools/release/check_release.py, first argument) on a
small release made here, whole and with one fault per table row: each fault
is reported, and a whole release passes."""

from __future__ import annotations

import hashlib
import importlib.util
import io
import subprocess
import sys
import tarfile
import tempfile
import unittest
import zipfile
from pathlib import Path

check_release = None

LIST = """\
# a comment
SHA256SUMS
page.html
pack-@VERSION@.zip
    a.txt
    sdk/*.h
pack-@VERSION@.tgz
    package/c.txt
tool_@VERSION@_amd64.deb
    usr/bin/tool
lib-*.whl
    d.txt
"""


def zip_of(names: list[str]) -> bytes:
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w") as archive:
        for name in names:
            archive.writestr(name, name)
    return out.getvalue()


def tgz_of(names: list[str]) -> bytes:
    out = io.BytesIO()
    with tarfile.open(fileobj=out, mode="w:gz") as archive:
        for name in names:
            info = tarfile.TarInfo(name)
            info.size = len(name)
            archive.addfile(info, io.BytesIO(name.encode()))
    return out.getvalue()


def deb_of(names: list[str], work: Path) -> bytes:
    tree = work / "deb"
    (tree / "DEBIAN").mkdir(parents=True)
    (tree / "DEBIAN/control").write_text("Package: tool\nVersion: 2.0\nArchitecture: amd64\n"
                                         "Maintainer: a <a@example.org>\nDescription: t\n")
    for name in names:
        (tree / name).parent.mkdir(parents=True, exist_ok=True)
        (tree / name).write_text(name)
    subprocess.run(["dpkg-deb", "--root-owner-group", "-b", str(tree), str(work / "out.deb")],
                   check=True, capture_output=True)
    return (work / "out.deb").read_bytes()


def release(folder: Path, work: Path) -> None:
    """A whole release of the list above, version 2.0."""
    files = {
        "page.html": b"<html>",
        "pack-2.0.zip": zip_of(["a.txt", "sdk/lzs.h"]),
        "pack-2.0.tgz": tgz_of(["package/c.txt"]),
        "tool_2.0_amd64.deb": deb_of(["usr/bin/tool"], work),
        "lib-cp311.whl": zip_of(["d.txt"]),
    }
    for name, data in files.items():
        (folder / name).write_bytes(data)
    (folder / "SHA256SUMS").write_text("".join(
        f"{hashlib.sha256(data).hexdigest()}  {name}\n" for name, data in sorted(files.items())))


def sums_edited(old: str, new: str):
    def edit(folder: Path) -> None:
        sums = folder / "SHA256SUMS"
        sums.write_text(sums.read_text().replace(old, new))
    return edit


def replaced(name: str, data: bytes):
    def edit(folder: Path) -> None:
        (folder / name).write_bytes(data)
    return edit


# (what, the change to a whole release, the faults reported)
CASES = [
    ("a whole release", lambda folder: None, []),
    ("a file missing", lambda folder: (folder / "page.html").unlink(),
     ["page.html: not in FOLDER", "SHA256SUMS: names page.html, which is not in the folder"]),
    ("no file for a pattern", lambda folder: (folder / "lib-cp311.whl").unlink(),
     ["lib-*.whl: not in FOLDER", "SHA256SUMS: names lib-cp311.whl, which is not in the folder"]),
    ("no SHA256SUMS", lambda folder: (folder / "SHA256SUMS").unlink(), ["SHA256SUMS: not in FOLDER"]),
    ("a zip without a listed file", replaced("pack-2.0.zip", zip_of(["a.txt"])),
     ["pack-2.0.zip: holds no sdk/*.h", "SHA256SUMS: the sum of pack-2.0.zip is not its file's"]),
    ("a tarball without a listed file", replaced("pack-2.0.tgz", tgz_of(["c.txt"])),
     ["pack-2.0.tgz: holds no package/c.txt",
      "SHA256SUMS: the sum of pack-2.0.tgz is not its file's"]),
    ("a package that does not open", replaced("lib-cp311.whl", b"not a zip"),
     ["lib-cp311.whl: cannot be read: File is not a zip file",
      "SHA256SUMS: the sum of lib-cp311.whl is not its file's"]),
    ("a file no line names", replaced("notes.txt", b""),
     ["FOLDER/notes.txt: not a file of the release", "SHA256SUMS: no line for notes.txt"]),
    ("a folder no line names", lambda folder: (folder / "_CPack_Packages").mkdir(),
     ["FOLDER/_CPack_Packages: not a file of the release"]),
    ("SHA256SUMS without a file", sums_edited("  page.html\n", "  other.html\n"),
     ["SHA256SUMS: no line for page.html",
      "SHA256SUMS: names other.html, which is not in the folder"]),
    ("SHA256SUMS with a wrong sum", sums_edited("  page.html", "0  page.html"),
     ["SHA256SUMS: the sum of page.html is not its file's"]),
]


class CheckRelease(unittest.TestCase):
    def test_faults(self):
        for what, change, expected in CASES:
            with self.subTest(what), tempfile.TemporaryDirectory() as temp:
                folder = Path(temp, "packages")
                folder.mkdir()
                release(folder, Path(temp))
                change(folder)
                (Path(temp) / "list").write_text(LIST)
                faults = check_release.check(check_release.read_list(Path(temp) / "list", "2.0"), folder)
                self.assertEqual(sorted(faults), sorted(f.replace("FOLDER", str(folder)) for f in expected))


if __name__ == "__main__":
    module_spec = importlib.util.spec_from_file_location("check_release", sys.argv.pop(1))
    check_release = importlib.util.module_from_spec(module_spec)
    module_spec.loader.exec_module(check_release)
    unittest.main()
