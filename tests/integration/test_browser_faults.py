"""Browser against the real browsers when loads fail, dialogs of every kind open, and the browser dies."""
import contextlib
import os
import re
import shlex
import signal
import socket
import threading
import time

import pytest

import varne
from processes import browser_of, browsers, descendants, group_runs, let_end, runs, start_client
from waiting import eventually

LAPSED = r"\[0 days 00:00:\d\d\]"
CALL_REJECTED = -2147418111
SERVER_UNAVAILABLE = -2147023174


def closed_port_url():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    return f"http://127.0.0.1:{port}/"


@pytest.fixture
def browser_without_dns(engine, tmp_path, monkeypatch, request):
    """The `browser` fixture's browser, started through a wrapper that has it resolve every host name
    to nothing by itself. Chromium asks the machine's resolver even for .invalid names, so an unknown
    host would otherwise fail only as fast as that resolver does, and with whatever it answers."""
    if engine == "firefox":
        return request.getfixturevalue("browser")  # Firefox fails .invalid names by itself
    program = os.environ.get("VARNE_CHROMIUM") or "/usr/lib/chromium/chromium"
    wrapper = tmp_path / "chromium"
    wrapper.write_text(f"#!/bin/sh\nexec {shlex.quote(program)} "
                       "'--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1' \"$@\"\n")
    wrapper.chmod(0o755)
    monkeypatch.setenv("VARNE_CHROMIUM", str(wrapper))
    return request.getfixturevalue("browser")


# Each engine names the failure in its own words; a refused address leaves the page shown.
REFUSED = {"chromium": "net::ERR_CONNECTION_REFUSED", "firefox": "NS_ERROR_CONNECTION_REFUSED"}
FAILED_LOADS = {
    "connection refused": (closed_port_url(), REFUSED, False),
    "unknown host": ("http://nosuchhost.invalid/", {"chromium": "net::ERR_NAME_NOT_RESOLVED",
                                                    "firefox": "NS_ERROR_UNKNOWN_HOST"}, False),
    "unknown scheme": ("foo://bar", {"chromium": "net::ERR_ABORTED",
                                     "firefox": 'Navigation to "foo://bar" is not allowed in this context'}, True),
    "malformed address": ("http://[bad", {"chromium": "Cannot navigate to invalid URL",
                                          "firefox": 'Expected "url" to be a valid URL'}, True),
}


@pytest.mark.parametrize("failure", FAILED_LOADS)
def test_a_load_that_fails_logs_the_address_and_the_reason_first(browser_without_dns, engine, site, log, failure):
    address, reasons, page_stays = FAILED_LOADS[failure]
    browser = browser_without_dns
    browser.GotoURL(site.url("index.html"))
    browser.GotoURL(address)
    texts = log()
    assert texts[-2].startswith(f'Could not load "{address}": {reasons[engine]}')
    if page_stays:
        assert re.fullmatch(r'Browser not set to "%s": the page shown stayed\. %s' % (re.escape(address), LAPSED),
                            texts[-1])
    else:
        assert re.fullmatch(r'Browser set to "%s"\. %s' % (re.escape(address), LAPSED), texts[-1])
    assert browser.WaitForBrowser() == 0
    app = browser.GetBrowser()
    assert app.ReadyState == 4
    if page_stays:
        assert app.LocationURL == site.url("index.html")
        assert app.Document.title == "Home"
    else:
        assert app.LocationURL == address  # the browser's error page for the address
        if engine == "chromium":  # Firefox's error page reads as empty (see the README)
            assert app.Document.body.innerText  # whose text a script can test


