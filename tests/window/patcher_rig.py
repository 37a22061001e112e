"""Runs the real patcher under Wine and drives its window from outside.

The pieces, each usable on its own (README.md shows how they fit together):
  Rig         the build tree's programs and Wine environment, from the variables CTest sets
  Driver      one long-lived window_driver.exe that answers one line per command
  GameDir     a fresh game directory holding a copy of the patcher and a patcher.ini
  Patcher     one patcher process started in a GameDir
  screenshot, Image   pictures of the Xvfb screen and their pixels
Update sites on the test HTTPS server are built with update_site.py.
"""

import os
import re
import queue
import shutil
import struct
import subprocess
import tempfile
import threading
import time
from dataclasses import dataclass

PATCHER_CLASS = "ZerandisPatcherWindow"
STAND_IN_CLASS = "StandInGameWindow"
CAPTION = "Zerandis Patcher"

# A server that refuses at once, so runs that reach the network fail quickly
# (scenarios that need a run to succeed point BASE_URL at an update_site.Site).
DEFAULT_INI = {"BASE_URL": "https://127.0.0.1:9/client/", "GAME_EXE": "Zerandis.exe"}

# Control identifiers of the main window.
IDC_TOTAL_PROGRESS = 1001
IDC_STATUS = 1002
IDC_DETAIL = 1003
IDC_COUNTS = 1004
IDC_PLAY = 1005
IDC_REPAIR = 1006
IDC_FILE_PROGRESS = 1007
IDC_TOTAL_LABEL = 1008
IDC_FILE_LABEL = 1009
IDC_RATE = 1010

# The four text lines a run writes, and what they show at the end of a run.
TEXT_LINES = (IDC_STATUS, IDC_DETAIL, IDC_COUNTS, IDC_RATE)
RUN_START = "Rozpoczęcie sprawdzania aktualizacji."  # logged first by every run, after a line of "="
UP_TO_DATE = {
    IDC_STATUS: "Klient jest aktualny.",
    IDC_DETAIL: "Możesz uruchomić grę.",
    IDC_COUNTS: "Wszystkie pliki mają poprawne sumy MD5.",
    IDC_RATE: "Pobieranie nie jest wymagane — klient jest aktualny.",
}
FAILED_STATUS = "Nie udało się zaktualizować klienta."
FAILED_COUNTS = "Szczegóły zapisano w patcher.txt"
FAILED_RATE = "Pobieranie przerwane — nie można określić czasu ani jakości połączenia."
FINISHED_STATUS = "Aktualizacja zakończona."
FINISHED_DETAIL = "Możesz uruchomić grę."

# Worker-to-window messages that carry only a number, safe to post from another process.
WM_APP = 0x8000
WM_PATCHER_TOTAL_PROGRESS = WM_APP + 4
WM_PATCHER_DONE = WM_APP + 5
WM_PATCHER_FILE_PROGRESS = WM_APP + 7


class RigError(AssertionError):
    """A command of the rig did not do what it was asked to."""


@dataclass
class Rig:
    wine_run: str
    wine_state: str
    patcher_exe: str
    driver_exe: str
    stand_in_game: str
    work_dir: str
    updater_exe: str  # Zerandis_PatcherUpdate.bin of the same build

    @classmethod
    def from_environment(cls):
        names = {"wine_run": "PATCHER_WINE_RUN", "wine_state": "PATCHER_WINE_STATE", "patcher_exe": "PATCHER_EXE",
                 "driver_exe": "WINDOW_DRIVER", "stand_in_game": "STAND_IN_GAME", "work_dir": "WINDOW_E2E_DIR",
                 "updater_exe": "PATCHER_UPDATER"}
        missing = [variable for variable in names.values() if not os.environ.get(variable)]
        if missing:
            raise RigError("run through ctest; missing " + ", ".join(missing))
        rig = cls(**{field: os.environ[variable] for field, variable in names.items()})
        os.makedirs(rig.work_dir, exist_ok=True)
        return rig

    @property
    def display(self):
        with open(os.path.join(self.wine_state, "display")) as file:
            return ":" + file.read().strip()

    def run_windows(self, *arguments, timeout=60):
        """Runs a Windows program (or Wine's own, such as reg) to its end."""
        return subprocess.run([self.wine_run, *arguments], stdin=subprocess.DEVNULL, capture_output=True,
                              text=True, timeout=timeout)


