"""The patcher's window at 96 DPI, driven from outside: its size, controls,
colours and frame, a second instance, the buttons, closing, and the game
launch. One patcher start serves each group; the tests of a group run in file
order."""

import os
import re
import time

import pytest

from patcher_rig import (CAPTION, DEFAULT_INI, IDC_COUNTS, IDC_DETAIL, IDC_FILE_LABEL, IDC_FILE_PROGRESS, IDC_PLAY, IDC_RATE,
                         IDC_REPAIR, IDC_STATUS, IDC_TOTAL_LABEL, IDC_TOTAL_PROGRESS, PATCHER_CLASS, STAND_IN_CLASS,
                         WM_PATCHER_DONE, WM_PATCHER_FILE_PROGRESS, WM_PATCHER_TOTAL_PROGRESS, GameDir, Image, Patcher,
                         close_to, screenshot)

WM_DPICHANGED = 0x02E0
WS_MAXIMIZEBOX, WS_MINIMIZEBOX, WS_THICKFRAME, WS_SYSMENU, WS_CAPTION = 0x10000, 0x20000, 0x40000, 0x80000, 0xC00000
VK_ESCAPE = 0x1B

BACKGROUND = (25, 27, 33)
BAR_BACKGROUND = (49, 52, 61)
RED_BAR = (174, 37, 44)
BLUE_BAR = (52, 137, 189)
GOLD = (215, 170, 72)
TEXT = (232, 232, 235)
PLAY_FILL = (155, 29, 36)
REPAIR_FILL = (48, 50, 58)
REPAIR_BORDER = (90, 92, 103)
BUTTON_TEXT = (245, 245, 245)

# Control places (x, y, width, height) in the 760 × 460 client area at 96 DPI.
LAYOUT_96 = {
    "icon": (28, 18, 72, 72),
    "text=Zerandis": (120, 18, 612, 42),
    "text=Automatyczna aktualizacja klienta": (120, 60, 612, 28),
    IDC_STATUS: (28, 110, 704, 28),
    IDC_DETAIL: (28, 145, 704, 28),
    IDC_TOTAL_LABEL: (28, 185, 704, 20),
    IDC_TOTAL_PROGRESS: (28, 210, 704, 22),
    IDC_FILE_LABEL: (28, 244, 704, 20),
    IDC_FILE_PROGRESS: (28, 269, 704, 22),
    IDC_COUNTS: (28, 305, 704, 28),
    IDC_RATE: (28, 360, 704, 20),
    IDC_REPAIR: (28, 390, 175, 48),
    IDC_PLAY: (557, 390, 175, 48),
}


def assert_layout(driver, expected):
    actual = {selector: driver.rect(selector) for selector in expected}
    assert actual == expected


@pytest.fixture(scope="module")
def idle_site(sites):
    return sites.client("idle")


@pytest.fixture(scope="module")
def idle(idle_site, launcher, driver):
    """A patcher whose first run has ended up to date."""
    started = launcher.start("idle", site=idle_site)
    driver.wait_enabled(IDC_PLAY, True)
    return started


def test_window_is_fitted_centred_and_laid_out(idle, driver):
    _, _, width, height = driver.client()
    assert (width, height) == (760, 460)
    x, y, outer_width, outer_height = driver.window_rect()
    area_x, area_y, area_width, area_height = driver.work_area()
    assert (x, y) == (area_x + (area_width - outer_width) // 2, area_y + (area_height - outer_height) // 2)
    assert_layout(driver, LAYOUT_96)

    style, ex_style = driver.style()
    assert style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX) == WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX
    assert style & (WS_THICKFRAME | WS_MAXIMIZEBOX) == 0
    assert ex_style & 0x8 == 0  # not topmost


