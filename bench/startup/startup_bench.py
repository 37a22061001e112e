"""Start to a painted window: the real Zerandis_Patcher.exe against a minimal
Win32 program that shows one empty window (empty_window.exe), both under Wine,
timed alike by paint_launcher.exe in alternating rounds.

Usage: startup_bench.py WINE_RUN PAINT_LAUNCHER PATCHER_EXE EMPTY_WINDOW_EXE EMPTY_WINDOW_LIBS_EXE WORK_DIR

The patcher starts an update run at once; its patcher.ini names a server that
refuses at once, so the run ends within moments and leaves the window as it
is. Each program sits in a folder of its own. One unmeasured round first (Wine
loads its libraries into the page cache), then the rounds that count. Prints
best and median of each and their ratio (target: the patcher at most 1.2 times
the empty window). A third program, the empty window that first loads the
libraries the patcher imports (WinHTTP, BCrypt, common controls, GDI), splits
the difference into Wine loading those and the patcher's own start.
"""
import os
import shutil
import statistics
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import bench_client as bc  # noqa: E402

ROUNDS = 15
IDC_REPAIR = 1006  # enabled once the patcher's run is over


def launch(wine_run, launcher, rounds, targets):
    arguments = [str(rounds)]
    for name, exe, window_class, ready in targets:
        arguments += [name, bc.windows_path(exe), window_class, str(ready)]
    out = subprocess.run([wine_run, launcher, *arguments], stdin=subprocess.DEVNULL, capture_output=True,
                         text=True, timeout=1500)
    if out.returncode != 0:
        raise RuntimeError(f"paint_launcher failed: {out.stdout}{out.stderr}")
    results = {}
    for line in out.stdout.splitlines():
        results.setdefault(line.split()[0], []).append(bc.field(line, "seconds"))
    return results


def main():
    wine_run, launcher, patcher_exe, empty_exe, empty_libs_exe, work = sys.argv[1:7]
    work = os.path.abspath(os.path.join(work, "startup_bench"))
    shutil.rmtree(work, ignore_errors=True)
    game, empty = os.path.join(work, "game"), os.path.join(work, "empty")
    os.makedirs(game)
    os.makedirs(empty)
    patcher = shutil.copy(patcher_exe, os.path.join(game, "Zerandis_Patcher.exe"))
    with open(os.path.join(game, "patcher.ini"), "w") as ini:
        ini.write("[PATCHER]\nBASE_URL=https://127.0.0.1:9/client/\n")
    empty_window = shutil.copy(empty_exe, os.path.join(empty, "empty_window.exe"))
    empty_libs = shutil.copy(empty_libs_exe, os.path.join(empty, "empty_window_libs.exe"))
    targets = [("patcher", patcher, "ZerandisPatcherWindow", IDC_REPAIR),
               ("empty", empty_window, "BenchEmptyWindow", 0),
               ("empty_libs", empty_libs, "BenchEmptyWindow", 0)]
    try:
        launch(wine_run, launcher, 1, targets)
        results = launch(wine_run, launcher, ROUNDS, targets)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print(f"start to a painted window (visible, idle for input, nothing left to paint), under Wine, "
          f"{ROUNDS} alternating rounds after one unmeasured:")
    titles = (("empty", "empty window (minimal Win32)"), ("empty_libs", "empty window + patcher's DLLs"),
              ("patcher", "Zerandis_Patcher.exe"))
    for name, title in titles:
        times = results[name]
        print(f"  {title:30s} best {min(times) * 1e3:7.1f} ms  median {statistics.median(times) * 1e3:7.1f} ms")
    best = min(results["patcher"]) / min(results["empty"])
    median = statistics.median(results["patcher"]) / statistics.median(results["empty"])
    print(f"  patcher / empty window: best {best:.3f}, median {median:.3f} "
          f"(target <= 1.2: {'met' if best <= 1.2 else 'NOT met'})")
    libraries = min(results["empty_libs"]) - min(results["empty"])
    own = min(results["patcher"]) - min(results["empty_libs"])
    print(f"  of the difference in the best runs: loading the patcher's DLLs {libraries * 1e3:+.1f} ms, "
          f"the patcher's own start {own * 1e3:+.1f} ms; patcher / empty window + DLLs: "
          f"{min(results['patcher']) / min(results['empty_libs']):.3f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