def test_an_http_error_and_failed_loads_from_clicks_and_frames(browser, engine, site, log):
    missing = site.url("missing.html")
    browser.GotoURL(missing)
    assert log()[-2] == f'Could not load "{missing}": HTTP 404 File not found'
    assert browser.GetBrowser().LocationURL == missing

    browser.GotoURL(site.url("failing_links.html"))
    document = browser.GetBrowser().Document
    assert browser.ClickLink(document, "Missing") == 0
    assert log()[-2:-1] == [f'Could not load "{missing}": HTTP 404 File not found']
    assert log()[-1].startswith('Clicked text link "Missing"')

    browser.GotoURL(site.url("failing_links.html"))
    form = browser.GetBrowser().Document.forms.item(0)
    assert browser.ClickFormButton(form, "Send") == 0
    assert log()[-2] == f'Could not load "{missing}?": HTTP 404 File not found'

    browser.GotoURL(site.url("frames.html"))
    refused = closed_port_url()
    assert browser.FrameGotoURL(0, refused) == 0
    assert log()[-2] == f'Could not load "{refused}": {REFUSED[engine]}'
    assert re.fullmatch(r'Frame 0 set to "%s"\. %s' % (re.escape(refused), LAPSED), log()[-1])


def test_loads_that_never_start_leave_the_page_ready(browser, site, log):
    browser.GotoURL(site.url("index.html"))
    browser.GotoURL("javascript:void(0)")
    assert log()[-1].startswith('Browser not set to "javascript:void(0)": the page shown stayed. [0 days 00:00:0')
    assert browser.WaitForBrowser() == 0
    assert browser.GetBrowser().Document.title == "Home"

    browser.GotoURL("javascript:alert(1)")  # returns with the alert open, or about to open
    assert re.fullmatch(r'(Dialog open while loading "javascript:alert\(1\)"|'
                        r'Browser not set to "javascript:alert\(1\)": the page shown stayed)\. %s' % LAPSED, log()[-1])
    assert browser.PopupClickOk() == 0
    started = time.monotonic()
    assert browser.WaitForBrowser() == 0
    assert time.monotonic() - started < 5
    assert browser.GetBrowser().Document.title == "Home"


def test_a_navigation_while_a_dialog_is_open_fails_and_leaves_it_open(browser, site):
    browser.GotoURL(site.url("dialogs.html"))
    assert browser.ClickLink(browser.GetBrowser().Document, "Ask") == 0
    for navigate in (lambda: browser.GotoURL(site.url("second.html")),
                     lambda: browser.GetBrowser().Navigate(site.url("second.html"))):
        with pytest.raises(varne.AutomationError) as raised:
            navigate()
        assert raised.value.number == CALL_REJECTED
        assert "dialog is open" in raised.value.description
    assert browser.PopupClickCancel() == 0
    assert browser.GetBrowser().Document.getElementById("out").innerText == "false"


def test_a_prompt_answered_with_ok_keeps_its_default(browser, site):
    browser.GotoURL(site.url("prompt.html"))
    document = browser.GetBrowser().Document
    assert browser.ClickLink(document, "Name") == 0
    assert browser.PopupClickOk() == 0
    assert document.getElementById("out").innerText == "Alice"
    assert browser.ClickLink(document, "Name") == 0
    assert browser.PopupClickCancel() == 0
    assert document.getElementById("out").innerText == "null"


def test_a_leave_this_page_dialog(browser, site):
    browser.GotoURL(site.url("leave.html"))
    started = time.monotonic()
    assert browser.ClickLink(browser.GetBrowser().Document, "Away") == 0  # returns with the dialog open
    assert time.monotonic() - started < 10
    assert browser.PopupClickCancel() == 0
    app = browser.GetBrowser()
    started = time.monotonic()
    assert browser.WaitForBrowser() == 0
    assert time.monotonic() - started < 1
    assert app.ReadyState == 4
    assert app.Document.readyState == "complete"
    assert app.Document.title == "Leave"

    assert browser.ClickLink(app.Document, "Away") == 0
    assert browser.PopupClickOk() == 0
    assert browser.WaitForBrowser() == 0
    assert browser.GetBrowser().Document.title == "Second"


