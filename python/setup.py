"""Builds the lzs module from its source package.

The extension is lzs/_lzs.cpp over liblzs's C interface, with the library's
own sources compiled into it by GCC or Clang, so the installed module needs
no liblzs.so.1.
The source package carries them in liblzs/: include/lzs.h, and the lzs/
sources that lzs/sources.txt lists for every build of the library (the
CMake build of the lzs-unpack tree makes the package: its target
python_sdist). The version is
the one lzs.h declares.

From Python 3.11 on the module is built on the stable ABI (the buffer
protocol is in the limited API from then on), and its wheel is cp311-abi3:
one wheel for every later CPython with a GIL.
"""
import os
import re
import sys
import sysconfig

from setuptools import Extension, setup

here = os.path.dirname(os.path.abspath(__file__))
library = os.path.join(here, "liblzs")
if not os.path.isfile(os.path.join(library, "include", "lzs.h")):
    raise SystemExit("setup.py: no liblzs/ beside it; build the source package with the lzs-unpack "
                     "tree's CMake build (cmake --build --preset native --target python_sdist) "
                     "and install that")


def header_version():
    with open(os.path.join(library, "include", "lzs.h"), encoding="utf-8") as header:
        parts = dict(re.findall(r"^#define LZS_VERSION_(MAJOR|MINOR|PATCH) (\d+)$", header.read(), re.M))
    return parts["MAJOR"], parts["MINOR"], parts["PATCH"]


major, minor, patch = header_version()
version = f"{major}.{minor}.{patch}"
# A free-threaded Python has no stable ABI: its module is built for it alone.
limited_api = sys.version_info >= (3, 11) and not sysconfig.get_config_var("Py_GIL_DISABLED")
elf = sys.platform.startswith(("linux", "freebsd"))
python_versions = ["3.8", "3.9", "3.10", "3.11", "3.12", "3.13"]

# Paths relative to this folder: they go into the build's records as given.
os.chdir(here)
# The codec's sources, as liblzs/lzs/sources.txt lists them for every build.
# Each is compiled with the same flags: the vector loops name their
# instruction sets in the source, and liblzs picks one at run time.
with open("liblzs/lzs/sources.txt", encoding="utf-8") as listing:
    codec_sources = ["liblzs/lzs/" + name for name in listing.read().split()]
extension = Extension(
    "lzs._lzs",
    sources=["lzs/_lzs.cpp", *codec_sources],
    include_dirs=["liblzs/include", "liblzs"],
    define_macros=[
        ("LZS_MODULE_VERSION", f'"{version}"'),
        # The library's calls stay inside the module: only PyInit__lzs is exported.
        ("LZS_API", ""),
        ("LZS_BUILD_VERSION", f'"{version}"'),
        ("LZS_BUILD_VERSION_MAJOR", major),
        ("LZS_BUILD_VERSION_MINOR", minor),
        ("LZS_BUILD_VERSION_PATCH", patch),
        ("_FORTIFY_SOURCE", "2"),
    ] + ([("Py_LIMITED_API", "0x030B0000")] if limited_api else []),
    py_limited_api=limited_api,
    # As liblzs is built (by GCC or Clang): no exceptions, no RTTI and
    # nothing of the C++ library that is not inline, so the module needs
    # libc alone. Only PyInit__lzs is exported; no debug information, and
    # on ELF systems no symbol table.
    extra_compile_args=["-std=c++20", "-fvisibility=hidden", "-fno-exceptions", "-fno-rtti",
                        "-fno-threadsafe-statics", "-fstack-protector-strong", "-g0"],
    extra_link_args=["-Wl,--as-needed", "-Wl,-z,relro,-z,now", "-s"] if elf else [],
    language="c++",
)

with open("README.md", encoding="utf-8") as readme:
    long_description = readme.read()

setup(
    name="lzs",
    version=version,
    description="Packs and unpacks LZS images: liblzs for Python",
    long_description=long_description,
    long_description_content_type="text/markdown",
    license="MIT",
    classifiers=[
        "Development Status :: 5 - Production/Stable",
        "Intended Audience :: Developers",
        "License :: OSI Approved :: MIT License",
        "Operating System :: POSIX :: Linux",
        "Programming Language :: C++",
        "Programming Language :: Python :: 3",
        "Programming Language :: Python :: 3 :: Only",
    ] + [f"Programming Language :: Python :: {v}" for v in python_versions] + [
        "Programming Language :: Python :: Implementation :: CPython",
        "Topic :: System :: Archiving :: Compression",
        "Typing :: Typed",
    ],
    python_requires=f">={python_versions[0]}",
    packages=["lzs"],
    package_data={"lzs": ["__init__.pyi", "py.typed"]},
    exclude_package_data={"lzs": ["*.cpp"]},
    ext_modules=[extension],
    options={"bdist_wheel": {"py_limited_api": "cp311"}} if limited_api else {},
    zip_safe=False,
)
