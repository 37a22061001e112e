"""A player's line between the patcher and the server, on loopback: a TCP
proxy (asyncio) that delays every chunk by a fixed one-way time and caps the
bandwidth of each direction.

    proxy = LinkProxy(target_port, rtt_s=0.08, mbit_s=100)
    proxy.start()        # listens on 127.0.0.1:proxy.port, in a thread of its own
    ... fetch through it ...
    counts = proxy.take_counts()
    proxy.stop()

The kernel completes the TCP handshake on loopback at once, so the proxy
charges it: a connection's first client byte leaves one round trip after the
accept, as on a real line where the client can send only after the SYN-ACK.
Then every chunk arrives one-way-delay after it was read, no earlier than the
chunk before it has been serialised at the line's rate (one queue per
direction, shared by all connections, as one player's line is). No slow
start, loss or jitter: the floor of a real line, not its average.

Counted per connection, and summed for take_counts(): the span from the
first accept to the last byte delivered to the client, bytes in and out of
each direction (they must match), TLS handshakes (a ClientHello as the first
record) and which of them were full (the server's first flight carries a
Certificate) or abbreviated (a resumed session: ServerHello then
ChangeCipherSpec, no Certificate). TLS 1.2 only: its handshake is in clear.
Bounded: every connection is closed after `max_seconds`; only 127.0.0.1.
"""
import asyncio
import collections
import os
import threading
import time

CHUNK = 64 << 10
MAX_EARLY_S = 0.005
QUEUE_LIMIT = 8 << 20  # bytes in flight per direction of one connection before reading pauses
LINE_NICE = -10


def run_loop(loop):
    """Runs the line's event loop in this thread, ahead of ordinary work: the
    line is the measuring instrument and uses little CPU, but on a busy shared
    machine a late wake-up would add to every round trip. The programs under
    test keep their ordinary priority."""
    try:
        os.setpriority(os.PRIO_PROCESS, threading.get_native_id(), LINE_NICE)
    except OSError:
        pass  # without the right to, the self-check shows whether the line keeps time
    loop.run_forever()


class Line:
    """One direction of the line: its rate and one-way delay, and the time
    at which its serialiser is free again."""

    def __init__(self, delay_s, bytes_per_s):
        self.delay_s, self.bytes_per_s = delay_s, bytes_per_s
        self.free_at = 0.0

    def arrival(self, now, size, not_before=0.0):
        start = max(now, self.free_at, not_before)
        self.free_at = start + size / self.bytes_per_s
        return self.free_at + self.delay_s


class ServerFlight:
    """Reads the server's TLS records up to its ChangeCipherSpec and tells a
    full handshake (Certificate sent) from a resumed one."""

    def __init__(self):
        self.buffer, self.handshake = b"", b""
        self.types, self.done = set(), False

    def feed(self, data):
        if self.done:
            return None
        self.buffer += data
        while len(self.buffer) >= 5:
            kind, length = self.buffer[0], int.from_bytes(self.buffer[3:5], "big")
            if len(self.buffer) < 5 + length:
                break
            body, self.buffer = self.buffer[5:5 + length], self.buffer[5 + length:]
            if kind == 22:
                self.handshake += body
                while len(self.handshake) >= 4:
                    size = int.from_bytes(self.handshake[1:4], "big")
                    if len(self.handshake) < 4 + size:
                        break
                    self.types.add(self.handshake[0])
                    self.handshake = self.handshake[4 + size:]
            elif kind == 20:  # the server's ChangeCipherSpec: its flight is over
                self.done = True
                return "full" if 11 in self.types else "resumed"
            else:
                self.done = True
                return "other"
        return None


