"""pytest plugin of the varne module, found by pytest through its entry point.

The ``varne_browser`` fixture gives a test a ``Varne.Browser`` whose log is written into the
test's temporary folder, and ``varne_log`` the path of that log. Browsers run headless unless
``--varne-headed`` is given; one browser per test, or per module with
``--varne-browser-scope=module``. When a test that uses the fixture fails, a screenshot (PNG),
the page's HTML and the browser's log are saved beside the log and attached to the test's report:
with a browser per module, the part of the log that the failing test wrote.

``assert_inner_text`` checks an element's text as ``MatchInnerText`` does and, when it differs,
fails with the text that the page held.
"""
import os
import re

import pytest

_BROWSER_KEY = pytest.StashKey()
_LOG_START_KEY = pytest.StashKey()
_MATCH_TYPES = {1: "read", 2: "begin with", 3: "end with"}


def pytest_addoption(parser):
    group = parser.getgroup("varne", "browser tests with varne")
    group.addoption("--varne-headed", action="store_true", default=False,
                    help="show the browser window (needs a display); headless by default")
    group.addoption("--varne-browser-scope", choices=("function", "module"), default="function",
                    help="one browser per test (function, the default) or per module")


def _browser_scope(fixture_name, config):
    return config.getoption("--varne-browser-scope")


class _Run:
    """A browser with the folder that holds its log and any evidence."""

    def __init__(self, folder, headed):
        import varne

        self.folder = folder
        self.log = os.path.join(folder, "varne_browser.log")
        # Only this fixture's browsers follow --varne-headed; other browsers of the run keep the environment's choice.
        before = os.environ.get("VARNE_HEADLESS")
        os.environ["VARNE_HEADLESS"] = "0" if headed else "1"
        try:
            self.browser = varne.CreateObject("Varne.Browser")
        finally:
            if before is None:
                del os.environ["VARNE_HEADLESS"]
            else:
                os.environ["VARNE_HEADLESS"] = before
        self.browser.SetBrowserLog(self.log)

    def close(self):
        self.browser.CloseBrowserLog()


@pytest.fixture(scope=_browser_scope)
def _varne_run(request, tmp_path_factory):
    if request.scope == "function":
        folder = request.getfixturevalue("tmp_path")
    else:
        folder = tmp_path_factory.mktemp(re.sub(r"[^\w.-]+", "_", request.node.name)[:60])
    run = _Run(str(folder), request.config.getoption("--varne-headed"))
    yield run
    run.close()


@pytest.fixture
def varne_browser(request, _varne_run):
    """A ``Varne.Browser``, its log in the test's temporary folder (``varne_browser.log``)."""
    request.node.stash[_BROWSER_KEY] = _varne_run
    # A browser kept for the module writes every test's entries into one log: this test's begin here.
    shared = request.config.getoption("--varne-browser-scope") == "module"
    request.node.stash[_LOG_START_KEY] = os.path.getsize(_varne_run.log) if shared else 0
    return _varne_run.browser


@pytest.fixture
def varne_log(_varne_run):
    """The path of ``varne_browser``'s log (shared by the module's tests with a browser per module)."""
    return _varne_run.log


def _element_text(document, tag, occurrence):
    try:
        return str(document.getElementsByTagName(tag).item(occurrence).innerText).strip()
    except Exception as error:  # the verdict stands; the report only lacks the text
        return f"(its text could not be read: {error})"


def assert_inner_text(browser, text, tag, match_type=1, occurrence=0, document=None):
    """Fails unless ``browser.MatchInnerText`` finds ``text`` in the ``occurrence``-th ``tag`` element.

    ``document`` is the page's document unless another (a frame's) is given; ``match_type`` is 1
    (the whole text), 2 (its beginning) or 3 (its end). The failure says what the element held,
    or that the page has no such element.
    """
    __tracebackhide__ = True
    if match_type not in _MATCH_TYPES:
        raise ValueError(f"match_type must be 1, 2 or 3, not {match_type!r}")
    if document is None:
        document = browser.GetBrowser().Document
    result = browser.MatchInnerText(document, text, tag, match_type, occurrence)
    if result == 0:
        return
    where = f"{tag} number {occurrence} of {document.URL}"
    if result == -2:
        count = document.getElementsByTagName(tag).length
        raise AssertionError(f"{where} does not exist: the page has {count} {tag} element(s)")
    actual = _element_text(document, tag, occurrence)
    raise AssertionError(f"{where} does not {_MATCH_TYPES[match_type]} {text!r}\n  the page shows: {actual!r}")


def _save_evidence(run, test_name):
    """Saves what the browser shows; answers (what, path or failure text) per piece of evidence."""
    stem = os.path.join(run.folder, re.sub(r"[^\w.-]+", "_", test_name)[:80])
    saved = []
    for what, member, suffix in (("screenshot", "SaveScreenshot", ".png"), ("page source", "SavePageSource", ".html")):
        path = stem + suffix
        try:
            getattr(run.browser.GetBrowser(), member)(path)
            saved.append((what, path))
        except Exception as error:  # evidence is best effort: the test has failed already
            saved.append((what, f"not saved: {error}"))
    saved.append(("log", run.log))
    return saved


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    outcome = yield
    report = outcome.get_result()
    run = item.stash.get(_BROWSER_KEY, None)
    if run is None or not report.failed or report.when == "teardown":
        return
    evidence = _save_evidence(run, item.name)
    report.sections.append(("varne evidence", "\n".join(f"{what}: {path}" for what, path in evidence)))
    for what, path in evidence:
        item.user_properties.append((f"varne {what}", path))
    try:
        with open(run.log, "rb") as log:
            log.seek(item.stash.get(_LOG_START_KEY, 0))
            report.sections.append(("varne browser log of this test", log.read().decode("utf-8", "replace")))
    except OSError:
        pass
