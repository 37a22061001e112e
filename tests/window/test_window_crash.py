"""Deliberate faults in the test build of the patcher (crash_trigger.cpp): each
leaves one log line naming the code and the place, a minidump beside it and the
owner-less message, and the process ends with exit code 1."""

import os
import re
import subprocess

import pytest

from patcher_rig import emulated

SLOW_MS = 300000  # 32-bit Wine may be emulated: a start can take a minute
CRASH_TEXT = "Patcher napotkał nieoczekiwany błąd i zostanie zamknięty. Szczegóły zapisano w pliku patcher.txt."
CRASH_LINE = re.compile(r"BLAD: Nieoczekiwany błąd programu ([0-9A-F]{8}) pod adresem ([^+]+)\+0x([0-9a-f]+)\.")


def code_section(program):
    """(start, end) of the .text section, relative to the image base."""
    def objdump(option):
        return subprocess.run([os.environ["OBJDUMP"], option, program], check=True, capture_output=True,
                              text=True).stdout
    base = int(re.search(r"^ImageBase\s+([0-9a-fA-F]+)", objdump("-p"), re.M).group(1), 16)
    size, vma = re.search(r"^\s*\d+ \.text\s+([0-9a-f]+)\s+([0-9a-f]+)", objdump("-h"), re.M).groups()
    return int(vma, 16) - base, int(vma, 16) - base + int(size, 16)


@pytest.mark.parametrize("where, code", [("main", "C0000005"), ("worker", "C0000005"), ("terminate", "E05A0001")])
def test_a_fault_leaves_its_line_a_minidump_and_the_message(launcher, driver, where, code):
    started = launcher.start(f"crash_{where}", patcher_exe=os.environ["CRASHING_PATCHER"], find_timeout_ms=SLOW_MS,
                             prepare=lambda game: game.write(f"crash-{where}.test", b""))
    box = driver.box(SLOW_MS, started.pid)
    driver.answer("ok", "nieoczekiwany błąd")  # first, so that a failed check leaves no window behind
    assert started.process.wait(SLOW_MS / 1000) == 1
    assert (box.owner, box.caption, box.text) == ("0", "Zerandis Patcher", CRASH_TEXT)
    lines = [match.groups() for match in map(CRASH_LINE.fullmatch, started.game.log()) if match]
    codes = [code]
    if code == "C0000005" and emulated(started.game.patcher_path):
        codes.append("C000001D")  # qemu hands Wine the null store's signal without its page-fault trap number
    assert len(lines) == 1 and lines[0][:2] in [(c, "Zerandis_Patcher.exe") for c in codes], lines
    start, end = code_section(started.game.patcher_path)
    assert start <= int(lines[0][2], 16) < end
    dump = started.game.read_bytes("patcher-crash.dmp")
    assert dump[:4] == b"MDMP" and len(dump) < 16 << 20  # no full memory
