"""The Python packages as their users get them, from the folder the build
puts them in (LZS_PYTHON_DIST; the release copies that folder):

- each wheel: what its extension needs of the system (libc alone, at
  symbol versions its manylinux tag allows), stripped, its licence and
  metadata;
- each interpreter of the matrix (LZS_TEST_PYTHONS, a PATH-style list; the
  versions are those the wheels' classifiers name): pip in a fresh venv
  picks the right wheel from the folder, and the module's tests pass with
  it. An interpreter that is not there is skipped, with a message;
- the source package, unpacked outside the tree, built and installed by pip
  into a venv of this Python with the system's site packages (setuptools).
"""
import concurrent.futures
import email.parser
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tarfile
import tempfile
import textwrap
import unittest
import zipfile

HERE = pathlib.Path(__file__).resolve().parent
SOURCE_DIR = pathlib.Path(os.environ.get("LZS_SOURCE_DIR", HERE.parents[1]))
DIST = pathlib.Path(os.environ.get("LZS_PYTHON_DIST", SOURCE_DIR / "build/native/python/dist"))
PYTHONS = [path for path in os.environ.get("LZS_TEST_PYTHONS", "").split(os.pathsep) if path]
MODULE_TESTS = ["test_module", "test_stream", "test_files", "test_workbench"]
# The installed module must be the one used: nothing of the build's.
ENVIRONMENT = {key: value for key, value in os.environ.items() if not key.startswith("PYTHON")}
ENVIRONMENT.update(PIP_NO_INDEX="1", PIP_DISABLE_PIP_VERSION_CHECK="1", PYTHONDONTWRITEBYTECODE="1")


def run(*command, cwd=None):
    result = subprocess.run([str(part) for part in command], cwd=cwd, env=ENVIRONMENT,
                            capture_output=True, text=True, timeout=600)
    if result.returncode != 0:
        raise AssertionError(f"{' '.join(map(str, command))} failed:\n{result.stdout}{result.stderr}")
    return result.stdout


def wheels():
    return sorted(DIST.glob("*.whl"))


def wheel_metadata(wheel):
    with zipfile.ZipFile(wheel) as archive:
        name = next(name for name in archive.namelist() if name.endswith(".dist-info/METADATA"))
        return email.parser.BytesParser().parsebytes(archive.read(name))


def python_versions():
    """The versions the wheels say they are for, from their classifiers."""
    classifiers = wheel_metadata(wheels()[0]).get_all("Classifier")
    return [c.rsplit(" ", 1)[1] for c in classifiers if re.fullmatch(r"Programming Language :: Python :: 3\.\d+", c)]


def expected_tag(version):
    """The Python and ABI tags of the wheel for a Python version."""
    minor = int(version.split(".")[1])
    return f"cp3{minor}-cp3{minor}" if minor < 11 else "cp311-abi3"


def work_folder(test):
    folder = tempfile.TemporaryDirectory(dir=os.environ.get("LZS_TEST_WORK_ROOT"))
    test.addCleanup(folder.cleanup)
    return pathlib.Path(folder.name)


def glibc_version(text):
    return tuple(int(part) for part in text.split("."))


@unittest.skipUnless(wheels(), f"no wheel in {DIST}")
class Wheels(unittest.TestCase):
    def test_each_extension_needs_libc_alone_at_versions_its_tag_allows(self):
        for wheel in wheels():
            with self.subTest(wheel.name):
                tag = re.search(r"-manylinux_(\d+)_(\d+)_\w+\.whl$", wheel.name)
                self.assertIsNotNone(tag, "no manylinux platform tag")
                folder = work_folder(self)
                with zipfile.ZipFile(wheel) as archive:
                    extensions = [name for name in archive.namelist() if name.endswith(".so")]
                    self.assertEqual(len(extensions), 1)
                    extension = archive.extract(extensions[0], folder)
                dynamic = run("readelf", "-d", extension)
                # libc, and the dynamic loader where the extension takes a
                # symbol of its own (the stack protector's guard on arm64): both are
                # on every system the manylinux tag allows.
                needed = re.findall(r"\(NEEDED\).*\[(.*)\]", dynamic)
                self.assertEqual(needed[0], "libc.so.6")
                self.assertLessEqual(set(needed),
                                     {"libc.so.6", "ld-linux-x86-64.so.2", "ld-linux-aarch64.so.1"})
                self.assertNotRegex(dynamic, r"RPATH|RUNPATH")
                symbols = run("objdump", "-T", extension)
                self.assertNotRegex(symbols, r"GLIBCXX|CXXABI|GCC_")
                exported = re.findall(r"^\S+ g\s+DF \.text\s.*\s(\w+)$", symbols, re.M)
                self.assertEqual(exported, ["PyInit__lzs"])
                needed = max(map(glibc_version, re.findall(r"\bGLIBC_([\d.]+)", symbols)))
                self.assertLessEqual(needed, (int(tag[1]), int(tag[2])), f"needs GLIBC {needed}")
                sections = run("readelf", "-S", "-W", extension)
                self.assertNotRegex(sections, r"\.symtab|\.debug_", "not stripped")

    def test_names_metadata_and_licence(self):
        version = os.environ.get("LZS_VERSION") or wheel_metadata(wheels()[0])["Version"]
        self.assertTrue((DIST / f"lzs-{version}.tar.gz").is_file())
        tags = {re.fullmatch(rf"lzs-{re.escape(version)}-(.*)-manylinux_2_\d+_\w+\.whl", path.name)[1]
                for path in wheels()}
        expected = {expected_tag(version) for version in python_versions()}
        self.assertLessEqual(tags, expected)
        for tag in sorted(expected - tags):
            with self.subTest(tag):
                self.skipTest(f"no {tag} wheel: the build found no Python to make it")
        licence = (SOURCE_DIR / "LICENSE").read_bytes()
        for wheel in wheels():
            with self.subTest(wheel.name), zipfile.ZipFile(wheel) as archive:
                self.assertEqual(archive.read(f"lzs-{version}.dist-info/LICENSE"), licence)
                self.assertFalse([name for name in archive.namelist() if name.endswith(".cpp")])
                metadata = wheel_metadata(wheel)
                self.assertEqual((metadata["Name"], metadata["Version"]), ("lzs", version))
                self.assertGreater(len(metadata["Summary"]), 20)
                self.assertEqual(metadata["Requires-Python"], f">={python_versions()[0]}")
                self.assertIn("License :: OSI Approved :: MIT License", metadata.get_all("Classifier"))
                self.assertIn("# lzs", metadata.get_payload())  # python/README.md
        self.assertEqual(python_versions()[:4], ["3.8", "3.9", "3.10", "3.11"])


