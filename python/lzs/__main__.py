"""python -m lzs: packs and unpacks files, in the manner of python -m gzip.

Packs each FILE into FILE.lzs, or with -d unpacks NAME.lzs into NAME (any
other name into NAME.DeLZS), naming outputs as lzs does; the input stays.
A FILE that already ends in .lzs is packed only with -f. With no FILE, or
FILE "-", it reads standard input and writes standard output. An output is written under its name only complete, and a
file already there is replaced only with -f. As lzs does, it packs to a
terminal only with -f, and unpacks nothing from one. Exit code 0 when
every file went well, 1 when one failed (said on standard error), 2 for a
bad command line.
"""
import argparse
import contextlib
import errno
import shutil
import sys

from . import LEVEL_DEFAULT, LEVEL_FAST, LEVEL_OPTIMAL, LzsError
from . import open as open_image
from ._codec import PACK_PIECE
from ._files import OUTPUT_SIZE, _next_piece, _Output

SUFFIX = ".lzs"
UNPACKED_SUFFIX = ".DeLZS"  # what -d adds to a name without SUFFIX


def parse(argv):
    parser = argparse.ArgumentParser(
        prog="python -m lzs", description="Packs FILE into FILE.lzs, or with -d unpacks NAME.lzs into "
        "NAME (any other name into NAME.DeLZS); the input stays. No FILE, or -, reads standard input "
        "and writes standard output.")
    parser.add_argument("-d", "--decompress", action="store_true", help="unpack instead of packing")
    parser.add_argument("-c", "--stdout", action="store_true", help="write to standard output")
    parser.add_argument("-o", "--output", metavar="OUTPUT", help="write to OUTPUT (one FILE only)")
    parser.add_argument("-f", "--force", action="store_true",
                        help="overwrite existing outputs; pack to a terminal; pack files that end in .lzs")
    levels = parser.add_mutually_exclusive_group()
    levels.add_argument("-1", "--fast", dest="level", action="store_const", const=LEVEL_FAST,
                        help="pack greedily, for large batches")
    levels.add_argument("-9", "--best", dest="level", action="store_const", const=LEVEL_OPTIMAL,
                        help="pack into the smallest image the format allows (as the default does)")
    parser.add_argument("files", nargs="*", metavar="FILE")
    parser.set_defaults(level=LEVEL_DEFAULT)
    options = parser.parse_args(argv)
    if options.output is not None and options.stdout:
        parser.error("-c and -o exclude each other")
    if options.output is not None and len(options.files) > 1:
        parser.error("-o takes one FILE")
    return options


def has_suffix(name):
    """Whether name is NAME.lzs, the suffix in any case, after a NAME that
    does not end in a folder separator (/ or \\)."""
    end = name[-len(SUFFIX):]
    return (len(name) > len(SUFFIX) and name[-len(SUFFIX) - 1] not in "/\\" and end.isascii()
            and end.lower() == SUFFIX)


def default_output(name, decompress):
    """The name lzs gives the output of input `name`: NAME.lzs packed;
    unpacked, NAME for NAME.lzs and NAME.DeLZS for any other name."""
    if not decompress:
        return name + SUFFIX
    return name[:-len(SUFFIX)] if has_suffix(name) else name + UNPACKED_SUFFIX


def output_name(name, options):
    """Where the output of input `name` goes: a path, or None for standard
    output. ValueError, in lzs's words, for a name lzs does not pack."""
    if not options.decompress and name != "-" and has_suffix(name) and not options.force:
        raise ValueError(f"already has the {SUFFIX} suffix; not packed again (use -f to pack it anyway)")
    if options.output is not None:
        return options.output
    if options.stdout or name == "-":
        return None
    return default_output(name, options.decompress)


def terminal(stream):
    """Whether a standard stream is a terminal."""
    try:
        return stream is not None and stream.isatty()
    except (OSError, ValueError):
        return False


def refusal(options, names):
    """What lzs says, in the same words, of packed data a terminal would
    get or give; None when there is none."""
    to_stdout = options.stdout or (options.output is None and "-" in names)
    if not options.decompress and to_stdout and not options.force and terminal(sys.stdout):
        return "will not write packed data to a terminal (use -f to force)"
    if options.decompress and "-" in names and terminal(sys.stdin):
        return "will not read packed data from a terminal"
    return None


def standard(stream, which):
    """The binary side of a standard stream; OSError when it is closed."""
    if stream is None:
        raise OSError(errno.EBADF, f"standard {which} is closed")
    return stream.buffer


def convert(name, options):
    source = standard(sys.stdin, "input") if name == "-" else name
    target = output_name(name, options)
    if options.decompress:
        with open_image(source, "rb") as image:
            if target is not None:
                with _Output(target, exclusive=not options.force) as output:
                    shutil.copyfileobj(image, output, OUTPUT_SIZE)
                return
            stdout = standard(sys.stdout, "output")
            shutil.copyfileobj(image, stdout, OUTPUT_SIZE)
            stdout.flush()
        return
    # Packed as it is read, in bounded memory.
    with contextlib.nullcontext(source) if name == "-" else open(source, "rb") as file:
        stdout = standard(sys.stdout, "output") if target is None else None
        with open_image(stdout or target, "wb" if options.force else "xb", level=options.level) as packed:
            for piece in iter(lambda: _next_piece(file, file.read, PACK_PIECE), b""):
                packed.write(piece)
    if stdout is not None:
        stdout.flush()


def main(argv=None):
    options = parse(argv)
    names = options.files or ["-"]
    refused = refusal(options, names)
    if refused is not None:
        print(f"python -m lzs: {refused}", file=sys.stderr)
        return 1
    status = 0
    for name in names:
        shown = "(standard input)" if name == "-" else name
        try:
            convert(name, options)
        except OSError as error:
            where = error.filename if error.filename is not None else shown
            print(f"python -m lzs: {where}: {error.strerror or error}", file=sys.stderr)
            status = 1
        except (LzsError, ValueError) as error:
            print(f"python -m lzs: {shown}: {error}", file=sys.stderr)
            status = 1
    return status


if __name__ == "__main__":
    sys.exit(main())
