"""Whole update runs of the real patcher against update sites on the scripted
HTTPS server, seen through its window, its log and the files it leaves:
closing during a run, failed runs and repairs, and a self-update through the
real updater program. One patcher start serves each group; the tests of a
group run in file order."""

import hashlib
import os
import re
import shutil
import subprocess
import time

import pytest

from patcher_rig import (CAPTION, FAILED_COUNTS, FAILED_RATE, FAILED_STATUS, FINISHED_DETAIL, FINISHED_STATUS,
                         IDC_COUNTS, IDC_DETAIL, IDC_FILE_PROGRESS, IDC_PLAY, IDC_RATE, IDC_REPAIR, IDC_STATUS,
                         IDC_TOTAL_PROGRESS, PATCHER_CLASS, RUN_START, STAND_IN_CLASS, UP_TO_DATE, RigError,
                         last_run, screenshot)
from update_site import CLIENT_FILES, MANIFEST

CLOSE_QUESTION = "Trwa sprawdzanie lub pobieranie aktualizacji.\nCzy na pewno chcesz przerwać?"
DOWNLOADING = "Pobieranie aktualizacji..."
SUMMARY_RATE = re.compile(r"Pobieranie zakończone    Średnia prędkość: \d+(\.\d)? (B|KB|MB|GB)/s    "
                          r"Ocena pobierania: (bardzo słaba|słaba|przeciętna|dobra|bardzo dobra|doskonała)")


def md5_failure(entry):
    """The failure of a file whose last attempt obtained no file to hash."""
    return (f"Pobrany plik nadal ma nieprawidłową sumę MD5: {entry.windows_path}. Oczekiwano {entry.md5}, "
            f"pobrano <brak>. Sprawdź, czy manifest został wygenerowany po skopiowaniu ostatecznej wersji pliku.")


def wait_for(condition, timeout, what):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise RigError(f"timed out waiting for {what}")
        time.sleep(0.05)


# ---- Closing during a run ------------------------------------------------

MUSIC = "data/music.pak"


@pytest.fixture(scope="module")
def slow_site(sites):
    """The small client plus a file that is missing locally and trickles in
    over about four seconds."""
    site = sites.client("slow", {**CLIENT_FILES, MUSIC: bytes(i % 253 for i in range(256 * 1024))})
    site.plan(MUSIC, ["slow 16384 250"])
    return site


@pytest.fixture(scope="module")
def downloading(slow_site, launcher, driver):
    started = launcher.start("closing", site=slow_site, prepare=lambda game: os.remove(game.file(MUSIC)))
    driver.wait_text(IDC_STATUS, DOWNLOADING, 30000)
    return started


def test_close_during_a_run_asks_and_no_lets_the_run_finish(downloading, slow_site, driver):
    driver.call("close")
    box = driver.box(10000, downloading.pid)
    assert (box.caption, box.text, box.owner) == (CAPTION, CLOSE_QUESTION, downloading.handle)
    # The download goes on behind the question.
    shown = driver.progress(IDC_FILE_PROGRESS)[0]
    assert shown < 100
    wait_for(lambda: driver.progress(IDC_FILE_PROGRESS)[0] > shown, 10, "the file bar to move behind the box")
    driver.answer("no", "Trwa sprawdzanie")

    driver.wait_enabled(IDC_PLAY, True, 30000)
    assert driver.state()["visible"]
    assert driver.text(IDC_STATUS) == FINISHED_STATUS
    assert downloading.game.read_bytes(MUSIC) == slow_site.files[MUSIC].data
    assert len(slow_site.file_requests(MUSIC)) == 1
    assert downloading.game.log()[-2] == "Podmieniono plik lokalny: data\\music.pak"


def test_close_during_a_run_yes_closes_at_once_and_ends_after_the_run(downloading, slow_site, driver):
    game = downloading.game
    game.write(MUSIC, b"damaged")
    slow_site.plan(MUSIC, ["slow 16384 400"])
    driver.call(f"click {IDC_REPAIR}")
    driver.wait_text(IDC_STATUS, DOWNLOADING, 30000)
    driver.call("close")
    driver.answer("yes", "Trwa sprawdzanie", 10000)
    driver.wait_gone(5000)

    assert downloading.process.wait(30) == 0
    # The cancel ended the transfer, no further attempt was made, and the run
    # reported the cancel. The process ended only after the run had written
    # its last line.
    assert last_run(game.log())[-2:] == [
        "Próba pobrania 1/3 nie powiodła się dla data\\music.pak: Operacja anulowana.",
        "BLAD: Operacja anulowana.",
    ]
    assert game.read_bytes(MUSIC) == b"damaged"
    assert not game.exists(MUSIC + ".download")


