"""The browser tests again with every browser on a Grid standalone (the same test bodies as the
local run), and what only a Grid does: slots, its queue, sessions it ends, a Grid that stops."""
import gc
import os
import signal
import subprocess
import threading
import time

import pytest

import varne
from creation import creation_error
from grid_server import GridServer, group_members
from test_browser_chromium import (  # noqa: F401  collected here too, run on the Grid
    test_alert_has_no_cancel_button, test_alert_while_the_page_loads, test_a_document_of_a_page_that_is_gone_is_stale,
    test_a_frame_of_another_origin_may_not_be_read, test_checkout_confirm_submits_the_form,
    test_clicks_log_their_lines, test_confirm_answered_with_ok_and_with_cancel, test_element_search_on_links_and_images,
    test_forms_fill_through_the_dom_and_submit, test_frame_navigation_is_waited_for,
    test_frameset_with_nested_and_slow_frames, test_navigation_waits_and_logs_the_address_as_given,
    test_window_handle_is_stable_and_unique)
from test_demo_journey import EXAMPLES, test_the_journey_passes_every_step_and_leaves_its_outputs  # noqa: F401
from waiting import eventually

SERVER_UNAVAILABLE = -2147023174
QUEUE_SECONDS = 12

pytestmark = pytest.mark.chromium_only(reason="the Grid's nodes here serve Chromium, whose DevTools socket the library drives")


@pytest.fixture(scope="module")
def grid(tmp_path_factory):
    with GridServer(str(tmp_path_factory.mktemp("grid")), slots=2, request_timeout=QUEUE_SECONDS) as server:
        yield server


@pytest.fixture(autouse=True)
def on_the_grid(grid, monkeypatch):
    """Every browser of the test on the Grid; the slots free again before the next test, also when
    a failure's traceback kept a browser in a reference cycle."""
    monkeypatch.setenv("VARNE_REMOTE_URL", grid.url)
    yield
    gc.collect()
    if grid.process is not None and grid.process.poll() is None:
        eventually(lambda: grid.sessions() == [])


@pytest.fixture
def journey():
    return ["/usr/bin/python3", os.path.join(EXAMPLES, "demo_journey.py")]


def test_two_browsers_at_once_on_two_slots(grid, site):
    first = varne.CreateObject("Varne.Browser")
    second = varne.CreateObject("Varne.Browser")
    assert len(set(grid.sessions())) == 2
    first.GotoURL(site.url("index.html"))
    second.GotoURL(site.url("second.html"))
    assert first.GetBrowser().Document.title == "Home"
    assert second.GetBrowser().Document.title != "Home"
    del first, second
    assert eventually(lambda: grid.sessions() == [])


def test_a_full_grid_refuses_after_its_queue_time_out(grid):
    held = [varne.CreateObject("Varne.Browser") for _ in range(2)]
    started = time.monotonic()
    error = creation_error()
    assert QUEUE_SECONDS - 1 <= time.monotonic() - started < QUEUE_SECONDS + 20
    assert error.number == SERVER_UNAVAILABLE
    assert error.description.startswith(
        "The Grid at %s did not create a browser (HTTP 500): session not created: " % grid.url)
    assert "timed out" in error.description
    del held


def test_our_queue_bound_gives_up_first(grid, monkeypatch):
    monkeypatch.setenv("VARNE_REMOTE_QUEUE_TIMEOUT", "1")
    monkeypatch.setenv("VARNE_REMOTE_CAPABILITIES", '{"browserName": "firefox"}')  # no slot ever serves it
    error = creation_error()
    assert error.description == (
        "The Grid at %s gave no browser within 1 s of waiting in its queue (VARNE_REMOTE_QUEUE_TIMEOUT)" % grid.url)


def test_a_session_that_the_grid_ended_fails_within_seconds(grid, site):
    browser = varne.CreateObject("Varne.Browser")
    browser.GotoURL(site.url("index.html"))
    [session] = grid.sessions()
    grid.delete_session(session)
    started = time.monotonic()
    with pytest.raises(varne.AutomationError) as raised:
        browser.GotoURL(site.url("second.html"))
        browser.GetBrowser().Document.title
    # Well inside a command's own 60-second bound: the watcher told the end, not the bound.
    assert time.monotonic() - started < 30
    assert "the Grid at %s ended browser session %s" % (grid.url, session) in raised.value.description
    started = time.monotonic()
    with pytest.raises(varne.AutomationError):
        browser.GetBrowser().Document.title
    assert time.monotonic() - started < 1


def test_bad_settings_and_unreachable_grids_fail_the_creation(monkeypatch):
    monkeypatch.setenv("VARNE_REMOTE_URL", "127.0.0.1:4444")
    error = creation_error()
    assert error.number == 5
    assert error.description == (
        'VARNE_REMOTE_URL is not usable: "127.0.0.1:4444" is not an address starting with http://')

    monkeypatch.setenv("VARNE_REMOTE_URL", "http://127.0.0.1:9")
    started = time.monotonic()
    error = creation_error()
    assert time.monotonic() - started < 6
    assert error.number == SERVER_UNAVAILABLE
    assert error.description == "Cannot reach http://127.0.0.1:9: Connection refused"


def test_released_browsers_leave_no_session_driver_or_browser(grid):
    assert eventually(lambda: grid.sessions() == [])
    assert eventually(lambda: group_members(grid.process.pid) == [grid.process.pid])


def test_a_grid_that_pauses_for_eight_seconds_keeps_its_browser(grid, site):
    """A long garbage collection or a busy node: the Grid answers nothing for 8 s, in the middle of a
    call and while the browser is idle; the calls wait for it and the browser stays."""
    browser = varne.CreateObject("Varne.Browser")
    browser.GotoURL(site.url("index.html"))
    os.kill(grid.process.pid, signal.SIGSTOP)
    waking = subprocess.Popen(["sh", "-c", "sleep 8; kill -CONT %d" % grid.process.pid])
    try:
        browser.GotoURL(site.url("second.html"))
    finally:
        waking.wait()
        os.kill(grid.process.pid, signal.SIGCONT)
    os.kill(grid.process.pid, signal.SIGSTOP)
    waking = subprocess.Popen(["sh", "-c", "sleep 8; kill -CONT %d" % grid.process.pid])
    waking.wait()
    browser.GotoURL(site.url("index.html"))
    assert browser.GetBrowser().Document.title == "Home"


# Stops the module's Grid, so it comes last.
def test_a_grid_that_stops_in_the_middle_of_a_call(grid, site):
    browser = varne.CreateObject("Varne.Browser")
    browser.GotoURL(site.url("index.html"))
    threading.Timer(0.5, grid.kill_server).start()
    started = time.monotonic()
    with pytest.raises(varne.AutomationError) as raised:
        browser.GotoURL(site.url("slow?delay=5000"))
        browser.GetBrowser().Document.title
    # Well inside a command's own 60-second bound: the watcher told the end, not the bound.
    assert time.monotonic() - started < 30
    assert "browser" in raised.value.description
