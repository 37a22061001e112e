"""A planted game folder and a server that drips: DLLs of system names beside
the patcher are never loaded, and closing ends the process even while a
transfer is blocked. On the win32 tree this is the shipped program's smoke set."""

import os
import shutil
import subprocess
import time

from patcher_rig import IDC_PLAY, IDC_REPAIR, IDC_STATUS, UP_TO_DATE
from update_site import CLIENT_FILES

SLOW_MS = 300000  # 32-bit Wine may be emulated: a start can take a minute
# Windows loads these from System32 whatever lies beside a program.
KNOWN_DLLS = {"advapi32.dll", "comdlg32.dll", "gdi32.dll", "imagehlp.dll", "kernel32.dll", "msvcrt.dll",
              "ole32.dll", "oleaut32.dll", "psapi.dll", "rpcrt4.dll", "setupapi.dll", "shell32.dll",
              "shlwapi.dll", "user32.dll", "ws2_32.dll"}
PLANTED = ("winhttp.dll", "bcrypt.dll")
FOLDER_FIRST = {"WINEDLLOVERRIDES": "winhttp,bcrypt=n,b"}  # Windows' order: the program's folder first
DRIP = "data/drip.pak"


def imported_dlls(path):
    dump = subprocess.run([os.environ["OBJDUMP"], "-p", path], check=True, capture_output=True, text=True).stdout
    return {line.split(":", 1)[1].strip().lower() for line in dump.splitlines() if "DLL Name:" in line}


def test_patcher_and_updater_import_known_dlls_only():
    for program in (os.environ["PATCHER_EXE"], os.environ["PATCHER_UPDATER"]):
        assert imported_dlls(program) <= KNOWN_DLLS, program


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
