"""Runs the Python examples of python/README.md, of the project's README and
of docs/workbench.md as written: each document's in order, in one namespace
and in a fresh folder. Each print() must print what the comment at the end
of its line says, and no temporary file may be left."""
import contextlib
import io
import os
import pathlib
import re
import tempfile
import unittest

SOURCE_DIR = pathlib.Path(os.environ.get("LZS_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))
# Each document, and how many examples it has at least.
DOCUMENTS = [("python/README.md", 4), ("README.md", 1), ("docs/workbench.md", 4)]


def python_examples(document):
    text = (SOURCE_DIR / document).read_text(encoding="utf-8")
    return re.findall(r"^```python\n(.*?)^```", text, re.M | re.S)


class ReadmeExamples(unittest.TestCase):
    def test_examples_run_and_print_what_they_say(self):
        for document, least in DOCUMENTS:
            examples = python_examples(document)
            self.assertGreaterEqual(len(examples), least, document)
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
