#!/usr/bin/python3
"""Scripted HTTPS test server for the patcher's network tests (127.0.0.1 only).

Listeners (ports written to the env file as KEY=VALUE lines):
  SCRIPTED_PORT   TLS 1.2+, certificate for localhost/127.0.0.1 from the test CA
  LEGACY_PORT     TLS 1.0/1.1 only, same certificate
  UNTRUSTED_PORT  self-signed certificate for localhost
  OTHERHOST_PORT  certificate from the test CA for other.invalid
  PLAIN_PORT      plain HTTP, the target of https -> http redirects
Every listener serves the same routes:
  /status/<code>              that status, body "status <code>"
  /redirect/<code>?to=<url>   that status with Location: <url>
  /loop                       302 to itself, for ever
  /hops/<n>/<ms>?<query>      after <ms>, 302 to /hops/<n-1>/<ms>?<query>; /hops/0/.. is 200
  /bytes/<n>                  n bytes, byte i = i % 251
  /cut/<announced>/<sent>     Content-Length <announced>, <sent> bytes, then close
  /slow/<n>/<chunk>/<ms>      n bytes in chunks of <chunk>, <ms> apart
  /site/<path>                the file WWW_DIR/site/<path> (percent-decoded, query
                              ignored). When <path>.plan exists, each request takes
                              its first line and does what it says: "ok" (the file),
                              "stale" (<path>.stale, or the file with its first byte
                              changed), "cut" (Content-Length of the file, half of it,
                              then an abrupt close), "big" (ten times the file's
                              bytes), "loop" (302 to itself), "status <code>",
                              "slow <chunk> <ms>" (the file in chunks of <chunk>
                              bytes, <ms> apart, flushed one by one), "sign <key>"
                              (for <file>.sig: the patcher's signature line over
                              <file> as it lies on disk, made with the PEM private
                              key <key> by openssl, in the old format without a
                              release), "sign2 <release> <expires or -> <key>" (the
                              same with a release and an expiry); an empty plan
                              serves the file.
Each request becomes one JSON line in REQUEST_LOG: listener, path (with the
query), user_agent, tls (e.g. "TLSv1.2", "" for plain HTTP), peer (the client's
port: one per connection).
"""
import base64
import hashlib
import json
import os
import subprocess
import socket
import ssl
import sys
import threading
import time
import urllib.parse
import warnings
from http.server import BaseHTTPRequestHandler, HTTPServer
from socketserver import ThreadingMixIn

LOG_LOCK = threading.Lock()
PLAN_LOCK = threading.Lock()
PATTERN = bytes(i % 251 for i in range(251 * 4096))


def pattern_bytes(start, count):
    """count bytes of the repeating pattern, beginning at offset start."""
    out = bytearray()
    offset = start % 251
    while len(out) < count:
        take = min(count - len(out), len(PATTERN) - offset)
        out += PATTERN[offset:offset + take]
        offset = 0
    return bytes(out)


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        pass

    def record(self):
        tls = self.connection.version() if isinstance(self.connection, ssl.SSLSocket) else ""
        entry = {"listener": self.server.name, "path": self.path,
                 "user_agent": self.headers.get("User-Agent", ""), "tls": tls or "",
                 "peer": self.client_address[1]}
        with LOG_LOCK, open(self.server.log_path, "a", encoding="utf-8") as log:
            log.write(json.dumps(entry) + "\n")

    def send_plain(self, code, body=b"", extra=()):
        self.send_response(code)
        for name, value in extra:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Content-Type", "application/octet-stream")
        self.end_headers()
        if body:
            self.wfile.write(body)

    def stream(self, total, chunk, delay):
        sent = 0
        while sent < total:
            piece = min(chunk, total - sent)
            self.wfile.write(pattern_bytes(sent, piece))
            sent += piece
            if delay:
                self.wfile.flush()
                time.sleep(delay)

    def trickle(self, body, chunk, delay):
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        for start in range(0, len(body), chunk):
            if start:
                time.sleep(delay)
            self.wfile.write(body[start:start + chunk])
            self.wfile.flush()

    def do_GET(self):
        self.record()
        url = urllib.parse.urlsplit(self.path)
        parts = [p for p in url.path.split("/") if p]
        query = urllib.parse.parse_qs(url.query)
        try:
            self.route(parts, query)
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError):
            self.close_connection = True

    def route(self, parts, query):
        kind = parts[0] if parts else ""
        if kind == "status" and len(parts) == 2:
            self.send_plain(int(parts[1]), f"status {parts[1]}".encode())
        elif kind == "redirect" and len(parts) == 2:
            self.send_plain(int(parts[1]), b"", [("Location", query["to"][0])])
        elif kind == "hops" and len(parts) == 3:
            time.sleep(int(parts[2]) / 1000.0)
            n = int(parts[1])
            if n == 0:
                self.send_plain(200, b"arrived")
            else:
                query = urllib.parse.urlsplit(self.path).query
                self.send_plain(302, b"", [("Location", f"/hops/{n - 1}/{parts[2]}?{query}")])
        elif kind == "loop":
            self.send_plain(302, b"", [("Location", "/loop")])
        elif kind == "bytes" and len(parts) == 2:
            n = int(parts[1])
            self.send_response(200)
            self.send_header("Content-Length", str(n))
            self.end_headers()
            self.stream(n, 1 << 20, 0)
        elif kind == "cut" and len(parts) == 3:
            self.send_response(200)
            self.send_header("Content-Length", parts[1])
            self.end_headers()
            self.stream(int(parts[2]), 1 << 20, 0)
            self.wfile.flush()
            self.close_connection = True
            # An abrupt close: no TLS close_notify, like a dropped connection.
            self.connection.shutdown(socket.SHUT_RDWR)
        elif kind == "site" and len(parts) >= 2:
            self.site(parts[1:])
        elif kind == "slow" and len(parts) == 4:
            n = int(parts[1])
            self.send_response(200)
            self.send_header("Content-Length", str(n))
            self.end_headers()
            self.stream(n, int(parts[2]), int(parts[3]) / 1000.0)
        else:
            self.send_plain(404, b"not found")


    def site(self, parts):
        names = [urllib.parse.unquote(p, encoding="utf-8", errors="strict") for p in parts]
        if any(n in ("", ".", "..") for n in names):
            self.send_plain(404, b"not found")
            return
        path = os.path.join(self.server.www, "site", *names)
        action = next_planned_action(path + ".plan")
        if action == "loop":
            self.send_plain(302, b"", [("Location", self.path)])
            return
        if action.startswith("status "):
            self.send_plain(int(action.split()[1]), action.encode())
            return
        if action.startswith("sign") and path.endswith(".sig"):
            with open(path[:-len(".sig")], "rb") as f:
                self.send_plain(200, signature_line(action.split(" ", 1)[1], f.read()) if action.startswith("sign ")
                                else release_signature_line(*action.split(" ", 3)[1:], f.read()))
            return
        try:
            with open(path, "rb") as f:
                body = f.read()
        except OSError:
            self.send_plain(404, b"not found")
            return
        if action == "big":
            body = body * 10
        if action == "stale":
            if os.path.exists(path + ".stale"):
                with open(path + ".stale", "rb") as f:
                    body = f.read()
            elif body:
                body = bytes([body[0] ^ 0xFF]) + body[1:]
        if action.startswith("slow "):
            _, chunk, delay = action.split()
            self.trickle(body, int(chunk), int(delay) / 1000.0)
            return
        if action == "cut":
            self.send_response(200)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body[:len(body) // 2])
            self.wfile.flush()
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)
            return
        self.send_plain(200, body)


