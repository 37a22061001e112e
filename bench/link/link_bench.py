"""The repair on a player's line: the update run (under Wine) and curl (on the
host) fetch a small client through link_proxy.py at RTT 20, 80 and 200 ms and
100 Mbit/s, against the floor of what they sent: round trips (from the proxy's
connections and TLS handshakes and the server's requests) x RTT + bytes /
bandwidth.

Two connection modes, because Wine hides what Windows pays: Wine's WinHTTP
keeps its connections in a pool that outlives the patcher's sessions, so the
patcher under Wine reuses one connection for the whole run ("Wine's
connections"); on Windows each file's session takes its connection with it.
With the server answering `Connection: close` ("Windows connections") the
patcher under Wine opens one connection per request too, as on Windows; the
proxy's count of connections shows it.

TLS session resumption: the same Windows-connections run against a server
with a session cache and tickets and against one with neither; nginx logs
$ssl_session_reused per request and the proxy tells full handshakes from
abbreviated ones in the server's first flight.

Self-check before the figures: through the proxy to an echo server the
measured RTT must be within 10 % of the set one, and after every run each
direction's bytes in must equal its bytes out; otherwise no table is printed
and the benchmark fails. No time is asserted.

Usage: link_bench.py SERVERS_ENV WINE_RUN REPAIR_BENCH_EXE WORK_DIR
"""
import os
import shutil
import signal
import socket
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.join(HERE, "..")]
import bench_client as bc  # noqa: E402
import link_proxy  # noqa: E402

RTTS_MS = (20, 80, 200)
MBIT_S = 100
RTT_TOLERANCE = 0.10
RTT_CHECKS = 3  # a busy shared machine may delay one check; three misses mean a broken line

# The bench client's shape (one large file, some middle ones, many small ones)
# at a size that keeps the 200 ms runs to tens of seconds.
CLIENT_LINK = [
    bc.Part("4 MiB file", "big.pak", 4 << 20, 1),
    bc.Part("1 MiB files", "data/d{:03}.pak", 1 << 20, 4),
    bc.Part("16 KiB files", "small/s{:04}.dat", 16 << 10, 25),
]

# The servers: keepalive or "Connection: close" on every answer; session
# resumption (cache and tickets) or none.
SERVERS = {
    "keep": ("", "ssl_session_cache shared:link:1m; ssl_session_tickets on;"),
    "close": ("keepalive_timeout 0;", "ssl_session_cache shared:link:1m; ssl_session_tickets on;"),
    "close_nores": ("keepalive_timeout 0;", "ssl_session_cache off; ssl_session_tickets off;"),
}
LOG_FORMAT = "$connection $connection_requests $ssl_session_reused $status $body_bytes_sent \"$request\""


def read_env(path):
    with open(path) as file:
        return dict(line.rstrip("\n").split("=", 1) for line in file if "=" in line)


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Nginx:
    """One nginx on 127.0.0.1 with a server block (and access log) per SERVERS entry."""

    def __init__(self, dir, root, certs):
        shutil.rmtree(dir, ignore_errors=True)
        os.makedirs(os.path.join(dir, "logs"))
        self.dir, self.ports = dir, {name: free_port() for name in SERVERS}
        blocks = "".join(f"""
  server {{
    listen 127.0.0.1:{self.ports[name]} ssl;
    server_name localhost;
    ssl_certificate {certs}/server.crt;
    ssl_certificate_key {certs}/server.key;
    ssl_protocols TLSv1.2;
    {keepalive}
    {session}
    access_log {self.log(name)} link;
    root {root};
  }}""" for name, (keepalive, session) in SERVERS.items())
        with open(os.path.join(dir, "nginx.conf"), "w") as conf:
            conf.write(f"""daemon on;
user root;
worker_processes 1;
pid {dir}/nginx.pid;
error_log {dir}/logs/error.log warn;
events {{ worker_connections 256; }}
http {{
  log_format link '{LOG_FORMAT}';
  client_body_temp_path {dir}/body;
  proxy_temp_path {dir}/proxy;
  fastcgi_temp_path {dir}/fastcgi;
  uwsgi_temp_path {dir}/uwsgi;
  scgi_temp_path {dir}/scgi;
  default_type application/octet-stream;
  sendfile on;
  gzip off;
{blocks}
}}
""")
        subprocess.run(["nginx", "-e", f"{dir}/logs/error.log", "-p", dir, "-c", f"{dir}/nginx.conf"],
                       check=True, stdin=subprocess.DEVNULL)
        with open(os.path.join(dir, "nginx.pid")) as pid:
            self.pid = int(pid.read())

    def log(self, name):
        return os.path.join(self.dir, "logs", f"{name}.log")

    def lines_since(self, name, offset):
        with open(self.log(name)) as log:
            log.seek(offset)
            return log.read().splitlines()

    def offset(self, name):
        path = self.log(name)
        return os.path.getsize(path) if os.path.exists(path) else 0

    def stop(self):
        os.kill(self.pid, signal.SIGTERM)


