#!/usr/bin/env bash
# Download benchmark: the same 1 GiB file from nginx through DownloadToFile, a
# bare WinHTTP loop (plain, and doing DownloadToFile's work: its TLS settings
# and final flush; the target is against that one) and curl on the host, plus the memory of a 10 MiB and a
# 1 GiB DownloadToFile. Prints figures and ratios; asserts nothing.
#   download_bench.sh SERVERS_ENV WINE_RUN DOWNLOAD_BENCH_EXE
set -euo pipefail
env_file=$1 wine_run=$2 bench=$3
. "$env_file"
work=$(dirname "$env_file")/bench
mkdir -p "$work"
# Sparse files: nginx reads them at memory speed, so the disk of the server side stays out of the figures.
[ "$(stat -c %s "$WWW_DIR/bench_1g.bin" 2>/dev/null || echo 0)" = 1073741824 ] || truncate -s 1G "$WWW_DIR/bench_1g.bin"
[ "$(stat -c %s "$WWW_DIR/bench_10m.bin" 2>/dev/null || echo 0)" = 10485760 ] || truncate -s 10M "$WWW_DIR/bench_10m.bin"
base=https://localhost:$NGINX_PORT

field() { sed -n "s/.*$1=\([0-9.]*\).*/\1/p" <<<"$2"; }
run() { "$wine_run" "$bench" "$1" "$base/$2" "Z:$work/out.bin" </dev/null; }

# Alternating rounds, best of each: the machine and its disk are shared, so
# single runs swing by 30 %; the best run is the one least disturbed.
small=$(run lib bench_10m.bin)
echo "$small"
results=$work/results.txt
: >"$results"
# The order rotates too, so that no variant always follows curl's disk writes.
# Five rounds: the machine's speed drifts over minutes, three were too few.
orders=("lib bare bare_settings" "bare bare_settings lib" "bare_settings lib bare")
for round in 0 1 2 3 4; do
  for mode in ${orders[$((round % 3))]}; do
    run "$mode" bench_1g.bin | tee -a "$results"
  done
  start=$(date +%s.%N)
  curl -s --cacert "$CA_CERT" --tlsv1.2 --tls-max 1.2 -o "$work/curl.bin" "$base/bench_1g.bin"
  end=$(date +%s.%N)
  rm -f "$work/curl.bin"
  echo "curl seconds=$(/usr/bin/python3 -c "print($end - $start)")" | tee -a "$results"
done

/usr/bin/python3 - "$small" "$results" <<'PY'
import re, sys
def f(line, key): return float(re.search(r"(?<![a-z_])" + key + r"=([0-9.]+)", line).group(1))
small, results = sys.argv[1], open(sys.argv[2]).read().splitlines()
runs = {}
for line in results:
    runs.setdefault(line.split()[0], []).append(line)
best = {mode: min(f(l, "seconds") for l in lines) for mode, lines in runs.items()}
gib, mib = 1 << 30, 1 << 20
names = {"lib": "DownloadToFile", "bare": "bare WinHTTP loop", "bare_settings": "bare loop, same work", "curl": "curl (host)"}
for mode in ("lib", "bare", "bare_settings", "curl"):
    print(f"{names[mode]:26s} 1 GiB: {gib / mib / best[mode]:7.1f} MiB/s (best {best[mode]:.2f} s of {len(runs[mode])})")
print("all runs (s): " + "; ".join(f"{mode} " + " ".join(f"{f(l, 'seconds'):.2f}" for l in lines)
                                   for mode, lines in runs.items()))
ratio = best["bare_settings"] / best["lib"]
print(f"DownloadToFile / bare loop, same work:    {ratio:.3f} (target >= 0.95: {'met' if ratio >= 0.95 else 'MISSED'})")
print(f"DownloadToFile / plain bare loop:         {best['bare'] / best['lib']:.3f}")
print(f"DownloadToFile / curl:                    {best['curl'] / best['lib']:.3f}")
s = f(small, "peak_private")
l = max(f(line, "peak_private") for line in runs["lib"])
print(f"peak private (PeakPagefileUsage) 10 MiB: {s / mib:.2f} MiB  1 GiB: {l / mib:.2f} MiB  "
      f"difference: {(l - s) / mib:+.2f} MiB (target <= 2 MiB: {'met' if l - s <= 2 * mib else 'MISSED'})")
PY
