"""Builds the lzs module from this source tree.

The extension is _lzs.cpp over liblzs's C interface (../include/lzs.h),
with the library's own sources (../lzs/*.cpp) compiled into it, so the
installed module needs no liblzs.so.1. The version is the project's one,
read from ../CMakeLists.txt. Only an in-tree build is supported: this folder
must sit in the lzs-unpack tree.
"""
import os
import re

from setuptools import Extension, setup

here = os.path.dirname(os.path.abspath(__file__))
root = os.path.dirname(here)


def project_version():
    with open(os.path.join(root, "CMakeLists.txt"), encoding="utf-8") as cmake:
        match = re.search(r"^project\(lzs_unpack VERSION (\d+)\.(\d+)\.(\d+)", cmake.read(), re.M)
    if match is None:
        raise SystemExit("setup.py: no project version in ../CMakeLists.txt")
    return match.groups()


major, minor, patch = project_version()
version = f"{major}.{minor}.{patch}"

# Paths relative to this folder (pip and the CMake build run setup.py here).
os.chdir(here)
# The codec's sources, as ../lzs/sources.txt lists them for every build.
with open("../lzs/sources.txt", encoding="utf-8") as listing:
    codec_sources = ["../lzs/" + name for name in listing.read().split()]
extension = Extension(
    "lzs._lzs",
    sources=["lzs/_lzs.cpp", *codec_sources],
    include_dirs=["../include", ".."],
    define_macros=[
        ("LZS_MODULE_VERSION", f'"{version}"'),
        ("LZS_BUILD_VERSION", f'"{version}"'),
        ("LZS_BUILD_VERSION_MAJOR", major),
        ("LZS_BUILD_VERSION_MINOR", minor),
        ("LZS_BUILD_VERSION_PATCH", patch),
        ("_FORTIFY_SOURCE", "2"),
    ],
    # Only PyInit__lzs is exported; no build path in the module.
    extra_compile_args=["-std=c++20", "-fvisibility=hidden", "-fstack-protector-strong",
                        f"-ffile-prefix-map={root}=."],
    extra_link_args=["-Wl,-z,relro,-z,now"],
    language="c++",
)

setup(
    name="lzs",
    version=version,
    description="Packs and unpacks LZS images (liblzs for Python)",
    long_description=open("README.md", encoding="utf-8").read(),
    long_description_content_type="text/markdown",
    license="MIT",
    python_requires=">=3.9",
    packages=["lzs"],
    package_data={"lzs": ["__init__.pyi", "py.typed"]},
    exclude_package_data={"lzs": ["*.cpp"]},
    ext_modules=[extension],
    zip_safe=False,
)
