"""Browser against each real browser, on pages served by the test on 127.0.0.1."""
import os
import re
import signal
import threading
import time

import pytest

import varne
from conftest import PROGRAM_VARIABLES
from processes import browsers, running_children

LAPSED = r"\[0 days 00:00:0\d\]"
OBJECT_DISCONNECTED = -2147417848
CALL_REJECTED = -2147418111


def test_navigation_waits_and_logs_the_address_as_given(browser, site, log):
    url = site.url("index.html")
    browser.GotoURL(url)
    app = browser.GetBrowser()
    assert app.ReadyState == 4
    assert app.LocationURL == url
    assert app.Document.title == "Home"
    assert re.fullmatch(r'Browser set to "%s"\. %s' % (re.escape(url), LAPSED), log()[-1])


def test_window_handle_is_stable_and_unique():
    first = varne.CreateObject("Varne.Browser")
    second = varne.CreateObject("Varne.Browser")
    handle = first.GetBrowserHWnd()
    assert handle != 0 and handle != second.GetBrowserHWnd()
    assert first.GetBrowser().HWND == handle == first.GetBrowserHWnd()


def test_frameset_with_nested_and_slow_frames(browser, site, log):
    started = time.monotonic()
    browser.GotoURL(site.url("frames.html"))
    assert time.monotonic() - started >= 1.2  # the slow frame was waited for
    document = browser.GetBrowser().Document
    assert document.frames.length == 3
    assert document.frames.item(1).document.frames.length == 2
    assert document.frames.item(2).document.title == "Slow frame"
    assert browser.WaitForBrowser() == 0

    assert browser.FrameGotoURL(2, site.url("frame_b.html")) == 0
    assert browser.GetBrowser().Document.frames.item(2).document.title == "Frame B"
    assert re.fullmatch(r'Frame 2 set to "%s"\. %s' % (re.escape(site.url("frame_b.html")), LAPSED), log()[-1])

    assert browser.FrameGotoURL(3, site.url("frame_b.html")) == -1
    assert log()[-1] == "Invalid frame number (3) specified for base URL " + site.url("frames.html")
    with pytest.raises(varne.AutomationError) as raised:
        browser.FrameGotoURL(40000, site.url("frame_b.html"))
    assert raised.value.number == 6


def test_frame_navigation_is_waited_for(browser, site):
    browser.GotoURL(site.url("frames.html"))
    started = time.monotonic()
    assert browser.FrameGotoURL(0, site.url("slow?delay=800&title=Later")) == 0
    assert time.monotonic() - started >= 0.8
    assert browser.GetBrowser().Document.frames.item(0).document.title == "Later"


def test_element_search_on_links_and_images(browser, site):
    browser.GotoURL(site.url("images.html"))
    document = browser.GetBrowser().Document
    assert browser.ImageExists(document, "Logo") == 3
    assert browser.ImageExists(document, "logo.gif", varne.brwImgSrc) == 3
    assert browser.ImageExists(document, "logo") == -1
    assert browser.ImageExists(document, "Logo", varne.brwInnerText) == -2
    assert browser.LinkExists(document, "Logo", varne.brwImgAlt) == 3
    assert browser.LinkExists(document, "Deep", varne.brwImgAlt) == 0  # nested inside a span
    assert browser.LinkExists(document, "Other", varne.brwImgAlt) == 0  # not the first image
    assert browser.LinkExists(document, "Logo", 4) == -1

    browser.GotoURL(site.url("index.html"))
    document = browser.GetBrowser().Document
    assert browser.LinkExists(document, "Next") == 2
    assert browser.MatchInnerText(document, "Hello ", "P") == 0
    assert browser.MatchInnerText(document, "Go home", "P", varne.brwRightMatch, 2) == 1
    assert browser.MatchInnerText(document, "Sec", "p", varne.brwLeftMatch, Occurrence=1) == 0
    assert browser.MatchInnerText(document, "x", "P", Occurrence=3) == -2
    assert browser.FormExists(document, "login") == -1


def test_links_are_counted_by_their_text_trimmed_of_spaces_only(browser, site):
    """Only U+0020 is trimmed, and only from the page's text; case and every other character
    count, compared in UTF-16 units (a lone surrogate too)."""
    browser.GotoURL(site.url("index.html"))
    document = browser.GetBrowser().Document
    document.body.insertAdjacentHTML(
        "beforeend", "<p style='white-space: pre'><a href='#a'>  Spaced  </a><a href='#b'>Spaced\u00a0</a>"
        "<a href='#c'>spaced</a><a href='#d'>\tSpaced</a><a href='#e'>x\ud800</a><a href='#f'>x\ud800</a></p>")
    assert browser.LinkExists(document, "Spaced") == 1
    assert browser.LinkExists(document, "  Spaced") == 0
    assert browser.LinkExists(document, "Spaced\u00a0") == 1
    assert browser.LinkExists(document, "x\ud800") == 2
    assert browser.LinkExists(document, "x\ufffd") == 0


