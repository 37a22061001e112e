"""Patch day under load: N simulated players install a small generated client
at once, against the origin alone and against the caching edge of
docs/deploying.md with a cold and a warm cache.

Each player speaks the patcher's pattern: one TLS 1.2 connection per request
(a full handshake each, no session reuse), first the manifest with
`?nocache=<tick>`, then every file in manifest order, one at a time, with
`?md5=<md5>&attempt=<n>-<tick>`; a file whose MD5 is wrong gets attempt 2 (the
first player of each phase hashes every file; the rest check the length).
Both nginx servers (nginx-site.sh: the origin, and the edge taken from the
guide) run on 127.0.0.1 with two workers; nothing leaves the machine.

Bounded: at most 400 players per phase, each phase stopped after PHASE_CAP_S
(players not done by then count as not completed). Before the phases, two
calibration loads on the origin give its cost per TLS handshake and per MiB
sent, from nginx's own CPU time: the per-core figures of the capacity model.

    edge_bench.py WORK_DIR [PLAYERS ...]      (default 25 100 400)
"""
import asyncio
import hashlib
import os
import re
import shutil
import socket
import ssl
import statistics
import subprocess
import sys
import time
import urllib.parse

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
NET = os.path.join(ROOT, "tests", "net")
# The shared generated client, wherever the benchmarks live now.
sys.path[:0] = [os.path.join(ROOT, "bench"), os.path.join(ROOT, "tests", "perf")]
from bench_client import MIB, Part, describe, make_client  # noqa: E402

LOAD_CLIENT = [
    Part("2 MiB file", "big.pak", 2 << 20, 1),
    Part("256 KiB files", "data/d{:03}.pak", 256 << 10, 10),
    Part("16 KiB files", "small/s{:04}.dat", 16 << 10, 40),
]
MAX_PLAYERS = 400
PHASE_CAP_S = 180
RAMP_S = 1.0  # the players start evenly over the first second
TICKS = os.sysconf("SC_CLK_TCK")


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Nginx:
    """One nginx-site.sh server in `dir`: its port, CPU time and access log."""

    def __init__(self, dir, *arguments):
        shutil.rmtree(dir, ignore_errors=True)
        self.dir, self.port = dir, free_port()
        env = dict(os.environ, NGINX_WORKERS="2", NGINX_CONNECTIONS="4096")
        args = list(arguments)
        at = 1 if args and args[0] == "--edge" else 0
        args[at:at] = [dir, str(self.port)]
        subprocess.run([os.path.join(NET, "nginx-site.sh"), *args], check=True, env=env)
        with open(os.path.join(dir, "nginx.pid")) as pid:
            self.pid = int(pid.read())

    def cpu_seconds(self):
        """User and system time of the master and its workers."""
        total = 0
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open(f"/proc/{entry}/stat") as stat:
                    fields = stat.read().rsplit(")", 1)[1].split()
            except OSError:
                continue
            if int(entry) == self.pid or int(fields[1]) == self.pid:
                total += int(fields[11]) + int(fields[12])
        return total / TICKS

    def log_size(self):
        return os.path.getsize(os.path.join(self.dir, "logs", "access.log"))

    def log_since(self, offset):
        """(requests, body bytes) logged after `offset`."""
        with open(os.path.join(self.dir, "logs", "access.log"), "rb") as log:
            log.seek(offset)
            sizes = [int(size) for size in re.findall(rb'" \d{3} (\d+) "', log.read())]
        return len(sizes), sum(sizes)

    def stop(self):
        os.kill(self.pid, 15)


def machine_busy():
    """(busy, total) jiffies of all cores, from /proc/stat."""
    with open("/proc/stat") as stat:
        values = [int(v) for v in stat.readline().split()[1:]]
    return sum(values) - values[3] - values[4], sum(values)


class Load:
    """Counters of one phase."""

    def __init__(self):
        self.requests = self.bytes = self.failures = 0


def tick():
    return int(time.monotonic() * 1000)


