"""Shared helpers of the native tests: where the tool is, running it."""
import os
import pathlib
import subprocess

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]


@pytest.fixture(scope="session")
def tool():
    path = os.environ.get("ZERANDIS_MANIFEST", str(ROOT / "build" / "native" / "zerandis-manifest"))
    if not os.access(path, os.X_OK):
        pytest.fail(f"zerandis-manifest not built at {path} (cmake -S tools/manifest -B build/native)")
    return path


@pytest.fixture
def run(tool):
    """run(*args, prefix=[]) -> CompletedProcess with bytes stdout/stderr."""
    def call(*args, prefix=()):
        return subprocess.run([*prefix, tool, *map(os.fsencode, args)], capture_output=True, timeout=120)
    return call
