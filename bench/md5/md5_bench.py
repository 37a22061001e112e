"""Throughput of ComputeFileMd5 (under Wine) against md5sum (on the host).

Usage: md5_bench.py WINE_RUN BENCH_EXE WORK_DIR

Both hash the same 1 GiB file, already in the page cache, three times each in
alternating turns (the order swaps every round, so neither side always runs
on a cache the other just warmed or a machine the other just slowed). Both are
timed alike: the wall time of the process, less the best wall time of the same
program on an empty file (its start-up: about 1 ms for md5sum, most of a second
for Wine). The best run of each counts. Prints both throughputs and their ratio
(target: at least 0.95). Fails only when the two digests differ.
"""
import os
import subprocess
import sys
import time

SIZE = 1 << 30
RUNS = 3


def make_file(path):
    chunk = os.urandom(16 << 20)
    with open(path, "wb") as out:
        for _ in range(SIZE // len(chunk)):
            out.write(chunk)
    with open(path, "rb") as warm:
        while warm.read(16 << 20):
            pass


def timed(command):
    """(digest, wall seconds) of one hashing process."""
    start = time.perf_counter()
    out = subprocess.run(command, check=True, capture_output=True, text=True).stdout
    return out.split()[0], time.perf_counter() - start


def main():
    wine_run, exe, work = sys.argv[1:4]
    path = os.path.abspath(os.path.join(work, "md5_bench.bin"))
    empty = path + ".empty"
    sides = {"md5sum": lambda name: ["md5sum", name],
             "patcher": lambda name: [wine_run, exe, "Z:" + name.replace("/", "\\")]}
    digests, best, startup = {}, {}, {}
    try:
        make_file(path)
        open(empty, "wb").close()
        for side, command in sides.items():
            startup[side] = min(timed(command(empty))[1] for _ in range(RUNS))
        for round_ in range(RUNS):
            for side in (("md5sum", "patcher") if round_ % 2 == 0 else ("patcher", "md5sum")):
                digests[side], seconds = timed(sides[side](path))
                best[side] = min(best.get(side, seconds), seconds)
    finally:
        for name in (path, empty):
            if os.path.exists(name):
                os.remove(name)
    mib = SIZE / (1 << 20)
    rate = {side: mib / (best[side] - startup[side]) for side in sides}
    print(f"file: {mib:.0f} MiB, best of {RUNS} alternating runs each, page cache warm, "
          f"wall time less the program's start-up on an empty file")
    for side, name in (("md5sum", "md5sum (host)"), ("patcher", "ComputeFileMd5 (Wine)")):
        print(f"{name:23s} {best[side] - startup[side]:8.3f} s  {rate[side]:8.1f} MiB/s  {digests[side]}"
              f"  (wall {best[side]:.3f} s, start-up {startup[side]:.3f} s)")
    ratio = rate["patcher"] / rate["md5sum"]
    print(f"ratio ComputeFileMd5 / md5sum: {ratio:.3f} (target >= 0.95: {'met' if ratio >= 0.95 else 'NOT met'})")
    if digests["md5sum"] != digests["patcher"]:
        print("digests differ", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
