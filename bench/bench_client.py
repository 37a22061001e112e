"""A generated game client for the benchmarks, and the helpers they share.

The standard client is about 1 GiB (943 MiB): one 512 MiB file, 100 files of
4 MiB and 2,000 of 16 KiB, in three parts that stress the transfer rate, the
mid-sized file and the per-file cost in turn. Every file is cut from one random 16 MiB block
(at a different offset per file), so writing it is fast and every digest differs.
"""
import hashlib
import os
import subprocess
import time
from dataclasses import dataclass

MIB = 1 << 20


@dataclass(frozen=True)
class Part:
    name: str      # shown in the reports
    pattern: str   # relative path, formatted with the file's index
    size: int
    count: int


CLIENT_1G = [
    Part("512 MiB file", "big.pak", 512 << 20, 1),
    Part("4 MiB files", "data/d{:03}.pak", 4 << 20, 100),
    Part("16 KiB files", "small/s{:04}.dat", 16 << 10, 2000),
]

# The same shape (one large file, 100 middle ones, 2,000 small ones, so the
# same manifest length) at about 10 MiB.
CLIENT_10M = [
    Part("4 MiB file", "big.pak", 4 << 20, 1),
    Part("32 KiB files", "data/d{:03}.pak", 32 << 10, 100),
    Part("1.5 KiB files", "small/s{:04}.dat", 1536, 2000),
]


@dataclass(frozen=True)
class Entry:
    part: str
    rel: str       # with "/" separators
    size: int
    md5: str
    path: str      # on the host


def size_text(size):
    for unit, scale in (("GiB", 1 << 30), ("MiB", MIB), ("KiB", 1 << 10)):
        if size >= scale:
            return f"{size / scale:g} {unit}"
    return f"{size} B"


def describe(layout):
    """"1 x 512 MiB, 100 x 4 MiB, 2000 x 16 KiB"."""
    return ", ".join(f"{p.count} x {size_text(p.size)}" for p in layout)


def make_client(root, layout=CLIENT_1G):
    """Writes the client under `root` with its manifest.md5; returns the entries."""
    block = os.urandom(16 << 20)
    entries = []
    for part in layout:
        for i in range(part.count):
            rel = part.pattern.format(i)
            path = os.path.join(root, rel)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            digest = hashlib.md5()
            with open(path, "wb") as out:
                left, offset = part.size, i * 4096 % len(block)
                while left:
                    piece = block[offset:offset + min(left, len(block) - offset)]
                    out.write(piece)
                    digest.update(piece)
                    left -= len(piece)
                    offset = 0
            entries.append(Entry(part.name, rel, part.size, digest.hexdigest(), path))
    write_manifest(os.path.join(root, "manifest.md5"), entries)
    return entries


def write_manifest(path, entries):
    with open(path, "w") as out:
        out.writelines(f"{e.md5} {e.size} {e.rel}\n" for e in entries)


def of_part(entries, name):
    return [e for e in entries if e.part == name]


def warm(paths):
    """Reads the files once so that the page cache holds them."""
    for path in paths:
        with open(path, "rb") as file:
            while file.read(16 << 20):
                pass


def windows_path(path):
    """The path as Wine shows it to Windows programs (through drive Z:)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def timed(command, **kwargs):
    """Seconds of wall time for a host command run to its end."""
    start = time.perf_counter()
    subprocess.run(command, check=True, **kwargs)
    return time.perf_counter() - start


def field(line, key):
    """The number after `key=` in a "key=value ..." line."""
    for word in line.split():
        name, _, value = word.partition("=")
        if name == key:
            return float(value)
    raise KeyError(f"{key} not in {line!r}")


def rounds(variants, count):
    """Runs every variant `count` times, rotating the order each round so that
    none always follows the same neighbour; returns {name: [results]}. The
    machine is shared, so the best of the rounds is the least disturbed one."""
    names = list(variants)
    results = {name: [] for name in names}
    for r in range(count):
        shift = r % len(names)
        for name in names[shift:] + names[:shift]:
            results[name].append(variants[name]())
    return results
