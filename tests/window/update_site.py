"""Update sites on the scripted HTTPS test server (tests/net/tls_server.py),
built from Python for runs of the real patcher.

  NetServers  the ports and paths that the `net_https` fixture wrote to the
              file named by PATCHER_NET_ENV, and the server's request log
  Site        one site under WWW_DIR/site/<token>/: published files, their
              manifest.md5, per-file plans of faults, the requests it saw
  small_client   a site whose client of two files is also put into a game
              directory, so a run there ends up to date
"""

import hashlib
import json
import os
import shutil
import urllib.parse
import uuid
from dataclasses import dataclass

MANIFEST = "manifest.md5"

# A tiny client: a text file in the game directory and a binary one below it.
CLIENT_FILES = {
    "Zerandis.cfg": b"[Grafika]\r\nRozdzielczosc=1280x800\r\n",
    "data/base.pak": bytes((i * 7 + 3) % 256 for i in range(48 * 1024)),
}


class NetServers:
    """KEY=VALUE lines of the servers' env file: SCRIPTED_PORT, WWW_DIR, REQUEST_LOG..."""

    def __init__(self, values):
        self.values = values

    @classmethod
    def from_environment(cls):
        path = os.environ.get("PATCHER_NET_ENV")
        if not path:
            raise AssertionError("run through ctest with the net_https fixture; PATCHER_NET_ENV is not set")
        with open(path, encoding="utf-8") as file:
            pairs = (line.split("=", 1) for line in file.read().splitlines() if "=" in line)
            return cls({key: value for key, value in pairs})

    @property
    def scripted_port(self):
        return int(self.values["SCRIPTED_PORT"])

    @property
    def www_dir(self):
        return self.values["WWW_DIR"]

    def entries(self, prefix=""):
        """The logged requests (path, peer...) whose path begins with `prefix`. A
        path sent in absolute form (Wine does so through a proxy's tunnel) counts
        by its part after the host."""
        with open(self.values["REQUEST_LOG"], encoding="utf-8") as log:
            entries = [json.loads(line) for line in log if line.strip()]
        for entry in entries:
            if entry["path"].startswith("https://"):
                entry["path"] = "/" + entry["path"].split("/", 3)[3]
        return [entry for entry in entries if entry["path"].startswith(prefix)]

    def requests(self, prefix=""):
        """Paths (with their queries) of the requests logged so far that begin with `prefix`."""
        return [entry["path"] for entry in self.entries(prefix)]


@dataclass
class SiteFile:
    path: str  # relative, with "/" separators
    data: bytes

    @property
    def md5(self):
        return hashlib.md5(self.data).hexdigest()

    @property
    def size(self):
        return len(self.data)

    @property
    def windows_path(self):
        """The path as the patcher names it in its texts and log."""
        return self.path.replace("/", "\\")


class Site:
    """BASE_URL https://localhost:<SCRIPTED_PORT>/site/<token>/ and the files behind it."""

    def __init__(self, servers, name):
        self.servers = servers
        self.token = f"{name}_{uuid.uuid4().hex[:10]}"
        self.dir = os.path.join(servers.www_dir, "site", self.token)
        self.url_path = f"/site/{self.token}/"
        self.base_url = f"https://localhost:{servers.scripted_port}{self.url_path}"
        self.files = {}  # listed in the manifest, in publishing order
        os.makedirs(self.dir)

    def _local(self, relative):
        return os.path.join(self.dir, *relative.replace("\\", "/").split("/"))

    def put(self, relative, data):
        """A file on the site that the manifest does not list (yet)."""
        path = self._local(relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as file:
            file.write(data)

    def publish(self, relative, data):
        """A file on the site, listed by the next write_manifest (a path published again keeps its place)."""
        entry = SiteFile(relative.replace("\\", "/"), bytes(data))
        self.put(entry.path, entry.data)
        self.files[entry.path] = entry
        return entry

    def write_manifest(self):
        lines = ["# Zerandis test client"]
        lines += [f"{entry.md5} {entry.size} {entry.path}" for entry in self.files.values()]
        self.put(MANIFEST, ("\n".join(lines) + "\n").encode("utf-8"))

    def plan(self, relative, actions):
        """What the next requests of a site file get, one action each: "ok", "cut", "status 500", "slow 4096 200"..."""
        self.put(relative + ".plan", "".join(action + "\n" for action in actions).encode("utf-8"))

    def ini(self, **extra):
        """patcher.ini values pointing at this site."""
        return {"BASE_URL": self.base_url, "GAME_EXE": "Zerandis.exe", **extra}

    def install(self, game_dir, skip=()):
        """Every published file but those in `skip` into the game directory, as a current client has it."""
        for entry in self.files.values():
            if entry.path not in skip:
                game_dir.write(entry.path, entry.data)

    def requests(self):
        """Requests for this site, as paths relative to its base (queries kept), in order."""
        return [path[len(self.url_path):] for path in self.servers.requests(self.url_path)]

    def connections(self):
        """The client ports this site's requests came from: one per connection."""
        return {entry["peer"] for entry in self.servers.entries(self.url_path)}

    def file_requests(self, relative):
        """The queries of every request for one file, in order."""
        wanted = urllib.parse.quote(relative.replace("\\", "/"), safe="/-_.~")
        return [query for path, _, query in (request.partition("?") for request in self.requests())
                if path == wanted]

    def remove(self):
        shutil.rmtree(self.dir, ignore_errors=True)


def small_client(servers, name, files=CLIENT_FILES):
    """A site publishing `files` with its manifest written."""
    site = Site(servers, name)
    for relative, data in files.items():
        site.publish(relative, data)
    site.write_manifest()
    return site