# ---- Failed runs and repairs ---------------------------------------------

BASE = "data/base.pak"


@pytest.fixture(scope="module")
def repair_site(sites):
    site = sites.client("repair")
    site.plan("manifest.md5", ["status 500"])
    return site


@pytest.fixture(scope="module")
def failing(repair_site, launcher, driver):
    """A patcher whose first run fails on the manifest; one local file is damaged."""
    started = launcher.start("repair", site=repair_site, prepare=lambda game: game.write(BASE, b"damaged"))
    driver.wait_enabled(IDC_REPAIR, True, 30000)
    return started


def test_failed_manifest_fetch_shows_the_failure_and_leaves_play_disabled(failing, repair_site, driver):
    lines = driver.lines()
    assert re.fullmatch(re.escape(f"Serwer zwrócił HTTP 500 dla {repair_site.base_url}manifest.md5?nocache=") + r"\d+",
                        lines[IDC_DETAIL]), lines[IDC_DETAIL]
    assert lines == {IDC_STATUS: FAILED_STATUS, IDC_DETAIL: lines[IDC_DETAIL], IDC_COUNTS: FAILED_COUNTS,
                     IDC_RATE: FAILED_RATE}
    assert not driver.enabled(IDC_PLAY)
    assert failing.game.log() == ["=" * 64, RUN_START, "BLAD: " + lines[IDC_DETAIL]]


def test_a_file_failing_three_times_fails_the_run(failing, repair_site, rig, driver):
    repair_site.plan(BASE, ["status 503"] * 3)
    driver.repair(failing.game)
    entry = repair_site.files[BASE]
    assert driver.lines() == {IDC_STATUS: FAILED_STATUS, IDC_DETAIL: md5_failure(entry), IDC_COUNTS: FAILED_COUNTS,
                              IDC_RATE: FAILED_RATE}
    assert not driver.enabled(IDC_PLAY)
    run = last_run(failing.game.log())
    url = re.escape(f"{repair_site.base_url}data/base.pak?md5={entry.md5}&attempt=")
    assert len(run) >= 4, run
    for n, line in enumerate(run[-4:-1], start=1):
        assert re.fullmatch(re.escape(f"Próba pobrania {n}/3 nie powiodła się dla data\\base.pak: Serwer zwrócił "
                                      f"HTTP 503 dla ") + url + f"{n}-" + r"\d+", line), line
    assert run[-1] == "BLAD: " + md5_failure(entry)
    assert failing.game.read_bytes(BASE) == b"damaged"
    assert not failing.game.exists(BASE + ".download")
    time.sleep(0.3)  # painting follows the texts
    screenshot(rig, os.path.join(rig.work_dir, "screens", "failed_run_96dpi.png"))


def test_repair_replaces_the_damaged_file_and_enables_play(failing, repair_site, rig, driver):
    driver.repair(failing.game)
    lines = driver.lines()
    assert SUMMARY_RATE.fullmatch(lines[IDC_RATE]), lines[IDC_RATE]
    assert lines == {IDC_STATUS: FINISHED_STATUS, IDC_DETAIL: FINISHED_DETAIL, IDC_COUNTS: "Pobrano 48.0 KB.",
                     IDC_RATE: lines[IDC_RATE]}
    driver.wait_enabled(IDC_PLAY, True, 10000)  # enabled just after the repair button
    assert driver.progress(IDC_TOTAL_PROGRESS)[0] == 100
    assert driver.progress(IDC_FILE_PROGRESS)[0] == 100
    assert failing.game.read_bytes(BASE) == repair_site.files[BASE].data
    assert not failing.game.exists(BASE + ".download")
    run = last_run(failing.game.log())
    assert run[-3].startswith("Pobrano i zweryfikowano: data\\base.pak | rozmiar: 48.0 KB | czas: ")
    assert run[-3].endswith(" | próba: 1/3")
    assert run[-2] == "Podmieniono plik lokalny: data\\base.pak"
    assert run[-1].startswith("Aktualizacja zakończona pomyślnie. Pobrano: 48.0 KB | łączny czas pobierania: ")
    # Only the damaged file was fetched again; the other one was current.
    assert repair_site.file_requests("Zerandis.cfg") == []
    time.sleep(0.3)
    screenshot(rig, os.path.join(rig.work_dir, "screens", "finished_repair_96dpi.png"))
    driver.call("close")
    driver.wait_gone(5000)
    assert failing.process.wait(30) == 0