class Run:
    """One fetch of the client through the line: its seconds from the first
    connection to the last byte (the wall time with the program's start and
    exit beside), the proxy's counts, the server's requests."""

    def __init__(self, wall, counts, log_lines, bytes_per_s, rtt_s):
        self.wall, self.seconds, self.counts = wall, counts["span"], counts
        self.requests = len(log_lines)
        # "r" on a connection's first request: that handshake resumed a session.
        self.reused = sum(1 for line in log_lines if line.split()[1] == "1" and line.split()[2] == "r")
        self.round_trips = counts["connections"] + 2 * counts["full"] + counts["resumed"] + self.requests
        self.floor = self.round_trips * rtt_s + counts["down_out"] / bytes_per_s

    def per_file_wait(self, bytes_per_s):
        """Seconds per request beyond the bytes' own time on the line."""
        return (self.seconds - self.counts["down_out"] / bytes_per_s) / self.requests


class Bench:
    def __init__(self, env, wine_run, repair_exe, work, nginx, entries):
        self.env, self.wine_run, self.repair_exe, self.work = env, wine_run, repair_exe, work
        self.nginx, self.entries = nginx, entries
        self.game, self.out = os.path.join(work, "game"), os.path.join(work, "out")
        self.total = sum(e.size for e in entries)

    def through_line(self, server, rtt_ms, fetch):
        """Runs `fetch(base_url)` through a fresh proxy to `server`; checks the proxy moved every byte."""
        rtt_s, rate = rtt_ms / 1000, MBIT_S * 1e6 / 8
        proxy = link_proxy.LinkProxy(self.nginx.ports[server], rtt_s, MBIT_S).start()
        offset = self.nginx.offset(server)
        try:
            start = time.perf_counter()
            fetch(f"https://localhost:{proxy.port}/link/")
            seconds = time.perf_counter() - start
            counts = proxy.take_counts()
        finally:
            proxy.stop()
        if counts["up_in"] != counts["up_out"] or counts["down_in"] != counts["down_out"] or counts["still_open"]:
            raise RuntimeError(f"the proxy lost bytes or kept a connection: {counts}")
        time.sleep(0.05)  # nginx writes its log line after the answer
        return Run(seconds, counts, self.nginx.lines_since(server, offset), rate, rtt_s)

    def patcher(self, base):
        shutil.rmtree(self.game, ignore_errors=True)
        os.makedirs(self.game)
        with open(os.path.join(self.game, "patcher.ini"), "w") as ini:
            ini.write(f"[PATCHER]\nBASE_URL={base}\n")
        out = subprocess.run([self.wine_run, self.repair_exe, bc.windows_path(self.game)], stdin=subprocess.DEVNULL,
                             capture_output=True, text=True, timeout=600)
        if out.returncode != 0 or bc.field(out.stdout, "stale") != len(self.entries):
            raise RuntimeError(f"the repair failed: {out.stdout}{out.stderr}")

    def curl(self, base, reuse):
        shutil.rmtree(self.out, ignore_errors=True)
        config = os.path.join(self.work, "curl.cfg")
        with open(config, "w") as file:
            file.write(f'url = "{base}manifest.md5"\noutput = "{self.out}/manifest.md5"\n')
            for e in self.entries:
                file.write(f'url = "{base}{e.rel}"\noutput = "{os.path.join(self.out, e.rel)}"\n')
        closing = [] if reuse else ["-H", "Connection: close"]
        subprocess.run(["curl", "-s", "-f", "--create-dirs", "--cacert", self.env["CA_CERT"], "--tlsv1.2",
                        "--tls-max", "1.2", "--max-time", "600", *closing, "-K", config],
                       check=True, stdin=subprocess.DEVNULL, timeout=660)
        got = sum(os.path.getsize(os.path.join(self.out, e.rel)) for e in self.entries)
        if got != self.total:
            raise RuntimeError("curl fetched an incomplete client")


