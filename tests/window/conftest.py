"""Fixtures of the window scenarios: the rig, one driver for the session, and
patcher starts that are always cleaned up."""

import os
import shutil
from dataclasses import dataclass

import pytest

from patcher_rig import DEFAULT_INI, PATCHER_CLASS, STAND_IN_CLASS, Driver, GameDir, Patcher, Rig, RigError


@dataclass
class Started:
    game: GameDir
    process: Patcher
    handle: str  # the main window
    pid: int  # Windows process id


class Launcher:
    """Starts patchers in fresh game directories and ends whatever is left of them."""

    def __init__(self, rig, driver):
        self.rig, self.driver, self._started = rig, driver, []

    def start(self, name, ini=DEFAULT_INI, env=None, prepare=None):
        """A patcher in a new game directory, its window found and made the driver's
        target. `prepare(game_dir)` runs before the start, to add files."""
        if self.driver.call(f"windows {PATCHER_CLASS}").split()[0] != "0":
            raise RigError("a patcher window is still open from an earlier scenario")
        game = GameDir(self.rig, name, ini)
        if prepare is not None:
            prepare(game)
        process = Patcher(self.rig, game, env)
        handle, pid = self.driver.find()
        started = Started(game, process, handle, pid)
        self._started.append(started)
        return started

    def cleanup(self):
        for started in self._started:
            if started.process.running():
                self.driver.try_call(f"terminate {started.pid}")
                started.process.kill()
        self.driver.try_call(f"close-class {STAND_IN_CLASS}")
        self._started.clear()


@pytest.fixture(scope="session")
def rig():
    rig = Rig.from_environment()
    # Game directories of earlier sessions go; the screenshots stay for inspection.
    for entry in os.listdir(rig.work_dir):
        if entry != "screens":
            shutil.rmtree(os.path.join(rig.work_dir, entry), ignore_errors=True)
    return rig


@pytest.fixture(scope="session")
def driver(rig):
    driver = Driver(rig)
    yield driver
    driver.close()


@pytest.fixture(scope="module")
def launcher(rig, driver):
    launcher = Launcher(rig, driver)
    yield launcher
    launcher.cleanup()
