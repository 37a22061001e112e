"""A planted game folder, a system DLL that cannot be loaded, a server that
drips, a proxy in the way: DLLs of system names beside the patcher are never
loaded, a missing one ends the patcher with a message, closing ends the
process even while a transfer is blocked, and a proxy set in Internet Options
carries the update. On the win32 tree this is the shipped program's smoke set."""

import os
import shutil
import struct
import subprocess
import time

import pytest

from patcher_rig import DEFAULT_INI, IDC_PLAY, IDC_REPAIR, IDC_STATUS, UP_TO_DATE, GameDir, Patcher
from update_site import CLIENT_FILES, NetServers

SLOW_MS = 300000  # 32-bit Wine may be emulated: a start can take a minute
PLANTED = ("winhttp.dll", "bcrypt.dll")
FOLDER_FIRST = {"WINEDLLOVERRIDES": "winhttp,bcrypt=n,b"}  # Windows' order: the program's folder first
DRIP = "data/drip.pak"


def test_an_ordinary_program_loads_the_planted_dll(rig, tmp_path):
    for name in ("winhttp.dll", "planted_control.exe"):
        shutil.copy(os.path.join(os.environ["PLANTED_DLLS"], name), tmp_path / name)
    subprocess.run([rig.wine_run, tmp_path / "planted_control.exe"], env={**os.environ, **FOLDER_FIRST},
                   stdin=subprocess.DEVNULL, capture_output=True, timeout=SLOW_MS / 1000)
    assert (tmp_path / "winhttp.dll.loaded").exists()


def test_planted_dlls_are_never_loaded(sites, launcher, driver):
    def plant(game):
        for name in PLANTED:
            shutil.copy(os.path.join(os.environ["PLANTED_DLLS"], name), game.file(name))

    started = launcher.start("planted", site=sites.client("planted"), prepare=plant, find_timeout_ms=SLOW_MS,
                             env=FOLDER_FIRST)
    driver.wait_enabled(IDC_PLAY, True, SLOW_MS)
    assert driver.lines() == UP_TO_DATE
    assert [name for name in PLANTED if started.game.exists(name + ".loaded")] == []
    driver.call("close")
    assert started.process.wait(SLOW_MS / 1000) == 0


def test_a_system_dll_that_cannot_be_loaded_ends_the_patcher_with_a_message(launcher, driver):
    started = launcher.start("no_winhttp", env={"WINEDLLOVERRIDES": "winhttp=d"}, find_timeout_ms=SLOW_MS)
    box = driver.box(SLOW_MS, started.pid)
    assert (box.owner, box.caption) == ("0", "Zerandis Patcher")
    assert box.text.startswith("Nie można załadować biblioteki systemowej winhttp.dll: ") and box.text.endswith(
        " (126)"), box.text  # ERROR_MOD_NOT_FOUND
    assert started.game.log()[-1] == "BLAD: " + box.text
    driver.answer("ok", "winhttp.dll")
    assert started.process.wait(SLOW_MS / 1000) == 1


def test_comctl32_that_cannot_be_loaded_ends_the_patcher_before_its_window(rig, driver):
    game = GameDir(rig, "no_comctl32", DEFAULT_INI, None)
    process = Patcher(rig, game, {"WINEDLLOVERRIDES": "comctl32=d"})
    try:
        box = driver.box(SLOW_MS)
        driver.answer("ok", "comctl32.dll")
        assert box.text.startswith("Nie można załadować biblioteki systemowej comctl32.dll: "), box.text
        assert game.log()[-1] == "BLAD: " + box.text
        assert process.wait(SLOW_MS / 1000) == 1
    finally:
        process.kill()


def test_close_during_a_drip_ends_the_process_within_2_s(sites, launcher, driver):
    site = sites.client("drip", {**CLIENT_FILES, DRIP: bytes(4096)})
    site.plan(DRIP, ["slow 1 20000"])  # a byte every 20 s
    started = launcher.start("drip", site=site, prepare=lambda game: os.remove(game.file(DRIP)),
                             find_timeout_ms=SLOW_MS)
    driver.wait_text(IDC_STATUS, "Pobieranie aktualizacji...", SLOW_MS)
    time.sleep(1)  # the transfer is blocked between two bytes now
    driver.call("close")
    driver.answer("yes", "Trwa sprawdzanie", 10000)
    confirmed = time.monotonic()
    started.process.wait(10)
    assert time.monotonic() - confirmed < 2.5  # 2 s and Wine's own ending
    assert len(site.file_requests(DRIP)) == 1  # no attempt after the cancel

    again = launcher.start("drip_again", site=sites.client("after_drip"), find_timeout_ms=SLOW_MS)
    driver.wait_enabled(IDC_REPAIR, True, SLOW_MS)
    driver.call("close")
    assert again.process.wait(SLOW_MS / 1000) == 0


def internet_options_proxy(proxy):
    """Internet Options' record of the LAN connection: a named proxy, or none (hex for reg)."""
    flags = 3 if proxy else 1  # direct, plus a named proxy
    name = proxy.encode()
    record = struct.pack("<4I", 0x46, 1, flags, len(name)) + name + struct.pack("<2I", 0, 0) + bytes(32)
    return record.hex()


def test_an_internet_options_proxy_carries_the_update(sites, launcher, driver, rig):
    # Wine's WinHTTP takes the automatic proxy and then ignores Internet Options,
    # so the patcher runs as on Windows 7 and 8.0, which refuse it.
    if "CLASSIC_PROXY_PATCHER" not in os.environ:
        pytest.skip("64-bit tree only")
    servers = NetServers.from_environment()
    key = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections"
    connect = f"CONNECT localhost:{servers.scripted_port} HTTP/1.1"
    with open(servers.values["PROXY_LOG"], encoding="utf-8") as log:
        before = log.read().count(connect)
    proxy = internet_options_proxy(f"127.0.0.1:{servers.values['PROXY_PORT']}")
    rig.run_windows("reg", "add", key, "/v", "DefaultConnectionSettings", "/t", "REG_BINARY", "/d", proxy, "/f")
    try:
        site = sites.client("proxied")
        started = launcher.start("proxied", site=site, find_timeout_ms=SLOW_MS,
                                 patcher_exe=os.environ["CLASSIC_PROXY_PATCHER"],
                                 prepare=lambda game: os.remove(game.file("data/base.pak")))
        driver.wait_enabled(IDC_PLAY, True, SLOW_MS)
        assert started.game.exists("data/base.pak")
        driver.call("close")
        assert started.process.wait(SLOW_MS / 1000) == 0
    finally:
        rig.run_windows("reg", "delete", key, "/v", "DefaultConnectionSettings", "/f")
    with open(servers.values["PROXY_LOG"], encoding="utf-8") as log:
        tunnels = log.read().count(connect) - before
    # Wine keeps a tunnel open for the next requests, so the connections the
    # requests came on are counted: each must be one of the proxy's tunnels.
    assert len(site.requests()) >= 2  # the manifest and the file
    assert 0 < len(site.connections()) <= tunnels
