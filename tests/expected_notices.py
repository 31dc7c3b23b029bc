"""The notice texts the tests expect, read from notices.txt beside this file
(UTF-8), which is typed apart from the program's own table."""

from __future__ import annotations

from pathlib import Path

NOTICES_FILE = Path(__file__).resolve().parent / "notices.txt"


def read_notices(path: Path = NOTICES_FILE) -> dict[str, list[str]]:
    """Each text as its lines: a line "@ name" starts a text, which runs to
    the next such line or to the end of the file."""
    texts: dict[str, list[str]] = {}
    current = None
    for line in path.read_text(encoding="utf-8").split("\n")[:-1]:
        if line.startswith("@ "):
            current = texts.setdefault(line[2:], [])
        elif current is not None:
            current.append(line)
    return texts


def notice(name: str, line_break: str = "\n") -> str:
    """The text called name ("caption", "usage", "format error", "general
    error"), its lines joined by line_break."""
    return line_break.join(read_notices()[name])
