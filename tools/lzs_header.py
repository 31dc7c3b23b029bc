#!/usr/bin/env python3
"""Makes from include/lzs.h what other files must say the same way.

    tools/lzs_header.py write                 rewrites what is made from lzs.h
    tools/lzs_header.py check [--installed P] fails, with the difference, when
                                              any of it disagrees with lzs.h (and
                                              P, lzs(3) as a build filled it in)

lzs.h's comments are the library's manual: packaging/man/lzs.3 is made from
them (tools/lzs_man.py tells how it reads them). Its LZS_ERRORS is the one
list of the library's errors. The faces that
need the list at build time (Python's stub and package, the TypeScript types,
lzs.mjs's ErrorCode) keep it between two marker lines,
"lzs_header.py: begin NAME" and "lzs_header.py: end NAME", and `write` fills
them. `check` also reads the documents that name errors by hand (the READMEs,
docs/, the man pages) and fails on a name or a code that is not lzs.h's.
"""
import ast
import difflib
import pathlib
import re
import sys

import lzs_man

ROOT = pathlib.Path(__file__).resolve().parent.parent
HEADER = ROOT / "include" / "lzs.h"
MAN_PAGE = "packaging/man/lzs.3"


class Error:
    def __init__(self, name, code, words, when):
        self.name, self.code, self.words, self.when = name, code, words, when


def strings(text):
    """The value of adjacent C string literals."""
    return "".join(ast.literal_eval(literal) for literal in re.findall(r'"(?:[^"\\]|\\.)*"', text))


def read_errors(header_text):
    """LZS_ERRORS's rows, in their order."""
    match = re.search(r"#define LZS_ERRORS\(X\)((?:.*\\\n)*.*\n)", header_text)
    if match is None:
        raise SystemExit("lzs_header.py: no LZS_ERRORS list in include/lzs.h")
    body = match.group(1).replace("\\\n", " ")
    row = re.compile(r'X\(\s*(\w+)\s*,\s*(\d+)\s*,\s*((?:"(?:[^"\\]|\\.)*"\s*)+),\s*((?:"(?:[^"\\]|\\.)*"\s*)+)\)')
    errors = [Error(m[1], int(m[2]), strings(m[3]), strings(m[4])) for m in row.finditer(body)]
    codes = [error.code for error in errors]
    if codes != list(range(1, len(errors) + 1)):
        raise SystemExit(f"lzs_header.py: LZS_ERRORS's codes are {codes}, not 1 to {len(errors)} in order")
    return errors


# The lists kept in other files: (file, region, one line per error, sorted by name).
REGIONS = [
    ("python/lzs/__init__.pyi", "errors", lambda e: f"ERROR_{e.name}: int", False),
    ("python/lzs/__init__.py", "error-imports", lambda e: f"    ERROR_{e.name},", True),
    ("python/lzs/__init__.py", "error-names", lambda e: f'    "ERROR_{e.name}",', True),
    ("web/lzs.mjs", "errors", lambda e: f"  {e.name}: {e.code},", False),
    ("web/lzs.d.ts", "errors", lambda e: f"  {e.name}: {e.code};", False),
]


def fill_regions(text, path, errors):
    """text with the regions of `path` filled from errors."""
    for file, region, line, by_name in REGIONS:
        if file != path:
            continue
        rows = sorted(errors, key=lambda e: e.name.lower()) if by_name else errors
        pattern = re.compile(
            rf"(^[^\n]*lzs_header\.py: begin {re.escape(region)}\b[^\n]*\n)(.*?)(^[^\n]*lzs_header\.py: end {re.escape(region)}\b)",
            re.M | re.S,
        )
        if not pattern.search(text):
            raise SystemExit(f"lzs_header.py: {path} has no region {region}")
        lines = "".join(line(error) + "\n" for error in rows)
        text = pattern.sub(lambda m: m.group(1) + lines + m.group(3), text)
    return text


# Documents that name errors by hand, with how they name them: every name
# must be lzs.h's, and a table row that gives a code ("| 9 |
# `ERROR_TRAILING_DATA` |") lzs.h's code. (Names of Windows errors, which
# some documents give too, have none of these forms.)
LIBRARY_NAMES = r"\b(?:LZS_ERROR_|lzs\.ERROR_|ErrorCode\.)([A-Z][A-Z_]*[A-Z])\b"
DOCUMENTS = [
    ("README.md", LIBRARY_NAMES),
    ("docs/*.md", LIBRARY_NAMES),
    ("packaging/man/*.1", LIBRARY_NAMES),
    ("web/README.md", LIBRARY_NAMES),
    ("python/README.md", r"\b(?:LZS_)?ERROR_([A-Z][A-Z_]*[A-Z])\b"),
]
CODED = re.compile(r"^\|\s*(\d+)\s*\|\s*`(?:LZS_)?ERROR_([A-Z_]+)`")


def check_documents(errors):
    codes = {error.name: error.code for error in errors}
    problems = []
    for pattern, named in DOCUMENTS:
        for path in sorted(ROOT.glob(pattern)):
            for number, text in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
                where = f"{path.relative_to(ROOT)}:{number}"
                for name in re.findall(named, text):
                    if name not in codes and name != "MAX_CODE":
                        problems.append(f"{where}: ERROR_{name} is not in lzs.h's LZS_ERRORS")
                row = CODED.match(text)
                if row and codes.get(row[2]) != int(row[1]):
                    problems.append(f"{where}: ERROR_{row[2]} is {codes.get(row[2])} in lzs.h, not {row[1]}")
    return problems


def made_files(header_text, errors):
    """{path: text} for every file this script makes or fills."""
    files = {
        path: fill_regions((ROOT / path).read_text(encoding="utf-8"), path, errors)
        for path in sorted({file for file, *_ in REGIONS})
    }
    files[MAN_PAGE] = lzs_man.make_page(header_text, errors)
    return files


def check_installed(path, page):
    """Whether lzs(3) as the build filled it in (its version and date in
    place of the page's @...@ fields) is the page made from the header."""
    installed = pathlib.Path(path).read_text(encoding="utf-8")
    fields = re.escape(page).replace(re.escape("@LZS_RELEASE_DATE@"), ".*").replace(
        re.escape("@PROJECT_VERSION@"), ".*")
    if re.fullmatch(fields, installed, re.S):
        return []
    return [f"{path}, the installed lzs(3), is not the page made from include/lzs.h"]


def main(argv):
    command = argv[1] if len(argv) > 1 else ""
    header_text = HEADER.read_text(encoding="utf-8")
    errors = read_errors(header_text)
    if command not in ("write", "check"):
        sys.stderr.write(__doc__)
        return 2
    problems = []
    made = made_files(header_text, errors)
    if command == "check" and len(argv) > 3 and argv[2] == "--installed":
        problems += check_installed(argv[3], made[MAN_PAGE])
    for path, text in made.items():
        current = (ROOT / path).read_text(encoding="utf-8")
        if current == text:
            continue
        if command == "write":
            (ROOT / path).write_text(text, encoding="utf-8")
            print(f"lzs_header.py: wrote {path}")
        else:
            diff = difflib.unified_diff(current.splitlines(True), text.splitlines(True), path, path + " (from lzs.h)")
            problems.append(f"{path} disagrees with include/lzs.h (tools/lzs_header.py write makes it anew):\n" + "".join(diff))
    problems += check_documents(errors)
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
