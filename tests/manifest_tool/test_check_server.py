"""zerandis-manifest check-server against the guide's nginx origin: a release served
right, each way a patch day serves it wrong, and no server at all."""
import os
import shutil

import pytest

from test_deploy_nginx import POLISH, free_port, guide_site


def stale_edge(port, certs, www):
    """An edge that cached an old file under the new key: any request naming a
    file version (md5=) is answered from www/stale/, the rest as the origin does."""
    return f"""server {{
    listen 127.0.0.1:{port} ssl;
    ssl_certificate {certs}/server.crt;
    ssl_certificate_key {certs}/server.key;
    root {www};
    location / {{
        if ($arg_md5) {{ rewrite ^ /stale$uri break; }}
    }}
}}"""


@pytest.fixture(scope="module")
def site(tmp_path_factory, tool):
    yield from guide_site(tmp_path_factory.mktemp("check"), tool, stale_edge)


def release_copy(site, name, damage=lambda folder: None):
    """The published release copied to www/<name>/ and damaged; its base URL."""
    folder = site["www"] / name
    shutil.copytree(site["client"], folder)
    damage(folder)
    return site["base"].replace("/client/", f"/{name}/")


def rewrite(rel, data):
    return lambda folder: (folder / rel).write_bytes(data(folder / rel))


def check(run, site, base, *options):
    result = run("check-server", base, "--ca", site["ca"], "--public-key", site["public_key"], *options)
    return result.returncode, result.stdout.decode(), result.stderr.decode()


def test_a_release_served_right_passes(run, site):
    code, out, err = check(run, site, release_copy(site, "right"), "--jobs", "2")
    assert (code, out) == (0, "check-server: 3 files listed, 3 checked, all right\n"), err
    assert "zerandis-manifest: signed as release 1, no expiry\n" in err


SAME_SIZE_OTHER_BYTES = rewrite("Zerandis.exe", lambda path: bytes(b ^ 1 for b in path.read_bytes()))
CASES = {
    "missing": (lambda folder: (folder / POLISH).unlink(), f"status: {POLISH} (", "got HTTP 404)"),
    "wrong": (SAME_SIZE_OTHER_BYTES, "md5: Zerandis.exe (", "got HTTP 200, 300002 bytes, md5 "),
    "short": (rewrite("Zerandis.exe", lambda path: path.read_bytes()[:-1000]), "size: Zerandis.exe (",
              "got HTTP 200, 299002 bytes, md5 "),
    "long": (rewrite("Zerandis.exe", lambda path: path.read_bytes() * 2), "size: Zerandis.exe (",
             "got HTTP 200, more than 300002 bytes)"),
    "signature": (lambda folder: (folder / "manifest.md5").open("a").write("# edited\n"),
                  "signature: manifest.md5.sig (", "does not verify"),
}


@pytest.mark.parametrize("case", [*CASES, "stale edge"])
def test_each_bad_file_is_named(run, site, case):
    if case == "stale edge":
        base = release_copy(site, "edge")
        release_copy(site, "stale/edge", SAME_SIZE_OTHER_BYTES)
        base = base.replace(base.split("/")[2], f"127.0.0.1:{site['more_port']}")
        damage, start, detail = CASES["wrong"]
    else:
        damage, start, detail = CASES[case]
        base = release_copy(site, case, damage)
    code, out, err = check(run, site, base)
    lines = out.splitlines()
    assert code == 1, out + err
    assert len(lines) == 2 and lines[0].startswith(start) and detail in lines[0], out
    assert lines[1].endswith(" wrong"), out


def test_changed_since_checks_only_changed_lines(run, site, tmp_path):
    base = release_copy(site, "changed", CASES["missing"][0])
    old = tmp_path / "old.md5"
    old.write_text("".join(line for line in (site["client"] / "manifest.md5").open(encoding="utf-8")
                           if not line.endswith(" Zerandis.exe\n")), encoding="utf-8")
    code, out, err = check(run, site, base, "--changed-since", old)
    assert (code, out) == (0, "check-server: 3 files listed, 1 checked, all right\n"), err


def test_a_server_that_is_down_cannot_be_checked(run, site):
    code, out, err = check(run, site, f"https://127.0.0.1:{free_port()}/client/")
    assert code == 2 and out == "" and "cannot fetch" in err, out + err
