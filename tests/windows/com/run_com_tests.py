#!/usr/bin/python3
"""Runs Varne.dll's COM tests under Wine: registration, the VBScript and JScript test scripts of
each class with the files they write checked, the early-bound C++ client, and unregistration
leaving no key behind; in the Wine prefix given, or in a fresh one of its own.

Script hosts under Wine end silently on an error, so each script ends by printing
"N passed, N failed"; a step fails when that line is missing or counts a failure. Each script
runs with the checks of its language (check.vbs, check.js) joined after it; the helper prints
that line once the script has run to its end. Every Wine
step runs under a time limit. Prints each step's time and a final "N passed, N failed" line.
"""
import argparse
import contextlib
import os
import pathlib
import re
import shutil
import subprocess
import sys
import time

import xlrd

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "integration"))
from site_server import SITE, SiteServer  # noqa: E402

HERE = pathlib.Path(__file__).resolve().parent
WINE_ENV = HERE.parents[2] / "scripts" / "wine-env.sh"
SUMMARY = re.compile(r"^(\d+) passed, (\d+) failed$")
STAMP = re.compile(rb"\d\d:\d\d:\d\d \d\d/[A-Z][a-z]{2}/\d{4}")
LAPSED = re.compile(rb"\d+ days \d\d:\d\d:\d\d")
RULE = b"=" * 96
# The identifiers and names that registration writes; none may be left after unregistration.
REGISTERED = [b"5E8E7564-B2B5-4699-B947-369860B0F2F2", b"7DAD0CE8-D083-4258-BDB5-0B03BE45BC85",
              b"266EFF85-E7F4-4766-B6E7-FC41C61A56A0", b"8B45DCED-2C36-4911-BF41-549240A53F5A",
              b"62C63BF6-E19D-454F-9442-20F43F537D72", b"9B4AEE30-25CE-42AA-8C67-AD875FFA9F23",
              b"C450EE35-5903-41FF-A950-8E783902132D", b"DC25CBA5-4C6F-4F7C-AED2-E87D0DFD50F3",
              b"1731C31C-44B9-4E21-B47B-68E2F0CC2002", b"C66F539B-6645-46E0-8ADA-EA859513543E",
              b"F409E886-66CD-424A-B754-D2D999BD03EB", b"Varne."]


def wine_environment(prefix):
    """This environment with what scripts/wine-env.sh sets for the prefix, as every Wine step of the
    tree runs."""
    listing = subprocess.run(["bash", "-c", 'WINEPREFIX=$1 && source "$0" && env -0', str(WINE_ENV), str(prefix)],
                             check=True, capture_output=True).stdout
    return dict(entry.split("=", 1) for entry in os.fsdecode(listing).split("\0") if entry)


