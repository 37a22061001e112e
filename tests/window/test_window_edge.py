"""The caching edge of docs/deploying.md (started from the guide by
tests/net/nginx-site.sh --edge) in front of the test nginx as the origin: real
patchers install through it, and the origin's access log shows what the edge
let through. The tests run in file order on one module's players."""

import hashlib
import os
import re
import socket
import subprocess

import pytest

from patcher_rig import FINISHED_STATUS, IDC_REPAIR, IDC_STATUS

NGINX_SITE = os.path.join(os.path.dirname(__file__), "..", "net", "nginx-site.sh")
BASE = "data/base.pak"


class Edge:
    """The edge on a free port of 127.0.0.1, its cache under `dir`, and the origin's log."""

    def __init__(self, servers, dir):
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            self.port = probe.getsockname()[1]
        self.dir, certs = dir, os.path.dirname(servers.values["CA_CERT"])
        self.origin_log = os.path.join(servers.values["NGINX_DIR"], "logs", "access.log")
        subprocess.run([NGINX_SITE, "--edge", dir, str(self.port), str(servers.values["NGINX_PORT"]),
                        f"{certs}/server.crt", f"{certs}/server.key", servers.values["CA_CERT"]], check=True)

    def stop(self):
        with open(os.path.join(self.dir, "nginx.pid")) as pid:
            os.kill(int(pid.read()), 15)

    def origin_requests(self, site, relative):
        """The queries of the requests for one file of `site` that reached the origin."""
        with open(self.origin_log, encoding="utf-8") as log:
            paths = re.findall(r'"GET (\S+) HTTP', log.read())
        return [path.partition("?")[2] for path in paths if path.partition("?")[0] == site.url_path + relative]

    def cached_copy(self, site, relative):
        """The cache file of the copy kept under the path and md5 (levels=1:2)."""
        key = hashlib.md5(f"{site.url_path}{relative}?md5={site.files[relative].md5}".encode()).hexdigest()
        return os.path.join(self.dir, "cache", key[-1], key[-3:-1], key)


@pytest.fixture(scope="module")
def edge(servers, rig):
    edge = Edge(servers, os.path.join(rig.work_dir, "edge"))
    yield edge
    edge.stop()


def install(launcher, driver, site, edge, name):
    """A fresh install by a new player through the edge; the window stays open."""
    started = launcher.start(name, ini=site.ini(BASE_URL=f"https://localhost:{edge.port}{site.url_path}"))
    driver.wait_enabled(IDC_REPAIR, True, 60000)
    assert driver.text(IDC_STATUS) == FINISHED_STATUS
    return started


@pytest.fixture(scope="module")
def players(sites, edge, launcher, driver):
    site = sites.client("edge")
    first = install(launcher, driver, site, edge, "edge1")
    driver.call("close")
    driver.wait_gone(10000)
    first.process.wait(30)
    return site, [first.game, install(launcher, driver, site, edge, "edge2").game]


def test_two_fresh_installs_take_each_file_once_from_the_origin(players, edge):
    site, games = players
    for entry in site.files.values():
        assert [game.read_bytes(entry.path) for game in games] == [entry.data] * 2
        [query] = edge.origin_requests(site, entry.path)
        assert query.startswith(f"md5={entry.md5}&attempt=1-")


def test_the_manifest_reaches_the_origin_on_every_run(players, edge):
    site, _ = players
    assert [query.startswith("nocache=") for query in edge.origin_requests(site, "manifest.md5")] == [True] * 2


def test_a_damaged_edge_copy_fails_the_first_attempt_and_heals_from_the_origin(players, edge, driver):
    site, games = players
    entry, game, copy = site.files[BASE], games[1], edge.cached_copy(site, BASE)
    with open(copy, "r+b") as cached:
        cached.seek(-1, os.SEEK_END)
        last = cached.read(1)
        cached.seek(-1, os.SEEK_END)
        cached.write(bytes([last[0] ^ 0xFF]))
    damaged = hashlib.md5(entry.data[:-1] + bytes([last[0] ^ 0xFF])).hexdigest()
    os.remove(game.file(BASE))

    driver.repair(game)
    assert driver.text(IDC_STATUS) == FINISHED_STATUS
    assert game.read_bytes(BASE) == entry.data
    log = game.log()
    assert (f"Niezgodność pobranego pliku data\\base.pak. Oczekiwany MD5={entry.md5}, pobrany MD5={damaged}, "
            f"oczekiwany rozmiar={entry.size}, pobrany rozmiar={entry.size}, próba=1/3.") in log
    assert any(re.match(r"Pobrano i zweryfikowano: data\\base\.pak .* próba: 2/3$", line) for line in log)
    queries = edge.origin_requests(site, BASE)
    assert [query.split("attempt=")[1][:2] for query in queries] == ["1-", "2-"]
    with open(copy, "rb") as healed:
        assert healed.read().endswith(entry.data), "the edge still keeps the damaged copy"
    assert len(edge.origin_requests(site, "manifest.md5")) == 3