async def get(context, port, target, load, digest=None, keep=None):
    """One request on a connection of its own: (status, body length). The body
    goes into `digest` (update) and `keep` (extend) when they are given."""
    reader, writer = await asyncio.open_connection("127.0.0.1", port, ssl=context, server_hostname="localhost")
    try:
        writer.write(f"GET {target} HTTP/1.1\r\nHost: localhost:{port}\r\nUser-Agent: Zerandis-Patcher/1.0\r\n"
                     f"Connection: Keep-Alive\r\n\r\n".encode())
        head = (await reader.readuntil(b"\r\n\r\n")).decode("latin-1")
        status = int(head.split()[1])
        declared = re.search(r"(?im)^content-length:\s*(\d+)", head)
        if not declared:
            raise ConnectionError("no Content-Length")
        left = length = int(declared.group(1))
        while left:
            piece = await reader.read(min(left, 1 << 20))
            if not piece:
                raise ConnectionError("body cut short")
            if digest is not None:
                digest.update(piece)
            if keep is not None:
                keep.extend(piece)
            left -= len(piece)
        load.requests += 1
        load.bytes += length
        return status, length
    finally:
        writer.close()


async def player(context, port, load, check_md5):
    """A fresh install; its time in seconds, or None when it failed."""
    start = time.monotonic()
    manifest = bytearray()
    await get(context, port, f"/client/manifest.md5?nocache={tick()}", load, keep=manifest)
    for line in manifest.decode().splitlines():
        md5, size, path = line.split(" ", 2)
        url = "/client/" + urllib.parse.quote(path, safe="/-_.~") + f"?md5={md5}&attempt="
        for attempt in (1, 2, 3):
            body = hashlib.md5() if check_md5 else None
            status, length = await get(context, port, f"{url}{attempt}-{tick()}", load, body)
            if status == 200 and length == int(size) and (body is None or body.hexdigest() == md5):
                break
            load.failures += 1
        else:
            return None
    return time.monotonic() - start


async def players(context, port, count, load):
    async def one(i):
        await asyncio.sleep(RAMP_S * i / count)
        try:
            return await player(context, port, load, check_md5=(i == 0))
        except (OSError, ConnectionError, asyncio.IncompleteReadError, ssl.SSLError):
            load.failures += 1
            return None

    tasks = [asyncio.ensure_future(one(i)) for i in range(count)]
    done, pending = await asyncio.wait(tasks, timeout=PHASE_CAP_S)
    for task in pending:
        task.cancel()
    return [t.result() for t in done if t.result() is not None]


def client_context(ca):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
    context.minimum_version = context.maximum_version = ssl.TLSVersion.TLSv1_2
    context.load_verify_locations(ca)
    return context


def measure(name, servers, run):
    """Runs `run()` (returns its own figures) and adds wall time and the CPU of
    nginx, of this process and of the whole machine over that time."""
    cpu = [server.cpu_seconds() for server in servers]
    logs = [server.log_size() for server in servers]
    busy, total = machine_busy()
    own = time.process_time()
    start = time.monotonic()
    figures = run()
    wall = time.monotonic() - start
    busy2, total2 = machine_busy()
    figures.update(name=name, wall=wall, nginx_cpu=[s.cpu_seconds() - c for s, c in zip(servers, cpu)],
                   logged=[s.log_since(o) for s, o in zip(servers, logs)], client_cpu=time.process_time() - own,
                   machine=(busy2 - busy) / max(1, total2 - total) * os.cpu_count())
    return figures


def calibrate(context, origin, target, count, concurrency):
    """`count` requests for one URL, `concurrency` at a time, against the origin."""
    async def run():
        load, gate = Load(), asyncio.Semaphore(concurrency)

        async def one():
            async with gate:
                await get(context, origin.port, target, load)
        await asyncio.gather(*(one() for _ in range(count)))
        return {"requests": load.requests, "bytes": load.bytes}
    return measure(target, [origin], lambda: asyncio.run(run()))


def phase(context, name, servers, count):
    """`count` players against the first of `servers`; the last is the origin."""
    load = Load()
    figures = measure(name, servers, lambda: {"times": asyncio.run(players(context, servers[0].port, count, load))})
    figures.update(players=count, requests=load.requests, bytes=load.bytes, failures=load.failures,
                   origin_bytes=figures["logged"][-1][1])
    return figures