def test_first_run_ends_up_to_date(idle, idle_site, driver):
    texts = {selector: driver.text(selector) for selector in
             ["window", IDC_TOTAL_LABEL, IDC_FILE_LABEL, IDC_REPAIR, IDC_PLAY, IDC_STATUS, IDC_DETAIL, IDC_COUNTS,
              IDC_RATE]}
    assert texts == {
        "window": CAPTION,
        IDC_TOTAL_LABEL: "POSTĘP CAŁEJ AKTUALIZACJI",
        IDC_FILE_LABEL: "POSTĘP AKTUALNIE POBIERANEGO PLIKU",
        IDC_REPAIR: "NAPRAW PLIKI",
        IDC_PLAY: "GRAJ",
        # The run replaces the creation texts of these four lines.
        IDC_STATUS: "Klient jest aktualny.",
        IDC_DETAIL: "Możesz uruchomić grę.",
        IDC_COUNTS: "Wszystkie pliki mają poprawne sumy MD5.",
        IDC_RATE: "Pobieranie nie jest wymagane — klient jest aktualny.",
    }
    assert driver.progress(IDC_TOTAL_PROGRESS) == (100, 0, 100)
    assert driver.progress(IDC_FILE_PROGRESS) == (100, 0, 100)
    assert driver.enabled(IDC_PLAY) and driver.enabled(IDC_REPAIR)
    assert idle.game.log() == ["=" * 64, "Rozpoczęcie sprawdzania aktualizacji.", "Klient jest aktualny."]
    # The manifest alone was fetched, once, with its cache-busting value.
    (request,) = idle_site.requests()
    assert re.fullmatch(r"manifest\.md5\?nocache=\d+", request), request


