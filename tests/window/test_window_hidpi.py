"""The patcher's window at 144 DPI. The prefix's display scaling (LogPixels,
which Wine reads from HKCU\\Control Panel\\Desktop first) is raised for this
module and put back afterwards."""

import os
import re
import time

import pytest

from patcher_rig import (IDC_COUNTS, IDC_DETAIL, IDC_FILE_LABEL, IDC_FILE_PROGRESS, IDC_PLAY, IDC_RATE, IDC_REPAIR,
                         IDC_STATUS, IDC_TOTAL_LABEL, IDC_TOTAL_PROGRESS, WM_PATCHER_TOTAL_PROGRESS, Image, RigError,
                         close_to, screenshot)

LOG_PIXELS_KEY = r"HKCU\Control Panel\Desktop"
BACKGROUND = (25, 27, 33)
RED_BAR = (174, 37, 44)
GOLD = (215, 170, 72)
PLAY_FILL = (155, 29, 36)


def set_log_pixels(rig, value):
    arguments = (["add", LOG_PIXELS_KEY, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(value), "/f"]
                 if value is not None else ["delete", LOG_PIXELS_KEY, "/v", "LogPixels", "/f"])
    result = rig.run_windows("reg", *arguments)
    if result.returncode != 0:
        raise RigError(f"reg {' '.join(arguments)}: {result.stdout} {result.stderr}")


@pytest.fixture(scope="module")
def scaled(rig):
    query = rig.run_windows("reg", "query", LOG_PIXELS_KEY, "/v", "LogPixels")
    found = re.search(r"LogPixels\s+REG_DWORD\s+0x([0-9a-fA-F]+)", query.stdout)
    previous = int(found.group(1), 16) if query.returncode == 0 and found else None
    set_log_pixels(rig, 144)
    try:
        yield
    finally:
        set_log_pixels(rig, previous)


@pytest.fixture(scope="module")
def scaled_patcher(scaled, sites, launcher, driver):
    started = launcher.start("hidpi", site=sites.client("hidpi"))
    driver.wait_enabled(IDC_PLAY, True)
    return started


def test_window_is_fitted_and_laid_out_at_144_dpi(scaled_patcher, driver):
    _, _, width, height = driver.client()
    x, y, outer_width, outer_height = driver.window_rect()
    area_x, area_y, area_width, area_height = driver.work_area()
    # 1140 × 690 before fitting, less what a 36-pixel margin and the frame leave.
    frame_width, frame_height = outer_width - width, outer_height - height
    assert width == min(1140, max(720, area_width - 72 - frame_width))
    assert height == min(690, max(540, area_height - 72 - frame_height))
    assert (x, y) == (area_x + (area_width - outer_width) // 2, area_y + (area_height - outer_height) // 2)

    content = width - 84
    buttons_top = height - 72 - 33
    expected = {
        "icon": (42, 27, 108, 108),
        "text=Zerandis": (180, 27, width - 180 - 42, 63),
        IDC_STATUS: (42, 165, content, 42),
        IDC_DETAIL: (42, 218, content, 42),
        IDC_TOTAL_LABEL: (42, 278, content, 30),
        IDC_TOTAL_PROGRESS: (42, 316, content, 33),
        IDC_FILE_LABEL: (42, 367, content, 30),
        IDC_FILE_PROGRESS: (42, 405, content, 33),
        IDC_COUNTS: (42, 459, content, 42),
        IDC_RATE: (42, buttons_top - 45, content, 30),
        IDC_REPAIR: (42, buttons_top, 263, 72),
        IDC_PLAY: (width - 263 - 42, buttons_top, 263, 72),
    }
    assert {selector: driver.rect(selector) for selector in expected} == expected


def test_colours_on_screen_at_144_dpi(scaled_patcher, rig, driver):
    driver.call(f"post {WM_PATCHER_TOTAL_PROGRESS} 50 0")
    driver.wait_progress(IDC_TOTAL_PROGRESS, 50)
    time.sleep(0.5)
    origin_x, origin_y, _, _ = driver.client()
    image = Image(screenshot(rig, os.path.join(rig.work_dir, "screens", "window_144dpi.png")))

    def at(x, y):
        return image.pixel(origin_x + x, origin_y + y)

    assert at(8, 8) == BACKGROUND
    bar_x, bar_y, bar_width, bar_height = driver.rect(IDC_TOTAL_PROGRESS)
    assert close_to(at(bar_x + bar_width // 4, bar_y + bar_height // 2), RED_BAR, 2)
    play_x, play_y, _, play_height = driver.rect(IDC_PLAY)
    assert close_to(at(play_x + 12, play_y + play_height // 2), PLAY_FILL, 2)
    assert close_to(at(play_x, play_y + play_height // 2), GOLD, 2)
    rate_x, rate_y, rate_width, rate_height = driver.rect(IDC_RATE)
    assert any(close_to(pixel, GOLD, 12)
               for pixel in image.region(origin_x + rate_x, origin_y + rate_y, rate_width, rate_height))
