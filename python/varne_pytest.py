"""pytest plugin of the varne module, found by pytest through its entry point.

The ``varne_browser`` fixture gives a test a ``Varne.Browser`` whose log is written into the
test's temporary folder. Browsers run headless unless ``--varne-headed`` is given; one browser
per test, or per module with ``--varne-browser-scope=module``. When a test that uses the fixture
fails, a screenshot (PNG), the page's HTML and the browser's log are saved beside the log and
attached to the test's report.
"""
import os
import re

import pytest

_BROWSER_KEY = pytest.StashKey()


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
    return _varne_run.browser


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
            report.sections.append(("varne browser log", log.read().decode("utf-8", "replace")))
    except OSError:
        pass