def test_colours_on_screen(idle, rig, driver):
    driver.call(f"post {WM_PATCHER_TOTAL_PROGRESS} 60 0")
    driver.call(f"post {WM_PATCHER_FILE_PROGRESS} 30 0")
    driver.wait_progress(IDC_TOTAL_PROGRESS, 60)
    driver.wait_progress(IDC_FILE_PROGRESS, 30)
    time.sleep(0.5)  # painting follows the change
    origin_x, origin_y, _, _ = driver.client()
    image = Image(screenshot(rig, os.path.join(rig.work_dir, "screens", "window_96dpi.png")))

    def at(x, y):
        return image.pixel(origin_x + x, origin_y + y)

    def somewhere(rect, colour, tolerance=12):
        x, y, width, height = rect
        return any(close_to(pixel, colour, tolerance)
                   for pixel in image.region(origin_x + x, origin_y + y, width, height))

    for point in [(5, 5), (400, 95), (750, 450), (300, 200)]:
        assert at(*point) == BACKGROUND, point
    bar_x, bar_y, bar_width, bar_height = LAYOUT_96[IDC_TOTAL_PROGRESS]
    middle = bar_y + bar_height // 2
    assert close_to(at(bar_x + bar_width * 30 // 100, middle), RED_BAR, 2)
    assert close_to(at(bar_x + bar_width * 90 // 100, middle), BAR_BACKGROUND, 2)
    file_y = LAYOUT_96[IDC_FILE_PROGRESS][1] + bar_height // 2
    assert close_to(at(bar_x + bar_width * 15 // 100, file_y), BLUE_BAR, 2)
    assert close_to(at(bar_x + bar_width * 80 // 100, file_y), BAR_BACKGROUND, 2)

    assert somewhere(LAYOUT_96[IDC_RATE], GOLD), "the bottom line is gold"
    assert not somewhere(LAYOUT_96[IDC_RATE], TEXT, 4)
    assert somewhere(LAYOUT_96[IDC_STATUS], TEXT, 4)

    play_x, play_y, play_width, play_height = LAYOUT_96[IDC_PLAY]
    assert close_to(at(play_x + 10, play_y + play_height // 2), PLAY_FILL, 2)
    assert close_to(at(play_x, play_y + play_height // 2), GOLD, 2)
    assert close_to(at(play_x + play_width // 2, play_y + play_height - 1), GOLD, 2)
    assert somewhere(LAYOUT_96[IDC_PLAY], BUTTON_TEXT, 4)
    repair_x, repair_y, _, repair_height = LAYOUT_96[IDC_REPAIR]
    assert close_to(at(repair_x + 10, repair_y + repair_height // 2), REPAIR_FILL, 2)
    assert close_to(at(repair_x, repair_y + repair_height // 2), REPAIR_BORDER, 2)
    assert at(play_x, play_y) == BACKGROUND  # the rounded corner shows the window behind
    assert somewhere(LAYOUT_96["icon"], (178, 38, 46), 40), "the header shows the icon"


def test_second_instance_says_so_and_leaves_the_first_alone(idle, rig, driver):
    before = driver.window_rect()
    second = Patcher(rig, GameDir(rig, "second", DEFAULT_INI))
    box = driver.answer("ok", "Patcher jest już uruchomiony.", 30000)
    assert (box.caption, box.text, box.owner) == (CAPTION, "Patcher jest już uruchomiony.", "0")
    assert box.pid != idle.pid
    assert second.wait(30) == 0
    assert driver.call(f"windows {PATCHER_CLASS}") == f"1 {idle.handle}:{idle.pid}"
    driver.call("responsive 5000")
    assert driver.window_rect() == before
    assert driver.state() == {"visible": True, "iconic": False, "zoomed": False, "enabled": True}
    assert driver.enabled(IDC_PLAY) and driver.enabled(IDC_REPAIR)


def test_frame_moves_and_minimises_but_never_resizes_or_maximises(idle, driver):
    before = driver.window_rect()
    driver.call("sys move")
    driver.call("sleep 300")
    assert driver.in_move_or_size(), "moving starts the system's move loop"
    driver.call(f"key {VK_ESCAPE}")
    driver.call("sleep 300")
    assert not driver.in_move_or_size()

    for refused in ["sys size", "sys maximize", "caption-dblclk"]:
        driver.call(refused)
        driver.call("sleep 300")
        assert not driver.in_move_or_size(), refused
        assert not driver.state()["zoomed"], refused
        assert driver.window_rect() == before, refused

    # Another program may still size it, never below the tracking minimum
    # (760 × 460 at 96 DPI), and the controls follow the client area.
    driver.call("resize 300 200")
    assert driver.window_rect()[2:] == (760, 460)
    _, _, width, height = driver.client()
    assert driver.rect(IDC_PLAY) == (width - 175 - 28, height - 48 - 22, 175, 48)
    driver.call(f"resize {before[2]} {before[3]}")
    assert driver.window_rect() == before

    driver.call("sys minimize")
    driver.barrier()
    assert driver.state()["iconic"]
    driver.call("sys restore")
    driver.barrier()
    driver.wait_state(iconic=False, visible=True)
    assert driver.client()[2:] == (760, 460)
    assert_layout(driver, LAYOUT_96)


def test_dpi_change_rescales_the_layout(idle, driver):
    driver.call(f"post {WM_DPICHANGED} {144 | 144 << 16} 0")  # no suggested rectangle: same size
    driver.barrier()
    assert driver.rect(IDC_STATUS) == (42, 165, 676, 42)
    assert driver.rect(IDC_PLAY) == (760 - 263 - 42, 460 - 72 - 33, 263, 72)
    assert driver.rect("icon") == (42, 27, 108, 108)

    driver.call(f"post {WM_DPICHANGED} {1000 | 1000 << 16} 0")  # out of range: stays at 144
    driver.barrier()
    assert driver.rect(IDC_STATUS) == (42, 165, 676, 42)

    driver.call(f"post {WM_DPICHANGED} {96 | 96 << 16} 0")
    driver.barrier()
    assert_layout(driver, LAYOUT_96)


def test_buttons_start_runs_and_follow_their_outcome(idle, idle_site, driver):
    # A failed run leaves only repair enabled; a command from the disabled play
    # button is ignored (a launch of the missing game would show a box).
    driver.call(f"post {WM_PATCHER_DONE} 0 0")
    driver.wait_enabled(IDC_PLAY, False)
    assert driver.enabled(IDC_REPAIR)
    driver.call(f"command {IDC_PLAY}")
    driver.no_box(1000)
    assert driver.state()["visible"]

    # A repair run disables both buttons and resets both bars while its
    # manifest trickles in; ending up to date, it enables play again.
    idle_site.plan("manifest.md5", ["slow 24 300"])
    driver.call(f"post {WM_PATCHER_TOTAL_PROGRESS} 70 0")
    driver.call(f"post {WM_PATCHER_FILE_PROGRESS} 40 0")
    driver.wait_progress(IDC_FILE_PROGRESS, 40)
    driver.call(f"click {IDC_REPAIR}")
    driver.wait_enabled(IDC_REPAIR, False, 5000)
    assert not driver.enabled(IDC_PLAY)
    assert driver.progress(IDC_TOTAL_PROGRESS)[0] == 0
    assert driver.progress(IDC_FILE_PROGRESS)[0] == 0
    driver.wait_enabled(IDC_PLAY, True)
    assert driver.enabled(IDC_REPAIR)
    assert driver.text(IDC_STATUS) == "Klient jest aktualny."
    assert driver.progress(IDC_TOTAL_PROGRESS)[0] == 100
    assert idle.game.log().count("Rozpoczęcie sprawdzania aktualizacji.") == 2


def test_close_without_a_run_ends_at_once(idle, driver):
    driver.call("close")
    driver.wait_gone(5000)
    assert idle.process.wait(30) == 0


@pytest.fixture(scope="module")
def player(sites, launcher, driver):
    """A patcher ready to play; the game it starts shows its window after 3 s."""
    started = launcher.start("play", site=sites.client("play"), env={"STAND_IN_GAME_WINDOW_DELAY_MS": "3000"})
    driver.wait_enabled(IDC_PLAY, True)
    return started


def test_play_with_a_missing_game_shows_the_full_path(player, driver):
    driver.call(f"click {IDC_PLAY}")
    box = driver.box(10000)
    assert box.text == "Nie znaleziono pliku gry: " + player.game.windows_path("Zerandis.exe")
    assert (box.caption, box.owner, box.pid) == (CAPTION, player.handle, player.pid)
    assert driver.state()["visible"]
    driver.answer("ok", "Nie znaleziono pliku gry")
    driver.call("responsive 5000")
    assert driver.state()["visible"] and driver.enabled(IDC_PLAY)


def test_play_with_a_game_that_cannot_start_shows_the_window_again(player, driver):
    player.game.write("Zerandis.exe", b"not a program\r\n" * 64)
    driver.call(f"click {IDC_PLAY}")
    box = driver.box(20000)
    assert box.text.startswith("Nie można uruchomić gry: ")
    assert box.text.endswith(")")  # the Windows error code closes the text
    assert (box.caption, box.owner) == (CAPTION, player.handle)
    assert driver.state()["visible"]
    driver.answer("ok", "Nie można uruchomić gry")
    driver.call("responsive 5000")


def test_play_starts_the_game_hands_it_the_foreground_and_ends(player, driver):
    player.game.add_stand_in_game("Zerandis.exe")
    clicked = time.monotonic()
    driver.call(f"click {IDC_PLAY}")
    driver.wait_visibility(False, 5000)
    _, game_pid = driver.wait_window(STAND_IN_CLASS, 15000)
    shown = time.monotonic()
    assert player.process.wait(30) == 0
    ended = time.monotonic()

    assert shown - clicked >= 2.5  # the stand-in waits 3 s before it shows its window
    assert 1.5 <= ended - shown <= 10  # six passes of 350 ms after the window was found
    _, foreground_pid, foreground_class, _ = driver.foreground()
    assert (foreground_class, foreground_pid) == (STAND_IN_CLASS, game_pid)
    command_line, directory, _ = player.game.read_text("stand_in_launch.txt").split("\r\n")
    assert command_line == '"' + player.game.windows_path("Zerandis.exe") + '"'
    assert directory == player.game.windows_path()