def test_dialogs_in_frames_and_in_onload_are_answered_in_order(browser, site):
    browser.GotoURL(site.url("onload_dialogs.html"))
    assert browser.PopupClickCancel() == 0
    assert browser.PopupClickOk() == 0
    assert browser.WaitForBrowser() == 0
    assert browser.GetBrowser().Document.getElementById("out").innerText == "false,Bob"

    browser.GotoURL(site.url("dialog_frames.html"))
    frame = browser.GetBrowser().Document.frames.item(1).document
    assert browser.ClickLink(frame, "Three") == 0
    assert browser.PopupClickOk() == 0  # confirm
    assert browser.PopupClickCancel() == -3  # the alert has no Cancel
    assert browser.PopupClickOk() == 0  # alert
    assert browser.PopupClickOk() == 0  # prompt, with its default
    assert browser.WaitForBrowser() == 0
    assert frame.getElementById("out").innerText == "true,three"


def test_the_application_navigates_and_quits_by_name(site):
    browser = varne.CreateObject("Varne.Browser")
    app = browser.GetBrowser()
    app.Navigate(site.url("second.html"))
    assert browser.WaitForBrowser() == 0
    assert app.Document.title == "Second"
    app.Quit()
    with pytest.raises(varne.AutomationError) as raised:
        app.Document
    assert raised.value.number == SERVER_UNAVAILABLE


def test_popup_buttons_on_a_dead_browser_fail_at_once(site, engine):
    browser = varne.CreateObject("Varne.Browser")
    pids = browsers(engine)
    browser.GotoURL(site.url("dialogs.html"))
    assert browser.ClickLink(browser.GetBrowser().Document, "Ask") == 0
    for pid in pids:
        os.kill(pid, signal.SIGKILL)
    time.sleep(0.5)
    for click in (browser.PopupClickOk, browser.PopupClickCancel, browser.WaitForBrowser):
        started = time.monotonic()
        with pytest.raises(varne.AutomationError) as raised:
            click()
        assert time.monotonic() - started < 10  # not the 30-second search; a busy machine may take seconds
        assert raised.value.number == SERVER_UNAVAILABLE
        assert raised.value.description.startswith("The browser is gone")


def _crash_pages(engine):
    """Kills the processes that render the pages of the engine's browsers."""
    renderers = [child for pid in browsers(engine) for child, line in descendants(pid).items()
                 if "--type=renderer" in line or ("-contentproc" in line and "-isForBrowser" in line)]
    assert renderers
    for renderer in renderers:
        os.kill(renderer, signal.SIGKILL)


def test_a_crashed_page_fails_its_calls_and_the_next_load_brings_it_back(site, engine, tmp_path):
    browser = varne.CreateObject("Varne.Browser")
    browser.GotoURL(site.url("index.html"))
    old = browser.GetBrowser().Document
    _crash_pages(engine)
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        try:
            old.title
        except varne.AutomationError as error:
            raised = error
            break
        time.sleep(0.1)
    assert raised.number == -2147417848
    assert raised.description == ("The object invoked has disconnected from its clients: the browser's page "
                                  "crashed; GotoURL loads a fresh page")
    with pytest.raises(varne.AutomationError) as again:
        browser.WaitForBrowser()
    assert again.value.description == raised.description

    browser.GotoURL(site.url("second.html"))
    assert browser.GetBrowser().Document.title == "Second"
    assert browser.GetBrowserHWnd() == browser.GetBrowser().HWND


@pytest.mark.parametrize("wait", ["WaitForText", "WaitForElement"])
def test_a_wait_for_late_content_ends_with_the_crash_of_its_page(site, engine, wait):
    browser = varne.CreateObject("Varne.Browser")
    browser.GotoURL(site.url("frames.html"))
    # The page crashes while the wait reads it and its frames, long before the wait would give up.
    crash = threading.Timer(1, _crash_pages, [engine])
    crash.start()
    with pytest.raises(varne.AutomationError) as during:
        getattr(browser, wait)("never on the page", 120)
    crash.join()
    with pytest.raises(varne.AutomationError) as member:
        browser.GetBrowser().ReadyState
    assert member.value.number == -2147417848
    assert (during.value.number, during.value.description) == (member.value.number, member.value.description)
    with pytest.raises(varne.AutomationError) as again:
        getattr(browser, wait)("never on the page", 120)
    assert again.value.description == member.value.description