def check_line(rtt_ms):
    """The proxy's RTT, as a ping through it measures it: (ok, text)."""
    rtt_s = rtt_ms / 1000
    for _ in range(RTT_CHECKS):
        ping, first, counts = link_proxy.measure_rtt(rtt_s, MBIT_S)
        moved = counts["up_in"] == counts["up_out"] and counts["down_in"] == counts["down_out"]
        ok = abs(ping - rtt_s) <= RTT_TOLERANCE * rtt_s and moved
        text = (f"RTT {rtt_ms} ms: ping {ping * 1e3:.1f} ms, connect + first ping {first * 1e3:.1f} ms "
                f"(two round trips), bytes in = out: {'yes' if moved else 'NO'}")
        if ok:
            return True, text
    return False, text


VARIANTS = [
    # (key, server, what runs, description)
    ("wine", "keep", "patcher", "patcher, Wine's connections"),
    ("windows", "close", "patcher", "patcher, Windows connections"),
    ("curl_each", "keep", "curl_each", "curl, one connection per file"),
    ("curl_one", "keep", "curl_one", "curl, one connection for all"),
    ("windows_nores", "close_nores", "patcher", "patcher, Windows connections, no resumption"),
    ("curl_each_nores", "close_nores", "curl_each", "curl, one connection per file, no resumption"),
]


def measure(bench, rtt_ms):
    fetchers = {"patcher": bench.patcher, "curl_each": lambda base: bench.curl(base, reuse=False),
                "curl_one": lambda base: bench.curl(base, reuse=True)}
    return {key: bench.through_line(server, rtt_ms, fetchers[what]) for key, server, what, _ in VARIANTS}


def report(results, total, files):
    rate = MBIT_S * 1e6 / 8
    print(f"\nthe repair through the line ({MBIT_S} Mbit/s each way): {files} files + the manifest, "
          f"{total / bc.MIB:.1f} MiB; floor = round trips x RTT + bytes / bandwidth")
    print("| Mode | RTT | Patcher | Floor | Floor / patcher | Patcher over floor, per request "
          "| curl, a connection per file | curl, one connection | curl per file / patcher "
          "| Connections / requests | Round trips per request |")
    print("|---|---|---|---|---|---|---|---|---|---|---|")
    for key, name in (("wine", "Wine's connections"), ("windows", "Windows connections")):
        for rtt_ms, runs in results.items():
            run, each, one = runs[key], runs["curl_each"], runs["curl_one"]
            over = (run.seconds - run.floor) / run.requests * 1e3
            print(f"| {name} | {rtt_ms} ms | {run.seconds:.2f} s | {run.floor:.2f} s | {run.floor / run.seconds:.2f} "
                  f"| {over:.0f} ms | {each.seconds:.2f} s | {one.seconds:.2f} s | {each.seconds / run.seconds:.2f} "
                  f"| {run.counts['connections']} / {run.requests} | {run.round_trips / run.requests:.2f} |")
    print("\nevery run's proxy and server counts (connections, full / resumed handshakes, requests, "
          "reused by nginx, round trips, bytes down):")
    for rtt_ms, runs in results.items():
        for key, _, _, description in VARIANTS:
            run = runs[key]
            c = run.counts
            print(f"  {rtt_ms:3d} ms  {description:46s} {run.seconds:7.2f} s (wall {run.wall:5.2f} s)  floor {run.floor:6.2f} s  "
                  f"conn {c['connections']:3d}  full {c['full']:3d}  resumed {c['resumed']:3d}  "
                  f"requests {run.requests:3d}  reused {run.reused:3d}  round trips {run.round_trips:4d}  "
                  f"down {c['down_out'] / bc.MIB:.2f} MiB  per-file wait {run.per_file_wait(rate) * 1e3:.0f} ms")
    print("\nTLS session resumption, Windows connections (per file: the run's time over its requests):")
    print("| RTT | Patcher: resumed handshakes (nginx `r`) | Patcher per file, cache + tickets / none | Saved "
          "| curl: resumed | curl per file, cache + tickets / none | Saved |")
    print("|---|---|---|---|---|---|---|")
    for rtt_ms, runs in results.items():
        w, wn, c, cn = runs["windows"], runs["windows_nores"], runs["curl_each"], runs["curl_each_nores"]
        per = [r.seconds / r.requests * 1e3 for r in (w, wn, c, cn)]
        # Without a resumed handshake the difference is the machine's noise, not a saving.
        saved = f"{per[1] - per[0]:.0f} ms" if w.reused else "none resumed"
        print(f"| {rtt_ms} ms | {w.reused} of {w.counts['connections']} (none server: {wn.reused}) "
              f"| {per[0]:.0f} / {per[1]:.0f} ms | {saved} "
              f"| {c.reused} of {c.counts['connections']} (none server: {cn.reused}) "
              f"| {per[2]:.0f} / {per[3]:.0f} ms | {per[3] - per[2]:.0f} ms |")