# ---- Self-update -----------------------------------------------------------

PATCHER = "Zerandis_Patcher.exe"
UPDATER = "patcher/Zerandis_PatcherUpdate.bin"
SLOW_MS = 300000  # the 32-bit smoke set runs this under emulation: each start can take a minute


@pytest.fixture(scope="module")
def self_update_site(sites, rig):
    """The client, the current updater, and a newer patcher: the same program
    with bytes appended (it still runs, and its MD5 differs)."""
    with open(rig.patcher_exe, "rb") as file:
        new_patcher = file.read() + b"Zerandis Patcher, next release\0" * 64
    with open(rig.updater_exe, "rb") as file:
        updater = file.read()
    return sites.client("selfupdate", {**CLIENT_FILES, UPDATER: updater, PATCHER: new_patcher})


def test_self_update_hands_over_and_the_new_patcher_finds_the_client_current(self_update_site, launcher, driver):
    # The game directory holds everything but the new patcher: the launcher copied the current one.
    old = launcher.start("selfupdate", ini=self_update_site.ini(), find_timeout_ms=SLOW_MS,
                         prepare=lambda game: self_update_site.install(game, skip={PATCHER}))
    game = old.game
    driver.wait_gone(SLOW_MS)
    assert old.process.wait(30) == 0

    handle, pid = driver.find(2 * SLOW_MS)  # started by the updater
    launcher.adopt(pid)
    assert pid != old.pid
    driver.wait_enabled(IDC_PLAY, True, SLOW_MS)
    assert driver.lines() == UP_TO_DATE
    assert game.read_bytes(PATCHER) == self_update_site.files[PATCHER].data
    assert not game.exists(PATCHER + ".new")

    # Both programs write patcher.txt; the updater's lines interleave with the patcher's.
    log = game.log()
    updater_lines = [line for line in log if line.startswith("Aktualizator: ")]
    patcher_lines = [line for line in log if not line.startswith("Aktualizator: ")]
    handed = patcher_lines.index("Przekazano samoaktualizację do pomocnika.")
    assert patcher_lines[handed - 1].startswith("Pobrano i zweryfikowano: Zerandis_Patcher.exe | ")
    # The new patcher's run follows.
    assert patcher_lines[handed:] == [
        "Przekazano samoaktualizację do pomocnika.", "=" * 64, RUN_START, "Klient jest aktualny."]
    path = game.windows_path(PATCHER)
    # The patcher may already be gone when the updater looks for it.
    ended = {"Aktualizator: patcher zakończył działanie.",
             f"Aktualizator: proces patchera (PID: {old.pid}) już się zakończył."}
    assert len(updater_lines) == 4 and updater_lines[1] in ended, updater_lines
    assert updater_lines[::2] == [f"Aktualizator: oczekiwanie na zakończenie patchera (PID: {old.pid}).",
                                  f"Aktualizator: podmieniono plik patchera: {path}"]
    assert updater_lines[3] == f"Aktualizator: uruchomiono patcher: {path}"
    # The updater waited for the old patcher before it replaced anything.
    assert log.index(updater_lines[2]) > log.index("Przekazano samoaktualizację do pomocnika.")
    # One download of the patcher; the updater and the client were current.
    assert len(self_update_site.file_requests(PATCHER)) == 1
    assert self_update_site.file_requests(UPDATER) == []
    assert len(self_update_site.file_requests("manifest.md5")) == 2

    driver.call("close")
    driver.wait_gone(10000)
    ok, values = driver.try_call(f"wait-exit {pid} 30000", timeout=60)
    assert ok and values == "0" or values == "process cannot be opened"  # opened or already gone
    assert driver.call(f"windows {PATCHER_CLASS}").split()[0] == "0"


# ---- What cannot work, said while the game runs -----------------------------

BIG = "data/big.pak"
NO_WRITE_ADVICE = ("Uruchom patcher jako administrator albo przenieś grę poza folder chroniony przez system "
                   "(np. Program Files).")


def mount_or_skip(arguments, what):
    mount = subprocess.run(["mount", *arguments], capture_output=True, text=True)
    if mount.returncode != 0:  # CI must not lose the scenario to a refused mount unnoticed
        refused = pytest.fail if os.environ.get("CI") == "true" else pytest.skip
        refused(f"no {what} (mount refused: {mount.stderr.strip()})")