def release_signature_line(release, expires, key, data):
    """One line of the signature file that signs a release and an expiry with the manifest."""
    statement = f"zerandis-manifest-release {release} {expires} {hashlib.sha256(data).hexdigest()}\n".encode()
    line = signature_line(key, statement).replace(b" 1 ", b" 2 ", 1)
    return line.replace(b"sha256 ", f"sha256 {release} {expires} ".encode(), 1)


def signature_line(key, data):
    """One line of the patcher's old signature file: base64 of r || s."""
    der = subprocess.run(["openssl", "dgst", "-sha256", "-sign", key], input=data,
                         capture_output=True, check=True).stdout
    # ECDSA-Sig-Value ::= SEQUENCE { r INTEGER, s INTEGER }, short lengths for P-256.
    numbers, at = [], 2
    for _ in range(2):
        size = der[at + 1]
        numbers.append(int.from_bytes(der[at + 2:at + 2 + size], "big"))
        at += 2 + size
    raw = b"".join(n.to_bytes(32, "big") for n in numbers)
    return b"zerandis-manifest-signature 1 ecdsa-p256-sha256 " + base64.b64encode(raw) + b"\n"


def next_planned_action(plan_path):
    """Takes the first line of a plan file; "ok" when there is none left."""
    with PLAN_LOCK:
        try:
            with open(plan_path, encoding="utf-8") as f:
                lines = f.read().splitlines()
        except OSError:
            return "ok"
        if not lines:
            return "ok"
        with open(plan_path, "w", encoding="utf-8") as f:
            f.write("".join(line + "\n" for line in lines[1:]))
        return lines[0].strip() or "ok"


class Server(ThreadingMixIn, HTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, name, context, log_path, www):
        super().__init__(("127.0.0.1", 0), Handler)
        self.name = name
        self.www = www
        self.context = context
        self.log_path = log_path

    def finish_request(self, request, client_address):
        # The handshake runs on the connection's own thread, so a client that
        # fails it (old TLS, untrusted certificate) never blocks the listener.
        if self.context is not None:
            try:
                request.settimeout(30)
                request = self.context.wrap_socket(request, server_side=True)
            except (ssl.SSLError, OSError):
                return
        super().finish_request(request, client_address)


def tls_context(certs, name, legacy=False):
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    if legacy:
        # The old versions are the point of this listener.
        warnings.filterwarnings("ignore", category=DeprecationWarning)
        ctx.set_ciphers("DEFAULT:@SECLEVEL=0")
        ctx.minimum_version = ssl.TLSVersion.TLSv1
        ctx.maximum_version = ssl.TLSVersion.TLSv1_1
    ctx.load_cert_chain(os.path.join(certs, name + ".crt"), os.path.join(certs, name + ".key"))
    return ctx


def main():
    certs, env_path, log_path, www = sys.argv[1:5]
    open(log_path, "w").close()
    listeners = {
        "SCRIPTED": tls_context(certs, "server"),
        "LEGACY": tls_context(certs, "server", legacy=True),
        "UNTRUSTED": tls_context(certs, "untrusted"),
        "OTHERHOST": tls_context(certs, "otherhost"),
        "PLAIN": None,
    }
    lines = [f"REQUEST_LOG={log_path}"]
    for name, ctx in listeners.items():
        server = Server(name.lower(), ctx, log_path, www)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        lines.append(f"{name}_PORT={server.server_address[1]}")
    tmp = env_path + ".tmp"
    with open(tmp, "w") as env:
        env.write("\n".join(lines) + "\n")
    os.replace(tmp, env_path)  # readers never see a half-written file
    threading.Event().wait()


if __name__ == "__main__":
    main()