def test_clicks_log_their_lines(browser, site, log):
    browser.GotoURL(site.url("index.html"))
    assert browser.ClickLink(browser.GetBrowser().Document, "Next", Occurrence=1) == 0
    assert browser.GetBrowser().LocationURL == site.url("second.html?b")
    assert re.fullmatch(r'Clicked text link "Next" %s' % LAPSED, log()[-1])
    assert browser.ClickLink(browser.GetBrowser().Document, "Next", Occurrence=2) == -1
    assert log()[-1] == 'Text link not found "Next"'

    browser.GotoURL(site.url("images.html"))
    assert browser.ClickLink(browser.GetBrowser().Document, "Logo", varne.brwImgAlt, 2) == 0
    assert browser.GetBrowser().LocationURL == site.url("second.html?third")
    assert re.fullmatch(r'Clicked graphic link "Logo" \(2\) %s' % LAPSED, log()[-1])


def test_forms_fill_through_the_dom_and_submit(browser, site, log):
    browser.GotoURL(site.url("forms.html"))
    document = browser.GetBrowser().Document
    position = browser.FormExists(document, "login")
    assert position == 0
    form = document.forms.item(position)
    form.elements.item(0).value = "bob"
    form.elements.item(1).value = "secret"
    assert form.elements.item(0).value == "bob"
    assert form.elements.namedItem("user").value == "bob"
    assert form.elements("password").value == "secret"
    # Reset, image and BUTTON-tag controls are passed over; "Go " and "go" do not match "Go".
    assert browser.ClickFormButton(form, "Go", 1) == -1
    assert browser.ClickFormButton(form, "Go") == 0
    assert re.fullmatch(r'Clicked form button "Go" %s' % LAPSED, log()[-1])
    result = browser.GetBrowser().Document
    assert result.title == "Echo"
    assert result.getElementById("user").innerText == "bob"
    assert browser.MatchInnerText(result, "Submitted", "H1") == 0


def test_page_texts_with_lone_surrogates_come_and_go_as_they_are(browser, site):
    browser.GotoURL(site.url("lone_surrogates.html"))
    document = browser.GetBrowser().Document
    assert document.title == "t\ud800i\udffftle\ufdd0\ue000"
    assert browser.GetBrowser().LocationName == "t\ud800i\udffftle\ufdd0\ue000"
    text = document.getElementById("text")
    assert text.innerText == "p\udbff\U0001f600\udc00"
    assert browser.MatchInnerText(document, "p\udbff\U0001f600\udc00", "P") == 0
    assert browser.MatchInnerText(document, "p\ufffd\U0001f600\ufffd", "P") == 1
    field = document.forms.item(browser.FormExists(document, "lone")).elements.item(0)
    assert field.value == "v\udc80\udcff"

    field.value = "w\ud800\ufdd0\ue000\ufdd0\ufdd0\udc80x"
    assert document.unitsOf(field.value) == "77 d800 fdd0 e000 fdd0 fdd0 dc80 78"
    assert field.value == "w\ud800\ufdd0\ue000\ufdd0\ufdd0\udc80x"
    document.title = "\udfff\ud800"
    assert document.unitsOf(document.title) == "dfff d800"
    assert document.title == "\udfff\ud800"


def test_confirm_answered_with_ok_and_with_cancel(browser, site, log):
    browser.GotoURL(site.url("dialogs.html"))
    document = browser.GetBrowser().Document
    assert browser.ClickLink(document, "Ask") == 0  # returns with the dialog open
    assert browser.GetBrowser().ReadyState == 4
    assert browser.PopupClickOk() == 0
    assert re.fullmatch(r'Popup "OK" button clicked %s' % LAPSED, log()[-1])
    assert document.getElementById("out").innerText == "true"

    assert browser.ClickLink(document, "Ask") == 0
    assert browser.PopupClickCancel() == 0
    assert document.getElementById("out").innerText == "false"


def test_alert_has_no_cancel_button(browser, site, log):
    browser.GotoURL(site.url("dialogs.html"))
    document = browser.GetBrowser().Document
    assert browser.ClickLink(document, "Tell") == 0
    with pytest.raises(varne.AutomationError) as raised:
        document.title
    assert raised.value.number == CALL_REJECTED
    assert "dialog is open" in raised.value.description
    assert browser.PopupClickCancel() == -3
    assert log()[-1] == "Error clicking button"
    assert browser.PopupClickOk() == 0
    assert document.getElementById("out").innerText == "alerted"


def test_checkout_confirm_submits_the_form(browser, site):
    browser.GotoURL(site.url("dialogs.html"))
    form = browser.GetBrowser().Document.forms.item(0)
    assert browser.ClickFormButton(form, "Buy") == 0
    assert browser.PopupClickOk() == 0
    assert browser.WaitForBrowser() == 0
    assert browser.GetBrowser().Document.getElementById("item").innerText == "book"


def test_alert_while_the_page_loads(browser, site):
    browser.GotoURL(site.url("onload_alert.html"))  # returns although the alert holds the load
    assert browser.PopupClickOk() == 0
    assert browser.WaitForBrowser() == 0
    assert browser.GetBrowser().Document.title == "Onload"