class Job:
    def __init__(self, build, timeout, prefix):
        self.build = build
        self.timeout = timeout
        self.prefix = prefix or build / "wine-com-prefix"
        self.work = build / "com-tests"
        self.env = wine_environment(self.prefix)
        self.passed = 0
        self.failed = 0
        self.times = []

    def wine(self, *args, timeout=None, env=None):
        return subprocess.run(["timeout", str(timeout or self.timeout), "wine", *args], env=env or self.env,
                              capture_output=True, text=True, errors="replace")

    def step(self, name, action):
        start = time.monotonic()
        try:
            problem = action()
        except Exception as error:  # a failed step names its cause; the job goes on with the next
            problem = f"{type(error).__name__}: {error}"
        self.times.append((name, time.monotonic() - start))
        if problem:
            self.failed += 1
            print(f"FAIL {name}: {problem}", flush=True)
        else:
            self.passed += 1
            print(f"ok   {name} ({self.times[-1][1]:.1f} s)", flush=True)

    def windows_path(self, path):
        return "Z:" + str(path).replace("/", "\\")

    def fresh_prefix(self):
        shutil.rmtree(self.prefix, ignore_errors=True)
        for command in (["wineboot", "--init"],
                        ["reg", "add", r"HKCU\Software\Wine\Drivers", "/v", "Graphics", "/d", "null", "/f"],
                        ["reg", "add", r"HKCU\Software\Wine\WineDbg", "/v", "ShowCrashDialog", "/t", "REG_DWORD",
                         "/d", "0", "/f"]):
            result = self.wine(*command, timeout=180)
            if result.returncode != 0:
                return f"{' '.join(command)} exited {result.returncode}: {result.stderr[-500:]}"
        return self.wait_for_server()

    def wait_for_server(self):
        # The server writes the registry files out when it ends.
        result = subprocess.run(["timeout", "60", "wineserver", "-w"], env=self.env)
        return None if result.returncode == 0 else f"wineserver -w exited {result.returncode}"

    def regsvr32(self, dll, *flags):
        result = self.wine("regsvr32", *flags, "/s", self.windows_path(dll))
        if result.returncode != 0:
            return f"regsvr32 {' '.join(flags)} exited {result.returncode}: {result.stdout[-500:]}{result.stderr[-500:]}"
        return None

    def summary_of(self, output):
        lines = [line.strip() for line in output.replace("\r", "").splitlines() if line.strip()]
        failures = [line for line in lines if line.startswith("FAIL")]
        found = SUMMARY.match(lines[-1]) if lines else None
        if not found:
            return f"no 'N passed, N failed' line; output: {lines[-5:]}"
        if int(found.group(2)) != 0 or failures:
            return f"{lines[-1]}: {failures}"
        if int(found.group(1)) == 0:
            return "nothing was checked"
        return None

    def script(self, name, *args, env=None):
        result = self.wine("cscript", "//nologo", self.windows_path(self.joined(name)), *args, env=env)
        return self.summary_of(result.stdout)

    def joined(self, name):
        """The script with its language's check helper after it, in the work folder: the script's
        lines keep their numbers, and the helper's last line prints the summary."""
        script = HERE / name
        joined = self.work / name
        helper = HERE / ("check" + script.suffix)
        joined.write_text(script.read_text() + "\n" + helper.read_text())
        return joined

    def program(self, exe, *args, env=None, timeout=None):
        result = self.wine(self.windows_path(exe), *args, env=env, timeout=timeout)
        problem = self.summary_of(result.stdout)
        if not problem and result.returncode != 0:
            problem = f"exited {result.returncode}"
        return problem

    @contextlib.contextmanager
    def another_program(self):
        """A Windows program that runs until the block ends, so that the Wine server outlives the
        block's own: cmd waiting for a line (Wine's script hosts do not sleep)."""
        waiting = "set /p varne_another_program="
        another = subprocess.Popen(["timeout", "600", "wine", "cmd", "/c", waiting], env=self.env,
                                   stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            deadline = time.monotonic() + 60
            while not processes_naming(waiting) and time.monotonic() < deadline:
                time.sleep(0.2)
            if not processes_naming(waiting):
                raise RuntimeError("cmd did not start to wait beside the step")
            yield
        finally:
            another.stdin.close()
            another.wait()

    def left_in_registry(self):
        found = []
        for hive in ("system.reg", "user.reg"):
            text = (self.prefix / hive).read_bytes().upper()
            found += [name.decode() for name in REGISTERED if name.upper() in text]
        return f"left in the registry: {found}" if found else None


@contextlib.contextmanager
def display():
    """An X display served by Xvfb while the block runs; None where Xvfb is not installed."""
    if not shutil.which("Xvfb"):
        yield None
        return
    number = 90 + os.getpid() % 800
    server = subprocess.Popen(["Xvfb", f":{number}", "-nolisten", "tcp", "-screen", "0", "1024x768x24"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        deadline = time.monotonic() + 10
        while not os.path.exists(f"/tmp/.X11-unix/X{number}") and time.monotonic() < deadline:
            time.sleep(0.05)
        yield f":{number}"
    finally:
        server.kill()
        server.wait()


def normalised_log(path):
    return LAPSED.sub(b"L", STAMP.sub(b"T", path.read_bytes()))


def entries(*texts):
    return b"".join(b"T:\r\n" + text + b"\r\n\r\n" for text in texts)


def log_problem(path, *texts):
    expected = (b"Log file started at T\r\n" + RULE + b"\r\n\r\n" + entries(*texts) + b"\r\n" + RULE +
                b"\r\nLog file closed at T\r\nLog file run time: L\r\n")
    actual = normalised_log(path)
    return None if actual == expected else f"{path.name}: {actual!r} is not {expected!r}"


def processes_naming(name):
    """The host's processes whose command lines hold the name."""
    found = []
    for cmdline in pathlib.Path("/proc").glob("[0-9]*/cmdline"):
        with contextlib.suppress(OSError):
            if name.encode() in cmdline.read_bytes():
                found.append(f"process {cmdline.parent.name}")
    return found


def left_behind(prefix, name):
    """The folders under the prefix's users and the host's processes that still bear a browser
    folder's name."""
    # A walk that passes over folders removed under it: the watchdog may be deleting this one.
    left = [os.path.join(root, name) for root, folders, _ in os.walk(prefix / "drive_c" / "users") if name in folders]
    return left + processes_naming(name)


ENGINES = ["chromium", "firefox"]

# The log texts of browser.vbs as the Linux build writes them, with the site's address as {site}
# and the lapsed times as L.
BROWSER_LOG = [
    'Browser set to "{site}index.html". [L]',
    'Browser set to "{site}frames.html". [L]',
    'Frame 2 set to "{site}frame_b.html". [L]',
    "Invalid frame number (3) specified for base URL {site}frames.html",
    'Browser set to "{site}images.html". [L]',
    'Browser set to "{site}index.html". [L]',
    'Clicked text link "Next" [L]',
    'Browser set to "{site}forms.html". [L]',
    'Clicked form button "Go" [L]',
    'Browser set to "{site}dialogs.html". [L]',
    'Clicked text link "Ask" [L]',
    'Popup "OK" button clicked [L]',
    'Clicked text link "Ask" [L]',
    'Popup "Cancel" button clicked [L]',
    'Clicked text link "Tell" [L]',
    "Error clicking button",
    'Popup "OK" button clicked [L]',
]


def log_texts(path):
    """The texts of a log's entries, in order, with the lapsed times as L."""
    lines = normalised_log(path).decode("cp1252").split("\r\n")
    return [lines[i + 1] for i, line in enumerate(lines) if line == "T:"]


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", required=True, type=pathlib.Path, help="the Windows build folder")
    parser.add_argument("--timeout", type=int, default=120, help="seconds allowed to each Wine step")
    parser.add_argument("--prefix", type=pathlib.Path,
                        help="a ready Wine prefix (null display driver, no crash dialog) instead of a fresh one")
    options = parser.parse_args()
    build = options.build.resolve()
    job = Job(build, options.timeout, options.prefix.resolve() if options.prefix else None)
    dll = build / "Varne.dll"
    work = job.work
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)

    if not options.prefix:
        job.step("fresh Wine prefix", job.fresh_prefix)
    job.step("regsvr32", lambda: job.regsvr32(dll))

    job.step("timing.vbs", lambda: job.script("timing.vbs"))
    job.step("timing.js", lambda: job.script("timing.js"))

    def logging_vbs():
        return job.script("logging.vbs", job.windows_path(work / "run.log"),
                          job.windows_path(work / "missing" / "run.log")) or log_problem(
            work / "run.log", b"First line", b"Caf\xe9 \"quoted\"", b"") or log_problem(
            work / "run.log.released", b"Before release")
    job.step("logging.vbs and its log, byte for byte", logging_vbs)
    job.step("logging.js", lambda: job.script("logging.js", job.windows_path(work / "js.log")) or log_problem(
        work / "js.log", b"From JScript"))

    (work / "rig.cfg").write_bytes(b"# test rig\r\n  Server = alpha  \r\nRetries=3\r\nserver=beta")
    (work / "long.cfg").write_bytes(b"a=1\r\n" + b"b=" + b"x" * 40000)

    def config_vbs():
        problem = job.script("config.vbs", job.windows_path(work))
        saved = (work / "out.cfg").read_bytes()
        expected = b"SERVER=beta\r\n=3\r\nADDED=x y\r\n"  # an unset key keeps its line with no name
        return problem or (None if saved == expected else f"out.cfg is {saved!r}, not {expected!r}")
    job.step("config.vbs and its saved file", config_vbs)
    job.step("config.js", lambda: job.script("config.js", job.windows_path(work)) or (
        None if (work / "out-js.cfg").read_bytes() == b"SERVER=beta\r\nRETRIES=3\r\n" else "out-js.cfg differs"))

    def workbook(path, active, cell):
        book = xlrd.open_workbook(str(path))
        shown = [sheet.name for sheet in book.sheets() if sheet.sheet_visible]
        sheet, row, column, value = cell
        found = book.sheet_by_name(sheet).cell_value(row, column)
        if shown != [active] or found != value:
            return f"{path.name}: active {shown}, {sheet}!{row},{column} = {found!r}"
        return None

    job.step("excel_conn.vbs and its workbook", lambda: job.script(
        "excel_conn.vbs", job.windows_path(work / "book.xls")) or workbook(
        work / "book.xls", "Summary", ("Sheet2", 2, 1, "Item 3")))
    job.step("excel_conn.js and its workbook", lambda: job.script(
        "excel_conn.js", job.windows_path(work / "book-js.xls")) or workbook(
        work / "book-js.xls", "Sheet3", ("Sheet3", 0, 0, "from JScript")))

    with SiteServer(SITE) as server:
        site = server.url("")

        def browser_vbs(engine, route=None, **variables):
            log = work / f"browser-{route or engine}.log"
            problem = job.script("browser.vbs", site, job.windows_path(log),
                                 env=dict(job.env, VARNE_BROWSER=engine, **variables))
            expected = [line.format(site=site) for line in BROWSER_LOG]
            texts = log_texts(log)
            return problem or (None if texts == expected else f"{log.name}: {texts} is not {expected}")

        # The browser scripts run on each engine: the host's Firefox is started under Wine as its
        # Chromium is.
        for engine in ENGINES:
            job.step(f"browser.vbs on {engine} and its log lines", lambda engine=engine: browser_vbs(engine))
            job.step(f"browser.js on {engine}", lambda engine=engine: job.script(
                "browser.js", site, job.windows_path(work / f"browser-js-{engine}.log"),
                env=dict(job.env, VARNE_BROWSER=engine)))
        # Firefox as on Windows itself: a Windows program that VARNE_FIREFOX names is started as
        # firefox.exe would be; host_firefox.exe runs the host's Firefox in its place.
        host_firefox = job.windows_path(build / "tests" / "bin" / "host_firefox.exe")
        job.step("browser.vbs on firefox as a Windows program and its log lines", lambda: browser_vbs(
            "firefox", "firefox-windows", VARNE_FIREFOX=host_firefox))
        job.step("collections.vbs", lambda: job.script("collections.vbs", site))
        job.step("collections.js", lambda: job.script("collections.js", site))
        job.step("nothing.vbs", lambda: job.script("nothing.vbs", site))
        job.step("nothing.js", lambda: job.script("nothing.js", site))

        # The script's host ends while another Windows program runs, and with it the Wine server:
        # what it leaves must go with the script's host, not with the server.
        def shared_browser(engine, prefix, **variables):
            with job.another_program():
                result = job.wine("cscript", "//nologo", job.windows_path(job.joined("shared_browser.vbs")), site,
                                  prefix, env=dict(job.env, VARNE_BROWSER=engine, **variables))
                named = re.search(rf"^browser folder: ({prefix}\d+)\s*$", result.stdout, re.M)
                problem = job.summary_of(result.stdout) or (None if named else "no browser folder named")
                if problem:
                    return problem
                # The script's host ended right after its last Browser, with the browser kept for a next one.
                deadline = time.monotonic() + 30
                while (left := left_behind(job.prefix, named.group(1))) and time.monotonic() < deadline:
                    time.sleep(0.5)
                return f"left once the script's host ended: {left}" if left else None
        # Firefox, unlike Chromium, outlives its connection: its watchdog ends it with the script's host.
        for engine, name in (("chromium", "Chromium"), ("firefox", "Firefox")):
            job.step(f"shared_browser.vbs: one {name} for every headless Browser, gone with the script's host",
                     lambda engine=engine: shared_browser(engine, f"varne-{engine}-"))
        # A Windows program's profile goes with the watchdog that the library starts beside its job.
        job.step("shared_browser.vbs: one Firefox of a Windows program for every headless Browser, gone with the "
                 "script's host", lambda: shared_browser("firefox", "varne-profile-", VARNE_FIREFOX=host_firefox))
        # Its headed browsers show their windows on a display of their own; Wine itself keeps its
        # null driver.
        with display() as shown:
            job.step("early-bound C++ client, the DLL unloaded under released browsers", lambda: job.program(
                build / "tests" / "windows" / "early_bound_client.exe", job.windows_path(work), site,
                env=dict(job.env, DISPLAY=shown) if shown else None, timeout=300))

    no_browser = dict(job.env, VARNE_CHROMIUM=str(work / "no-such-browser"))
    job.step("creation_failure.vbs", lambda: job.script("creation_failure.vbs", env=no_browser))

    def unregister():
        problem = job.regsvr32(dll, "/u")
        return problem or job.wait_for_server() or job.left_in_registry()
    job.step("regsvr32 /u leaves no key behind", unregister)

    print("step times: " + ", ".join(f"{name} {seconds:.1f} s" for name, seconds in job.times))
    print(f"{job.passed} passed, {job.failed} failed")
    return 0 if job.failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
