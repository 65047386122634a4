"""The Firefox engine's route through a WebDriver Grid: a session asked for with webSocketUrl and
driven over its BiDi socket. The Grid here has Chromium nodes only, whose driver answers
webSocketUrl with a BiDi socket too, so the route runs against a Chromium asked for through
VARNE_REMOTE_CAPABILITIES; the local run's test bodies again, and what the Grid adds."""
import gc
import json

import pytest

import varne
from creation import creation_error
from test_grid import SERVER_UNAVAILABLE, grid  # noqa: F401  the Grid of the Chromium tests' kind
from test_browser_chromium import (  # noqa: F401  collected here too, run over the Grid's BiDi socket
    test_clicks_log_their_lines, test_confirm_answered_with_ok_and_with_cancel, test_element_search_on_links_and_images,
    test_forms_fill_through_the_dom_and_submit, test_navigation_waits_and_logs_the_address_as_given)
from waiting import eventually

pytestmark = pytest.mark.firefox_only(reason="the BiDi route of VARNE_BROWSER=firefox through a Grid")


@pytest.fixture(autouse=True)
def on_the_grid(grid, monkeypatch):
    """Every browser of the test is a Grid's Chromium driven over BiDi; the slots free again before the
    next test, also when a failure's traceback kept a browser in a reference cycle."""
    monkeypatch.setenv("VARNE_REMOTE_URL", grid.url)
    monkeypatch.setenv("VARNE_REMOTE_CAPABILITIES", json.dumps({"browserName": "chrome"}))
    yield
    gc.collect()
    eventually(lambda: grid.sessions() == [])


def test_a_session_is_driven_over_its_bidi_socket_and_deleted_with_its_browser(grid, site):
    browser = varne.CreateObject("Varne.Browser")
    assert len(grid.sessions()) == 1
    assert browser.GetBrowser().Name == "Firefox"  # the engine that drives it, whatever the Grid runs
    browser.GotoURL(site.url("index.html"))
    assert browser.GetBrowser().Document.title == "Home"
    del browser
    assert eventually(lambda: grid.sessions() == [])


def test_a_firefox_is_asked_for_unless_the_capabilities_say_otherwise(grid, monkeypatch):
    monkeypatch.delenv("VARNE_REMOTE_CAPABILITIES")
    error = creation_error()
    assert error.number == SERVER_UNAVAILABLE
    assert error.description.startswith("The Grid at %s did not create a browser" % grid.url)
