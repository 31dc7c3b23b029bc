"""What the released exe carries besides its code: the version resource, read
back from the file and compared with the project's version, the application
manifest, its imports, its size and a link time of zero."""

import os
import struct
import unittest
import xml.etree.ElementTree as ElementTree

from wine import PeImage, exe_path

RT_VERSION = 16
RT_MANIFEST = 24
ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPATIBILITY = "{urn:schemas-microsoft-com:compatibility.v1}"
WINDOWS_SETTINGS_2016 = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"
SUPPORTED_OS = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # Windows 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # Windows 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # Windows 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # Windows 10 and 11
}


def read_version_block(data: bytes, offset: int = 0):
    """One block of a VS_VERSIONINFO tree: (key, value bytes, children).
    Each block: length, value length, type (1: text, value length in
    UTF-16 units), a zero-ended UTF-16 key, the value and the children, each
    starting on a 4-byte boundary."""
    length, value_length, kind = struct.unpack_from("<HHH", data, offset)
    end = offset + length
    key_end = offset + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[offset + 6:key_end].decode("utf-16-le")
    value_start = (key_end + 2 + 3) & ~3
    value_size = value_length * 2 if kind == 1 else value_length
    value = data[value_start:value_start + value_size]
    children = []
    child = (value_start + value_size + 3) & ~3
    while child < end:
        block = read_version_block(data, child)
        children.append(block[:3])
        child = (child + block[3] + 3) & ~3
    return key, value, children, length


def version_strings(resource: bytes) -> tuple[bytes, dict[str, str]]:
    """The fixed part and the strings of the first string table."""
    key, fixed, children, _ = read_version_block(resource)
    if key != "VS_VERSION_INFO":
        raise ValueError(f"version resource starts with {key!r}")
    strings = {}
    for child_key, _, tables in children:
        if child_key == "StringFileInfo":
            for name, value, _ in tables[0][2]:
                strings[name] = value.decode("utf-16-le").rstrip("\0")
    return fixed, strings


class ReleaseExeTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.image = PeImage(exe_path())
        cls.version = os.environ["LZS_VERSION"]

    def test_fixed_version_is_the_project_version(self):
        fixed, _ = version_strings(self.image.resource(RT_VERSION, 1))
        (signature, _, file_ms, file_ls, product_ms, product_ls, _, _, os_kind,
         file_type) = struct.unpack_from("<10I", fixed)
        self.assertEqual(signature, 0xFEEF04BD)
        numbers = [int(n) for n in self.version.split(".")] + [0]
        expected = (numbers[0] << 16 | numbers[1], numbers[2] << 16 | numbers[3])
        self.assertEqual((file_ms, file_ls), expected)
        self.assertEqual((product_ms, product_ls), expected)
        self.assertEqual(os_kind, 0x40004)  # VOS_NT_WINDOWS32
        self.assertEqual(file_type, 1)  # VFT_APP

    def test_version_strings(self):
        _, strings = version_strings(self.image.resource(RT_VERSION, 1))
        for name, expected in (("ProductName", "lzs-unpack"),
                               ("FileVersion", self.version),
                               ("ProductVersion", self.version),
                               ("OriginalFilename", "lzs-unpack.exe"),
                               ("FileDescription", "LZS file decompressor")):
            with self.subTest(name=name):
                self.assertEqual(strings.get(name), expected)
        self.assertRegex(strings.get("LegalCopyright", ""), r"^Copyright \(c\) \d{4} ")

    def test_manifest(self):
        manifest = ElementTree.fromstring(self.image.resource(RT_MANIFEST, 1))
        identity = manifest.find(ASM_V1 + "assemblyIdentity")
        self.assertEqual(identity.get("version"), self.version + ".0")
        level = manifest.find(f".//{ASM_V3}requestedExecutionLevel")
        self.assertEqual(level.get("level"), "asInvoker")
        self.assertEqual({e.get("Id") for e in manifest.iter(COMPATIBILITY + "supportedOS")},
                         SUPPORTED_OS)
        self.assertEqual(manifest.find(f".//{WINDOWS_SETTINGS_2016}longPathAware").text, "true")
        # File names come in the system's code page (CreateFileA on the
        # command line as typed): no code page may be forced on the process.
        self.assertEqual([e.tag for e in manifest.iter() if e.tag.endswith("activeCodePage")], [])

    def test_imports_size_and_link_time(self):
        self.assertEqual({library.upper() for library, _ in self.image.imports()},
                         {"KERNEL32.DLL", "USER32.DLL"})
        self.assertLess(len(self.image.data), 16 * 1024)
        self.assertEqual(self.image.timestamp, 0)


if __name__ == "__main__":
    unittest.main()
