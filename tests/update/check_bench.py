"""The check phase of an up-to-date run (under Wine) against md5sum over the
same files (on the host), measured in one run.

Usage: check_bench.py WINE_RUN BENCH_EXE WORK_DIR

The client: one 512 MiB file, 100 files of 4 MiB and 2,000 of 16 KiB, already
in the page cache. Each side runs three times; the best run counts. Prints
both throughputs and their ratio (target: at least 0.95). Fails only when the
check phase finds a stale file.
"""
import hashlib
import os
import shutil
import subprocess
import sys
import time

RUNS = 3
LAYOUT = [("big.pak", 512 << 20, 1)] + [("data/d{:03}.pak", 4 << 20, 100)] + [("small/s{:04}.dat", 16 << 10, 2000)]


def make_client(root):
    block = os.urandom(16 << 20)
    lines, files = [], []
    for pattern, size, count in LAYOUT:
        for i in range(count):
            rel = pattern.format(i)
            path = os.path.join(root, rel)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            digest = hashlib.md5()
            with open(path, "wb") as out:
                left, offset = size, i * 4096 % len(block)
                while left:
                    piece = block[offset:offset + min(left, len(block) - offset)]
                    out.write(piece)
                    digest.update(piece)
                    left -= len(piece)
                    offset = 0
            lines.append(f"{digest.hexdigest()} {size} {rel}\n")
            files.append(path)
    manifest = os.path.join(root, "manifest.md5")
    with open(manifest, "w") as out:
        out.writelines(lines)
    return files, manifest


def best(run):
    results = [run() for _ in range(RUNS)]
    return min(results, key=lambda r: r[0])


def md5sum_all(files):
    start = time.perf_counter()
    subprocess.run(["md5sum", *files], check=True, stdout=subprocess.DEVNULL)
    return (time.perf_counter() - start,)


def check_phase(wine_run, exe, root, manifest):
    win = lambda p: "Z:" + p.replace("/", "\\")
    out = subprocess.run([wine_run, exe, win(root), win(manifest)], check=True, capture_output=True,
                         text=True).stdout
    listed, stale, seconds = out.split()
    return float(seconds), int(listed), int(stale)


def main():
    wine_run, exe, work = sys.argv[1:4]
    root = os.path.abspath(os.path.join(work, "check_bench_client"))
    shutil.rmtree(root, ignore_errors=True)
    try:
        files, manifest = make_client(root)
        total = sum(os.path.getsize(f) for f in files)
        for f in files:  # warm the page cache for both sides
            with open(f, "rb") as warm:
                while warm.read(16 << 20):
                    pass
        host = best(lambda: md5sum_all(files))
        own_seconds, listed, stale = best(lambda: check_phase(wine_run, exe, root, manifest))
    finally:
        shutil.rmtree(root, ignore_errors=True)
    mib = total / (1 << 20)
    host_rate, own_rate = mib / host[0], mib / own_seconds
    print(f"client: {len(files)} files, {mib:.0f} MiB (1 x 512 MiB, 100 x 4 MiB, 2000 x 16 KiB), "
          f"best of {RUNS} runs each, page cache warm")
    print(f"md5sum over the files (host):  {host[0]:8.3f} s  {host_rate:8.1f} MiB/s")
    print(f"check phase (Wine):            {own_seconds:8.3f} s  {own_rate:8.1f} MiB/s  "
          f"({listed} listed, {stale} stale)")
    ratio = own_rate / host_rate
    print(f"ratio check phase / md5sum: {ratio:.3f} (target >= 0.95: {'met' if ratio >= 0.95 else 'NOT met'})")
    if stale != 0:
        print("the check phase found stale files in an up-to-date client", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
