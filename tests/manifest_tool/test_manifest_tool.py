"""zerandis-manifest on real trees, natively: digests against md5sum, order,
exclusions, every refusal, verify's findings and its reading of manifests."""
import os
import pathlib
import re
import subprocess
import tempfile

import pytest

POLISH = "Dane/Zażółć gęślą jaźń.txt"
BIG = "Dane/Dźwięki/muzyka 1.bin"


def make_client(root):
    """Nested folders, Polish names, a space in a name, an empty and a 5 MiB file."""
    files = {
        "Zerandis.exe": b"MZ game",
        "Zerandis_Patcher.exe": b"MZ patcher",
        "patcher/Zerandis_PatcherUpdate.bin": b"MZ updater",
        POLISH: "źdźbło".encode(),
        "Dane/pusty.dat": b"",
        BIG: os.urandom(5 * 1024 * 1024),
        "Dane/a b/c.txt": b"c",
    }
    for rel, data in files.items():
        path = root / rel
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
    return sorted(files)


def md5sum(path):
    out = subprocess.run(["md5sum", "--", path], check=True, capture_output=True).stdout
    return out.split()[0].decode()


def entries(text):
    return [line.split(" ", 2) for line in text.decode().split("\n") if line and not line.startswith("#")]


def listed_paths(text):
    return [path for _, _, path in entries(text)]


def test_digests_sizes_and_order_match_md5sum(run, tmp_path):
    client = tmp_path / "client"
    expected = make_client(client)
    out = tmp_path / "manifest.md5"
    result = run("generate", client, "-o", out)
    assert result.returncode == 0, result.stderr
    text = out.read_bytes()
    assert not text.startswith(b"\xef\xbb\xbf") and b"\r" not in text and text.endswith(b"\n")
    first = text.split(b"\n")[0].decode()
    assert re.fullmatch(r"# zerandis-manifest \d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ, 7 files", first), first
    rows = entries(text)
    # Byte order of the UTF-8 paths ("Dane/Dźwięki" before "Dane/Zażółć", "Dane/a b" after both).
    assert [p for _, _, p in rows] == sorted(expected, key=lambda p: p.encode())
    for md5, size, rel in rows:
        assert md5 == md5sum(client / rel), rel
        assert int(size) == (client / rel).stat().st_size, rel
    # Standard output carries the same lines; a second run the same order.
    again = run("generate", client)
    assert again.returncode == 0
    assert entries(again.stdout) == rows
    assert not [p for p in os.listdir(tmp_path) if p.endswith(".new")]


def test_leaves_out_manifests_staging_files_and_local_config(run, tmp_path):
    client = tmp_path / "client"
    (client / "sub").mkdir(parents=True)
    for rel in ["game.pak", "manifest.md5", "Manifest.MD5.download", "game.pak.download",
                "sub/x.new", "patcher.ini", "PATCHER.TXT", "sub/patcher.ini", "sub/manifest.md5", "lista.md5"]:
        (client / rel).write_bytes(b"x")
    result = run("generate", client, "-o", client / "lista.md5")
    assert result.returncode == 0, result.stderr
    assert listed_paths((client / "lista.md5").read_bytes()) == ["game.pak", "sub/manifest.md5", "sub/patcher.ini"]

    with_config = run("generate", client, "--include-local-config", "-o", client / "lista.md5")
    assert with_config.returncode == 0
    # The log is never published: every run of the patcher changes it.
    assert listed_paths((client / "lista.md5").read_bytes()) == [
        "game.pak", "patcher.ini", "sub/manifest.md5", "sub/patcher.ini"]


def make_fifo(client):
    os.mkfifo(client / "pipe")


def make_outside_link(client):
    outside = client.parent / "outside.txt"
    outside.write_bytes(b"secret")
    os.symlink(outside, client / "link.txt")


def make_folder_link(client):
    (client / "real").mkdir()
    (client / "real" / "f").write_bytes(b"f")
    os.symlink("real", client / "alias")


