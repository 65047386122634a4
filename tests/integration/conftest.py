import os
import re
import shutil
import subprocess
import sys
import time

import pytest

_built = os.path.join(os.path.dirname(__file__), "..", "..", "build", "python")
if os.path.isdir(_built) and _built not in sys.path:
    sys.path.insert(0, os.path.abspath(_built))

import varne  # noqa: E402

from site_server import SITE, SiteServer  # noqa: E402

STAMP = r"\d\d:\d\d:\d\d \d\d/[A-Z][a-z]{2}/\d{4}"
ENGINES = ["chromium", "firefox"]
# The variable that names each engine's program.
PROGRAM_VARIABLES = {"chromium": "VARNE_CHROMIUM", "firefox": "VARNE_FIREFOX"}


def pytest_configure(config):
    config.addinivalue_line(
        "markers", "chromium_only(reason): the test reaches what only Chromium has; it runs on Chromium alone")
    config.addinivalue_line(
        "markers", "firefox_only(reason): the test reaches Firefox's own protocol; it runs on Firefox alone")


def pytest_generate_tests(metafunc):
    """Every test runs once per engine, unless it is marked as one engine's alone."""
    if "engine" in metafunc.fixturenames:
        engines = ENGINES
        for only in ENGINES:
            if metafunc.definition.get_closest_marker(only + "_only"):
                engines = [only]
        metafunc.parametrize("engine", engines, indirect=True)


@pytest.fixture(autouse=True)
def engine(request, monkeypatch):
    """The engine of every Browser the test creates, itself or through a program it starts."""
    monkeypatch.setenv("VARNE_BROWSER", request.param)
    return request.param


@pytest.fixture(scope="session")
def site():
    with SiteServer(SITE) as server:
        yield server


@pytest.fixture
def browser(tmp_path):
    created = varne.CreateObject("Varne.Browser")
    created.SetBrowserLog(str(tmp_path / "browser.log"))
    yield created
    created.CloseBrowserLog()


def log_texts(path):
    """The texts of a log's entries, in order, without their timestamps."""
    with open(path, "rb") as log:
        lines = log.read().decode("utf-8").split("\r\n")
    texts = []
    for index, line in enumerate(lines):
        if re.fullmatch(STAMP + ":", line):
            texts.append(lines[index + 1])
    return texts


@pytest.fixture
def log(tmp_path):
    return lambda: log_texts(tmp_path / "browser.log")


@pytest.fixture
def display():
    """An X display of its own, served by Xvfb for the test."""
    if not shutil.which("Xvfb"):
        pytest.skip("Xvfb is not installed")
    number = 90 + os.getpid() % 800
    server = subprocess.Popen(["Xvfb", f":{number}", "-nolisten", "tcp", "-screen", "0", "1024x768x24"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 10
    while not os.path.exists(f"/tmp/.X11-unix/X{number}") and time.monotonic() < deadline:
        time.sleep(0.05)
    yield f":{number}"
    server.kill()
    server.wait()
