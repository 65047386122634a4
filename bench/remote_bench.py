"""Round trips of browsers elsewhere and over the pipe, each against a raw client in the same run,
and demo journeys on a hub with two nodes against the same journeys in a row on one local browser.

    PYTHONPATH=build/python /usr/bin/python3 bench/remote_bench.py [--calls N] [--skip-hub]

Starts its own Grid (the jar that scripts/setup-grid.sh installs) and stops it afterwards. The
library's figure is one late-bound call from Python that makes one protocol round trip
(`document.title`); the raw clients send Runtime.evaluate on the same page session."""
import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.request

import websocket  # python3-websocket

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(REPO, "tests", "integration"))

import varne  # noqa: E402
from grid_server import CHROME_ARGS, GridServer, free_port, grid_jar  # noqa: E402
from site_server import SITE, SiteServer  # noqa: E402

WARM_UP = 200


def medians_ms(works, calls, rounds=10):
    """The median time of each work, run in turns of calls/rounds each, so that the load of the
    machine falls on all of them alike."""
    for work in works:
        for _ in range(WARM_UP):
            work()
    times = [[] for _ in works]
    for round_number in range(rounds):
        for turn in range(len(works)):
            index = (round_number + turn) % len(works)
            for _ in range(calls // rounds):
                started = time.perf_counter()
                works[index]()
                times[index].append((time.perf_counter() - started) * 1000)
    return [statistics.median(figures) for figures in times]


class RawSocketClient:
    """A bare DevTools client over one WebSocket: attaches to the page and evaluates."""

    def __init__(self, url, page_url):
        self.socket = websocket.create_connection(url, suppress_origin=True)
        self.next_id = 0
        targets = self.call("Target.getTargets")["targetInfos"]
        page = next(t for t in targets if t["type"] == "page" and t["url"] == page_url)
        self.session = self.call("Target.attachToTarget", {"targetId": page["targetId"], "flatten": True})["sessionId"]

    def call(self, method, params=None, session=None):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        self.socket.send(json.dumps(message))
        while True:
            answer = json.loads(self.socket.recv())
            if answer.get("id") == self.next_id:
                return answer["result"]

    def evaluate(self):
        self.call("Runtime.evaluate", {"expression": "document.title"}, self.session)


class RawPipeClient:
    """A bare DevTools client over its own Chromium's pipe."""

    def __init__(self, page_url, profile):
        to_browser_r, self.to_browser = os.pipe()
        self.from_browser, from_browser_w = os.pipe()

        def place_fds():
            os.dup2(to_browser_r, 3)
            os.dup2(from_browser_w, 4)

        self.process = subprocess.Popen(
            ["/usr/lib/chromium/chromium", "--remote-debugging-pipe", "--user-data-dir=" + profile,
             "--no-startup-window"] + CHROME_ARGS, preexec_fn=place_fds, pass_fds=(3, 4),
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        os.close(to_browser_r)
        os.close(from_browser_w)
        self.buffer = b""
        self.next_id = 0
        target = self.call("Target.createTarget", {"url": page_url})["targetId"]
        self.session = self.call("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]
        self.call("Page.enable", session=self.session)
        time.sleep(1)

    def call(self, method, params=None, session=None):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        os.write(self.to_browser, json.dumps(message).encode() + b"\0")
        while True:
            while b"\0" not in self.buffer:
                self.buffer += os.read(self.from_browser, 65536)
            text, self.buffer = self.buffer.split(b"\0", 1)
            answer = json.loads(text)
            if answer.get("id") == self.next_id:
                return answer["result"]

    def evaluate(self):
        self.call("Runtime.evaluate", {"expression": "document.title"}, self.session)

    def close(self):
        os.close(self.to_browser)
        self.process.wait(timeout=10)


def library_page(page_url):
    browser = varne.CreateObject("Varne.Browser")
    browser.GotoURL(page_url)
    return browser, browser.GetBrowser().Document


def grid_round_trips(site, calls, folder):
    page = site.url("index.html")
    with GridServer(folder, slots=1) as grid:
        os.environ["VARNE_REMOTE_URL"] = grid.url
        try:
            browser, document = library_page(page)
            [session] = grid.sessions()
            raw_client = RawSocketClient("ws://127.0.0.1:%d/session/%s/se/cdp" % (grid.port, session), page)
            library, raw = medians_ms([lambda: document.title, raw_client.evaluate], calls)
            browser = document = None
        finally:
            del os.environ["VARNE_REMOTE_URL"]
    return library, raw


def pipe_round_trips(site, calls, folder):
    page = site.url("index.html")
    browser, document = library_page(page)
    raw_client = RawPipeClient(page, os.path.join(folder, "raw-profile"))
    try:
        library, raw = medians_ms([lambda: document.title, raw_client.evaluate], calls)
    finally:
        raw_client.close()
    return library, raw


def journeys(urls_env, parallel, folder, tag):
    journey = os.path.join(REPO, "examples", "demo_journey.py")
    module_dir = os.path.dirname(os.path.abspath(varne.__file__))
    env = dict(os.environ, PYTHONPATH=module_dir, **urls_env)
    started = time.perf_counter()
    runs = []
    for index in range(4):
        out = os.path.join(folder, "%s-%d" % (tag, index))
        command = ["/usr/bin/python3", journey, "--output", out]
        runs.append(subprocess.Popen(command, env=env, cwd=folder, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE))
        if not parallel:
            runs[-1].wait()
    for run in runs:
        if run.wait() != 0:
            raise RuntimeError("a journey failed: " + run.stderr.read().decode())
    return time.perf_counter() - started


def hub_journeys(folder):
    hub_port, publish, subscribe = free_port(), free_port(), free_port()
    jar = grid_jar()
    processes = [subprocess.Popen(["java", "-jar", jar, "hub", "--host", "127.0.0.1", "--port", str(hub_port),
                                   "--publish-events", "tcp://127.0.0.1:%d" % publish,
                                   "--subscribe-events", "tcp://127.0.0.1:%d" % subscribe],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT, start_new_session=True)]
    nodes = []
    try:
        for index in range(2):
            node = GridServer(tempfile.mkdtemp(dir=folder), slots=2)
            config = open(node.config).read().replace(
                "[node]", "[events]\npublish = \"tcp://127.0.0.1:%d\"\nsubscribe = \"tcp://127.0.0.1:%d\"\n\n[node]"
                % (publish, subscribe))
            with open(node.config, "w") as out:
                out.write(config)
            nodes.append(subprocess.Popen(["java", "-jar", jar, "node", "--config", node.config, "--hub",
                                           "http://127.0.0.1:%d" % hub_port], stdout=subprocess.DEVNULL,
                                          stderr=subprocess.STDOUT, start_new_session=True))
        hub = "http://127.0.0.1:%d" % hub_port
        deadline = time.monotonic() + 90
        while time.monotonic() < deadline:
            try:
                with urllib.request.urlopen(hub + "/status", timeout=5) as answer:
                    status = json.load(answer)["value"]
                if status.get("ready") and len(status.get("nodes", [])) == 2:
                    break
            except OSError:
                pass
            time.sleep(0.5)
        else:
            raise RuntimeError("the hub did not see two nodes")
        return journeys({"VARNE_REMOTE_URL": hub}, True, folder, "hub")
    finally:
        for process in processes + nodes:
            try:
                os.killpg(process.pid, 9)
            except ProcessLookupError:
                pass
            process.wait()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--calls", type=int, default=2000)
    parser.add_argument("--skip-hub", action="store_true")
    args = parser.parse_args()
    os.environ.pop("DISPLAY", None)
    rows = []
    with tempfile.TemporaryDirectory() as folder, SiteServer(SITE) as site:
        library, raw = grid_round_trips(site, args.calls, tempfile.mkdtemp(dir=folder))
        rows.append(("Round trip over a Grid standalone (base: raw WebSocket client, same session)", library, raw,
                     "ms"))
        library, raw = pipe_round_trips(site, args.calls, folder)
        rows.append(("Round trip over the pipe (base: raw pipe client)", library, raw, "ms"))
        if not args.skip_hub:
            local = journeys({}, False, folder, "local")
            hub = hub_journeys(folder)
            rows.append(("Four demo journeys, hub with two nodes (base: in a row, local)", hub, local, "s"))
    width = max(len(row[0]) for row in rows)
    print("%-*s %10s %10s %7s" % (width, "Figure", "figure", "baseline", "ratio"))
    for name, figure, baseline, unit in rows:
        print("%-*s %8.3f %s %8.3f %s %6.2fx" % (width, name, figure, unit, baseline, unit, figure / baseline))


if __name__ == "__main__":
    main()
