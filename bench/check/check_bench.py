"""The check phase of an up-to-date run (under Wine) against md5sum over the
same files (on the host), measured in one run, for the whole client and for
each of its parts.

Usage: check_bench.py WINE_RUN BENCH_EXE WORK_DIR

The client (bench/bench_client.py): one 512 MiB file, 100 files of 4 MiB
and 2,000 of 16 KiB, already in the page cache. A third side, the bare check
(check_bench bare), does the least a Windows program can do for the same
answer under the same Wine: it shows how much of the gap to md5sum is Wine's
cost per call rather than the patcher's. Each side runs in rotating rounds;
the best run counts. Prints throughputs, time per file and ratios (target: the
check phase at least 0.95 of md5sum). Fails only when a check finds a stale file.
"""
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import bench_client as bc  # noqa: E402

RUNS = 3


def md5sum_all(paths):
    return bc.timed(["md5sum", *paths], stdout=subprocess.DEVNULL), 0


def check(wine_run, exe, root, manifest, bare=False):
    mode = ["bare"] if bare else []
    out = subprocess.run([wine_run, exe, *mode, bc.windows_path(root), bc.windows_path(manifest)], check=True,
                         capture_output=True, text=True, stdin=subprocess.DEVNULL).stdout
    listed, stale, seconds = out.split()
    return float(seconds), int(stale)


def measure(wine_run, exe, root, entries, manifest):
    paths = [e.path for e in entries]
    results = bc.rounds({"md5sum": lambda: md5sum_all(paths),
                         "check": lambda: check(wine_run, exe, root, manifest),
                         "bare": lambda: check(wine_run, exe, root, manifest, bare=True)}, RUNS)
    stale = max(stale for runs in results.values() for _, stale in runs)
    return {name: min(seconds for seconds, _ in runs) for name, runs in results.items()}, stale


def report(title, best, entries):
    mib = sum(e.size for e in entries) / bc.MIB
    per_file = lambda name: best[name] / len(entries) * 1e6  # noqa: E731
    print(f"{title} ({len(entries)} files, {mib:.0f} MiB):")
    names = {"md5sum": "md5sum (host)", "check": "check phase (Wine)", "bare": "bare check (Wine)"}
    for name in ("md5sum", "check", "bare"):
        each = f"  {per_file(name):8.1f} us per file" if len(entries) > 1 else ""
        print(f"  {names[name]:20s} {best[name]:8.3f} s  {mib / best[name]:8.1f} MiB/s{each}")
    ratio = best["md5sum"] / best["check"]
    print(f"  check phase / md5sum: {ratio:.3f} (target >= 0.95: {'met' if ratio >= 0.95 else 'NOT met'});"
          f"  check phase / bare check: {best['bare'] / best['check']:.3f}")


def main():
    wine_run, exe, work = sys.argv[1:4]
    root = os.path.abspath(os.path.join(work, "check_bench_client"))
    shutil.rmtree(root, ignore_errors=True)
    stale = 0
    try:
        entries = bc.make_client(root, bc.CLIENT_1G)
        bc.warm(e.path for e in entries)  # both sides start from the page cache
        scopes = [("whole client", entries, os.path.join(root, "manifest.md5"))]
        for i, part in enumerate(bc.CLIENT_1G):
            chosen = bc.of_part(entries, part.name)
            manifest = os.path.join(root, f"part{i}.md5")
            bc.write_manifest(manifest, chosen)
            scopes.append((part.name, chosen, manifest))
        print(f"client: {bc.describe(bc.CLIENT_1G)}; best of {RUNS} rotating rounds per side, page cache warm")
        for title, chosen, manifest in scopes:
            best, found = measure(wine_run, exe, root, chosen, manifest)
            stale = max(stale, found)
            report(title, best, chosen)
    finally:
        shutil.rmtree(root, ignore_errors=True)
    if stale != 0:
        print("a check found stale files in an up-to-date client", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
