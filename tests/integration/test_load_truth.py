"""What the members that load say against the real browsers: a page is ready only once its own
document has loaded, a dialog that holds a load is reported as such, and the waits follow the
document that the member's own navigation brought."""
import re

LAPSED = r"\[0 days 00:00:\d\d\]"


def test_the_top_documents_own_image_holds_it_beside_a_quick_frame(browser, site, log):
    browser.GotoURL(site.url("slow_image.html"))
    document = browser.GetBrowser().Document
    # The page's onload has run: nothing of the top document is still on its way.
    assert document.title == "Loaded"
    assert document.images.item(0).complete
    assert document.frames.item(0).document.title == "Quick"
    assert re.fullmatch(r'Browser set to ".*slow_image.html"\. %s' % LAPSED, log()[-1])


def test_an_alert_in_the_onload_of_the_top_document_or_of_a_frame_is_reported(browser, site, log):
    for page in ("onload_alert.html", "onload_alert_frame.html"):
        address = site.url(page)
        browser.GotoURL(address)
        assert re.fullmatch(r'Dialog open while loading "%s"\. %s' % (re.escape(address), LAPSED), log()[-1])
        assert browser.PopupClickOk() == 0
        assert browser.WaitForBrowser() == 0
    assert browser.GetBrowser().Document.frames.item(1).document.title == "Onload"

    browser.GotoURL(site.url("frames.html"))
    assert browser.FrameGotoURL(1, site.url("onload_alert.html")) == 0
    assert log()[-1].startswith(f'Dialog open while loading frame 1 with "{site.url("onload_alert.html")}". [')
    assert browser.PopupClickOk() == 0


def test_a_frame_that_keeps_sending_the_window_away_never_fails_a_load_into_its_page(browser, site, log):
    sends_away = site.url("sends_away.html")
    for attempt in range(5):
        browser.GotoURL(sends_away)
        # The page's own navigation may beat this one: the line then says the page was not replaced.
        assert re.fullmatch(r'Browser (set to "%s"\.|not set to "%s": the page shown stayed\.) %s'
                            % (re.escape(sends_away), re.escape(sends_away), LAPSED), log()[-1]), attempt
        assert browser.WaitForBrowser() == 0


def test_a_load_away_from_a_page_that_never_stays_lands_where_it_was_told(browser, site, log):
    home = site.url("index.html")
    app = browser.GetBrowser()
    for attempt in range(5):
        app.Navigate(site.url("keeps_sending_away.html"))
        assert browser.WaitForText("Never staying", 10) == 0, attempt
        browser.GotoURL(home)
        assert re.fullmatch(r'Browser set to "%s"\. %s' % (re.escape(home), LAPSED), log()[-1]), attempt
        assert app.LocationURL == home, attempt
        assert app.Document.title == "Home", attempt


def test_a_load_waits_for_its_own_document_never_for_the_frames_of_the_page_before(browser, site, log):
    app = browser.GetBrowser()
    app.Navigate(site.url("endless_frames.html"))
    assert browser.WaitForText("Frames that never come", 10) == 0
    assert browser.WaitForElement("iframe:nth-of-type(8)", 10) == 0
    second = site.url("second.html")
    browser.GotoURL(second)
    texts = log()
    assert "Frame not ready after 30 seconds" not in texts
    if texts[-1].startswith("Browser set to"):
        assert re.fullmatch(r'Browser set to "%s"\. %s' % (re.escape(second), LAPSED), texts[-1])
        assert app.Document.title == "Second"
    else:
        # The browser could not even ask for the page beside the frames' requests that never end.
        assert texts[-2] == "Browser not ready after 30 seconds"
        assert re.fullmatch(r'Browser not set to "%s": the page shown stayed\. %s' % (re.escape(second), LAPSED),
                            texts[-1])
        assert app.LocationURL == site.url("endless_frames.html")
