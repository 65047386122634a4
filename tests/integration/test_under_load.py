"""Browsers on a busy machine: started beside a CPU hog, and in a process held to half a core by a
CPU quota, they start, load pages and answer every call. A slow browser is not a dead one."""
import os
import subprocess
import sys
import textwrap
import uuid

import pytest

import varne

HOGS = 8
CGROUP_ROOT = "/sys/fs/cgroup"
# Where the cpu controller has a hierarchy of its own (cgroup v1).
CPU_CGROUP_V1 = os.path.join(CGROUP_ROOT, "cpu")
PERIOD_US = 100000

# The calls of a script's start: create the browser, load a page, read it, load another, read it.
JOURNEY = textwrap.dedent("""
    import sys
    import varne
    for round in range(int(sys.argv[2])):
        browser = varne.CreateObject("Varne.Browser")
        browser.GotoURL(sys.argv[1] + "/index.html")
        assert browser.GetBrowser().Document.title == "Home"
        browser.GotoURL(sys.argv[1] + "/second.html")
        assert browser.GetBrowser().Document.title == "Second"
        del browser
    print("done")
""")


@pytest.fixture
def cpu_hog():
    """Busy loops, more than the machine has cores, for as long as the test runs."""
    hogs = [subprocess.Popen(["sh", "-c", "while :; do :; done"]) for _ in range(HOGS)]
    yield
    for hog in hogs:
        hog.kill()
        hog.wait()


def make_cpu_quota_group(name, quota_us):
    """A cgroup whose processes share quota_us of CPU time in every period: in the unified hierarchy
    (cgroup v2) where it carries the cpu controller, else in the cpu hierarchy of cgroup v1. Raises
    OSError where neither lets this process make one (it takes root, or a delegated subtree)."""
    if os.path.exists(os.path.join(CGROUP_ROOT, "cgroup.controllers")):
        with open(os.path.join(CGROUP_ROOT, "cgroup.subtree_control"), "w") as control:
            control.write("+cpu")
        group, limit_file, limit = os.path.join(CGROUP_ROOT, name), "cpu.max", "%d %d" % (quota_us, PERIOD_US)
    else:
        group, limit_file, limit = os.path.join(CPU_CGROUP_V1, name), "cpu.cfs_quota_us", str(quota_us)
    os.mkdir(group)
    try:
        with open(os.path.join(group, limit_file), "w") as out:
            out.write(limit)
    except OSError:
        os.rmdir(group)
        raise
    return group


@pytest.fixture
def half_a_core():
    """A cgroup whose processes share half a core; the test is skipped where none can be made."""
    try:
        group = make_cpu_quota_group("varne-test-" + uuid.uuid4().hex[:8], PERIOD_US // 2)
    except OSError as error:
        pytest.skip("no CPU quota can be set here: %s" % error)
    yield group
    with open(os.path.join(group, "cgroup.procs")) as procs:
        for pid in procs.read().split():
            try:
                os.kill(int(pid), 9)
            except ProcessLookupError:
                pass
    os.rmdir(group)


def run_journey(site, rounds, group=None):
    """Runs the journey in a process of its own (placed in `group` before it starts) and gives its output."""

    def enter_group():
        with open(os.path.join(group, "cgroup.procs"), "w") as procs:
            procs.write(str(os.getpid()))

    done = subprocess.run([sys.executable, "-c", JOURNEY, site.base, str(rounds)], capture_output=True,
                          text=True, env=dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path)),
                          preexec_fn=enter_group if group else None)
    return done.returncode, done.stdout + done.stderr


def test_browsers_start_and_answer_beside_a_cpu_hog(cpu_hog, site):
    for _ in range(3):
        browser = varne.CreateObject("Varne.Browser")
        browser.GotoURL(site.url("index.html"))
        assert browser.GetBrowser().Document.title == "Home"
        browser.GotoURL(site.url("second.html"))
        assert browser.GetBrowser().Document.title == "Second"
        del browser


def test_a_script_held_to_half_a_core_starts_its_browsers(half_a_core, site):
    assert run_journey(site, 2, half_a_core) == (0, "done\n")


def test_a_script_held_to_half_a_core_beside_a_cpu_hog(half_a_core, cpu_hog, site):
    assert run_journey(site, 1, half_a_core) == (0, "done\n")


def test_a_page_of_fifty_megabytes_is_read_and_saved(browser, site, tmp_path, log):
    """A large answer that is still arriving is not a hung browser, nor a loaded page."""
    browser.GotoURL(site.url("large?mb=50"))
    app = browser.GetBrowser()
    # On a busy machine the text can take longer than a wait to arrive; the wait then says so.
    ready = "Browser not ready after 30 seconds" not in log()
    waits = 0
    while not ready:
        waits += 1
        assert waits <= 20
        ready = browser.WaitForBrowser() == 0
    assert app.ReadyState == 4
    assert app.Document.readyState == "complete"
    assert len(app.Document.getElementById("text").textContent) == 50 << 20
    app.SavePageSource(str(tmp_path / "large.html"))
    assert (tmp_path / "large.html").stat().st_size > 50 << 20