# (what to create, the printable path each refusal must name)
REFUSALS = {
    "colon": ({"a:b.txt": b""}, ["a:b.txt"]),
    "parent look-alikes": ({"x/.../f": b"", "y/. ./f": b""}, ["x/...", "y/. ."]),
    "trailing dot and space": ({"name.": b"", "dir /f": b""}, ["name.", "dir "]),
    "not UTF-8": ({b"bad\xff.txt": b""}, ["bad\\xFF.txt"]),
    "control character": ({"tab\tname": b"", "x/cr\r": b""}, ["tab\\x09name", "x/cr\\x0D"]),
    "reserved characters": ({n: b"" for n in ["a<b", "a>b", 'a"b', "a|b", "a?b", "a*b", "a\\b"]},
                            ["a<b", "a>b", 'a"b', "a|b", "a?b", "a*b", "a\\b"]),
    "device names": ({"CON": b"", "nul.txt": b"", "d/Com1.tar.gz": b"", "LPT9": b"", "aux .ini": b"",
                      "conin$": b""}, ["CON", "nul.txt", "d/Com1.tar.gz", "LPT9", "aux .ini", "conin$"]),
    "leading space": ({" lead.txt": b""}, [" lead.txt"]),
    "letter case": ({"Data/a.txt": b"", "data/b.txt": b"", "Łódź.txt": b"", "łódź.txt": b""},
                    ["data", "Data", "Łódź.txt", "łódź.txt"]),
    "special file": (make_fifo, ["pipe"]),
    "link out of the tree": (make_outside_link, ["link.txt"]),
    "dangling link": (lambda c: os.symlink("gone", c / "dead"), ["dead"]),
    "link to a folder": (make_folder_link, ["alias"]),
}


@pytest.mark.parametrize("case", REFUSALS, ids=list(REFUSALS))
def test_refuses_what_the_patcher_cannot_take(run, tmp_path, case):
    client = tmp_path / "client"
    client.mkdir()
    (client / "fine.txt").write_bytes(b"ok")
    setup, named = REFUSALS[case]
    if callable(setup):
        setup(client)
    else:
        for rel, data in setup.items():
            path = client / os.fsdecode(rel)
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(data)
    out = tmp_path / "manifest.md5"
    out.write_bytes(b"old manifest\n")
    result = run("generate", client, "-o", out)
    assert result.returncode == 1
    refused = [line for line in result.stderr.decode().splitlines() if line.startswith("refused: ")]
    for name in named:
        assert any(line.startswith(f"refused: {name}: ") or f" {name} " in line for line in refused), \
            (name, refused)
    assert "fine.txt" not in result.stderr.decode()
    assert out.read_bytes() == b"old manifest\n"
    assert not [p for p in os.listdir(tmp_path) if p.endswith(".new")]
    assert run("generate", client).stdout == b""


def test_allows_near_misses_of_the_rules(run, tmp_path):
    client = tmp_path / "client"
    names = ["CONSOLE.txt", "COM10", "x.con", ".hidden", "a..b", "dir.d/f", "100% #1 & [x]+{y}.txt", "ünï €"]
    for rel in names:
        (client / rel).parent.mkdir(parents=True, exist_ok=True)
        (client / rel).write_bytes(b"x")
    os.symlink("a..b", client / "link to file")
    result = run("generate", client)
    assert result.returncode == 0, result.stderr
    assert sorted(listed_paths(result.stdout)) == sorted(names + ["link to file"])


def test_verify_gives_the_verdicts_of_the_shared_table_of_names(run, tmp_path):
    (tmp_path / "client").mkdir()
    table = (pathlib.Path(__file__).parent / "manifest_names.txt").read_text(encoding="utf-8")
    for line in [row for row in table.splitlines() if row and not row.startswith("#")]:
        verdict, *paths = line.split("\t")
        (tmp_path / "m.md5").write_text("".join(f"d41d8cd98f00b204e9800998ecf8427e 0 {p}\n" for p in paths))
        result = run("verify", tmp_path / "client", tmp_path / "m.md5")
        assert result.stdout.startswith(b"manifest: ") == (verdict == "refused"), (line, result.stdout)


def test_refuses_unreadable_files_and_names_every_problem(run):
    # As root every file is readable; drop to nobody for this one.
    with tempfile.TemporaryDirectory() as top:
        os.chmod(top, 0o755)
        client = os.path.join(top, "client")
        os.mkdir(client)
        for name in ["ok.txt", "locked.txt", "a:b"]:
            with open(os.path.join(client, name), "wb") as f:
                f.write(b"x")
        os.chmod(os.path.join(client, "locked.txt"), 0)
        prefix = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"] if os.geteuid() == 0 else []
        result = run("generate", client, prefix=prefix)
        assert result.returncode == 1
        err = result.stderr.decode()
        assert "refused: locked.txt: cannot be read" in err
        assert "refused: a:b: " in err
        assert "ok.txt" not in err
        assert result.stdout == b""


