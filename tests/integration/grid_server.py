"""A Grid standalone on 127.0.0.1 for the tests, started from the jar that scripts/setup-grid.sh
installs, and stopped with every process it started."""
import glob
import json
import os
import signal
import socket
import subprocess
import time
import urllib.request

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
CHROME_ARGS = ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage", "--disable-quic",
               "--no-first-run", "--disable-background-networking", "--disable-component-update", "--disable-sync"]


def grid_jar():
    found = sorted(glob.glob(os.path.join(REPO, ".grid", "selenium-server-*.jar")))
    if not found:
        raise RuntimeError("no Grid jar in .grid/: run scripts/setup-grid.sh")
    return found[-1]


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def group_members(pgid):
    """The processes of a process group that still run (zombies do not count)."""
    members = []
    for entry in os.listdir("/proc"):
        try:
            with open(f"/proc/{entry}/stat") as stat:
                fields = stat.read().rsplit(")", 1)[1].split()
            if int(fields[2]) == pgid and fields[0] not in "ZX":
                members.append(int(entry))
        except (OSError, IndexError, ValueError):
            pass
    return members


def end_group(process, seconds=10):
    """Kills the process group that `process` leads and waits for its members to go."""
    os.killpg(process.pid, signal.SIGKILL)
    process.wait()
    deadline = time.monotonic() + seconds
    while group_members(process.pid) and time.monotonic() < deadline:
        time.sleep(0.1)


class GridServer:
    """One standalone Grid with `slots` browser slots, in a process group of its own."""

    def __init__(self, folder, slots=2, session_timeout=300, request_timeout=300):
        self.port = free_port()
        self.folder = folder
        self.config = os.path.join(folder, "standalone.toml")
        stereotype = {"browserName": "chrome", "platformName": "linux",
                      "goog:chromeOptions": {"binary": "/usr/bin/chromium", "args": CHROME_ARGS}}
        with open(self.config, "w") as config:
            config.write(f"""[server]
host = "127.0.0.1"
port = {self.port}

[node]
detect-drivers = false
max-sessions = {slots}
override-max-sessions = true
session-timeout = {session_timeout}

[sessionqueue]
session-request-timeout = {request_timeout}
session-retry-interval = 1

[[node.driver-configuration]]
display-name = "chrome"
webdriver-executable = "/usr/bin/chromedriver"
max-sessions = {slots}
stereotype = '{json.dumps(stereotype)}'
""")
        self.process = None

    @property
    def url(self):
        return f"http://127.0.0.1:{self.port}"

    def status(self):
        with urllib.request.urlopen(self.url + "/status", timeout=5) as answer:
            return json.load(answer)["value"]

    def sessions(self):
        """The ids of the sessions that the Grid's slots hold."""
        return [slot["session"]["sessionId"] for node in self.status()["nodes"] for slot in node["slots"]
                if slot.get("session")]

    def delete_session(self, session_id):
        request = urllib.request.Request(f"{self.url}/session/{session_id}", method="DELETE")
        with urllib.request.urlopen(request, timeout=10):
            pass

    def start(self, timeout=90):
        log = open(os.path.join(self.folder, "grid.log"), "wb")
        self.process = subprocess.Popen(["java", "-Xshare:auto", "-jar", grid_jar(), "standalone", "--config",
                                         self.config], stdout=log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                        start_new_session=True, cwd=self.folder)
        log.close()
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise RuntimeError("the Grid exited at start; see " + os.path.join(self.folder, "grid.log"))
            try:
                if self.status().get("ready"):
                    return self
            except OSError:
                pass
            time.sleep(0.2)
        self.stop()
        raise RuntimeError("the Grid was not ready within %d s" % timeout)

    def kill_server(self):
        """Ends the Grid's own process at once, as a crash would; what it started stays behind."""
        self.process.kill()
        self.process.wait()

    def stop(self):
        """Ends the Grid and every process it started: drivers and browsers that it leaves behind
        stay in its process group."""
        if self.process is None:
            return
        pgid = self.process.pid
        if self.process.poll() is None:
            os.killpg(pgid, signal.SIGTERM)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                pass
        deadline = time.monotonic() + 10
        while group_members(pgid) and time.monotonic() < deadline:
            try:
                os.killpg(pgid, signal.SIGKILL)
            except ProcessLookupError:
                break
            time.sleep(0.1)
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()
        self.process = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()
