"""Browsers in a Chromium that runs already, reached through VARNE_CDP_URL: some of the local
run's test bodies again, and what attaching adds: the library closes its own pages only."""
import gc
import json
import os
import subprocess
import urllib.request

import pytest

import varne
from creation import creation_error
from grid_server import end_group
from test_browser_chromium import (  # noqa: F401  collected here too, run in the attached browser
    test_clicks_log_their_lines, test_confirm_answered_with_ok_and_with_cancel,
    test_frameset_with_nested_and_slow_frames, test_navigation_waits_and_logs_the_address_as_given,
    test_window_handle_is_stable_and_unique)
from test_demo_journey import EXAMPLES, test_the_journey_passes_every_step_and_leaves_its_outputs  # noqa: F401
from waiting import eventually

SERVER_UNAVAILABLE = -2147023174

pytestmark = pytest.mark.chromium_only(reason="attaches over VARNE_CDP_URL, the DevTools address of a running Chromium")


@pytest.fixture(scope="module")
def chromium(tmp_path_factory):
    """A Chromium with a debugging port of its own choosing; yields its http:// address."""
    profile = tmp_path_factory.mktemp("attached-profile")
    process = subprocess.Popen(
        ["/usr/lib/chromium/chromium", "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--remote-debugging-port=0", "--user-data-dir=%s" % profile, "about:blank"],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, start_new_session=True)
    port_file = profile / "DevToolsActivePort"
    eventually(lambda: port_file.exists() and port_file.read_text().count("\n") >= 1, seconds=20, step=0.05)
    port = int(port_file.read_text().split("\n")[0])
    yield process, "http://127.0.0.1:%d" % port
    end_group(process)


@pytest.fixture(autouse=True)
def attached(chromium, monkeypatch):
    monkeypatch.setenv("VARNE_CDP_URL", chromium[1])
    yield
    gc.collect()  # browsers that a failure's traceback kept in a reference cycle


@pytest.fixture
def journey():
    return ["/usr/bin/python3", os.path.join(EXAMPLES, "demo_journey.py")]


def _json(address, path):
    with urllib.request.urlopen(address + path, timeout=5) as answer:
        return json.load(answer)


def _pages(address):
    return sorted(target["id"] for target in _json(address, "/json/list") if target["type"] == "page")


def test_release_closes_the_pages_it_opened_and_leaves_the_browser(chromium, site):
    process, address = chromium
    eventually(lambda: len(_pages(address)) == 1, seconds=5, step=0.05)  # the browser's own start page
    before = _pages(address)
    browser = varne.CreateObject("Varne.Browser")
    browser.GotoURL(site.url("index.html"))
    assert len(_pages(address)) == len(before) + 1
    del browser
    assert eventually(lambda: _pages(address) == before, seconds=5, step=0.05)
    assert process.poll() is None
    assert "Browser" in _json(address, "/json/version")


def test_the_browser_socket_address_works_too(chromium, site, monkeypatch):
    monkeypatch.setenv("VARNE_CDP_URL", _json(chromium[1], "/json/version")["webSocketDebuggerUrl"])
    browser = varne.CreateObject("Varne.Browser")
    browser.GotoURL(site.url("index.html"))
    assert browser.GetBrowser().Document.title == "Home"


def test_an_address_where_no_browser_listens(monkeypatch):
    monkeypatch.setenv("VARNE_CDP_URL", "http://127.0.0.1:9")
    error = creation_error()
    assert error.number == SERVER_UNAVAILABLE
    assert error.description == "Cannot reach http://127.0.0.1:9: Connection refused"