def test_refuses_an_empty_tree_and_reports_usage_errors(run, tmp_path):
    (tmp_path / "empty").mkdir()
    (tmp_path / "empty" / "patcher.txt").write_bytes(b"log")
    assert run("generate", tmp_path / "empty").returncode == 1
    assert run("generate", tmp_path / "missing").returncode == 2
    assert run("generate").returncode == 2
    assert run("verify", tmp_path / "empty").returncode == 2
    assert run("generate", tmp_path, "--bogus").returncode == 2
    help_text = run("--help")
    assert help_text.returncode == 0 and b"Exit codes" in help_text.stdout


def test_verify_reports_each_kind_of_difference(run, tmp_path):
    client = tmp_path / "client"
    make_client(client)
    manifest = client / "manifest.md5"
    assert run("generate", client, "-o", manifest, "-q").returncode == 0
    ok = run("verify", client, manifest)
    assert (ok.returncode, ok.stdout) == (0, b"")
    assert b"7 files listed, all match" in ok.stderr

    (client / "Zerandis.exe").unlink()
    (client / POLISH).write_bytes("źdźbło!".encode())
    (client / "Dane/a b/c.txt").write_bytes(b"C")
    (client / "Dane/nowy plik.txt").write_bytes(b"new")
    (client / "Dane/stale.download").write_bytes(b"left over")
    result = run("verify", client, manifest, "-q")
    assert result.returncode == 1
    assert result.stderr == b""
    size = len("źdźbło".encode())
    assert result.stdout.decode().splitlines() == [
        f"size: {POLISH} (listed {size}, found {size + 1})",
        "md5: Dane/a b/c.txt (listed 4a8a08f09d37b73795649038408b5f33, found 0d61f8370cad1d412f80b84d143e1257)",
        "missing: Zerandis.exe",
        "unlisted: Dane/nowy plik.txt",
    ]


def test_verify_reads_manifests_as_the_patcher_does(run, tmp_path):
    client = tmp_path / "client"
    client.mkdir()
    (client / "a b.txt").write_bytes(b"abc")
    (client / "d").mkdir()
    (client / "d" / "e").write_bytes(b"")
    text = ("\ufeff# comment\r\n\r\n"
            "900150983CD24FB0D6963F7D28E17F72 \t 3\ta b.txt\r\n"
            "#d41d8cd98f00b204e9800998ecf8427e 9 not/checked\n"
            "d41d8cd98f00b204e9800998ecf8427e +0 d\\e")
    (tmp_path / "m.md5").write_bytes(text.encode())
    result = run("verify", client, tmp_path / "m.md5")
    assert result.returncode == 0, result.stdout

    for body, text in [("x\n", "Błędna linia manifestu: 1"),
                       ("# c\nd41d8cd98f00b204e9800998ecf8427e 1x2 a\nbad\n", None),
                       ("# c\n\nd41d8cd98f00b204e9800998ecf8427e abc a\n", "Błędny rozmiar w linii manifestu: 3"),
                       ("d41d8cd98f00b204e9800998ecf8427e 0 a/../b\n", "Nieprawidłowy wpis manifestu w linii 1"),
                       ("# only comments\n", "Manifest nie zawiera żadnych plików.")]:
        (tmp_path / "bad.md5").write_bytes(body.encode())
        result = run("verify", client, tmp_path / "bad.md5")
        assert result.returncode == 1, body
        if text is None:  # 1x2 is read as 1, so line 3 is the first bad one
            text = "Błędna linia manifestu: 3"
        assert text in result.stdout.decode(), (body, result.stdout)

    assert run("verify", client, tmp_path / "absent.md5").returncode == 2


