"""LZS images for the Python tests: the named images of tests/images/ (its
README tells what each is), images built from payloads and literals, and a
plain decoder of our own, written apart from the codec's."""

from __future__ import annotations

import dataclasses
from pathlib import Path

IMAGES = Path(__file__).resolve().parent.parent / "images"


@dataclasses.dataclass(frozen=True)
class NamedImage:
    """A named image with what it decodes to or, when it is refused, the
    words of lzs_describe for it (one of output and error is None)."""

    name: str
    image: bytes
    output: bytes | None
    error: str | None


def named_image(name: str) -> NamedImage:
    err = IMAGES / f"{name}.err"
    if err.exists():
        return NamedImage(name, (IMAGES / f"{name}.lzs").read_bytes(), None, err.read_text().rstrip("\n"))
    return NamedImage(name, (IMAGES / f"{name}.lzs").read_bytes(), (IMAGES / f"{name}.out").read_bytes(), None)


# Every image of tests/images/, by name.
NAMED_IMAGES = [named_image(path.stem) for path in sorted(IMAGES.glob("*.lzs"))]

# The worked example: ABCABCABC.
WORKED_EXAMPLE = named_image("worked-example").image
WORKED_EXAMPLE_DECODED = named_image("worked-example").output


def with_header(payload: bytes, header_delta: int = 0) -> bytes:
    """An image of payload, its header off by header_delta."""
    return (len(payload) + header_delta).to_bytes(4, "little") + payload


def literal_image(data: bytes, trailing_flag: bool = False) -> bytes:
    """An image of data as groups of eight literals (flag byte FF);
    trailing_flag adds a last flag byte with nothing after it, which adds no
    output."""
    payload = b"".join(b"\xff" + data[k:k + 8] for k in range(0, len(data), 8))
    return with_header(payload + (b"\xff" if trailing_flag else b""))


def decode(image: bytes) -> bytes:
    """What the image decodes to: the window starts zero-filled, and items
    cut off at the end are dropped."""
    assert int.from_bytes(image[:4], "little") == len(image) - 4
    out = bytearray()
    pos = 4
    while pos < len(image):
        flags = image[pos]
        pos += 1
        for bit in range(8):
            if pos >= len(image):
                break
            if flags >> bit & 1:
                out.append(image[pos])
                pos += 1
                continue
            if len(image) - pos < 2:
                return bytes(out)
            b0, b1 = image[pos], image[pos + 1]
            pos += 2
            j = len(out) - (len(out) - (b0 | (b1 >> 4) << 8) - 18) % 4096
            for _ in range((b1 & 15) + 3):
                out.append(out[j] if 0 <= j < len(out) else 0)
                j += 1
    return bytes(out)
