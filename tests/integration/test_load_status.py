"""StatusCode and LoadFailures of the browser application after loads that fail, on each engine."""
import socket

import pytest

import varne


def closed_port_url():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    return f"http://127.0.0.1:{port}/"


# How each engine words a refused connection, in the log and in the failure's Reason.
REFUSED = {"chromium": "net::ERR_CONNECTION_REFUSED", "firefox": "NS_ERROR_CONNECTION_REFUSED"}


def failures_of(app):
    """The window's failed loads as (URL, Reason) pairs, read through Python's iteration."""
    return [(failure.URL, failure.Reason) for failure in app.LoadFailures]


def test_a_refused_connection_has_no_status_and_one_failure(browser, site, log, engine):
    browser.GotoURL(site.url("index.html"))
    app = browser.GetBrowser()
    assert app.StatusCode == 200
    assert len(app.LoadFailures) == 0

    refused = closed_port_url()
    browser.GotoURL(refused)
    assert log()[-2] == f'Could not load "{refused}": {REFUSED[engine]}'
    assert app.StatusCode == 0
    failures = app.LoadFailures
    assert failures.length == 1
    assert failures.item(0).URL == refused
    assert failures.item(0).Reason == REFUSED[engine]
    with pytest.raises(varne.AutomationError):
        failures.item(1)


def test_an_http_error_of_the_window_gives_its_status_and_a_failure(browser, site, log):
    missing = site.url("missing.html")
    browser.GotoURL(missing)
    app = browser.GetBrowser()
    assert app.StatusCode == 404
    assert failures_of(app) == [(missing, "HTTP 404 File not found")]
    # The log took its failures; the window's view of them stays until its next navigation.
    assert log()[-2] == f'Could not load "{missing}": HTTP 404 File not found'
    assert len(app.LoadFailures) == 1

    browser.GotoURL(site.url("index.html"))
    assert app.StatusCode == 200
    assert failures_of(app) == []


def test_a_frame_that_fails_leaves_the_top_document_answered(browser, site):
    browser.GotoURL(site.url("missing_frame.html"))
    app = browser.GetBrowser()
    assert app.StatusCode == 200
    assert failures_of(app) == [(site.url("no_such_frame.html"), "HTTP 404 File not found")]


def test_a_click_to_a_missing_page_is_told_by_status_and_failures(browser, site):
    browser.GotoURL(site.url("failing_links.html"))
    app = browser.GetBrowser()
    assert app.StatusCode == 200
    assert browser.ClickLink(app.Document, "Missing") == 0
    assert app.StatusCode == 404
    failures = app.LoadFailures
    assert len(failures) == 1
    assert [failure.URL for failure in failures] == [site.url("missing.html")]