# Client shapes for the guide: (name, files, bytes). Projected from the
# measured per-file wait of the Windows-connections run at each RTT.
SHAPES = [
    ("943 MiB in 2,101 files (the bench client)", 2101, 943 * bc.MIB),
    ("5 GB in 200 files", 200, 5_000_000_000),
    ("5 GB in 20,000 files", 20_000, 5_000_000_000),
]
CHECK_BYTES_PER_S = 450 * bc.MIB  # check_bench: the check phase of an up-to-date client
CHECK_SECONDS_PER_FILE = 240e-6


def span(low, high, unit):
    """"4–7 min", or "3 s" when both ends round alike."""
    return f"{low:.0f} {unit}" if round(low) == round(high) else f"{low:.0f}–{high:.0f} {unit}"


def report_guide(results):
    rate = MBIT_S * 1e6 / 8
    print(f"\nprojected waits at {MBIT_S} Mbit/s, Windows connections: from the floor of 4 round trips per file "
          "to each RTT's measured per-file wait (full install: every file and the manifest; one-file repair: "
          "the check of the whole client, the manifest, one average file):")
    print("| Client | " + " | ".join(f"RTT {r} ms: full / one file" for r in results) + " |")
    print("|---|" + "---|" * len(results))
    for name, files, size in SHAPES:
        manifest = files * 80
        check = size / CHECK_BYTES_PER_S + files * CHECK_SECONDS_PER_FILE
        cells = []
        for rtt_ms, runs in results.items():
            full, one = [], []
            for wait in (4 * rtt_ms / 1000, runs["windows"].per_file_wait(rate)):
                full.append(((files + 1) * wait + (size + manifest) / rate) / 60)
                one.append(check + 2 * wait + (manifest + size / files) / rate)
            cells.append(f"{span(*full, 'min')} / {span(*one, 's')}")
        print(f"| {name} | " + " | ".join(cells) + " |")


def main():
    env_file, wine_run, repair_exe, work = sys.argv[1:5]
    env = read_env(env_file)
    work = os.path.abspath(os.path.join(work, "link_bench"))
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    print("self-check of the line (ping through the proxy to an echo server, median of 10):")
    checks = [check_line(rtt_ms) for rtt_ms in RTTS_MS]
    for _, text in checks:
        print(f"  {text}")
    if not all(ok for ok, _ in checks):
        print(f"the line is off by more than {RTT_TOLERANCE:.0%} of its RTT: no table")
        return 1

    root = os.path.join(work, "www")
    entries = bc.make_client(os.path.join(root, "link"), CLIENT_LINK)
    bc.warm(e.path for e in entries)
    nginx = Nginx(os.path.join(work, "nginx"), root, os.path.dirname(env["CA_CERT"]))
    try:
        bench = Bench(env, wine_run, repair_exe, work, nginx, entries)
        results = {}
        for rtt_ms in RTTS_MS:
            start = time.perf_counter()
            results[rtt_ms] = measure(bench, rtt_ms)
            print(f"RTT {rtt_ms} ms measured in {time.perf_counter() - start:.0f} s", flush=True)
    finally:
        nginx.stop()
    report(results, sum(e.size for e in entries), len(entries))
    report_guide(results)
    shutil.rmtree(root, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
