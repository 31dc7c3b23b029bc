"""What the Debian packages add around the programs, checked from the
sources in the packaging folder (first argument): the bash completion of
lzs, lzscat and unlzs, and the man pages' SEE ALSO sections."""

from __future__ import annotations

import re
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

PACKAGING = Path()

# The folder each completion runs in.
FILES = ["a.lzs", "B.LZS", "c.LzS", "notes.txt", "x.foo", "y.FOO", "lzs"]
FOLDERS = ["sub", "more.lzs.d"]
IMAGES = {"a.lzs", "B.LZS", "c.LzS", *FOLDERS}
FOO = {"x.foo", "y.FOO", *FOLDERS}
DEFAULT = set()  # nothing offered: bash's own file name completion follows

# (what, the words typed so far, the last being the one completed, what is offered)
COMPLETIONS = [
    ("-d offers images and folders", ["lzs", "-d", ""], IMAGES),
    ("--decompress", ["lzs", "--decompress", ""], IMAGES),
    ("--uncompress", ["lzs", "--uncompress", ""], IMAGES),
    ("-t", ["lzs", "-t", ""], IMAGES),
    ("--test", ["lzs", "--test", ""], IMAGES),
    ("-l", ["lzs", "-l", ""], IMAGES),
    ("--list", ["lzs", "--list", ""], IMAGES),
    ("lzscat", ["lzscat", ""], IMAGES),
    ("unlzs from a path", ["/usr/bin/unlzs", ""], IMAGES),
    ("-d among short options", ["lzs", "-kd", ""], IMAGES),
    ("-d before other names", ["lzs", "-d", "a.lzs", "-v", ""], IMAGES),
    ("images starting with what is typed", ["lzs", "-d", "a"], {"a.lzs"}),
    ("-d after --", ["lzs", "-d", "--", ""], IMAGES),
    ("-S SUF", ["lzs", "-d", "-S", ".foo", ""], FOO),
    ("-SSUF", ["lzs", "-d", "-S.foo", ""], FOO),
    ("-S among short options", ["lzs", "-dS", ".FOO", ""], FOO),
    ("--suffix SUF", ["lzs", "-d", "--suffix", ".foo", ""], FOO),
    ("--suffix=SUF, split by bash", ["lzs", "-d", "--suffix", "=", ".foo", ""], FOO),
    ("--suffix before -d", ["lzs", "--suffix", ".foo", "-t", ""], FOO),
    ("packing offers every file", ["lzs", ""], DEFAULT),
    ("-z after -d packs", ["lzs", "-d", "-z", ""], DEFAULT),
    ("lzs-pack offers every file", ["lzs-pack", ""], DEFAULT),
    ("the name after -o is any name", ["lzs", "-d", "-o", ""], DEFAULT),
    ("the name after --output= is any name", ["lzs", "-d", "--output", "=", ""], DEFAULT),
    ("the number after -T", ["lzs", "-d", "-T", ""], DEFAULT),
    ("the suffix after -S", ["lzs", "-d", "-S", ""], DEFAULT),
    ("the suffix after -dS", ["lzs", "-dS", ""], DEFAULT),
    ("a word after -o is not the suffix", ["lzs", "-d", "-o", "-S", ""], IMAGES),
    ("options", ["lzs", "-d", "--de"], {"--decompress"}),
]

# Every page of the programs and the library; each names all the others.
PAGES = {"lzs-unpack.1", "lzs-pack.1", "lzs.1", "lzs.3"}


def complete(words: list[str], folder: str) -> set[str]:
    """What the completion offers for the last word: COMPREPLY, as bash
    fills it when Tab is pressed after words."""
    function = "_lzs_pack" if words[0] == "lzs-pack" else "_lzs"
    script = (f'source "$1"; cd "$2"; COMP_WORDS=("${{@:3}}"); COMP_CWORD={len(words) - 1}; '
              f'{function}; printf "%s\\n" "${{COMPREPLY[@]}}"')
    out = subprocess.run(["bash", "-c", script, "bash", str(PACKAGING / "bash-completion" / "lzs"),
                          folder, *words], capture_output=True, text=True, check=True).stdout
    return set(out.split("\n")) - {""}


def shown(page: Path) -> Path:
    """The page that man shows for page: itself, or the one its .so names."""
    text = page.read_text()
    return PACKAGING / "man" / Path(text.split()[1]).name if text.startswith(".so ") else page


def see_also(page: Path) -> set[str]:
    """The pages a man page's SEE ALSO section names, as NAME.SECTION."""
    section = re.split(r'^\.SH "?SEE ALSO"?$', page.read_text(), flags=re.M)[1].split("\n.SH")[0]
    return {f"{name.replace(chr(92), '')}.{number}"
            for name, number in re.findall(r"^\.BR (\S+) \((\d)\)", section, flags=re.M)}


class Packaging(unittest.TestCase):
    def test_completion(self):
        with tempfile.TemporaryDirectory() as folder:
            for name in FILES:
                Path(folder, name).write_bytes(b"")
            for name in FOLDERS:
                Path(folder, name).mkdir()
            for what, words, offered in COMPLETIONS:
                with self.subTest(what, words=words):
                    self.assertEqual(complete(words, folder), offered)

    def test_see_also(self):
        pages = sorted((PACKAGING / "man").iterdir())
        self.assertLessEqual(PAGES, {page.name for page in pages})
        for page in pages:
            with self.subTest(page.name):
                page = shown(page)
                named = see_also(page)
                self.assertFalse(PAGES - {page.name} - named, f"{page.name} names only {sorted(named)}")

if __name__ == "__main__":
    PACKAGING = Path(sys.argv.pop(1))
    unittest.main()