def windows_path(path):
    """The path as Wine shows it to Windows programs (through drive Z:)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def unescape(text):
    out, i = [], 0
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text):
            out.append({"n": "\n", "r": "\r", "t": "\t", "\\": "\\"}.get(text[i + 1], text[i + 1]))
            i += 2
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


@dataclass
class MessageBox:
    handle: str
    owner: str  # "0" for a box without owner
    pid: int
    caption: str
    text: str

    @classmethod
    def parse(cls, values):
        handle, owner, pid, rest = values.split(" ", 3)
        caption, text = rest.split("\t", 1)
        return cls(handle, owner, int(pid), unescape(caption), unescape(text))


class Driver:
    """window_driver.exe kept running; every command is bounded by its own time-out."""

    def __init__(self, rig):
        self._process = subprocess.Popen([rig.wine_run, rig.driver_exe], stdin=subprocess.PIPE,
                                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self._lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()
        self.target = None
        self.call("ping", timeout=300)  # an emulated 32-bit driver takes a minute or more to start

    def _read(self):
        for line in self._process.stdout:
            self._lines.put(line.decode("utf-8").rstrip("\r\n"))
        self._lines.put(None)

    def try_call(self, command, timeout=30):
        """(ok, values) of one command; `timeout` in seconds bounds the wait for its answer."""
        self._process.stdin.write((command + "\n").encode("utf-8"))
        self._process.stdin.flush()
        try:
            line = self._lines.get(timeout=timeout)
        except queue.Empty:
            raise RigError(f"driver gave no answer to {command!r} within {timeout} s")
        if line is None:
            raise RigError(f"driver ended at {command!r}")
        status, _, values = line.partition(" ")
        return status == "OK", values

    def call(self, command, timeout=30):
        ok, values = self.try_call(command, timeout)
        if not ok:
            raise RigError(f"{command}: {values}")
        return values

    def close(self):
        try:
            self._process.stdin.write(b"quit\n")
            self._process.stdin.flush()
            self._process.wait(timeout=10)
        except (OSError, subprocess.TimeoutExpired):
            self._process.kill()

    # Waits take milliseconds, like the driver; the answer may take that long plus some slack.
    def _wait(self, command, timeout_ms):
        return self.call(command, timeout=timeout_ms / 1000 + 30)

    def find(self, timeout_ms=30000, class_name=PATCHER_CLASS):
        """Waits for a visible window of `class_name` and makes it the target; (handle, Windows process id)."""
        handle, pid = self._wait(f"find {class_name} {timeout_ms}", timeout_ms).split()
        self.target = handle
        return handle, int(pid)

    def text(self, selector):
        return unescape(self.call(f"text {selector}"))

    def rect(self, selector):
        """(x, y, width, height) of a control, relative to the target's client area."""
        return tuple(int(v) for v in self.call(f"rect {selector}").split())

    def client(self):
        """(screen x, screen y, width, height) of the target's client area."""
        return tuple(int(v) for v in self.call("client").split())

    def window_rect(self):
        return tuple(int(v) for v in self.call("window-rect").split())

    def work_area(self):
        return tuple(int(v) for v in self.call("workarea").split())

    def state(self):
        visible, iconic, zoomed, enabled = (v == "1" for v in self.call("state").split())
        return {"visible": visible, "iconic": iconic, "zoomed": zoomed, "enabled": enabled}

    def style(self):
        style, ex_style = self.call("style").split()
        return int(style, 16), int(ex_style, 16)

    def enabled(self, selector):
        return self.call(f"enabled {selector}") == "1"

    def progress(self, selector):
        """(position, low, high) of a progress bar."""
        return tuple(int(v) for v in self.call(f"progress {selector}").split())

    def wait_enabled(self, selector, enabled=True, timeout_ms=20000):
        self._wait(f"wait-enabled {selector} {int(enabled)} {timeout_ms}", timeout_ms)

    def wait_text(self, selector, part, timeout_ms=20000):
        return unescape(self._wait(f"wait-text {selector} {timeout_ms} {part}", timeout_ms))

    def wait_visibility(self, visible, timeout_ms=20000):
        """Milliseconds until the target was (in)visible."""
        return int(self._wait(f"wait-visibility {'visible' if visible else 'hidden'} {timeout_ms}", timeout_ms))

    def wait_gone(self, timeout_ms=20000):
        self._wait(f"gone {timeout_ms}", timeout_ms)

    def box(self, timeout_ms=20000, pid=0):
        return MessageBox.parse(self._wait(f"box {timeout_ms} {pid}", timeout_ms))

    def no_box(self, for_ms=500, pid=0):
        self._wait(f"no-box {for_ms} {pid}", for_ms)

    def answer(self, button, part, timeout_ms=20000):
        """Presses yes, no or ok on the first message box whose text contains `part`."""
        return MessageBox.parse(self._wait(f"answer {button} {timeout_ms} {part}", timeout_ms))

    def foreground(self):
        """(handle, Windows process id, class, title) of the foreground window."""
        handle, pid, rest = self.call("foreground").split(" ", 2)
        class_name, title = rest.split("\t", 1)
        return handle, int(pid), unescape(class_name), unescape(title)

    def in_move_or_size(self):
        """True while the target's thread runs the system's move or size loop."""
        flags, _capture = self.call("gui").split()
        return int(flags, 16) & 0x2 != 0  # GUI_INMOVESIZE

    def wait_state(self, timeout=10, **wanted):
        """Polls state() until every given flag has the given value; the last state."""
        deadline = time.monotonic() + timeout
        while True:
            state = self.state()
            if all(state[key] == value for key, value in wanted.items()):
                return state
            if time.monotonic() > deadline:
                raise RigError(f"window state {state}, wanted {wanted}")
            time.sleep(0.05)

    def wait_progress(self, selector, position, timeout=10):
        deadline = time.monotonic() + timeout
        while self.progress(selector)[0] != position:
            if time.monotonic() > deadline:
                raise RigError(f"progress of {selector} is {self.progress(selector)}, wanted {position}")
            time.sleep(0.05)

    def barrier(self):
        """Returns once the target has handled every message posted to it before.
        Posted messages are handled in order, so a bar position posted now shows
        when the earlier ones are done; the bar then gets its position back."""
        position = self.progress(IDC_TOTAL_PROGRESS)[0]
        for value in ((position + 1) % 101, position):
            self.call(f"post {WM_PATCHER_TOTAL_PROGRESS} {value} 0")
            self.wait_progress(IDC_TOTAL_PROGRESS, value)

    def lines(self):
        """The four text lines of the target (status, detail, counts, bottom line) by control id."""
        return {selector: self.text(selector) for selector in TEXT_LINES}

    def repair(self, game, timeout_ms=60000):
        """Presses "NAPRAW PLIKI" and returns once that run has ended (the repair
        button is enabled again). A new run line in the log shows that the click
        was handled, so the buttons seen enabled afterwards are the new run's."""
        runs = game.log().count(RUN_START)
        self.call(f"click {IDC_REPAIR}")
        game.wait_log(RUN_START, runs + 1, timeout=timeout_ms / 1000)
        self.wait_enabled(IDC_REPAIR, True, timeout_ms)

    def wait_window(self, class_name, timeout_ms=20000):
        handle, pid = self._wait(f"wait-window {class_name} {timeout_ms}", timeout_ms).split()
        return handle, int(pid)


