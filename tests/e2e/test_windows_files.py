"""The Windows files besides their code: every program and lzs.dll carry the
project's version, read back from the files; each program's manifest names
that version; the SDK's MSVC import library and .def give exactly the calls
that lzs.h declares, and a program linked with lzs.lib runs; and lzs-pack.exe, with the same UTF-8 manifest as
lzs.exe, packs a file whose name lies outside the system code page.

The file reading tests need no Wine: tools/ci/release.sh runs them on the
zip's files as well (VersionTest and SdkTest)."""

import os
import re
import shutil
import struct
import unittest
import xml.etree.ElementTree as ElementTree
from pathlib import Path

from test_release_exe import ASM_V1, RT_MANIFEST, RT_VERSION, version_strings
from wine import PeImage

VFT_APP, VFT_DLL = 1, 2
WINDOWS_SETTINGS_2019 = "{http://schemas.microsoft.com/SMI/2019/WindowsSettings}"
IMAGE_FILE_MACHINE_AMD64 = 0x8664
IMPORT_CODE = 0

# (environment variable naming the file, OriginalFilename, FileDescription,
# file type, manifest's assembly name or None for no manifest, active code
# page the manifest sets or None)
FILES = [
    ("LZS_EXE", "lzs-unpack.exe", "LZS file decompressor", VFT_APP, "lzs-unpack", None),
    ("LZS_CLI_EXE", "lzs.exe", "LZS packer and unpacker for many files", VFT_APP, "lzs", "UTF-8"),
    ("LZS_PACK_EXE", "lzs-pack.exe", "LZS file packer", VFT_APP, "lzs-pack", "UTF-8"),
    ("LZS_DLL", "lzs.dll", "LZS packing and unpacking library", VFT_DLL, None, None),
]


def header_calls() -> set[str]:
    """The calls lzs.h declares: every LZS_API function."""
    text = Path(os.environ["LZS_HEADER"]).read_text()
    return set(re.findall(r"^LZS_API\b[^(;]*?\b(lzs_\w+)\s*\(", text, re.M))


def archive_members(data: bytes) -> list[tuple[str, bytes]]:
    """The members of an ar archive (a .lib): (name field, contents)."""
    if not data.startswith(b"!<arch>\n"):
        raise ValueError("not an ar archive")
    members = []
    offset = 8
    while offset + 60 <= len(data):
        header = data[offset:offset + 60]
        if header[58:60] != b"`\n":
            raise ValueError(f"bad member header at {offset}")
        size = int(header[48:58])
        members.append((header[:16].decode("ascii").rstrip(), data[offset + 60:offset + 60 + size]))
        offset = (offset + 60 + size + 1) & ~1
    return members


def short_imports(data: bytes) -> list[tuple[int, int, str, str]]:
    """The import members of a Microsoft-style import library, in the short
    form that lib.exe writes: (machine, import type, symbol, DLL name) for
    each. The archive's symbol tables (members "/" and "//") and the import
    descriptor objects are skipped."""
    imports = []
    for name, member in archive_members(data):
        if name in ("/", "//"):
            continue
        sig1, sig2, _, machine = struct.unpack_from("<HHHH", member)
        if (sig1, sig2) != (0, 0xFFFF):
            continue  # an ordinary object: the import descriptor, the null thunk
        _, size, _, kind = struct.unpack_from("<IIHH", member, 8)
        symbol, dll = member[20:20 + size].split(b"\0")[:2]
        imports.append((machine, kind & 3, symbol.decode("ascii"), dll.decode("ascii")))
    return imports


class VersionTest(unittest.TestCase):
    def test_each_file_carries_the_version(self) -> None:
        version = os.environ["LZS_VERSION"]
        numbers = [int(n) for n in version.split(".")] + [0]
        fixed_numbers = (numbers[0] << 16 | numbers[1], numbers[2] << 16 | numbers[3])
        for variable, original, description, file_type, assembly, code_page in FILES:
            with self.subTest(original):
                image = PeImage(os.environ[variable])
                fixed, strings = version_strings(image.resource(RT_VERSION, 1))
                fields = struct.unpack_from("<10I", fixed)
                self.assertEqual(fields[0], 0xFEEF04BD)
                self.assertEqual(fields[2:4], fixed_numbers, "file version")
                self.assertEqual(fields[4:6], fixed_numbers, "product version")
                self.assertEqual(fields[9], file_type)
                self.assertEqual({key: strings.get(key) for key in
                                  ("FileVersion", "ProductVersion", "ProductName",
                                   "OriginalFilename", "FileDescription")},
                                 {"FileVersion": version, "ProductVersion": version,
                                  "ProductName": "lzs-unpack", "OriginalFilename": original,
                                  "FileDescription": description})
                self.assertRegex(strings.get("LegalCopyright", ""), r"^Copyright \(c\) \d{4} ")
                if assembly is None:
                    with self.assertRaises(KeyError):
                        image.resource(RT_MANIFEST, 1)
                    continue
                manifest = ElementTree.fromstring(image.resource(RT_MANIFEST, 1))
                identity = manifest.find(ASM_V1 + "assemblyIdentity")
                self.assertEqual((identity.get("name"), identity.get("version")),
                                 (assembly, version + ".0"))
                page = manifest.find(f".//{WINDOWS_SETTINGS_2019}activeCodePage")
                self.assertEqual(None if page is None else page.text, code_page)


