"""Races for the tests: a file rewritten in place while a program reads it."""

from __future__ import annotations

import contextlib
import os
import threading
import typing
from pathlib import Path


@contextlib.contextmanager
def rewritten(path: Path, contents: list[bytes]) -> typing.Iterator[None]:
    """Writes each of contents (all of one size) over path in place, in 1 MiB
    pieces, one after the other and again, on a thread of its own, until the
    block ends. While path is missing (a run removed it) the thread waits
    for it to be put back."""
    stop = threading.Event()

    def rewrite() -> None:
        k = 0
        while not stop.is_set():
            k = (k + 1) % len(contents)
            try:
                fd = os.open(path, os.O_WRONLY)
            except FileNotFoundError:
                continue
            for at in range(0, len(contents[k]), 1 << 20):
                os.pwrite(fd, contents[k][at:at + (1 << 20)], at)
            os.close(fd)

    writer = threading.Thread(target=rewrite)
    writer.start()
    try:
        yield
    finally:
        stop.set()
        writer.join()
