"""Checks a release folder against the list of the files a release holds
(packaging/release-files.txt): every file listed is in the folder, every
package holds the files listed under it, SHA256SUMS gives the right sum of
every other file in the folder and names nothing else, and the folder holds
nothing the list does not name. Says each fault found; exit code 1 if any.

    check_release.py LIST FOLDER VERSION
"""

from __future__ import annotations

import fnmatch
import hashlib
import io
import subprocess
import sys
import tarfile
import zipfile
from pathlib import Path


def read_list(path: Path, version: str) -> dict[str, list[str]]:
    """The list's file patterns, each with the patterns of what it holds."""
    files: dict[str, list[str]] = {}
    current = None
    for number, line in enumerate(path.read_text().splitlines(), 1):
        text = line.split("#", 1)[0].rstrip().replace("@VERSION@", version)
        if not text:
            continue
        if text[0].isspace():
            if current is None:
                sys.exit(f"{path}:{number}: an indented line before any file")
            files[current].append(text.strip())
        else:
            current = text
            files[current] = []
    return files


def members(path: Path) -> list[str]:
    """The names of the files a package holds, without a leading ./."""
    name = path.name
    if name.endswith((".zip", ".whl")):
        with zipfile.ZipFile(path) as archive:
            names = archive.namelist()
    elif name.endswith(".deb"):
        data = subprocess.run(["dpkg-deb", "--fsys-tarfile", str(path)], check=True,
                              capture_output=True).stdout
        with tarfile.open(fileobj=io.BytesIO(data)) as archive:
            names = [member.name for member in archive.getmembers() if not member.isdir()]
    elif name.endswith((".tgz", ".tar.gz")):
        with tarfile.open(path) as archive:
            names = [member.name for member in archive.getmembers() if not member.isdir()]
    else:
        raise ValueError(f"{name}: no way to look inside")
    return [n.removeprefix("./") for n in names]


def check(listed: dict[str, list[str]], folder: Path) -> list[str]:
    faults = []
    present = sorted(p.name for p in folder.iterdir()) if folder.is_dir() else []
    for pattern, inside in listed.items():
        matches = fnmatch.filter(present, pattern)
        if not matches:
            faults.append(f"{pattern}: not in {folder}")
        for name in matches:
            if not inside:
                continue
            try:
                held = members(folder / name)
            except (OSError, ValueError, zipfile.BadZipFile, tarfile.TarError,
                    subprocess.CalledProcessError) as error:
                faults.append(f"{name}: cannot be read: {error}")
                continue
            faults += [f"{name}: holds no {member}" for member in inside
                       if not fnmatch.filter(held, member)]
    for name in present:
        if not any(fnmatch.fnmatch(name, pattern) for pattern in listed):
            faults.append(f"{folder / name}: not a file of the release")

    sums_file = folder / "SHA256SUMS"
    if sums_file.is_file():
        sums = {}
        for line in sums_file.read_text().splitlines():
            digest, _, name = line.partition("  ")
            sums[name] = digest
        for name in present:
            path = folder / name
            if name == "SHA256SUMS" or not path.is_file():
                continue
            if name not in sums:
                faults.append(f"SHA256SUMS: no line for {name}")
            elif hashlib.sha256(path.read_bytes()).hexdigest() != sums[name]:
                faults.append(f"SHA256SUMS: the sum of {name} is not its file's")
        faults += [f"SHA256SUMS: names {name}, which is not in the folder"
                   for name in sums if name not in present]
    return faults


def main() -> int:
    if len(sys.argv) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    list_path, folder, version = Path(sys.argv[1]), Path(sys.argv[2]), sys.argv[3]
    faults = check(read_list(list_path, version), folder)
    for fault in faults:
        print(f"release: {fault}", file=sys.stderr)
    if not faults:
        print(f"release: {folder} holds every file {list_path.name} lists")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
