"""Runs the Python examples of the README as written, in
order, in one namespace and in a fresh folder; each print() must print what
the comment at the end of its line says."""
import contextlib
import io
import os
import pathlib
import re
import tempfile
import unittest

SOURCE_DIR = pathlib.Path(os.environ.get("LZS_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))


def python_examples():
    readme = (SOURCE_DIR / "README.md").read_text(encoding="utf-8")
    return re.findall(r"^```python\n(.*?)^```", readme, re.M | re.S)


class ReadmeExamples(unittest.TestCase):
    def test_examples_run_and_print_what_they_say(self):
        examples = python_examples()
        self.assertGreaterEqual(len(examples), 1)
        namespace = {}
        with tempfile.TemporaryDirectory() as folder:
            cwd = os.getcwd()
            os.chdir(folder)
            try:
                for number, example in enumerate(examples, 1):
                    with self.subTest(example=number):
                        printed = io.StringIO()
                        with contextlib.redirect_stdout(printed):
                            exec(compile(example, f"README example {number}", "exec"), namespace)
                        expected = re.findall(r"^\s*print\(.*\)\s+# (.*)$", example, re.M)
                        self.assertEqual(printed.getvalue().splitlines(), expected)
                self.assertEqual(sorted(os.listdir(folder)), ["notes.lzs"])
            finally:
                os.chdir(cwd)


if __name__ == "__main__":
    unittest.main(verbosity=2)