def start_game(rig, driver, game):
    """The stand-in game started from the game folder; ended by the launcher's cleanup."""
    game.add_stand_in_game()
    process = subprocess.Popen([rig.wine_run, game.file("Zerandis.exe")], cwd=game.path, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    driver.wait_window(STAND_IN_CLASS, 30000)
    return process


def assert_failed_while_the_game_runs(driver, started, game_process, detail):
    driver.wait_enabled(IDC_REPAIR, True, 60000)
    assert driver.lines() == {IDC_STATUS: FAILED_STATUS, IDC_DETAIL: detail, IDC_COUNTS: FAILED_COUNTS,
                              IDC_RATE: FAILED_RATE}
    assert last_run(started.game.log()) == [RUN_START, "BLAD: " + detail]  # no process was asked to close
    assert game_process.poll() is None


def test_a_folder_this_account_cannot_write_is_named_before_the_game_is_closed(sites, launcher, driver, rig):
    site = sites.client("readonly")
    mounted, game_process = [], []

    def read_only_data(game):
        game.write("data/base.pak", b"damaged")
        game_process.append(start_game(rig, driver, game))
        mount_or_skip(["--bind", game.file("data"), game.file("data")], "read-only folder")
        mounted.append(game.file("data"))
        mount_or_skip(["-o", "remount,bind,ro", game.file("data")], "read-only folder")

    try:
        started = launcher.start("readonly", site=site, prepare=read_only_data)
        detail = f"Brak uprawnień do zapisu w folderze gry: {started.game.windows_path('data')}. {NO_WRITE_ADVICE}"
        assert_failed_while_the_game_runs(driver, started, game_process[0], detail)
        assert started.game.read_bytes("data/base.pak") == b"damaged"
        driver.call("close")
        assert started.process.wait(30) == 0
    finally:
        for path in mounted:
            subprocess.run(["umount", "-l", path], check=False)


def test_a_full_disk_is_named_before_the_game_is_closed(sites, launcher, driver, rig):
    site = sites.empty("full")
    site.publish(BIG, b"Zerandis" * (3 << 20))  # 24 MiB for a 16 MiB disk
    site.write_manifest()
    mounted, game_process = [], []

    def on_tmpfs(game):
        mount_or_skip(["-t", "tmpfs", "-o", "size=16m", "tmpfs", game.path], "tmpfs for the full-disk scenario")
        mounted.append(game.path)
        shutil.copy2(rig.patcher_exe, game.patcher_path)
        game.write_ini(site.ini())
        game.write(BIG, b"old")
        game_process.append(start_game(rig, driver, game))

    try:
        started = launcher.start("full", site=site, prepare=on_tmpfs)
        driver.wait_enabled(IDC_REPAIR, True, 60000)
        detail = driver.text(IDC_DETAIL)
        free = re.fullmatch(r"Za mało miejsca na dysku: potrzeba 24\.0 MB, wolne (\d+\.\d) MB\. "
                            r"Zwolnij miejsce na tym dysku i naciśnij NAPRAW PLIKI\.", detail)
        assert free, detail
        disk = os.statvfs(started.game.path)
        assert abs(float(free[1]) * 2**20 - disk.f_bavail * disk.f_frsize) < 2**20 / 5
        assert_failed_while_the_game_runs(driver, started, game_process[0], detail)
        assert os.listdir(started.game.file("data")) == ["big.pak"]  # no probe left behind
        assert started.game.read_bytes(BIG) == b"old"
        driver.call("close")
        assert started.process.wait(30) == 0
    finally:
        for path in mounted:
            subprocess.run(["umount", "-l", path], check=False)


# ---- A huge client -----------------------------------------------------------

def test_a_huge_current_client_shows_its_end_within_1_s_of_the_log(sites, launcher, driver):
    names = [f"d{i // 1000:03}/f{i:06}.dat" for i in range(100000)]
    site = sites.empty("huge")
    empty_md5 = hashlib.md5(b"").hexdigest()
    site.put(MANIFEST, "".join(f"{empty_md5} 0 {name}\n" for name in names).encode())

    def prepare(game):
        for name in names:
            if name.endswith("000.dat"):
                os.makedirs(os.path.dirname(game.file(name)))
            open(game.file(name), "wb").close()

    started = launcher.start("huge", site=site, prepare=prepare)
    started.game.wait_log("Klient jest aktualny.", timeout=900)
    logged = os.stat(started.game.file("patcher.txt")).st_mtime
    driver.wait_enabled(IDC_PLAY, True, 60000)
    assert time.time() - logged < 1.0
    assert driver.lines() == UP_TO_DATE
    driver.call("close")
    assert started.process.wait(30) == 0