def install_and_test(python, folder):
    """Installs lzs from DIST with pip into a new venv of python, in folder,
    and runs the module's tests with it; returns the tag of the wheel pip
    installed."""
    venv = folder / "venv"
    run(python, "-m", "venv", venv)
    python = venv / "bin/python"
    run(python, "-m", "pip", "install", "-q", "--find-links", DIST, "lzs")
    installed = run(python, "-c", textwrap.dedent("""\
        import importlib.metadata, lzs, sys
        assert lzs.__file__.startswith(sys.prefix), lzs.__file__
        print(next(line for line in importlib.metadata.distribution("lzs").read_text("WHEEL")
                   .splitlines() if line.startswith("Tag: ")))"""), cwd=venv)
    run(python, "-m", "unittest", "-q", *MODULE_TESTS, cwd=HERE)
    return installed.split()[1].rsplit("-", 1)[0]


@unittest.skipUnless(wheels(), f"no wheel in {DIST}")
class Matrix(unittest.TestCase):
    def test_each_python_installs_its_wheel_and_passes_the_module_tests(self):
        found = {}
        for python in PYTHONS:
            found.setdefault(run(python, "-c", "import sys; print('%d.%d' % sys.version_info[:2])").strip(), python)
        with concurrent.futures.ThreadPoolExecutor(2) as pool:
            results = {version: pool.submit(install_and_test, python, work_folder(self))
                       for version, python in found.items()}
            for version in python_versions():
                with self.subTest(python=version):
                    if version not in found:
                        self.skipTest(f"no Python {version} here (CMake looks for python{version}, "
                                      f"on PATH and in pyenv's versions)")
                    self.assertEqual(results[version].result(), expected_tag(version))


class SourcePackage(unittest.TestCase):
    def test_builds_and_installs_outside_the_tree(self):
        packages = sorted(DIST.glob("lzs-*.tar.gz"))
        if not packages:
            self.skipTest(f"no source package in {DIST}")
        work = work_folder(self)
        with tarfile.open(packages[0]) as archive:
            archive.extractall(work)
        source = next(work.glob("lzs-*"))
        venv = work / "venv"
        run(sys.executable, "-m", "venv", "--system-site-packages", venv)
        run(venv / "bin/python", "-m", "pip", "install", "-q", "--no-build-isolation", source)
        shutil.rmtree(source)
        script = textwrap.dedent("""\
            import importlib.metadata, sys
            import lzs
            assert lzs.__file__.startswith(sys.prefix), (lzs.__file__, sys.prefix)
            data = bytes(range(256)) * 300 + b"tail"
            with lzs.open("data.lzs", "wb") as out:
                out.write(data)
            with lzs.open("data.lzs", "rb") as packed:
                assert packed.read() == data
            print(importlib.metadata.version("lzs"), lzs.__version__, lzs.library_version())
            """)
        version = wheel_metadata(wheels()[0])["Version"] if wheels() else lzs_header_version()
        self.assertEqual(run(venv / "bin/python", "-c", script, cwd=work).split(), [version] * 3)


def lzs_header_version():
    header = (SOURCE_DIR / "include/lzs.h").read_text()
    return ".".join(re.search(rf"#define LZS_VERSION_{part} (\d+)", header)[1] for part in ("MAJOR", "MINOR", "PATCH"))


if __name__ == "__main__":
    unittest.main(verbosity=2)
