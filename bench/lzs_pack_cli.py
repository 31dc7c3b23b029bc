#!/usr/bin/env python3
"""lzs packing as users run it, beside the lz4 command, in one run:

1. peak resident memory (GNU time's %M, as `time -v` reports it) and wall
   time of `lzs -1` and `lzs -9` (default threads), `lz4 -1` and `lz4 -12`
   packing large.bin (200 MiB) and, with --2g, large.bin ten times (2000 MiB),
   read from a pipe, written to a file and to a pipe;
2. `lzs -T 2` against `lzs -T 1` on large.bin at both levels (to a file);
3. `lzs -1` against `lz4 -1`, and `lzs -9` against `lz4 -12`, on headers.tar
   and libs.bin (to a file); `lzs` packs with its default threads.

Timed runs are interleaved and repeated (--runs, default 5); the tables give
medians. The machine may be shared: wall times then say little, and the
ratios of medians taken together say more than any one time.
Needs bench/corpora.sh's files (build/corpora, or LZS_CORPORA_DIR) and the
native build's lzs.

    bench/lzs_pack_cli.py [--runs N] [--2g] [--lzs PATH]
"""
from __future__ import annotations

import argparse
import os
import shlex
import statistics
import subprocess
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent


def measure(command: str, work: Path) -> tuple[float, int]:
    """Wall seconds and peak KiB of the packer in a shell pipeline, run
    where the command says TIME, under GNU time."""
    out = work / "time"
    subprocess.run(["bash", "-o", "pipefail", "-c", command.replace("TIME ", f"/usr/bin/time -f '%e %M' -o {out} ")],
                   check=True, cwd=work)
    seconds, kib = out.read_text().split()[-2:]
    return float(seconds), int(kib)


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--2g", dest="two_g", action="store_true")
    parser.add_argument("--lzs", default=str(ROOT / "build/native/cli/lzs"))
    args = parser.parse_args()
    corpora = Path(os.environ.get("LZS_CORPORA_DIR", ROOT / "build/corpora"))
    large = corpora / "large.bin"
    lzs = shlex.quote(args.lzs)
    packers = {"lzs -1": f"{lzs} -1 -q -c", "lzs -9": f"{lzs} -9 -q -c", "lz4 -1": "lz4 -1 -q -c",
               "lz4 -12": "lz4 -12 -q -c"}
    with tempfile.TemporaryDirectory() as temp:
        work = Path(temp)
        print(f"{'input':<10} {'packer':<8} {'to':<5} {'peak KiB':>10} {'seconds':>8}")
        sizes = [(200, 1)] + ([(2000, 10)] if args.two_g else [])
        for mib, times in sizes:
            source = "cat " + " ".join([shlex.quote(str(large))] * times)
            for name, command in packers.items():
                for to in ("file", "pipe"):
                    sink = "> out" if to == "file" else "| cat > /dev/null"
                    seconds, kib = measure(f"{source} | TIME {command} {sink}", work)
                    print(f"{str(mib) + ' MiB':<10} {name:<8} {to:<5} {kib:>10} {seconds:>8.2f}", flush=True)

        # Timed by this process, with no shell between (GNU time gives
        # hundredths of a second only).
        timed: dict[str, list[float]] = {}
        cases: dict[str, list[str]] = {}
        for level in ("-1", "-9"):
            for threads in ("1", "2"):
                cases[f"large.bin lzs {level} -T{threads}"] = [args.lzs, level, f"-T{threads}", "-q", "-f", "-o",
                                                                str(work / "image"), str(large)]
        for corpus in ("headers.tar", "libs.bin"):
            for name, command in packers.items():
                cases[f"{corpus} {name}"] = [*shlex.split(command), str(corpora / corpus)]
        for _ in range(args.runs):
            for key, argv in cases.items():
                with open(work / "out", "wb") as out:
                    start = time.perf_counter()
                    subprocess.run(argv, stdout=out, check=True)
                    timed.setdefault(key, []).append(time.perf_counter() - start)
        median = {key: statistics.median(values) for key, values in timed.items()}
        print()
        for key, value in median.items():
            print(f"{key:<28} median {value:7.3f} s of {args.runs}")
        print()
        for level in ("-1", "-9"):
            one, two = median[f"large.bin lzs {level} -T1"], median[f"large.bin lzs {level} -T2"]
            print(f"large.bin lzs {level}: -T2/-T1 time {two / one:.2f} (speedup {one / two:.2f})")
        for corpus in ("headers.tar", "libs.bin"):
            print(f"{corpus}: lzs -1 / lz4 -1 {median[f'{corpus} lzs -1'] / median[f'{corpus} lz4 -1']:.2f}, "
                  f"lzs -9 / lz4 -12 {median[f'{corpus} lzs -9'] / median[f'{corpus} lz4 -12']:.2f}")


if __name__ == "__main__":
    main()