class GameDir:
    """A fresh game directory under the rig's work folder with a copy of the patcher."""

    def __init__(self, rig, name, ini=None, patcher_exe=None):
        self.path = tempfile.mkdtemp(prefix=name + "_", dir=rig.work_dir)
        self.rig = rig
        self.patcher_path = os.path.join(self.path, "Zerandis_Patcher.exe")
        shutil.copy2(patcher_exe or rig.patcher_exe, self.patcher_path)
        self.write_ini(ini if ini is not None else {})

    def file(self, relative):
        return os.path.join(self.path, *relative.replace("\\", "/").split("/"))

    def windows_path(self, relative=""):
        return windows_path(self.file(relative)) if relative else windows_path(self.path)

    def write_ini(self, values):
        """patcher.ini with section [PATCHER] and the given keys, or no file for None."""
        path = self.file("patcher.ini")
        if values is None:
            if os.path.exists(path):
                os.remove(path)
            return
        lines = ["[PATCHER]"] + [f"{key}={value}" for key, value in values.items()]
        with open(path, "w", encoding="ascii", newline="\r\n") as file:
            file.write("\n".join(lines) + "\n")

    def write(self, relative, data):
        path = self.file(relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as file:
            file.write(data)

    def add_stand_in_game(self, relative="Zerandis.exe"):
        """The stand-in game under the game's name; started without arguments it records its launch."""
        path = self.file(relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        shutil.copy2(self.rig.stand_in_game, path)

    def read_text(self, relative, encoding="utf-8"):
        with open(self.file(relative), encoding=encoding, newline="") as file:
            return file.read()

    def read_bytes(self, relative):
        with open(self.file(relative), "rb") as file:
            return file.read()

    def exists(self, relative):
        return os.path.exists(self.file(relative))

    def log(self):
        """The messages of patcher.txt, without their time stamps; [] while there is none."""
        if not self.exists("patcher.txt"):
            return []
        text = self.read_text("patcher.txt", encoding="utf-8-sig")
        stamp = re.compile(r"^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] ")
        return [stamp.sub("", line, count=1) for line in text.split("\r\n") if line]

    def wait_log(self, wanted, count=1, timeout=30):
        """The log once it holds `count` lines equal to `wanted` (the log is written by the run)."""
        deadline = time.monotonic() + timeout
        while True:
            log = self.log()
            if log.count(wanted) >= count:
                return log
            if time.monotonic() > deadline:
                raise RigError(f"patcher.txt holds {log.count(wanted)} lines {wanted!r}, wanted {count}")
            time.sleep(0.05)

    def remove(self):
        shutil.rmtree(self.path, ignore_errors=True)


class Patcher:
    """One patcher process started from a GameDir. `env` adds environment variables
    (Wine hands them to the Windows side, and the patcher to the game it starts)."""

    def __init__(self, rig, game_dir, env=None):
        environment = dict(os.environ)
        environment.update(env or {})
        self.game_dir = game_dir
        self.started = time.monotonic()
        self._process = subprocess.Popen([rig.wine_run, game_dir.patcher_path], cwd=game_dir.path,
                                         stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                         stderr=subprocess.DEVNULL, env=environment)

    def running(self):
        return self._process.poll() is None

    def wait(self, timeout=30):
        """The exit code; RigError when the process is still running after `timeout` seconds."""
        try:
            return self._process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise RigError(f"patcher still running after {timeout} s")

    def kill(self):
        if self.running():
            self._process.kill()
            self._process.wait(timeout=30)


def emulated(exe):
    """True for a 32-bit program where the kernel hands 32-bit code to qemu: its
    binfmt_misc entry for i386 ELF files is enabled and names a qemu."""
    try:
        with open("/proc/sys/fs/binfmt_misc/qemu-i386") as entry:
            fields = entry.read().split()
    except OSError:
        return False
    if "enabled" not in fields or "interpreter" not in fields:
        return False
    if "qemu" not in os.path.basename(fields[fields.index("interpreter") + 1]):
        return False
    with open(exe, "rb") as file:
        head = file.read(1024)
    pe = struct.unpack_from("<I", head, 0x3C)[0]
    return struct.unpack_from("<H", head, pe + 4)[0] == 0x14C


def last_run(log):
    """The lines of the last run in a log, from its run line on (none before one)."""
    if RUN_START not in log:
        return []
    return log[len(log) - 1 - log[::-1].index(RUN_START):]


def screenshot(rig, path):
    """The whole Xvfb screen of the rig as a PNG file."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    subprocess.run(["import", "-display", rig.display, "-window", "root", path], check=True, timeout=60)
    return path


class Image:
    """The pixels of a picture file, read through ImageMagick."""

    def __init__(self, path):
        data = subprocess.run(["/usr/bin/convert", path, "-depth", "8", "ppm:-"], check=True,
                              capture_output=True, timeout=60).stdout
        fields, at = [], 0
        while len(fields) < 4:  # P6 header: magic, width, height, maximum
            while data[at:at + 1].isspace():
                at += 1
            end = at
            while not data[end:end + 1].isspace():
                end += 1
            fields.append(data[at:end])
            at = end
        self.width, self.height = int(fields[1]), int(fields[2])
        self._pixels = data[at + 1:]

    def pixel(self, x, y):
        at = (y * self.width + x) * 3
        return tuple(self._pixels[at:at + 3])

    def region(self, x, y, width, height):
        return [self.pixel(px, py) for py in range(y, y + height) for px in range(x, x + width)]


def close_to(colour, expected, tolerance=6):
    return all(abs(a - b) <= tolerance for a, b in zip(colour, expected))