def row(f):
    times, wall = sorted(f["times"]), f["wall"]
    p50 = statistics.median(times) if times else float("nan")
    p99 = times[min(len(times) - 1, int(len(times) * 0.99))] if times else float("nan")
    nginx = sum(f["nginx_cpu"]) / wall
    other = max(0.0, f["machine"] - sum(f["nginx_cpu"]) / wall - f["client_cpu"] / wall)
    limit = ", 2 cores busy" if f["machine"] >= 1.8 else ""
    return (f"| {f['players']} | {f['name']} | {len(times) * 60 / wall:.0f} ({len(times)}/{f['players']}) | "
            f"{f['bytes'] / MIB / wall:.0f} | {p50:.1f} / {p99:.1f} | {f['requests'] / wall:.0f} | "
            f"{f['requests'] / wall:.0f} | {100 * f['origin_bytes'] / max(1, f['bytes']):.1f} % | "
            f"{nginx:.2f} | {f['client_cpu'] / wall:.2f} | {f['machine']:.2f} (other work {other:.2f}){limit} |")


def main():
    work = os.path.abspath(sys.argv[1])
    counts = [min(MAX_PLAYERS, int(n)) for n in sys.argv[2:]] or [25, 100, 400]
    os.makedirs(work, exist_ok=True)
    certs, www = os.path.join(work, "certs"), os.path.join(work, "www")
    subprocess.run([os.path.join(NET, "make_certs.sh"), certs], check=True)
    shutil.rmtree(www, ignore_errors=True)
    entries = make_client(os.path.join(www, "client"), LOAD_CLIENT)
    with open(os.path.join(www, "bulk.bin"), "wb") as bulk:
        bulk.write(os.urandom(16 * MIB))
    size = sum(e.size for e in entries)
    print(f"Client: {describe(LOAD_CLIENT)} ({size / MIB:.1f} MiB, {len(entries)} files + manifest); "
          f"phases capped at {PHASE_CAP_S} s; {os.cpu_count()} cores, load average {os.getloadavg()[0]:.1f}",
          flush=True)
    crt, key, ca = (os.path.join(certs, n) for n in ("server.crt", "server.key", "ca.crt"))
    context = client_context(ca)
    origin = Nginx(os.path.join(work, "origin"), www, crt, key)
    edge = None
    try:
        shakes = calibrate(context, origin, "/client/manifest.md5?nocache=1", 3000, 64)
        bulk = calibrate(context, origin, "/bulk.bin", 96, 4)
        per_shake = shakes["nginx_cpu"][0] / shakes["requests"]
        per_mib = max(1e-9, bulk["nginx_cpu"][0] - per_shake * bulk["requests"]) / (bulk["bytes"] / MIB)
        print(f"Per nginx core: {1 / per_shake:.0f} TLS 1.2 handshakes/s with a small answer "
              f"({shakes['requests'] / shakes['wall']:.0f}/s measured, nginx {shakes['nginx_cpu'][0]:.2f} s CPU); "
              f"{1 / per_mib:.0f} MiB/s sent over TLS ({bulk['bytes'] / MIB / bulk['wall']:.0f} MiB/s measured, "
              f"nginx {bulk['nginx_cpu'][0]:.2f} s CPU)", flush=True)

        results = []
        for count in counts:
            results.append(phase(context, "origin", [origin], count))
            if edge:
                edge.stop()
            edge = Nginx(os.path.join(work, "edge"), "--edge", str(origin.port), crt, key, ca)
            for name in ("edge cold", "edge warm"):
                results.append(phase(context, name, [edge, origin], count))
            for f in results[-3:]:
                print(f"  {f['players']} players, {f['name']}: {f['wall']:.1f} s, {len(f['times'])} done, "
                      f"{f['failures']} failed requests or attempts, nginx CPU s (edge, origin / origin) "
                      f"{', '.join(f'{c:.1f}' for c in f['nginx_cpu'])}", flush=True)

        print("\n| Players | Server | Completed per minute | MiB/s served | p50 / p99 s to a complete client | "
              "Requests/s | TLS handshakes/s | Origin's share of bytes | nginx CPU (cores) | Load generator CPU "
              "(cores) | Machine busy (cores of 2) |")
        print("|---|---|---|---|---|---|---|---|---|---|---|")
        for f in results:
            print(row(f))
        print("\nEvery request is a connection of its own, so TLS handshakes/s equal requests/s. "
              "'2 cores busy' marks phases where the machine (nginx, this generator and other work) kept both "
              "cores at 90 % or more: there the cores, not nginx's design, set the figures.")
    finally:
        if edge:
            edge.stop()
        origin.stop()


if __name__ == "__main__":
    main()
