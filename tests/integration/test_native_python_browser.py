"""Page objects as Python sees them, evidence of a failed run and the pytest plugin, against each real browser."""
import os
import re
import subprocess
import sys
import textwrap

import pytest

import varne

BUILT = os.path.dirname(varne.__file__)


def test_collections_are_sequences(browser, site):
    browser.GotoURL(site.url("index.html"))
    document = browser.GetBrowser().Document
    links = document.links
    assert len(links) == 3
    assert [link.innerText for link in links] == ["Next", "Next", "Slow page"]
    assert links[-1].innerText == "Slow page"
    with pytest.raises(IndexError, match=r"no item at position 3 \(error 424\)"):
        links[3]
    assert list(document.frames) == []
    with pytest.raises(TypeError):
        len(document)
    assert document  # an object is true, whatever its length

    browser.GotoURL(site.url("forms.html"))
    form = browser.GetBrowser().Document.forms[0]
    assert form.name == "login" and len(form.elements) == 10  # an image input is not among them
    assert list(form.getAttributeNames()) == ["name", "action", "method"]  # a list of values, as they are


def test_repr_says_what_an_object_is(browser, site):
    url = site.url("index.html")
    browser.GotoURL(url)
    app = browser.GetBrowser()
    document = app.Document
    assert repr(app) == f"<IWebBrowser2 url='{url}'>"
    assert repr(document) == f"<HTMLDocument url='{url}'>"
    assert repr(document.links[0]) == f"<HTMLAnchorElement 'Next' href='{site.url('second.html')}'>"
    assert repr(document.links) == "<HTMLCollection length=3>"
    assert repr(browser) == "<varne.Browser object>"
    browser.GotoURL(site.url("forms.html"))
    field = browser.GetBrowser().Document.forms[0].elements[0]
    assert repr(field) == "<HTMLInputElement type='text' name='user'>"


def test_arguments_of_the_wrong_kind_are_named(browser, site):
    browser.GotoURL(site.url("index.html"))
    with pytest.raises(varne.AutomationError) as raised:
        browser.MatchInnerText(browser.GetBrowser(), "Welcome home", "H1")
    assert (raised.value.number, raised.value.description) == (
        13, "Browser.MatchInnerText: Document: expected a document, got the browser application "
            "(use GetBrowser().Document)")
    with pytest.raises(varne.AutomationError) as raised:
        browser.FrameGotoURL(2**2000, site.url("index.html"))
    assert raised.value.number == 6
    with pytest.raises(varne.AutomationError) as raised:
        browser.ClickLnk(browser.GetBrowser().Document, "Next")
    assert raised.value.description == (
        "Object doesn't support this property or method: Browser.ClickLnk (did you mean ClickLink?)")


def test_screenshot_and_page_source_of_a_headless_browser(browser, site, tmp_path):
    browser.GotoURL(site.url("index.html"))
    app = browser.GetBrowser()
    app.SaveScreenshot(str(tmp_path / "page.png"))
    app.SavePageSource(str(tmp_path / "page.html"))
    assert (tmp_path / "page.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    source = (tmp_path / "page.html").read_text(encoding="utf-8")
    assert "<h1>Welcome home</h1>" in source and source.startswith("<html>")
    with pytest.raises(varne.AutomationError) as raised:
        app.SaveScreenshot(str(tmp_path / "missing" / "page.png"))
    assert raised.value.number == 76
    assert not (tmp_path / "missing").exists()


def test_the_pytest_plugin_leaves_evidence_of_a_failing_test(site, tmp_path):
    (tmp_path / "test_shop.py").write_text(textwrap.dedent(f"""
        def test_welcome(varne_browser):
            varne_browser.GotoURL({site.url("index.html")!r})
            assert varne_browser.MatchInnerText(varne_browser.GetBrowser().Document, "Goodbye", "H1") == 0
    """))
    environment = dict(os.environ, PYTHONPATH=BUILT)
    environment.pop("PYTEST_DISABLE_PLUGIN_AUTOLOAD", None)
    done = subprocess.run(
        [sys.executable, "-m", "pytest", "-p", "no:cacheprovider", "-rA", f"--basetemp={tmp_path / 'runs'}",
         f"--junitxml={tmp_path / 'report.xml'}", "test_shop.py"],
        cwd=tmp_path, env=environment, capture_output=True, text=True, timeout=120)
    assert done.returncode == 1, done.stdout + done.stderr
    assert "varne evidence" in done.stdout and "Browser set to" in done.stdout
    saved = {what: path for what, path in re.findall(r"^(screenshot|page source|log): (\S+)$", done.stdout, re.M)}
    assert set(saved) == {"screenshot", "page source", "log"}, done.stdout
    with open(saved["screenshot"], "rb") as picture:
        assert picture.read(8) == b"\x89PNG\r\n\x1a\n"
    with open(saved["page source"], encoding="utf-8") as page:
        assert "Welcome home" in page.read()
    with open(saved["log"], encoding="utf-8") as log:
        assert "Browser set to" in log.read()
    assert os.path.dirname(saved["log"]) == os.path.dirname(saved["screenshot"])
    assert "varne screenshot" in (tmp_path / "report.xml").read_text()


@pytest.mark.skipif(not os.path.exists("/usr/bin/Xvfb"), reason="needs Xvfb for a display")
@pytest.mark.chromium_only(reason="tells headless from headed by Chromium's HeadlessChrome user agent")
def test_headless_is_forced_where_a_display_exists(tmp_path):
    script = textwrap.dedent("""
        import sys, varne
        browser = varne.CreateObject("Varne.Browser")
        browser.GotoURL("about:blank")
        print(browser.GetBrowser().Document.defaultView.navigator.userAgent)
    """)
    display = subprocess.Popen(["/usr/bin/Xvfb", ":93", "-nolisten", "tcp"], stderr=subprocess.DEVNULL)
    try:
        agents = {}
        for forced in ("1", "0"):
            environment = dict(os.environ, PYTHONPATH=BUILT, DISPLAY=":93", VARNE_HEADLESS=forced)
            done = subprocess.run([sys.executable, "-c", script], env=environment, capture_output=True, text=True,
                                  timeout=60)
            assert done.returncode == 0, done.stderr
            agents[forced] = done.stdout
    finally:
        display.terminate()
        display.wait()
    assert "HeadlessChrome" in agents["1"]
    assert "HeadlessChrome" not in agents["0"]


def test_the_plugin_shares_one_browser_per_module_when_asked(tmp_path):
    (tmp_path / "test_two.py").write_text(textwrap.dedent("""
        seen = []

        def test_one(varne_browser, tmp_path):
            seen.append(varne_browser)
            assert varne_browser.GetBrowser().LocationURL == "about:blank"  # a live browser

        def test_two(varne_browser):
            seen.append(varne_browser)
            assert seen[0] == seen[1]
    """))
    environment = dict(os.environ, PYTHONPATH=BUILT)
    for scope, outcome in (("module", 0), ("function", 1)):
        done = subprocess.run(
            [sys.executable, "-m", "pytest", "-q", "-p", "no:cacheprovider", f"--varne-browser-scope={scope}",
             f"--basetemp={tmp_path / scope}", "test_two.py"],
            cwd=tmp_path, env=environment, capture_output=True, text=True, timeout=120)
        assert done.returncode == outcome, done.stdout + done.stderr
    # One test, one folder: the log is in the test's own temporary folder.
    assert (tmp_path / "function" / "test_one0" / "varne_browser.log").exists()
