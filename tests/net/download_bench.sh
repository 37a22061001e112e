#!/usr/bin/env bash
# Download benchmark: the same 1 GiB file from nginx through DownloadToFile, a
# bare WinHTTP loop and curl on the host, plus the memory of a 10 MiB and a
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

small=$(run lib bench_10m.bin)
lib=$(run lib bench_1g.bin)
bare=$(run bare bench_1g.bin)
start=$(date +%s.%N)
curl -s --cacert "$CA_CERT" --tlsv1.2 --tls-max 1.2 -o "$work/curl.bin" "$base/bench_1g.bin"
end=$(date +%s.%N)
rm -f "$work/curl.bin"

echo "$small"; echo "$lib"; echo "$bare"
/usr/bin/python3 - "$small" "$lib" "$bare" "$start" "$end" <<'PY'
import re, sys
def f(line, key): return float(re.search(key + r"=([0-9.]+)", line).group(1))
small, lib, bare, start, end = sys.argv[1:6]
gib, mib = 1 << 30, 1 << 20
t_lib, t_bare, t_curl = f(lib, "seconds"), f(bare, "seconds"), float(end) - float(start)
print(f"DownloadToFile   1 GiB: {gib / mib / t_lib:8.1f} MiB/s ({t_lib:.2f} s)")
print(f"bare WinHTTP     1 GiB: {gib / mib / t_bare:8.1f} MiB/s ({t_bare:.2f} s)")
print(f"curl (host)      1 GiB: {gib / mib / t_curl:8.1f} MiB/s ({t_curl:.2f} s)")
ratio = t_bare / t_lib
print(f"DownloadToFile / bare loop: {ratio:.3f} (target >= 0.95: {'met' if ratio >= 0.95 else 'MISSED'})")
print(f"DownloadToFile / curl:      {t_curl / t_lib:.3f}")
for key in ("peak_private", "private"):
    s, l = f(small, key), f(lib, key)
    print(f"{key:13s} 10 MiB: {s / mib:7.2f} MiB  1 GiB: {l / mib:7.2f} MiB  difference: {(l - s) / mib:+.2f} MiB"
          f" (target <= 2 MiB: {'met' if l - s <= 2 * mib else 'MISSED'})")
PY