def test_keys_sign_and_verify_the_manifest_as_the_guide_says(run, tmp_path):
    client = tmp_path / "client"
    make_client(client)
    manifest, sig = client / "manifest.md5", client / "manifest.md5.sig"
    keys = tmp_path / "keys"
    keys.mkdir()
    assert run("generate", client, "-o", manifest, "-q").returncode == 0
    assert run("keygen", keys / "studio.pem", "--public", keys / "studio.pub.pem").returncode == 0
    assert (keys / "studio.pem").stat().st_mode & 0o777 == 0o600
    assert b"BEGIN PUBLIC KEY" in (keys / "studio.pub.pem").read_bytes()
    again = run("keygen", keys / "studio.pem", "--public", keys / "new.pub.pem")
    assert again.returncode == 2 and not (keys / "new.pub.pem").exists()
    assert run("keygen", keys / "other.pem", "--public", keys / "other.pub.pem").returncode == 0

    # A release number is required; an expiry that has passed is refused.
    assert run("sign", "--key", keys / "studio.pem", manifest).returncode == 2
    assert run("sign", "--key", keys / "studio.pem", "--release", "7", "--expires", "2020-01-01", manifest).returncode == 2
    assert not sig.exists()
    assert run("sign", "--key", keys / "studio.pem", "--release", "7", "--expires", "2099-12-31", manifest).returncode == 0
    assert re.fullmatch(rb"zerandis-manifest-signature 2 ecdsa-p256-sha256 7 2099-12-31 [A-Za-z0-9+/]{86}==\n",
                        sig.read_bytes())
    ok = run("verify", client, manifest, "--public-key", keys / "studio.pub.pem")
    assert (ok.returncode, ok.stdout) == (0, b"")
    assert b"signed as release 7, expires 2099-12-31 (end of the day, UTC)\n" in ok.stderr
    # generate leaves the signature out, as it does the manifest.
    assert "manifest.md5.sig" not in listed_paths(run("generate", client).stdout)

    def finding(public_key):
        result = run("verify", client, manifest, "--public-key", keys / public_key, "-q")
        return result.returncode, result.stdout.decode()

    signed = manifest.read_bytes()
    manifest.write_bytes(signed.replace(b"Zerandis.exe", b"Zerandis.exf"))
    assert finding("studio.pub.pem") == (1, f"signature: {sig} (does not verify with any key of "
                                            f"{keys / 'studio.pub.pem'})\nmissing: Zerandis.exf\n"
                                            "unlisted: Zerandis.exe\n")
    manifest.write_bytes(signed)
    assert finding("other.pub.pem")[0] == 1
    # Lines of a later version are skipped; the line ends may be CR LF.
    line = sig.read_bytes()
    sig.write_bytes(b"zerandis-manifest-signature 3 ed25519 AAAA\r\n" + line.replace(b"\n", b"\r\n"))
    assert finding("studio.pub.pem") == (0, "")
    sig.write_bytes(line.replace(b" 2 ", b" 3 "))
    assert finding("studio.pub.pem") == (1, f"signature: {sig} (holds no signature)\n")
    # The old format signs no release: refused, as keyed patchers refuse it.
    sig.write_bytes(line.replace(b" 2 ecdsa-p256-sha256 7 2099-12-31 ", b" 1 ecdsa-p256-sha256 "))
    assert finding("studio.pub.pem") == (1, f"signature: {sig} (holds only old-format signatures, without a "
                                            "release number)\n")
    # The release and the expiry are signed too.
    sig.write_bytes(line.replace(b" 7 ", b" 8 "))
    assert finding("studio.pub.pem")[0] == 1
    sig.unlink()
    assert finding("studio.pub.pem") == (1, f"signature: {sig} (missing)\n")


def test_warns_but_lists_a_path_long_below_a_typical_install_folder(run, tmp_path):
    client = tmp_path / "client"
    # Below a 60-character folder: 201 characters, and exactly 200.
    warned, quiet = "d" * 100 + "/" + "w" * 40, "d" * 100 + "/" + "q" * 39
    for rel in (warned, quiet):
        (client / rel).parent.mkdir(parents=True, exist_ok=True)
        (client / rel).write_bytes(b"x")
    result = run("generate", client)
    assert result.returncode == 0, result.stderr
    assert sorted(listed_paths(result.stdout)) == sorted([warned, quiet])
    assert [line for line in result.stderr.decode().splitlines() if line.startswith("warning: ")] == [
        f"warning: {warned}: longer than 200 characters below a typical 60-character install folder; "
        "other programs may fail to open it"]
