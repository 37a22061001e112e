"""A planted game folder, a system DLL that cannot be loaded and a server that
drips: DLLs of system names beside the patcher are never loaded, a missing one
ends the patcher with a message, and closing ends the process even while a
transfer is blocked. On the win32 tree this is the shipped program's smoke set."""

import os
import shutil
import time

from patcher_rig import IDC_PLAY, IDC_REPAIR, IDC_STATUS, UP_TO_DATE
from update_site import CLIENT_FILES

SLOW_MS = 300000  # 32-bit Wine may be emulated: a start can take a minute
PLANTED = ("winhttp.dll", "bcrypt.dll")
DRIP = "data/drip.pak"


def test_planted_dlls_are_never_loaded(sites, launcher, driver):
    def plant(game):
        for name in PLANTED:
            shutil.copy(os.path.join(os.environ["PLANTED_DLLS"], name), game.file(name))

    started = launcher.start("planted", site=sites.client("planted"), prepare=plant, find_timeout_ms=SLOW_MS,
                             env={"WINEDLLOVERRIDES": "winhttp,bcrypt=n,b"})  # Windows' order: the folder first
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
