"""Browser against the real Chromium when loads fail, dialogs of every kind open, and the browser dies."""
import os
import re
import signal
import socket
import threading
import time

import pytest

import varne

LAPSED = r"\[0 days 00:00:\d\d\]"
CALL_REJECTED = -2147418111
SERVER_UNAVAILABLE = -2147023174


def closed_port_url():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    return f"http://127.0.0.1:{port}/"


def _children():
    own = str(os.getpid())
    pids = set()
    for entry in os.listdir("/proc"):
        try:
            with open(f"/proc/{entry}/stat") as stat:
                fields = stat.read().rsplit(")", 1)[1].split()
            if fields[1] == own and fields[0] != "Z":
                pids.add(int(entry))
        except (OSError, IndexError, ValueError):
            pass
    return pids


@pytest.mark.parametrize("address, reason", [
    (closed_port_url(), "net::ERR_CONNECTION_REFUSED"),
    ("http://nosuchhost.invalid/", "net::ERR_NAME_NOT_RESOLVED"),
    ("foo://bar", "net::ERR_ABORTED"),
    ("http://[bad", "Cannot navigate to invalid URL"),
])
def test_a_load_that_fails_logs_the_address_and_the_reason_first(browser, site, log, address, reason):
    browser.GotoURL(site.url("index.html"))
    browser.GotoURL(address)
    texts = log()
    assert texts[-2] == f'Could not load "{address}": {reason}'
    assert re.fullmatch(r'Browser set to "%s"\. %s' % (re.escape(address), LAPSED), texts[-1])
    assert browser.WaitForBrowser() == 0
    app = browser.GetBrowser()
    assert app.ReadyState == 4
    if reason.startswith("net::ERR_ABORTED") or reason.startswith("Cannot"):
        assert app.LocationURL == site.url("index.html")  # the page shown stays
        assert app.Document.title == "Home"
    else:
        assert app.LocationURL == address  # the browser's error page for the address
        assert app.Document.body.innerText  # whose text a script can test


def test_an_http_error_and_failed_loads_from_clicks_and_frames(browser, site, log):
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
    assert log()[-2] == f'Could not load "{refused}": net::ERR_CONNECTION_REFUSED'
    assert re.fullmatch(r'Frame 0 set to "%s"\. %s' % (re.escape(refused), LAPSED), log()[-1])


def test_loads_that_never_start_leave_the_page_ready(browser, site, log):
    browser.GotoURL(site.url("index.html"))
    browser.GotoURL("javascript:void(0)")
    assert log()[-1].startswith('Browser set to "javascript:void(0)". [0 days 00:00:0')
    assert browser.WaitForBrowser() == 0
    assert browser.GetBrowser().Document.title == "Home"

    browser.GotoURL("javascript:alert(1)")  # returns with the alert open
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


def test_a_leave_this_page_dialog(browser, site, log):
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


def test_popup_buttons_on_a_dead_browser_fail_at_once(site):
    before = _children()
    browser = varne.CreateObject("Varne.Browser")
    pids = _children() - before
    browser.GotoURL(site.url("dialogs.html"))
    assert browser.ClickLink(browser.GetBrowser().Document, "Ask") == 0
    for pid in pids:
        os.kill(pid, signal.SIGKILL)
    time.sleep(0.5)
    for click in (browser.PopupClickOk, browser.PopupClickCancel, browser.WaitForBrowser):
        started = time.monotonic()
        with pytest.raises(varne.AutomationError) as raised:
            click()
        assert time.monotonic() - started < 1
        assert raised.value.number == SERVER_UNAVAILABLE
        assert raised.value.description.startswith("The browser is gone")
