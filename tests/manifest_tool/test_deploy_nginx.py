"""The nginx site of docs/deploying.md, run as written: the guide's ```nginx
block of the origin server, with its address, certificate and root pointed at a throw-away
setup on a free port of 127.0.0.1, serving a tree published with
zerandis-manifest. curl asks what the patcher asks."""
import hashlib
import os
import re
import socket
import subprocess
import time
import urllib.parse

import pytest

from conftest import ROOT

GUIDE = ROOT / "docs" / "deploying.md"
MAKE_CERTS = ROOT / "tests" / "net" / "make_certs.sh"
POLISH = "Dane/zażółć gęślą.txt"


def guide_server_block():
    blocks = re.findall(r"```nginx\n(.*?)```", GUIDE.read_text(encoding="utf-8"), re.S)
    # The other block is the caching edge, run by tests/window/test_window_edge.py.
    origins = [block for block in blocks if "proxy_cache" not in block]
    assert len(origins) == 1, "the guide should hold exactly one nginx origin block"
    return origins[0]


def local_server_block(block, port, certs, www):
    """The guide's block with only the machine-specific lines replaced."""
    swaps = {
        "listen": f"listen 127.0.0.1:{port} ssl;",
        "ssl_certificate": f"ssl_certificate {certs}/server.crt;",
        "ssl_certificate_key": f"ssl_certificate_key {certs}/server.key;",
        "root": f"root {www};",
    }
    lines, done = [], set()
    for line in block.splitlines():
        directive = line.split()[0] if line.split() else ""
        if directive in swaps:
            if directive not in done:  # the second "listen" (IPv6) goes
                lines.append("    " + swaps[directive])
                done.add(directive)
            continue
        lines.append(line)
    assert done == set(swaps), f"the guide's block lacks {set(swaps) - done}"
    return "\n".join(lines)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def guide_site(base, tool, more_servers=lambda port, certs, www: ""):
    """Publishes a release under `base` and serves it with the guide's origin block (and
    `more_servers`, further server blocks for a second free port); yields the site."""
    certs, www, prefix = base / "certs", base / "www", base / "nginx"
    subprocess.run([str(MAKE_CERTS), str(certs)], check=True)
    client = www / "client"
    files = {"Zerandis.exe": b"MZ" + os.urandom(300_000), POLISH: "źdźbło".encode(),
             "patcher/Zerandis_PatcherUpdate.bin": b"MZ updater"}
    for rel, data in files.items():
        (client / rel).parent.mkdir(parents=True, exist_ok=True)
        (client / rel).write_bytes(data)
    # Published as the guide says: generated, verified, in place.
    subprocess.run([tool, "generate", client, "-o", client / "manifest.md5", "-q"], check=True)
    subprocess.run([tool, "keygen", base / "studio.pem", "--public", base / "studio.pub.pem"], check=True)
    subprocess.run([tool, "sign", "--key", base / "studio.pem", "--release", "1", client / "manifest.md5"], check=True)
    subprocess.run([tool, "verify", client, client / "manifest.md5", "--public-key", base / "studio.pub.pem", "-q"],
                   check=True)

    port, more_port = free_port(), free_port()
    (prefix / "logs").mkdir(parents=True)
    conf = prefix / "nginx.conf"
    conf.write_text(f"""daemon on;
user root;
worker_processes 1;
pid {prefix}/nginx.pid;
error_log {prefix}/logs/error.log warn;
events {{ worker_connections 64; }}
http {{
  access_log {prefix}/logs/access.log;
  client_body_temp_path {prefix}/body;
  proxy_temp_path {prefix}/proxy;
  fastcgi_temp_path {prefix}/fastcgi;
  uwsgi_temp_path {prefix}/uwsgi;
  scgi_temp_path {prefix}/scgi;
  default_type application/octet-stream;
{local_server_block(guide_server_block(), port, certs, www)}
{more_servers(more_port, certs, www)}
}}
""", encoding="utf-8")
    started = subprocess.run(["nginx", "-p", str(prefix), "-c", str(conf), "-e", str(prefix / "logs/error.log")],
                             capture_output=True, text=True)
    assert started.returncode == 0, started.stderr + (prefix / "logs/error.log").read_text()
    try:
        for _ in range(50):
            if (prefix / "nginx.pid").exists():
                break
            time.sleep(0.1)
        yield {"base": f"https://127.0.0.1:{port}/client/", "ca": certs / "ca.crt", "client": client,
               "www": www, "more_port": more_port, "public_key": base / "studio.pub.pem"}
    finally:
        if (prefix / "nginx.pid").exists():
            os.kill(int((prefix / "nginx.pid").read_text()), 15)


@pytest.fixture(scope="module")
def site(tmp_path_factory, tool):
    yield from guide_site(tmp_path_factory.mktemp("deploy"), tool)


def curl(site, url, *options):
    """(exit code, headers lower-cased, body) of one GET."""
    result = subprocess.run(["curl", "-sS", "--cacert", str(site["ca"]), "-D", "-", *options, url],
                            capture_output=True, timeout=30)
    if result.returncode != 0:
        return result.returncode, {}, result.stderr
    head, _, body = result.stdout.partition(b"\r\n\r\n")
    lines = head.decode().split("\r\n")
    headers = {k.strip().lower(): v.strip() for k, v in (line.split(":", 1) for line in lines[1:])}
    headers[":status"] = lines[0].split()[1]
    return 0, headers, body


@pytest.mark.parametrize("name", ["manifest.md5", "manifest.md5.sig"])
def test_manifest_and_signature_are_served_uncached(site, name):
    code, headers, body = curl(site, site["base"] + name + "?nocache=123456789")
    assert code == 0, body
    assert headers[":status"] == "200"
    assert headers["cache-control"] == "no-store"
    assert body == (site["client"] / name).read_bytes()


def test_files_are_served_whole_with_the_patchers_query(site):
    manifest = (site["client"] / "manifest.md5").read_text(encoding="utf-8")
    entries = [line.split(" ", 2) for line in manifest.splitlines() if not line.startswith("#")]
    assert sorted(path for _, _, path in entries) == sorted(["Zerandis.exe", POLISH,
                                                             "patcher/Zerandis_PatcherUpdate.bin"])
    for md5, size, path in entries:
        # Encoded as the patcher does: UTF-8 bytes, only A-Z a-z 0-9 / - _ . ~ kept.
        url = site["base"] + urllib.parse.quote(path, safe="/-_.~") + f"?md5={md5}&attempt=2-987654"
        code, headers, body = curl(site, url, "-H", "Accept-Encoding: gzip, deflate", "--tlsv1.2",
                                   "--tls-max", "1.2")
        assert code == 0, body
        assert headers[":status"] == "200", path
        assert headers["content-length"] == size, path
        assert "content-encoding" not in headers, path
        assert hashlib.md5(body).hexdigest() == md5, path
    assert curl(site, site["base"] + "nie_ma.bin?md5=0&attempt=1-1")[1][":status"] == "404"


def test_tls_1_1_is_refused(site):
    # SECLEVEL=0 lets this client offer TLS 1.1 at all; the server's "protocol
    # version" alert says the refusal is the server's.
    code, _, err = curl(site, site["base"] + "manifest.md5", "--tlsv1.1", "--tls-max", "1.1",
                        "--ciphers", "DEFAULT@SECLEVEL=0")
    assert code == 35, err
    assert b"alert protocol version" in err, err
