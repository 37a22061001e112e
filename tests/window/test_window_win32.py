"""The shipped 32-bit patcher (the i686 build) under the 64-bit tree's Wine
prefix: an up-to-date run and a one-file repair against the scripted server,
read through the window driver. Where 32-bit Wine is emulated a start takes
about a minute, so every wait here is generous."""

import os
import re
import struct

import pytest

from patcher_rig import (FINISHED_DETAIL, FINISHED_STATUS, IDC_COUNTS, IDC_DETAIL, IDC_FILE_PROGRESS, IDC_PLAY,
                         IDC_RATE, IDC_REPAIR, IDC_STATUS, IDC_TOTAL_PROGRESS, UP_TO_DATE)
from update_site import CLIENT_FILES

SLOW_MS = 300000
IMAGE_FILE_MACHINE_I386 = 0x14C
CONFIG = CLIENT_FILES["Zerandis.cfg"]  # under 1 KB, so the counts line reads in bytes


def pe_machine(path):
    with open(path, "rb") as file:
        header = file.read(4096)
    (pe_offset,) = struct.unpack_from("<I", header, 0x3C)
    assert header[pe_offset:pe_offset + 4] == b"PE\0\0"
    return struct.unpack_from("<H", header, pe_offset + 4)[0]


@pytest.fixture(scope="module")
def win32_exe():
    path = os.environ.get("PATCHER_WIN32_EXE", "")
    if os.path.isfile(path):
        return path
    reason = (f"no 32-bit patcher at {path or '(PATCHER_WIN32_EXE not set)'}: build build/win32 first "
              "(or point the PATCHER_WIN32_EXE cache variable at it)")
    if os.environ.get("CI") == "true":
        pytest.fail(reason)
    pytest.skip(reason)


@pytest.fixture(scope="module")
def patcher32(win32_exe, sites, launcher, driver):
    started = launcher.start("win32", site=sites.client("win32"), patcher_exe=win32_exe, find_timeout_ms=SLOW_MS)
    driver.wait_enabled(IDC_REPAIR, True, SLOW_MS)
    return started


def test_32_bit_patcher_finds_the_client_up_to_date(patcher32, driver):
    assert pe_machine(patcher32.game.patcher_path) == IMAGE_FILE_MACHINE_I386
    assert driver.lines() == UP_TO_DATE
    assert driver.enabled(IDC_PLAY)


def test_32_bit_patcher_repairs_a_damaged_file(patcher32, driver):
    patcher32.game.write("Zerandis.cfg", b"[Grafika]\r\n")
    driver.repair(patcher32.game, SLOW_MS)
    lines = driver.lines()
    assert re.fullmatch(r"Pobieranie zakończone    Średnia prędkość: .+/s    Ocena pobierania: .+", lines[IDC_RATE])
    assert (lines[IDC_STATUS], lines[IDC_DETAIL], lines[IDC_COUNTS]) == (FINISHED_STATUS, FINISHED_DETAIL,
                                                                          f"Pobrano {len(CONFIG)} B.")
    assert driver.enabled(IDC_PLAY)
    assert driver.progress(IDC_TOTAL_PROGRESS)[0] == driver.progress(IDC_FILE_PROGRESS)[0] == 100
    assert patcher32.game.read_bytes("Zerandis.cfg") == CONFIG
    assert patcher32.game.log()[-2] == "Podmieniono plik lokalny: Zerandis.cfg"

    driver.call("close")
    driver.wait_gone(60000)
    assert patcher32.process.wait(SLOW_MS / 1000) == 0
