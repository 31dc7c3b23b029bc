"""lzs.inspect and lzs.scan: what the library tells of images, in the keys
and values of lzs --inspect --json and lzs --scan --json, which the library
writes and these read back."""
import json

from . import _lzs


def inspect(image, name=None):
    """inspect(image, name=None)

    What image (any bytes-like object: a whole image, a damaged one or any
    other bytes) holds, item by item, as a dict with the keys and values of
    the JSON object that lzs --inspect --json prints: "status" ("ok",
    "truncated", "trailing" or "not-an-image"), "image_size",
    "promised_size", "decoded_size", "groups", "literals", "references",
    "length_histogram" (16 counts, copy lengths 3 to 18),
    "distance_histogram" (13 counts: distance 0, then [2**k, 2**(k+1)) for
    k from 0 to 11), "zero_references", "first_zero_reference" (None when
    there is none), "smallest_image_size" (what compress(..., LEVEL_OPTIMAL)
    makes of the output), "stopped_at", "last_item_cut" and the strips of
    the payload in 64 pieces ("strip_literals", "strip_references",
    "strip_zero_references"). With name, "file" comes first, as lzs prints
    it. Of a damaged image the counts cover the whole items that decode.
    """
    return json.loads(_lzs.inspect(image, name))


def scan(buffer, name=None):
    """scan(buffer, name=None)

    Every LZS image found inside buffer (any bytes-like object), in order, as
    a list of dicts with the keys and values of lzs --scan --json: "offset",
    "image_size" (header included), "decoded_size" and "confidence", "high"
    for an image of 1 KiB or more that shows a packer's hand, "low" for a
    smaller one (which bytes of programs sometimes mimic); "file" first with
    name. The image of a finding is buffer[offset:offset + image_size].
    """
    findings, pos = [], 0
    while True:
        found = _lzs.scan_next(buffer, pos, name)
        if found is None:
            return findings
        text, pos = found
        findings.append(json.loads(text))