class LinkProxy:
    def __init__(self, target_port, rtt_s, mbit_s, max_seconds=600):
        self.target_port, self.rtt_s, self.max_seconds = target_port, rtt_s, max_seconds
        rate = mbit_s * 1e6 / 8
        self.up, self.down = Line(rtt_s / 2, rate), Line(rtt_s / 2, rate)
        self.loop = asyncio.new_event_loop()
        self.port = None
        self.lock = threading.Lock()
        self.counts = self.zero_counts()
        self.thread = threading.Thread(target=run_loop, args=(self.loop,), daemon=True)
        self.server = None
        self.open_connections = 0
        self.early_s = 0.0

    def learn_lateness(self, overshoot_s):
        """The loop wakes late (epoll rounds its time-out up to a millisecond,
        and a busy machine adds its own); waking that much early keeps the
        mean delay at the set one."""
        self.early_s = min(0.8 * self.early_s + 0.2 * overshoot_s, MAX_EARLY_S)

    @staticmethod
    def zero_counts():
        return {"connections": 0, "handshakes": 0, "full": 0, "resumed": 0,
                "up_in": 0, "up_out": 0, "down_in": 0, "down_out": 0, "first_accept": None, "last_down": None}

    def start(self):
        self.thread.start()
        self.server = asyncio.run_coroutine_threadsafe(
            asyncio.start_server(self.serve, "127.0.0.1", 0), self.loop).result()
        self.port = self.server.sockets[0].getsockname()[1]
        return self

    def stop(self):
        async def close():
            self.server.close()
            await self.server.wait_closed()
        asyncio.run_coroutine_threadsafe(close(), self.loop).result()
        self.loop.call_soon_threadsafe(self.loop.stop)
        self.thread.join(10)

    def take_counts(self, settle_s=5.0):
        """The counts since the last call, once every connection has closed
        (waits up to `settle_s` for the last ones to drain)."""
        deadline = time.monotonic() + settle_s
        while time.monotonic() < deadline:
            with self.lock:
                if self.open_connections == 0:
                    break
            time.sleep(0.02)
        with self.lock:
            counts, self.counts = self.counts, self.zero_counts()
            counts["still_open"] = self.open_connections
        # From the first connection to the last byte handed to the client: the
        # fetch as the line sees it, without the client program's start and exit
        # (Wine keeps its pooled connection open until the process ends).
        counts["span"] = (counts["last_down"] - counts["first_accept"]) if counts["last_down"] else 0.0
        return counts

    def add(self, key, amount=1):
        with self.lock:
            self.counts[key] += amount

    async def serve(self, client_reader, client_writer):
        accepted = self.loop.time()
        with self.lock:
            self.open_connections += 1
            self.counts["connections"] += 1
            if self.counts["first_accept"] is None:
                self.counts["first_accept"] = accepted
        try:
            server_reader, server_writer = await asyncio.open_connection("127.0.0.1", self.target_port)
        except OSError:
            client_writer.close()
            with self.lock:
                self.open_connections -= 1
            return
        flight = ServerFlight()
        up = self.pipe(client_reader, server_writer, self.up, "up", accepted + self.rtt_s, None)
        down = self.pipe(server_reader, client_writer, self.down, "down", 0.0, flight)
        try:
            await asyncio.wait_for(asyncio.gather(up, down), self.max_seconds)
        except (asyncio.TimeoutError, OSError):
            pass
        finally:
            for writer in (client_writer, server_writer):
                writer.close()
            with self.lock:
                self.open_connections -= 1

    async def pipe(self, reader, writer, line, name, not_before, flight):
        """Copies one direction through the line until its end of file."""
        pending = collections.deque()  # (arrival time, bytes); None as the data ends the stream
        ready, room = asyncio.Event(), asyncio.Event()
        room.set()
        queued = 0

        async def deliver():
            nonlocal queued
            while True:
                await ready.wait()
                wait = pending[0][0] - self.loop.time() - self.early_s
                if wait > 0:
                    await asyncio.sleep(wait)
                    self.learn_lateness(self.loop.time() - pending[0][0] + self.early_s)
                # Chunks due by now go out in one write: one wake-up, not one per chunk.
                data, ended = b"", False
                while pending and pending[0][0] <= self.loop.time():
                    piece = pending.popleft()[1]
                    if piece is None:
                        ended = True
                        break
                    data += piece
                if not pending:
                    ready.clear()
                if data:
                    try:
                        writer.write(data)
                        await writer.drain()
                    except OSError:
                        return
                    self.add(f"{name}_out", len(data))
                    if name == "down":
                        with self.lock:
                            self.counts["last_down"] = self.loop.time()
                    queued -= len(data)
                    if queued < QUEUE_LIMIT:
                        room.set()
                if ended:
                    break
            if writer.can_write_eof():
                try:
                    writer.write_eof()
                except (OSError, RuntimeError):
                    pass

        def push(at, data):
            pending.append((at, data))
            ready.set()

        sender = asyncio.ensure_future(deliver())
        first = True
        try:
            while True:
                await room.wait()
                data = await reader.read(CHUNK)
                if not data:
                    break
                self.add(f"{name}_in", len(data))
                if first and name == "up" and data[0] == 22:
                    self.add("handshakes")
                if flight is not None:
                    kind = flight.feed(data)
                    if kind in ("full", "resumed"):
                        self.add(kind)
                first = False
                queued += len(data)
                if queued >= QUEUE_LIMIT:
                    room.clear()
                push(line.arrival(self.loop.time(), len(data), not_before), data)
        except OSError:
            pass
        push(self.loop.time(), None)
        await sender


async def _echo(reader, writer):
    while data := await reader.read(CHUNK):
        writer.write(data)
        await writer.drain()
    writer.close()


def measure_rtt(rtt_s, mbit_s, pings=10):
    """Self-check of the line: (median ping time, first connect-and-ping time,
    counts) through a proxy of these settings to a loopback echo server. A
    ping should take one RTT; the first, with the TCP handshake, two."""
    loop = asyncio.new_event_loop()
    thread = threading.Thread(target=run_loop, args=(loop,), daemon=True)
    thread.start()
    echo = asyncio.run_coroutine_threadsafe(asyncio.start_server(_echo, "127.0.0.1", 0), loop).result()
    proxy = LinkProxy(echo.sockets[0].getsockname()[1], rtt_s, mbit_s, max_seconds=60).start()

    async def pinger():
        start = time.perf_counter()
        reader, writer = await asyncio.open_connection("127.0.0.1", proxy.port)
        times = []
        for i in range(pings + 1):
            sent = time.perf_counter() if i else start
            writer.write(b"x" * 64)
            await reader.readexactly(64)
            times.append(time.perf_counter() - sent)
        writer.close()
        return times

    try:
        times = asyncio.run_coroutine_threadsafe(pinger(), loop).result(60)
        counts = proxy.take_counts()
    finally:
        proxy.stop()
        echo.close()
        loop.call_soon_threadsafe(loop.stop)
        thread.join(10)
    rest = sorted(times[1:])
    return rest[len(rest) // 2], times[0], counts
