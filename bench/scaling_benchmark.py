#!/usr/bin/env python3
"""The scaling benchmark: each input shape of hostile_shapes.py read by
orbel-catalogue at its size and at twice that, the two taking turns, five
times each; the median times, and their ratio. A reading whose time grows
more than 2.5 times when its input doubles misses the bar (exit status 1).

Usage: scaling_benchmark.py ORBEL_CATALOGUE [--runs N] [--scale F]
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

import hostile_shapes

BAR = 2.5


def seconds(program, arguments):
    start = time.monotonic()
    subprocess.run([program, "--summary"] + arguments, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, check=False)
    return time.monotonic() - start


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("program")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--scale", type=float, default=1.0,
                        help="multiplies each shape's size (smaller for a quick look)")
    args = parser.parse_args()
    missed = 0
    print("%-22s %9s %9s %9s %6s" % ("shape", "size", "median s", "2x s", "ratio"))
    with tempfile.TemporaryDirectory(prefix="orbel-scaling-") as scratch:
        for shape, size in hostile_shapes.SHAPES:
            n = max(1, int(size * args.scale))
            small, large = shape(scratch, n), shape(scratch, 2 * n)
            times = {0: [], 1: []}
            seconds(args.program, small)  # one untimed round
            for _ in range(args.runs):
                times[0].append(seconds(args.program, small))
                times[1].append(seconds(args.program, large))
            a, b = statistics.median(times[0]), statistics.median(times[1])
            ratio = b / a if a > 0 else float("inf")
            verdict = "" if ratio <= BAR else "  MISSED (bar %.1f)" % BAR
            missed += ratio > BAR
            print("%-22s %9d %9.3f %9.3f %6.2f%s" % (shape.__name__, n, a, b, ratio, verdict))
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
