#!/usr/bin/env python3
"""Reads a zip back with Python's own zipfile and zlib, as a user's tools
would, and compares every entry with the file of the same relative path
under FOLDER:

- zipfile lists exactly the files under FOLDER, each once, and testzip()
  finds every CRC right;
- each entry reads back as its file's bytes, with zlib's CRC-32 of them;
- each deflated entry's raw data, cut from the archive at its local header,
  inflates with zlib alone to its file's bytes, ending exactly where the
  entry ends.

    python3 read_zip.py ZIP FOLDER
    python3 read_zip.py ZIP -       (each entry holds its name's last part)

Prints {"stored": N, "deflated": N, "zip64": N} (entries with a ZIP64
field) and exits 0, or prints what differs and exits 1.
"""
import json
import os
import struct
import sys
import zipfile
import zlib


def read_file(path):
    with open(path, "rb") as file:
        return file.read()


def main(path, folder):
    """FOLDER "-": each entry's bytes are its name's last component as
    text (the entry "12/345" holds b"345")."""
    expected = {}
    if folder == "-":
        with zipfile.ZipFile(path) as archive:
            for name in archive.namelist():
                expected[name] = name.rsplit("/", 1)[-1].encode()
    else:
        for root, _, files in os.walk(folder):
            for name in files:
                full = os.path.join(root, name)
                expected[os.path.relpath(full, folder).replace(os.sep, "/")] = full
    faults = []
    counts = {"stored": 0, "deflated": 0, "zip64": 0}
    with open(path, "rb") as raw, zipfile.ZipFile(path) as archive:
        infos = archive.infolist()
        names = [info.filename for info in infos]
        if sorted(names) != sorted(expected):
            faults.append(f"the entries differ from the files: {sorted(set(names) ^ set(expected))[:10]}")
        if len(set(names)) != len(names):
            faults.append("an entry is there twice")
        bad = archive.testzip()
        if bad is not None:
            faults.append(f"testzip: {bad} is damaged")
        for info in infos:
            if info.filename not in expected:
                continue
            want = expected[info.filename]
            if isinstance(want, str):
                want = read_file(want)
            if archive.read(info) != want or info.CRC != zlib.crc32(want):
                faults.append(f"{info.filename}: other bytes than the file's")
            if info.extra[:2] == b"\x01\x00":
                counts["zip64"] += 1
            if info.compress_type == zipfile.ZIP_STORED:
                counts["stored"] += 1
                continue
            counts["deflated"] += 1
            raw.seek(info.header_offset)
            header = raw.read(30)
            name_length, extra_length = struct.unpack("<HH", header[26:30])
            raw.seek(info.header_offset + 30 + name_length + extra_length)
            inflater = zlib.decompressobj(-zlib.MAX_WBITS)
            data = inflater.decompress(raw.read(info.compress_size)) + inflater.flush()
            if data != want or not inflater.eof or inflater.unused_data:
                faults.append(f"{info.filename}: its deflate stream does not inflate to the file's bytes alone")
    if faults:
        print("\n".join(faults[:20]))
        return 1
    print(json.dumps(counts))
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