def test_frame_goto_url_before_any_page_fails(browser, site, log):
    with pytest.raises(varne.AutomationError) as raised:
        browser.FrameGotoURL(0, site.url("frame_a.html"))
    assert raised.value.number == 424
    assert raised.value.description == "Object required: the window holds no document yet; load one with GotoURL"
    assert log() == []


def test_a_browser_killed_during_a_call_fails_with_the_dead_browser_error(site, engine):
    browser = varne.CreateObject("Varne.Browser")
    pids = browsers(engine)
    browser.GotoURL(site.url("index.html"))
    document = browser.GetBrowser().Document
    threading.Timer(0.3, lambda: [os.kill(pid, signal.SIGKILL) for pid in pids]).start()
    with pytest.raises(varne.AutomationError) as during:
        document.defaultView.eval("(() => { const end = Date.now() + 3000; while (Date.now() < end); })()")
    with pytest.raises(varne.AutomationError) as after:
        document.title
    assert during.value.number == after.value.number == SERVER_UNAVAILABLE
    assert during.value.description == after.value.description
    assert after.value.description.startswith("The browser is gone: ")


@pytest.mark.chromium_only("the folders of Chromium's profiles are locked by the processes that use them")
@pytest.mark.skipif(not os.access("/dev/shm", os.W_OK), reason="profiles go to /dev/shm only where it is writable")
def test_profiles_of_processes_that_died_are_removed_at_the_next_start(engine):
    dead = start_client("sys.stdin.readline()\nos._exit(0)")
    browser, left = browser_of(dead)
    group = os.getpgid(browser)
    os.killpg(group, signal.SIGKILL)  # the browser and its keeper, with nobody left to remove the profile
    let_end(dead)
    assert eventually(lambda: not group_runs(group), 30)  # until then the browser may still write into it
    assert os.path.isdir(left)

    alive = start_client("sys.stdin.readline()")
    theirs = browser_of(alive)[1]
    try:
        ours = start_client("sys.stdin.readline()")
        assert not os.path.exists(left)  # the dead process's folder went with the next start
        assert os.path.isdir(theirs)  # a live process keeps its own
        ours.stdin.close()
        ours.wait(20)
    finally:
        let_end(alive, 20)
    assert not os.path.exists(theirs)


def test_a_headed_window_stays_open_after_release_and_after_its_process_ends(site, display, monkeypatch):
    monkeypatch.setenv("DISPLAY", display)
    client = start_client(f"browser.GotoURL({site.url('second.html')!r})\n"
                     "print('loaded', flush=True)\n"
                     "sys.stdin.readline()\n"
                     "del browser\n"
                     "print('released', flush=True)\n"
                     "sys.stdin.readline()\n"
                     "os._exit(0)\n")
    assert client.stdout.readline() == b"loaded\n"
    browser, folder = browser_of(client)
    try:
        client.stdin.write(b"\n")
        client.stdin.flush()
        assert client.stdout.readline() == b"released\n"
        let_end(client)
        time.sleep(2)  # a browser whose pipe closed would be gone by now
        assert runs(browser, folder)
        assert os.path.isdir(folder)
    finally:
        with contextlib.suppress(ProcessLookupError):
            if os.getpgid(browser) == browser:
                os.killpg(browser, signal.SIGKILL)
            else:
                os.kill(browser, signal.SIGKILL)


