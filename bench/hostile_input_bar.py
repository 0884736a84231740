#!/usr/bin/env python3
"""The hostile-input bar: every damaged hive of the corpus, seeded mutations
of each real one (byte flips, truncations, inserted garbage), and inputs shaped
to multiply a reader's work (hostile_shapes.py), read by
`orbel-catalogue --json`. Each run must end with status 0 or 1 (1 with a
message), within 5 seconds and 200 MB. Prints the slowest and the largest run;
exits 1 when a run misses the bar.

Usage: hostile_input_bar.py ORBEL_CATALOGUE [--corpus DIR] [--mutations N] [--seed S]
"""

import argparse
import os
import random
import resource
import signal
import subprocess
import sys
import tempfile
import threading
import time
from concurrent.futures import ThreadPoolExecutor

import hostile_shapes

TIME_LIMIT = 5.0  # seconds
MEMORY_LIMIT = 200 * 1024  # KiB of peak resident memory
# A run that goes past this much address space is stopped, so that a runaway
# reading cannot take the machine down; it then misses the bar.
ADDRESS_LIMIT = 2 * 1024 * 1024 * 1024


def fix_checksum(data: bytearray) -> None:
    """Makes the base block's checksum match it again, so that the mutation
    reaches past the header check into the keys and values."""
    if len(data) < 512 or data[:4] != b"regf":
        return
    checksum = 0
    for at in range(0, 508, 4):
        checksum ^= int.from_bytes(data[at:at + 4], "little")
    data[508:512] = checksum.to_bytes(4, "little")


def mutate(data: bytes, rng: random.Random) -> bytes:
    """One seeded mutation: flipped bits, a truncation, or inserted garbage.
    Half of the changes land in the 64 KiB after the base block, where the
    root and the first cells are; most get a good base block checksum."""
    size = len(data)

    def place() -> int:
        if size <= 4096 or rng.random() >= 0.5:
            return rng.randrange(size) if size else 0
        return rng.randrange(4096, min(size, 4096 + 65536))

    kind = rng.choice(("flip", "flip", "truncate", "insert"))
    if kind == "flip":
        out = bytearray(data)
        for _ in range(rng.randint(1, 32)):
            if out:
                out[place()] ^= 1 << rng.randrange(8)
    elif kind == "truncate":
        out = bytearray(data[: place()])
    else:
        at = place()
        garbage = bytes(rng.randrange(256) for _ in range(rng.randint(1, 4096)))
        out = bytearray(data[:at] + garbage + data[at:])
    if rng.random() < 0.75:
        fix_checksum(out)
    return bytes(out)


def run_measured(program: str, path, arguments=None) -> dict:
    """Reads one file (or runs with `arguments`, `path` naming the case) with
    the program; its status, seconds, peak resident KiB (of that one child,
    through wait4) and what missed the bar, if anything."""

    def limit():
        resource.setrlimit(resource.RLIMIT_AS, (ADDRESS_LIMIT, ADDRESS_LIMIT))
        resource.setrlimit(resource.RLIMIT_CORE, (0, 0))

    err = tempfile.TemporaryFile()
    start = time.monotonic()
    child = subprocess.Popen(
        [program, "--json"] + (arguments or [path]),
        stdin=subprocess.DEVNULL,
        stdout=subprocess.DEVNULL,
        stderr=err,
        preexec_fn=limit,
    )
    timed_out = False
    deadline = start + TIME_LIMIT
    while True:
        pid, wait_status, usage = os.wait4(child.pid, os.WNOHANG)
        if pid != 0:
            break
        if time.monotonic() > deadline:
            timed_out = True
            child.kill()
            pid, wait_status, usage = os.wait4(child.pid, 0)
            break
        time.sleep(0.002)
    child.returncode = os.waitstatus_to_exitcode(wait_status)
    seconds = time.monotonic() - start
    err.seek(0)
    stderr = err.read()
    status = child.returncode
    problem = None
    if timed_out:
        problem = "took longer than %.0f s" % TIME_LIMIT
    elif status < 0:
        problem = "killed by signal %s" % signal.Signals(-status).name
    elif status not in (0, 1):
        problem = "exit status %d" % status
    elif status == 1 and not stderr.strip():
        problem = "exit status 1 without a message"
    elif usage.ru_maxrss > MEMORY_LIMIT:
        problem = "peak memory %d KiB above %d KiB" % (usage.ru_maxrss, MEMORY_LIMIT)
    return {"path": path, "status": status, "seconds": seconds, "kib": usage.ru_maxrss,
            "problem": problem, "stderr": stderr.decode("utf-8", "replace").strip()[:200]}


