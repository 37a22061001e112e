"""scripts/release.sh on a small client, natively: the release tree verifies,
the patcher in it is the stripped 32-bit build with its version resource, the
base URL and the studio's public key, a second release into the same folder is
refused, --key signs the manifest for the patcher that carries its public half,
and --sign-cert signs both programs. The script's build tree is
RELEASE_TEST_BUILD (kept between runs); the unstripped programs are kept by
version and hash."""
import base64
import hashlib
import os
import pathlib
import subprocess

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
BASE_URL = "https://patch.example-studio.com/client/"


@pytest.fixture
def client(tmp_path):
    root = tmp_path / "client"
    for rel, data in {"Zerandis.exe": b"MZ game", "Dane/Dźwięki/zażółć gęślą.ogg": os.urandom(70000),
                      "Dane/Mapy/Północ/mapa.dat": b"mapa"}.items():
        (root / rel).parent.mkdir(parents=True, exist_ok=True)
        (root / rel).write_bytes(data)
    return root


BUILD = os.environ.get("RELEASE_TEST_BUILD", str(ROOT / "build" / "release-test"))


def release(*args, env=None):
    return subprocess.run(["bash", str(ROOT / "scripts" / "release.sh"), *map(str, args)], capture_output=True,
                          text=True, timeout=900, env={**os.environ, "PATCHER_BUILD_DIR": BUILD, **(env or {})})


def test_release_tree_verifies_and_holds_the_stamped_32_bit_patcher(tool, client, tmp_path):
    out, key, public = tmp_path / "out", tmp_path / "studio.pem", tmp_path / "studio.pub.pem"
    subprocess.run([tool, "keygen", key, "--public", public], check=True, capture_output=True)
    done = release("--base-url", BASE_URL, "--version", "2.5.1", "--key", key, "--public-key", public,
                   "--release", "12", client, out)
    assert done.returncode == 0, done.stderr
    assert " 12 - " in (out / "manifest.md5.sig").read_text()
    assert f"rsync -rt --exclude='/manifest.md5*' {out}/ SERVER:DIR/" in done.stdout
    assert f"rsync -t {out}/manifest.md5.sig SERVER:DIR/manifest.md5.sig" in done.stdout
    verified = subprocess.run([tool, "verify", out, out / "manifest.md5", "--public-key", public],
                              capture_output=True, text=True)
    assert verified.returncode == 0 and verified.stdout == "", verified.stdout
    listed = [line.split(" ", 2)[2] for line in (out / "manifest.md5").read_text().splitlines()
              if not line.startswith("#")]
    assert sorted(listed) == sorted(["Zerandis.exe", "Zerandis_Patcher.exe", "patcher/Zerandis_PatcherUpdate.bin",
                                     "Dane/Dźwięki/zażółć gęślą.ogg", "Dane/Mapy/Północ/mapa.dat"])

    patcher = out / "Zerandis_Patcher.exe"
    assert f"as built: {hashlib.sha256(patcher.read_bytes()).hexdigest()}  Zerandis_Patcher.exe" in done.stdout
    headers = subprocess.run(["i686-w64-mingw32-objdump", "-h", patcher], capture_output=True, text=True).stdout
    assert "file format pei-i386" in headers and ".debug" not in headers
    resources = subprocess.run(["i686-w64-mingw32-windres", "-i", patcher, "-O", "rc"], capture_output=True,
                               text=True).stdout
    assert "FILEVERSION 2, 5, 1, 0" in resources and '"ProductVersion", "2.5.1"' in resources
    assert '"ProductName", "Zerandis Patcher"' in resources
    # Built in: the server (a wide string) and the key's raw P-256 point, without which nothing is verified.
    shipped = patcher.read_bytes()
    assert BASE_URL.encode("utf-16-le") in shipped
    assert base64.b64decode("".join(public.read_text().splitlines()[1:-1]))[-64:] in shipped
    digest = hashlib.sha256(shipped).hexdigest()
    symbols = pathlib.Path(BUILD, "release", "symbols", "2.5.1-" + digest[:16])  # the unstripped copy
    assert ".debug_info" in subprocess.run(["i686-w64-mingw32-objdump", "-h", symbols / "Zerandis_Patcher.exe"],
                                           capture_output=True, text=True).stdout

    again = release("--base-url", BASE_URL, "--version", "2.5.1", client, out)
    assert again.returncode != 0 and f"OUT_DIR is not empty: {out}" in again.stderr
    assert sorted(p.name for p in out.iterdir()) == ["Dane", "Zerandis.exe", "Zerandis_Patcher.exe", "manifest.md5",
                                                     "manifest.md5.sig", "patcher"]


def test_sign_cert_signs_both_programs_with_authenticode(client, tmp_path):
    key, cert, pfx, password = (tmp_path / name for name in ("key.pem", "cert.pem", "cert.pfx", "pass.txt"))
    password.write_text("throw-away\n")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                    "-days", "2", "-subj", "/CN=Zerandis Test Studio", "-addext", "extendedKeyUsage=codeSigning"],
                   check=True, capture_output=True)
    subprocess.run(["openssl", "pkcs12", "-export", "-inkey", key, "-in", cert, "-out", pfx,
                    "-passout", f"file:{password}"], check=True, capture_output=True)
    out = tmp_path / "signed"
    # No timestamp server: tests talk to nobody but localhost.
    done = release("--base-url", BASE_URL, "--sign-cert", pfx, "--sign-pass-file", password, client, out,
                   env={"PATCHER_TIMESTAMP_URL": ""})
    assert done.returncode == 0, done.stderr
    assert "signed both programs without a timestamp" in done.stdout
    for program in (out / "Zerandis_Patcher.exe", out / "patcher" / "Zerandis_PatcherUpdate.bin"):
        checked = subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in", program], capture_output=True,
                                 text=True)
        assert checked.returncode == 0, checked.stdout + checked.stderr