class SdkTest(unittest.TestCase):
    def test_header_declares_calls(self) -> None:
        # Guards the reading of the header below: a pattern that found
        # nothing would make the other tests compare empty sets.
        self.assertIn("lzs_decode", header_calls())
        self.assertIn("lzs_version_string", header_calls())

    def test_import_library_gives_exactly_the_header_calls(self) -> None:
        imports = short_imports((Path(os.environ["LZS_SDK_LIB_DIR"]) / "lzs.lib").read_bytes())
        self.assertEqual(sorted(symbol for _, _, symbol, _ in imports), sorted(header_calls()))
        self.assertEqual({(machine, kind, dll) for machine, kind, _, dll in imports},
                         {(IMAGE_FILE_MACHINE_AMD64, IMPORT_CODE, "lzs.dll")})

    def test_def_file_exports_exactly_the_header_calls(self) -> None:
        text = (Path(os.environ["LZS_SDK_LIB_DIR"]) / "lzs.def").read_text()
        exports = re.findall(r"^\s+(\w+)", text.split("EXPORTS", 1)[1], re.M)
        self.assertEqual(sorted(exports), sorted(header_calls()))


# A program built against the SDK as its README says, linked with lzs.lib.
SDK_PROGRAM = r"""
#include <stdio.h>
#include <string.h>
#include <lzs.h>

int main(void) {
    static const char text[] = "ABCABCABCABCABCABC";
    unsigned char image[64], back[64];
    size_t size = lzs_encode(image, sizeof image, text, sizeof text, LZS_LEVEL_OPTIMAL);
    if (lzs_is_error(size)) return 1;
    size_t decoded = lzs_decode(back, sizeof back, image, size);
    if (lzs_is_error(decoded) || decoded != sizeof text || memcmp(back, text, decoded) != 0) return 2;
    printf("liblzs %s, %u bytes packed to %u\n", lzs_version_string(), (unsigned)decoded, (unsigned)size);
    return 0;
}
"""


class SdkLinkTest(unittest.TestCase):
    def test_a_program_linked_with_lzs_lib_runs(self) -> None:
        import subprocess
        import wine
        sdk_lib = Path(os.environ["LZS_SDK_LIB_DIR"])
        folder = wine.work_path() / "sdk_program"
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        (folder / "app.c").write_text(SDK_PROGRAM)
        subprocess.run(["x86_64-w64-mingw32-gcc", "-I", str(Path(os.environ["LZS_HEADER"]).parent),
                        "app.c", str(sdk_lib / "lzs.lib"), "-o", "app.exe"],
                       cwd=folder, check=True, capture_output=True)
        shutil.copy(os.environ["LZS_DLL"], folder / "lzs.dll")
        result = wine.run_console(folder / "app.exe", [], folder)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertRegex(result.stdout.decode("ascii"),
                         rf"^liblzs {re.escape(os.environ['LZS_VERSION'])}, 19 bytes packed to \d+\r\n$")


class CyrillicPackTest(unittest.TestCase):
    def test_lzs_pack_packs_a_name_outside_the_code_page(self) -> None:
        import wine
        name = "архив-文件.txt"
        folder = wine.work_path() / "lzs_pack_exe"
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        data = bytes(range(256)) * 40
        (folder / name).write_bytes(data)
        packed = wine.run_console(Path(os.environ["LZS_PACK_EXE"]), [name, "-o", name + ".lzs"], folder)
        self.assertEqual(packed.returncode, 0, packed.stderr.decode("utf-8", "replace"))
        unpacked = wine.run_console(Path(os.environ["LZS_CLI_EXE"]), ["-dc", name + ".lzs"], folder)
        self.assertEqual(unpacked.stdout, data)


if __name__ == "__main__":
    unittest.main()