def test_a_headless_browser_still_closes_with_its_process(site):
    client = start_client(f"browser.GotoURL({site.url('second.html')!r})\n"
                     "print('loaded', flush=True)\n"
                     "sys.stdin.readline()\n"
                     "os._exit(0)\n")
    assert client.stdout.readline() == b"loaded\n"
    browser, folder = browser_of(client)
    let_end(client)
    assert eventually(lambda: not runs(browser, folder))


def test_frames_that_replace_themselves_are_waited_for(browser, site):
    browser.GotoURL(site.url("replacing_frames.html"))
    frames = browser.GetBrowser().Document.frames
    assert frames.item(0).document.title == "Frame A"
    assert browser.WaitForFrame(frames.item(1)) == 0
    assert browser.GetBrowser().Document.frames.item(1).document.getElementById("w").innerText == "written"


def test_redirects_log_the_address_as_given_and_fail_where_they_end(browser, engine, site, log):
    redirect = site.url("redirect?to=/second.html")
    browser.GotoURL(redirect)
    assert browser.GetBrowser().Document.title == "Second"
    assert browser.GetBrowser().LocationURL == site.url("second.html")
    assert log()[-1].startswith(f'Browser set to "{redirect}".')

    refused = closed_port_url()
    redirect = site.url("redirect?to=" + refused)
    browser.GotoURL(redirect)
    assert log()[-2:-1] == [f'Could not load "{refused}": {REFUSED[engine]}']


def test_slow_frames_inside_frames_are_all_waited_for(browser, site, log):
    browser.GotoURL(site.url("slow_nested.html"))
    inner = browser.GetBrowser().Document.frames.item(0).document.frames
    assert inner.item(0).document.title == "Inner one"
    assert inner.item(1).document.title == "Inner two"
    assert browser.GetBrowser().Document.frames.item(1).document.title == "Frame B"
    assert re.fullmatch(r'Browser set to ".*slow_nested.html"\. %s' % LAPSED, log()[-1])


def test_image_map_areas_are_links(browser, site):
    browser.GotoURL(site.url("image_map.html"))
    document = browser.GetBrowser().Document
    assert document.links.length == 2
    assert document.links.item(0).alt == "Second page"
    document.links.item(0).click()
    assert browser.WaitForBrowser() == 0
    assert browser.GetBrowser().Document.title == "Second"


def test_a_click_that_starts_two_navigations_returns_on_the_last_document(browser, site, log):
    for attempt in range(30):
        browser.GotoURL(site.url("double_navigation.html"))
        form = browser.GetBrowser().Document.forms.item(0)
        assert browser.ClickFormButton(form, "Both") == 0
        title = browser.GetBrowser().Document.title  # read at once, as a script does
        assert title in ("Echo", "Double navigation"), attempt
    # The reload that the submit cancelled is no failed load.
    assert not [text for text in log() if text.startswith("Could not load")]


def test_a_click_in_a_frame_that_starts_two_navigations_returns_on_the_last_document(browser, site, log):
    browser.GotoURL(site.url("double_navigation_frames.html"))
    for attempt in range(30):
        frame = browser.GetBrowser().Document.frames.item(1)
        browser.FrameGotoURL(1, site.url("double_navigation.html"))
        form = frame.document.forms.item(0)
        assert browser.ClickFormButton(form, "Both") == 0
        title = browser.GetBrowser().Document.frames.item(1).document.title
        assert title in ("Echo", "Double navigation"), attempt
    assert not [text for text in log() if text.startswith("Could not load")]


def test_a_frame_that_never_loads_times_out_in_the_frame_walk(browser, site, log):
    browser.GotoURL(site.url("stuck_frame.html"))
    assert log()[-2] == "Frame not ready after 30 seconds"
    assert re.fullmatch(r'Browser set to ".*stuck_frame.html"\. \[0 days 00:00:3\d\]', log()[-1])
    app = browser.GetBrowser()
    assert app.ReadyState == 4  # the top document itself has loaded
    assert app.Document.frames.item(0).document.title == "Frame A"
