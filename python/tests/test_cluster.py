"""The script of docs/cluster.md as written, on a local Dask cluster of two
worker processes: a tree of a few hundred images made here, some damaged,
unpacked and tested. Every output must hold what its image was packed from,
every failure must be reported with the words lzs.open gives for it (the
module's words for a file read in pieces), and nothing may be written but
complete outputs."""
import io
import json
import os
import pathlib
import random
import re
import subprocess
import sys
import tempfile
import unittest

import lzs

SOURCE_DIR = pathlib.Path(os.environ.get("LZS_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))
IMAGES = 200


def script() -> str:
    """The one Python block of docs/cluster.md."""
    text = (SOURCE_DIR / "docs" / "cluster.md").read_text(encoding="utf-8")
    [block] = re.findall(r"^```python\n(.*?)^```", text, re.M | re.S)
    return block


def make_tree(tree: pathlib.Path) -> dict[str, bytes | str]:
    """IMAGES files NAME.lzs in nested folders; returns for each its path
    (relative to tree) and what unpacking gives: the bytes, or the error's
    words. One in ten is damaged, in turn each way an image can be."""
    chance = random.Random(40)
    damage = [
        ("cut short", lambda image: image[:-1 - chance.randrange(len(image) - 5)]),
        ("bytes after the end", lambda image: image + b"NEXT"),
        ("junk", lambda image: chance.randbytes(len(image))),
        ("a header of 0", lambda image: bytes(4) + image[4:]),
        ("empty", lambda image: b""),
    ]
    expected = {}
    for k in range(IMAGES):
        name = f"set{k % 7}/part{k % 3}/file{k:03}.lzs"
        words = b" ".join(chance.choice([b"map", b"tile", b"unit", b"sound"]) for _ in range(chance.randrange(1, 4000)))
        image = lzs.compress(words + chance.randbytes(chance.randrange(64)), level=lzs.LEVEL_FAST)
        if k % 10 == 3:
            image = damage[(k // 10) % len(damage)][1](image)
        (tree / name).parent.mkdir(parents=True, exist_ok=True)
        (tree / name).write_bytes(image)
        try:
            with lzs.open(io.BytesIO(image)) as source:
                expected[name] = source.read()
        except lzs.LzsError as error:
            expected[name] = str(error)
    return expected


class ClusterScript(unittest.TestCase):
    def run_script(self, folder: pathlib.Path, *args: str) -> tuple[int, list[dict], str]:
        program = folder / "lzs_cluster.py"
        program.write_text(script(), encoding="utf-8")
        # The workers are processes of their own: each imports lzs itself.
        result = subprocess.run([sys.executable, str(program), "--workers", "2", *args], cwd=folder,
                                capture_output=True, text=True, timeout=600)
        return result.returncode, [json.loads(line) for line in result.stdout.splitlines()], result.stderr

    def check_results(self, results: list[dict], tree: pathlib.Path, expected: dict) -> None:
        by_file = {str(pathlib.Path(r["file"]).relative_to(tree)): r for r in results}
        self.assertEqual(len(results), len(expected), "one result per file")
        self.assertEqual(sorted(by_file), sorted(expected))
        for name, want in expected.items():
            with self.subTest(name):
                result = by_file[name]
                if isinstance(want, bytes):
                    self.assertEqual((result["ok"], result["size"]), (True, len(want)))
                else:
                    self.assertEqual((result["ok"], result["error"]), (False, want))

    def test_unpack_and_test_a_tree(self) -> None:
        with tempfile.TemporaryDirectory() as temp:
            folder = pathlib.Path(temp)
            tree, out = folder / "images", folder / "unpacked"
            expected = make_tree(tree)
            failures = sum(not isinstance(want, bytes) for want in expected.values())
            self.assertEqual(failures, IMAGES // 10)
            before = {p: p.read_bytes() for p in tree.rglob("*") if p.is_file()}

            # --test: the same verdicts, nothing written anywhere.
            code, results, err = self.run_script(folder, "--test", str(tree))
            self.assertEqual(code, 1, err)
            self.check_results(results, tree, expected)
            self.assertIn(f"{IMAGES} files tested, {failures} failed", err)
            self.assertFalse(out.exists())

            # An output already there is kept, and its file fails.
            [(kept, _)] = [(name, want) for name, want in expected.items() if name.endswith("file000.lzs")]
            (out / kept).parent.mkdir(parents=True)
            (out / kept[:-4]).write_bytes(b"the user's own")
            code, results, err = self.run_script(folder, str(tree), str(out))
            self.assertEqual(code, 1, err)
            expected[kept] = f"File exists: {out / kept[:-4]}"
            self.check_results(results, tree, expected)
            self.assertIn(f"{IMAGES} files unpacked, {failures + 1} failed", err)

            # Every output whole, none for a failure, nothing else written,
            # the images as they were.
            made = {str(p.relative_to(out)) for p in out.rglob("*") if p.is_file()}
            self.assertEqual(made, {name[:-4] for name, want in expected.items() if isinstance(want, bytes)}
                             | {kept[:-4]})
            for name, want in expected.items():
                if isinstance(want, bytes):
                    self.assertEqual((out / name[:-4]).read_bytes(), want, name)
            self.assertEqual((out / kept[:-4]).read_bytes(), b"the user's own")
            self.assertEqual({p: p.read_bytes() for p in tree.rglob("*") if p.is_file()}, before)


if __name__ == "__main__":
    unittest.main(verbosity=2)
