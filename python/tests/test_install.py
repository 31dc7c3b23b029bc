"""Installs the module as its users do and uses it from a script outside the
tree: pip install --no-build-isolation of python/ from a copy of the tree, in
a venv of this Python with the system's site packages and no package index;
then the wheel the build made, in a venv of the python3 first on PATH when
that is another CPython of the same version."""
import glob
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import textwrap
import unittest

SOURCE_DIR = pathlib.Path(os.environ.get("LZS_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))
WHEEL = os.environ.get("LZS_WHEEL") or next(iter(glob.glob(str(SOURCE_DIR / "build/native/python/dist/*.whl"))), "")
# Nothing of the build's module may leak into the installed one's runs.
ENVIRONMENT = {key: value for key, value in os.environ.items() if not key.startswith("PYTHON")}
ENVIRONMENT["PIP_NO_INDEX"] = "1"
ENVIRONMENT["PIP_DISABLE_PIP_VERSION_CHECK"] = "1"

SCRIPT = textwrap.dedent("""\
    import os, sys
    import lzs
    assert lzs.__file__.startswith(sys.prefix), (lzs.__file__, sys.prefix)
    data = bytes(range(256)) * 300 + b"tail"
    with lzs.open("data.lzs", "wb") as out:
        out.write(data)
    with lzs.open("data.lzs", "rb") as packed:
        assert packed.read() == data
    blob = b"xx" + open("data.lzs", "rb").read() + lzs.compress(b"second", level=lzs.LEVEL_FAST)
    first = lzs.image_length(blob, 2)
    assert lzs.decompress(memoryview(blob)[2:2 + first]) == data
    second = memoryview(blob)[2 + first:]
    assert lzs.decompress(second[:lzs.image_length(second)]) == b"second"
    print(lzs.__version__, lzs.library_version())
    """)


def run(*command, cwd=None):
    return subprocess.run(command, cwd=cwd, env=ENVIRONMENT, check=True, capture_output=True, text=True).stdout


def python_facts(python):
    return run(python, "-c", "import sys; print(sys.executable, sys.version_info[:2])").split(" ", 1)


class Install(unittest.TestCase):
    def setUp(self):
        work = os.environ.get("LZS_TEST_WORK")
        if work:
            shutil.rmtree(work, ignore_errors=True)
            os.makedirs(work)
            self.work = pathlib.Path(work)
        else:
            folder = tempfile.TemporaryDirectory()
            self.addCleanup(folder.cleanup)
            self.work = pathlib.Path(folder.name)
        self.version = (SOURCE_DIR / "CMakeLists.txt").read_text().split("project(lzs_unpack VERSION ", 1)[1].split()[0]

    def use_outside(self, python):
        outside = self.work / f"outside-{pathlib.Path(python).parts[-3]}"
        outside.mkdir()
        (outside / "script.py").write_text(SCRIPT)
        self.assertEqual(run(python, "script.py", cwd=outside).split(), [self.version, self.version])

    def test_pip_install_from_the_tree(self):
        source = self.work / "src"
        shutil.copytree(SOURCE_DIR / "include", source / "include")
        shutil.copytree(SOURCE_DIR / "lzs", source / "lzs")
        shutil.copytree(SOURCE_DIR / "python", source / "python",
                        ignore=shutil.ignore_patterns("build", "*.egg-info", "__pycache__"))
        shutil.copy(SOURCE_DIR / "CMakeLists.txt", source / "CMakeLists.txt")
        venv = self.work / "debian-venv"
        run(sys.executable, "-m", "venv", "--system-site-packages", str(venv))
        run(str(venv / "bin/python"), "-m", "pip", "install", "-q", "--no-build-isolation", str(source / "python"))
        self.use_outside(str(venv / "bin/python"))

    def test_wheel_in_another_python_of_the_same_version(self):
        other = shutil.which("python3", path=ENVIRONMENT.get("PATH"))
        if other is None or not os.path.exists(WHEEL):
            self.skipTest("no python3 on PATH or no wheel built")
        executable, version = python_facts(other)
        if os.path.realpath(executable) == os.path.realpath(sys.executable) or version != python_facts(sys.executable)[1]:
            self.skipTest(f"python3 on PATH is {executable} {version.strip()}: not another CPython of this version")
        venv = self.work / "other-venv"
        run(executable, "-m", "venv", str(venv))
        run(str(venv / "bin/python"), "-m", "pip", "install", "-q", WHEEL)
        self.use_outside(str(venv / "bin/python"))


if __name__ == "__main__":
    unittest.main(verbosity=2)
