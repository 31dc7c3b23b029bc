"""Runs the Python examples of python/README.md, and those of the project
README's "Python" section, as written: each document's in order, in one
namespace and in a fresh folder. Each print() must print what the comment
at the end of its line says, and no temporary file may be left."""
import contextlib
import io
import os
import pathlib
import re
import tempfile
import unittest

SOURCE_DIR = pathlib.Path(os.environ.get("LZS_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))


def python_examples(text):
    return re.findall(r"^```python\n(.*?)^```", text, re.M | re.S)


DOCUMENTS = [
    ("python/README.md", (SOURCE_DIR / "python/README.md").read_text(encoding="utf-8")),
    ("README.md, Python", re.search(r"^## Python\n(.*?)^## ",
                                    (SOURCE_DIR / "README.md").read_text(encoding="utf-8"), re.M | re.S)[1]),
]


class ReadmeExamples(unittest.TestCase):
    def test_examples_run_and_print_what_they_say(self):
        for document, text in DOCUMENTS:
            examples = python_examples(text)
            self.assertGreaterEqual(len(examples), 4, document)
            namespace = {}
            with tempfile.TemporaryDirectory() as folder:
                cwd = os.getcwd()
                os.chdir(folder)
                try:
                    for number, example in enumerate(examples, 1):
                        with self.subTest(document, example=number):
                            printed = io.StringIO()
                            with contextlib.redirect_stdout(printed):
                                exec(compile(example, f"{document} example {number}", "exec"), namespace)
                            expected = re.findall(r"^\s*print\(.*\)\s+# (.*)$", example, re.M)
                            self.assertEqual(printed.getvalue().splitlines(), expected)
                    self.assertEqual([name for name in os.listdir(folder) if name.startswith(".")], [])
                finally:
                    os.chdir(cwd)


if __name__ == "__main__":
    unittest.main(verbosity=2)
