"""Fixtures of the window scenarios: the rig, one driver for the session, the
test servers and update sites, and patcher starts that are always cleaned up."""

import os
import shutil
from dataclasses import dataclass

import pytest

from patcher_rig import DEFAULT_INI, PATCHER_CLASS, STAND_IN_CLASS, Driver, GameDir, Patcher, Rig, RigError
from update_site import CLIENT_FILES, NetServers, Site, small_client


@dataclass
class Started:
    game: GameDir
    process: Patcher
    handle: str  # the main window
    pid: int  # Windows process id


class Launcher:
    """Starts patchers in fresh game directories and ends whatever is left of them."""

    def __init__(self, rig, driver):
        self.rig, self.driver, self._started, self._adopted = rig, driver, [], []

    def start(self, name, site=None, ini=None, env=None, prepare=None, patcher_exe=None, find_timeout_ms=30000):
        """A patcher in a new game directory, its window found and made the driver's
        target. With a `site`, patcher.ini points at it and the game directory
        holds its published files (ini=... overrides the values); without one it
        points at a server that refuses. `prepare(game_dir)` runs before the
        start, to add or damage files."""
        if self.driver.call(f"windows {PATCHER_CLASS}").split()[0] != "0":
            raise RigError("a patcher window is still open from an earlier scenario")
        if ini is None:
            ini = site.ini() if site is not None else DEFAULT_INI
        game = GameDir(self.rig, name, ini, patcher_exe)
        if site is not None:
            site.install(game)
        if prepare is not None:
            prepare(game)
        process = Patcher(self.rig, game, env)
        handle, pid = self.driver.find(find_timeout_ms)
        started = Started(game, process, handle, pid)
        self._started.append(started)
        return started

    def adopt(self, pid):
        """A patcher process started by another program (the updater): ended at teardown too."""
        self._adopted.append(pid)

    def cleanup(self):
        for started in self._started:
            if started.process.running():
                self.driver.try_call(f"terminate {started.pid}")
                started.process.kill()
        for pid in self._adopted:
            self.driver.try_call(f"terminate {pid}")
        self.driver.try_call(f"close-class {STAND_IN_CLASS}")
        self._started.clear()
        self._adopted.clear()


class Sites:
    """Update sites of one module, removed from the server at its end."""

    def __init__(self, servers):
        self.servers, self._made = servers, []

    def client(self, name, files=CLIENT_FILES):
        """A site with a small client published and its manifest written."""
        site = small_client(self.servers, name, files)
        self._made.append(site)
        return site

    def empty(self, name):
        site = Site(self.servers, name)
        self._made.append(site)
        return site

    def remove(self):
        for site in self._made:
            site.remove()


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


@pytest.fixture(scope="session")
def servers():
    return NetServers.from_environment()


@pytest.fixture(scope="module")
def sites(servers):
    made = Sites(servers)
    yield made
    made.remove()
