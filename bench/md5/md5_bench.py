"""Throughput of ComputeFileMd5 (under Wine) against md5sum (on the host).

Usage: md5_bench.py WINE_RUN BENCH_EXE WORK_DIR

Both hash the same 1 GiB file, already in the page cache, three times each;
the best run of each counts. Prints both throughputs and their ratio (target:
at least 0.95). Fails only when the two digests differ.
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


def best_md5sum(path):
    best, digest = None, None
    for _ in range(RUNS):
        start = time.perf_counter()
        out = subprocess.run(["md5sum", path], check=True, capture_output=True, text=True).stdout
        elapsed = time.perf_counter() - start
        digest = out.split()[0]
        best = elapsed if best is None else min(best, elapsed)
    return digest, best


def best_patcher(wine_run, exe, path):
    windows_path = "Z:" + path.replace("/", "\\")
    best, digest, outer = None, None, None
    for _ in range(RUNS):
        start = time.perf_counter()
        out = subprocess.run([wine_run, exe, windows_path], check=True, capture_output=True, text=True).stdout
        wall = time.perf_counter() - start
        digest, seconds = out.split()
        seconds = float(seconds)
        if best is None or seconds < best:
            best, outer = seconds, wall
    return digest, best, outer


def main():
    wine_run, exe, work = sys.argv[1:4]
    path = os.path.abspath(os.path.join(work, "md5_bench.bin"))
    try:
        make_file(path)
        host_digest, host_seconds = best_md5sum(path)
        own_digest, own_seconds, own_wall = best_patcher(wine_run, exe, path)
    finally:
        if os.path.exists(path):
            os.remove(path)
    mib = SIZE / (1 << 20)
    host_rate = mib / host_seconds
    own_rate = mib / own_seconds
    print(f"file: {mib:.0f} MiB, best of {RUNS} runs each, page cache warm")
    print(f"md5sum (host):           {host_seconds:8.3f} s  {host_rate:8.1f} MiB/s  {host_digest}")
    print(f"ComputeFileMd5 (Wine):   {own_seconds:8.3f} s  {own_rate:8.1f} MiB/s  {own_digest}"
          f"  (process wall time {own_wall:.3f} s)")
    ratio = own_rate / host_rate
    print(f"ratio ComputeFileMd5 / md5sum: {ratio:.3f} (target >= 0.95: {'met' if ratio >= 0.95 else 'NOT met'})")
    if host_digest != own_digest:
        print("digests differ", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