def test_a_document_of_a_page_that_is_gone_is_stale(browser, site):
    browser.GotoURL(site.url("index.html"))
    old = browser.GetBrowser().Document
    links = old.links
    browser.GotoURL(site.url("second.html"))
    for use in (lambda: old.title, lambda: links.length, lambda: browser.LinkExists(old, "Next")):
        with pytest.raises(varne.AutomationError) as raised:
            use()
        assert raised.value.number == OBJECT_DISCONNECTED


def test_a_frame_of_another_origin_may_not_be_read(browser, site):
    browser.GotoURL(site.url("cross_origin.html"))
    frames = browser.GetBrowser().Document.frames
    assert frames.item(0).document.title == "Frame A"
    assert browser.WaitForFrame(frames.item(1)) == 0  # when it has loaded is no secret
    with pytest.raises(varne.AutomationError) as raised:
        frames.item(1).document.title
    assert raised.value.number == 70
    assert raised.value.description.startswith("Permission denied: the frame shows a document of another origin")


def test_waits_release_the_interpreter(browser, site):
    ticks = []
    done = threading.Event()

    def tick():
        while not done.is_set():
            ticks.append(time.monotonic())
            time.sleep(0.01)

    ticker = threading.Thread(target=tick)
    ticker.start()
    browser.GotoURL(site.url("slow?delay=600"))
    done.set()
    ticker.join()
    assert len(ticks) > 20


def _new_browser():
    """A Browser, and the browser processes that serve it (shared with the others of this process)."""
    browser = varne.CreateObject("Varne.Browser")
    return browser, set(browsers(os.environ["VARNE_BROWSER"]))


def test_a_browser_killed_in_the_middle_of_a_call(site):
    browser, pids = _new_browser()
    browser.GotoURL(site.url("index.html"))
    assert pids
    threading.Timer(0.3, lambda: [os.kill(pid, signal.SIGKILL) for pid in pids]).start()
    started = time.monotonic()
    with pytest.raises(varne.AutomationError) as raised:
        browser.GotoURL(site.url("slow?delay=3000"))
    assert time.monotonic() - started < 10
    assert "browser" in raised.value.description
    started = time.monotonic()
    with pytest.raises(varne.AutomationError):
        browser.GetBrowser().Document.title
    assert time.monotonic() - started < 1


def test_headless_browsers_leave_no_process_behind(site):
    browser, pids = _new_browser()
    browser.GotoURL(site.url("index.html"))
    assert pids
    del browser
    deadline = time.monotonic() + 30  # a headless browser waits a moment for the next Browser
    while pids & running_children() and time.monotonic() < deadline:
        time.sleep(0.1)
    assert pids & running_children() == set()


def test_a_browser_that_cannot_start_fails_the_creation(engine, monkeypatch):
    monkeypatch.setenv(PROGRAM_VARIABLES[engine], "/nonexistent/" + engine)
    with pytest.raises(varne.AutomationError) as raised:
        varne.CreateObject("Varne.Browser")
    assert raised.value.number == -2147023174
    assert raised.value.description == (
        f"Cannot start {engine.capitalize()} (/nonexistent/{engine}): No such file or directory")


@pytest.mark.parametrize("environment, named", [
    ({"VARNE_BROWSER": "netscape"}, "VARNE_BROWSER must be chromium or firefox, not \"netscape\""),
    ({"VARNE_BROWSER": "firefox", "VARNE_CDP_URL": "http://127.0.0.1:9"}, "VARNE_BROWSER=firefox contradicts VARNE_CDP_URL"),
    ({"VARNE_BROWSER": "Firefox", "VARNE_CDP_URL": "ws://127.0.0.1:9/devtools/browser/x"},
     "VARNE_BROWSER=firefox contradicts VARNE_CDP_URL"),
    ({"VARNE_BROWSER": "chromium", "VARNE_BIDI_URL": "ws://127.0.0.1:9"},
     "VARNE_BROWSER=chromium contradicts VARNE_BIDI_URL"),
    ({"VARNE_BROWSER": "", "VARNE_BIDI_URL": "ws://127.0.0.1:9", "VARNE_CDP_URL": "http://127.0.0.1:9"},
     "VARNE_BIDI_URL contradicts VARNE_CDP_URL, which reaches a Chromium"),
    ({"VARNE_BROWSER": "firefox", "VARNE_BIDI_URL": "http://127.0.0.1:9"},
     "VARNE_BIDI_URL is not usable: \"http://127.0.0.1:9\" does not start with ws://"),
    ({"VARNE_BROWSER": "firefox", "VARNE_BIDI_URL": "ws://127.0.0.1:9", "VARNE_REMOTE_URL": "http://127.0.0.1:9"},
     "VARNE_BIDI_URL is not usable: it is set together with VARNE_REMOTE_URL; set only one of them"),
])
@pytest.mark.chromium_only(reason="the engine is the variable under test")
def test_an_engine_chosen_wrongly_fails_the_creation_naming_the_variables(environment, named, monkeypatch):
    for name, value in environment.items():
        monkeypatch.setenv(name, value)
    with pytest.raises(varne.AutomationError) as raised:
        varne.CreateObject("Varne.Browser")
    assert raised.value.number == 5
    assert raised.value.description.startswith(named)
