"""The pytest plugin as a test run sees it: the log's path, a text check that says what the page
showed, and the failing test's own part of a log that a module's tests share."""
import os
import re
import subprocess
import sys
import textwrap

import pytest

import varne

BUILT = os.path.dirname(varne.__file__)


def run_pytest(folder, source, *options):
    (folder / "test_shop.py").write_text(textwrap.dedent(source))
    environment = dict(os.environ, PYTHONPATH=BUILT)
    environment.pop("PYTEST_DISABLE_PLUGIN_AUTOLOAD", None)
    done = subprocess.run(
        [sys.executable, "-m", "pytest", "-p", "no:cacheprovider", "-rA", f"--basetemp={folder / 'runs'}",
         *options, "test_shop.py"],
        cwd=folder, env=environment, capture_output=True, text=True, timeout=180)
    return done, done.stdout + done.stderr


def failure_reports(output):
    """Each failing test's report in pytest's output, by the test's name."""
    failures = re.split(r"^=+ short test summary info =+$", output, flags=re.M)[0]
    parts = re.split(r"^_{3,} (test_\w+) _{3,}$", failures, flags=re.M)
    return dict(zip(parts[1::2], parts[2::2]))


@pytest.fixture(scope="module")
def shared_browser_run(sample_site, tmp_path_factory):
    """One run of four tests sharing a browser: two pass, two fail at a text check."""
    folder = tmp_path_factory.mktemp("shared")
    done, output = run_pytest(folder, f"""
        import os
        from varne_pytest import assert_inner_text

        def test_index(varne_browser, varne_log):
            varne_browser.GotoURL("{sample_site}/index.html")
            assert_inner_text(varne_browser, "Sample shop", "H1")
            assert os.path.basename(varne_log) == "varne_browser.log" and os.path.exists(varne_log)

        def test_welcome_names_ann(varne_browser):
            varne_browser.GotoURL("{sample_site}/welcome.html")
            assert_inner_text(varne_browser, "Welcome, ann", "H1")

        def test_a_second_heading(varne_browser):
            assert_inner_text(varne_browser, "Welcome", "H1", match_type=2)
            assert_inner_text(varne_browser, "Receipt", "H2")

        def test_log_path_is_the_shared_log(varne_browser, varne_log):
            with open(varne_log, "rb") as log:
                assert b"index.html" in log.read()
    """, "--varne-browser-scope=module")
    assert done.returncode == 1, output
    return output


def test_a_text_check_reports_what_the_page_showed(shared_browser_run):
    reports = failure_reports(shared_browser_run)
    assert set(reports) == {"test_welcome_names_ann", "test_a_second_heading"}, shared_browser_run
    assert "H1 number 0 of" in reports["test_welcome_names_ann"]
    assert "does not read 'Welcome, ann'" in reports["test_welcome_names_ann"]
    assert "the page shows: 'Welcome, bob'" in reports["test_welcome_names_ann"]
    assert "the page has 0 H2 element(s)" in reports["test_a_second_heading"]
    assert "2 failed, 2 passed" in shared_browser_run


def test_a_shared_browser_attaches_only_the_failing_tests_part_of_the_log(shared_browser_run):
    report = failure_reports(shared_browser_run)["test_welcome_names_ann"]
    log_part = report.split("varne browser log of this test")[1]
    assert "Browser set to" in log_part and "welcome.html" in log_part
    assert "index.html" not in log_part  # written by the test before it
    assert "Log file started" not in log_part


def test_a_browser_per_test_attaches_its_whole_log(sample_site, tmp_path):
    done, output = run_pytest(tmp_path, f"""
        from varne_pytest import assert_inner_text

        def test_welcome(varne_browser, varne_log, tmp_path):
            assert varne_log == str(tmp_path / "varne_browser.log")
            varne_browser.GotoURL("{sample_site}/welcome.html")
            assert_inner_text(varne_browser, "bob", "H1", match_type=3)
            assert_inner_text(varne_browser, "Sample", "H1", match_type=2)
    """)
    assert done.returncode == 1, output
    report = failure_reports(output)["test_welcome"]
    assert "does not begin with 'Sample'" in report and "the page shows: 'Welcome, bob'" in report
    log_part = report.split("varne browser log of this test")[1]
    assert "Log file started" in log_part and "welcome.html" in log_part


def test_a_match_type_outside_the_three_is_refused_before_the_page_is_asked():
    from varne_pytest import assert_inner_text

    with pytest.raises(ValueError, match="match_type must be 1, 2 or 3"):
        assert_inner_text(None, "text", "H1", match_type=4)
