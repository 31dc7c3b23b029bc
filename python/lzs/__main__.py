"""python -m lzs: packs and unpacks files, in the manner of python -m gzip.

Packs each FILE into FILE.lzs, or with -d unpacks FILE.lzs into FILE; the
input stays. With no FILE, or FILE "-", it reads standard input and writes
standard output. An output is written under its name only complete, and a
file already there is replaced only with -f. As lzs does, it packs to a
terminal only with -f, and unpacks nothing from one. Exit code 0 when
every file went well, 1 when one failed (said on standard error), 2 for a
bad command line.
"""
import argparse
import errno
import shutil
import sys

from . import LEVEL_DEFAULT, LEVEL_FAST, LEVEL_OPTIMAL, LzsError
from . import open as open_image
from ._files import OUTPUT_SIZE, _Output

SUFFIX = ".lzs"


def parse(argv):
    parser = argparse.ArgumentParser(
        prog="python -m lzs", description="Packs FILE into FILE.lzs, or unpacks FILE.lzs into FILE "
        "with -d; the input stays. No FILE, or -, reads standard input and writes standard output.")
    parser.add_argument("-d", "--decompress", action="store_true", help="unpack instead of packing")
    parser.add_argument("-c", "--stdout", action="store_true", help="write to standard output")
    parser.add_argument("-o", "--output", metavar="OUTPUT", help="write to OUTPUT (one FILE only)")
    parser.add_argument("-f", "--force", action="store_true",
                        help="overwrite existing outputs; pack to a terminal")
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


def output_name(name, options):
    """Where the output of input `name` goes: a path, or None for standard
    output."""
    if options.output is not None:
        return options.output
    if options.stdout or name == "-":
        return None
    if not options.decompress:
        return name + SUFFIX
    if name.endswith(SUFFIX) and len(name) > len(SUFFIX):
        return name[:-len(SUFFIX)]
    raise ValueError(f"does not end in {SUFFIX}; name the output with -o or use -c")


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
    if name == "-":
        data = source.read()
    else:
        with open(source, "rb") as file:
            data = file.read()
    stdout = standard(sys.stdout, "output") if target is None else None
    with open_image(stdout or target, "wb" if options.force else "xb", level=options.level) as packed:
        packed.write(data)
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