def main() -> int:
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("program")
    parser.add_argument("--corpus", default=os.path.join(here, "..", "..", "shared", "corpus"))
    parser.add_argument("--mutations", type=int, default=300)
    parser.add_argument("--seed", type=int, default=20261208)
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1)
    args = parser.parse_args()

    corpus = os.path.abspath(args.corpus)
    damaged = os.path.join(corpus, "damaged")
    real = os.path.join(corpus, "real")
    if not os.path.isdir(damaged) or not os.path.isdir(real):
        print("hostile-input bar: skipped, no corpus at %s" % corpus)
        return 0
    if not os.access(args.program, os.X_OK):
        print("hostile-input bar: %s is not a program" % args.program, file=sys.stderr)
        return 1

    files = [os.path.join(damaged, name) for name in sorted(os.listdir(damaged))]
    hives = [name for name in sorted(os.listdir(real)) if ".LOG" not in name.upper()]
    results = []
    with tempfile.TemporaryDirectory(prefix="orbel-hostile-") as scratch, \
            ThreadPoolExecutor(max_workers=max(1, args.jobs)) as pool:
        results += pool.map(lambda path: run_measured(args.program, path), files)
        # The shapes one at a time, so that each has a core to itself.
        for shape, size in hostile_shapes.SHAPES:
            arguments = shape(scratch, size)
            results.append(run_measured(args.program, "%s-%d" % (shape.__name__, size), arguments))
        # Mutations are written a few at a time and removed once read.
        room = threading.BoundedSemaphore(2 * max(1, args.jobs))

        def read_and_remove(path):
            try:
                return run_measured(args.program, path)
            finally:
                os.remove(path)
                room.release()

        pending = []
        for name in hives:
            with open(os.path.join(real, name), "rb") as f:
                data = f.read()
            # One generator per hive, so that each hive's mutations stay the
            # same whatever other hives the corpus holds.
            rng = random.Random("%d/%s" % (args.seed, name))
            for n in range(args.mutations):
                mutated = mutate(data, rng)
                room.acquire()
                path = os.path.join(scratch, "%s.%03d" % (name, n))
                with open(path, "wb") as f:
                    f.write(mutated)
                pending.append(pool.submit(read_and_remove, path))
        results += [future.result() for future in pending]

    failures = [r for r in results if r["problem"]]
    slowest = max(results, key=lambda r: r["seconds"])
    largest = max(results, key=lambda r: r["kib"])
    statuses = {s: sum(1 for r in results if r["status"] == s) for s in (0, 1)}
    shapes = len(hostile_shapes.SHAPES)
    print("hostile-input bar: %d inputs (%d damaged, %d shaped, %d mutations of %d hives), "
          "%d read, %d refused with a message"
          % (len(results), len(files), shapes, len(results) - len(files) - shapes,
             len(hives), statuses[0], statuses[1]))
    print("  slowest: %.3f s  %s" % (slowest["seconds"], os.path.basename(slowest["path"])))
    print("  largest: %.1f MB  %s" % (largest["kib"] / 1024, os.path.basename(largest["path"])))
    for r in failures:
        print("  FAILED %s: %s %s" % (os.path.basename(r["path"]), r["problem"], r["stderr"]),
              file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
