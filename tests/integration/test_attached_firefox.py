"""Browsers in a Firefox that runs already, reached through VARNE_BIDI_URL: some of the local run's
test bodies again, and what attaching adds: the library opens a tab and a session of its own, and
closes that tab and ends that session only."""
import gc
import json
import os
import re
import subprocess
import time

import pytest
import websocket

import varne
from creation import creation_error
from grid_server import end_group
from test_browser_chromium import (  # noqa: F401  collected here too, run in the attached browser
    test_clicks_log_their_lines, test_confirm_answered_with_ok_and_with_cancel,
    test_frameset_with_nested_and_slow_frames, test_navigation_waits_and_logs_the_address_as_given)

SERVER_UNAVAILABLE = -2147023174
# What keeps the test's own Firefox off the network and lets it behave as the library's own do.
PREFS = {"app.update.disabledForTesting": True, "browser.shell.checkDefaultBrowser": False,
         "datareporting.policy.dataSubmissionEnabled": False, "toolkit.telemetry.server": "",
         "services.settings.server": "data:,#remote-settings-dummy/v1", "media.gmp-provider.enabled": False,
         "network.captive-portal-service.enabled": False, "network.connectivity-service.enabled": False,
         "remote.retry-on-abort": False, "dom.require_user_interaction_for_beforeunload": False}

pytestmark = pytest.mark.firefox_only(reason="attaches over VARNE_BIDI_URL, the BiDi address of a running Firefox")


@pytest.fixture(scope="module")
def firefox(tmp_path_factory):
    """A Firefox with a BiDi port of its own choosing; yields the process and its ws:// address."""
    folder = tmp_path_factory.mktemp("attached-firefox")
    profile = folder / "profile"
    profile.mkdir()
    (profile / "user.js").write_text(
        "".join("user_pref(%s, %s);\n" % (json.dumps(name), json.dumps(value)) for name, value in PREFS.items()))
    output = folder / "firefox.log"
    with open(output, "wb") as sink:
        process = subprocess.Popen(
            ["/usr/bin/firefox-esr", "--headless", "--no-remote", "--remote-debugging-port=0",
             "--profile", str(profile), "about:blank"],
            stdout=sink, stderr=sink, stdin=subprocess.DEVNULL, start_new_session=True,
            env=dict(os.environ, MOZ_REMOTE_SETTINGS_DEVTOOLS="1"))
    deadline = time.monotonic() + 30
    listening = None
    while listening is None and time.monotonic() < deadline:
        listening = re.search(r"WebDriver BiDi listening on (ws://[\d.]+:\d+)", output.read_text(errors="replace"))
        time.sleep(0.05)
    assert listening, output.read_text(errors="replace")
    yield process, listening.group(1)
    end_group(process)


@pytest.fixture(autouse=True)
def attached(firefox, monkeypatch):
    monkeypatch.setenv("VARNE_BIDI_URL", firefox[1])
    yield
    gc.collect()  # browsers that a failure's traceback kept in a reference cycle


def _tabs(address):
    """How many top-level contexts the Firefox has, seen by a client of the test's own in a session it ends
    (their ids differ from one session to the next)."""
    connection = websocket.create_connection(address + "/session", timeout=30, suppress_origin=True)  # Firefox refuses an Origin
    try:
        answers = {}
        for number, (method, params) in enumerate(
                [("session.new", {"capabilities": {}}), ("browsingContext.getTree", {"maxDepth": 0}),
                 ("session.end", {})], start=1):
            connection.send(json.dumps({"id": number, "method": method, "params": params}))
            while number not in answers:
                message = json.loads(connection.recv())
                if "id" in message:
                    answers[message["id"]] = message
        return len(answers[2]["result"]["contexts"])
    finally:
        connection.close()


def test_release_closes_the_tab_it_opened_ends_its_session_and_leaves_the_browser(firefox, site):
    process, address = firefox
    before = _tabs(address)
    browser = varne.CreateObject("Varne.Browser")
    browser.GotoURL(site.url("index.html"))
    assert browser.GetBrowser().Document.title == "Home"
    assert browser.GetBrowser().Name == "Firefox"
    del browser
    assert _tabs(address) == before
    assert process.poll() is None


def test_firefox_serves_one_browser_at_a_time(firefox, site):
    first = varne.CreateObject("Varne.Browser")
    error = creation_error()
    assert error.number == SERVER_UNAVAILABLE
    assert error.description.startswith("No Firefox session can be had at %s/session: " % firefox[1])
    assert error.description.endswith("(Firefox serves one client at a time)")
    first.GotoURL(site.url("index.html"))
    assert first.GetBrowser().Document.title == "Home"


def test_an_address_where_no_firefox_listens(monkeypatch):
    monkeypatch.setenv("VARNE_BIDI_URL", "ws://127.0.0.1:9")
    error = creation_error()
    assert error.number == SERVER_UNAVAILABLE
    assert error.description == "Cannot reach ws://127.0.0.1:9/session: Connection refused"


def test_without_varne_browser_the_bidi_address_chooses_firefox(firefox, site, monkeypatch):
    monkeypatch.delenv("VARNE_BROWSER")
    browser = varne.CreateObject("Varne.Browser")
    assert browser.GetBrowser().Name == "Firefox"
