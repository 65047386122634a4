#!/usr/bin/python3
"""Times a later Browser of a process, created while others live and ready to navigate, against the
peers' new isolated context and page in one running browser, in the same run and on the same
browser program: Playwright's newContext()+newPage() and Puppeteer's createBrowserContext()+
newPage() on the system's Chromium; on Firefox (Playwright's needs a patched build of its own) a
bare WebDriver BiDi client's browser.createUserContext + browsingContext.create in a Firefox of the
same program. Each opens `count` contexts one after another, loading a page served here in each as
a script would before the next; the first (and the browser's start) is left out of the median.
Also times a Browser created half a second after the last one was released, which finds the
browser kept for it, against one that starts the browser (what it costs when none is kept).

--baseline DIR times the Varne module in DIR too, in turns with the one under test.

    PYTHONPATH=build/python bench/peer_context_bench.py [--engine chromium|firefox] [--count 10]
        [--runs 3] [--baseline OTHER/build/python]
"""
import argparse
import json
import os
import re
import shutil
import socketserver
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
CHROMIUM = os.environ.get("VARNE_CHROMIUM") or "/usr/lib/chromium/chromium"
FIREFOX = os.environ.get("VARNE_FIREFOX") or "/usr/bin/firefox-esr"


def ms_since(start):
    return (time.monotonic() - start) * 1000


def varne_child(engine, url, count):
    """Runs in a process of its own, so that every run starts with no browser: prints the times."""
    import gc
    import varne
    os.environ["VARNE_BROWSER"] = engine
    browsers, contexts = [], []
    for _ in range(count):
        start = time.monotonic()
        browser = varne.CreateObject("Varne.Browser")
        contexts.append(ms_since(start))
        browser.GotoURL(url)
        browser.GetBrowser().Document.title
        browsers.append(browser)
    del browser
    browsers.clear()
    gc.collect()
    time.sleep(0.5)
    start = time.monotonic()
    varne.CreateObject("Varne.Browser")
    print(json.dumps({"contexts": contexts, "after_release": ms_since(start)}))


def run_varne(module_dir, engine, url, count):
    # A build keeps the library beside the module's folder: another build's module must find its own.
    env = dict(os.environ, PYTHONPATH=module_dir, VARNE_HEADLESS="1",
               LD_LIBRARY_PATH=os.path.dirname(os.path.abspath(module_dir)))
    child = [sys.executable, os.path.join(HERE, "peer_context_bench.py"), "--varne-child", engine, url, str(count)]
    done = subprocess.run(child, env=env, capture_output=True, text=True, check=True)
    return json.loads(done.stdout)


def run_node_peer(peer, url, count):
    env = dict(os.environ, PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD="1", PUPPETEER_SKIP_DOWNLOAD="1")
    done = subprocess.run(["node", os.path.join(HERE, "peers", "new_contexts.js"), peer, CHROMIUM, url, str(count)],
                          env=env, capture_output=True, text=True, check=True, cwd=os.path.join(HERE, "peers"))
    return json.loads(done.stdout)


class BareBidi:
    """A WebDriver BiDi client of a Firefox of its own, in a fresh profile under /dev/shm."""

    def __init__(self):
        import websocket
        from firefox_bench import PREFS
        self.folder = tempfile.mkdtemp(prefix="firefox-peer-", dir="/dev/shm")
        profile = os.path.join(self.folder, "profile")
        os.mkdir(profile)
        prefs = "".join(f"user_pref({json.dumps(name)}, {json.dumps(value)});\n" for name, value in PREFS.items())
        with open(os.path.join(profile, "user.js"), "w") as user_js:
            user_js.write(prefs)
        command = [FIREFOX, "--headless", "--remote-debugging-port=0", "--no-remote", "--profile", profile]
        self.process = subprocess.Popen(command + ["about:blank"], stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, start_new_session=True,
                                        env=dict(os.environ, MOZ_REMOTE_SETTINGS_DEVTOOLS="1"))
        listening = re.compile(rb"WebDriver BiDi listening on ws://[^:]+:(\d+)")
        port = next(found.group(1) for found in map(listening.search, self.process.stderr) if found)
        self.socket = websocket.create_connection(f"ws://127.0.0.1:{int(port)}/session", suppress_origin=True)
        self.last_id = 0

    def __call__(self, method, params):
        self.last_id += 1
        self.socket.send(json.dumps({"id": self.last_id, "method": method, "params": params}))
        answer = {}
        while answer.get("id") != self.last_id:
            answer = json.loads(self.socket.recv())
        if "error" in answer:
            raise RuntimeError(answer)
        return answer["result"]

    def end(self):
        if self.process.poll() is None:
            os.killpg(self.process.pid, 9)
            self.process.wait()
        shutil.rmtree(self.folder, ignore_errors=True)


def run_bare_bidi(url, count):
    firefox = BareBidi()
    try:
        firefox("session.new", {"capabilities": {}})
        contexts = []
        for _ in range(count):
            start = time.monotonic()
            user_context = firefox("browser.createUserContext", {})["userContext"]
            tab = firefox("browsingContext.create", {"type": "window", "userContext": user_context})["context"]
            contexts.append(ms_since(start))
            firefox("browsingContext.navigate", {"context": tab, "url": url, "wait": "complete"})
            firefox("script.evaluate", {"expression": "document.title", "target": {"context": tab},
                                     "awaitPromise": False})
        firefox("browser.close", {})
        firefox.process.wait(10)
        return {"contexts": contexts}
    finally:
        firefox.end()


def later(result):
    return statistics.median(result["contexts"][1:])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--engine", choices=["chromium", "firefox"], action="append")
    parser.add_argument("--count", type=int, default=10)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--baseline", help="the folder of another build's Varne module, timed in turns")
    parser.add_argument("--varne-child", nargs=3, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.varne_child:
        engine, url, count = args.varne_child
        varne_child(engine, url, int(count))
        return

    sys.path.insert(0, HERE)
    from firefox_bench import Page
    server = socketserver.ThreadingTCPServer(("127.0.0.1", 0), Page)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    url = f"http://127.0.0.1:{server.server_address[1]}/"
    module = os.environ.get("PYTHONPATH") or os.path.join(HERE, "..", "build", "python")

    for engine in args.engine or ["chromium", "firefox"]:
        contenders = {"varne": lambda: run_varne(module, engine, url, args.count)}
        if args.baseline:
            contenders["varne baseline"] = lambda: run_varne(args.baseline, engine, url, args.count)
        if engine == "chromium":
            contenders["playwright"] = lambda: run_node_peer("playwright", url, args.count)
            contenders["puppeteer"] = lambda: run_node_peer("puppeteer", url, args.count)
        else:
            contenders["bare bidi"] = lambda: run_bare_bidi(url, args.count)
        results = {name: [] for name in contenders}
        for _ in range(args.runs):
            for name, run in contenders.items():
                results[name].append(run())
        peer = "playwright" if engine == "chromium" else "bare bidi"
        peer_ms = statistics.median(later(r) for r in results[peer])
        print(f"{engine}: contexts 2-{args.count} ready to navigate, median of {args.runs} runs' medians"
              f" (each run's own figures in brackets)")
        for name, runs in results.items():
            figure = statistics.median(later(r) for r in runs)
            print(f"  {name:16} {figure:9.1f} ms  / {peer} {figure / peer_ms:5.2f}"
                  f"  [{', '.join(f'{later(r):.1f}' for r in runs)}]"
                  f"  first {statistics.median(r['contexts'][0] for r in runs):.1f} ms")
        for name in [n for n in results if n.startswith("varne")]:
            kept = statistics.median(r["after_release"] for r in results[name])
            fresh = statistics.median(r["contexts"][0] for r in results[name])
            print(f"  {name}: a Browser 0.5 s after the last was released {kept:.1f} ms (browser kept for it);"
                  f" one that starts the browser {fresh:.1f} ms (none kept)")
    server.shutdown()


if __name__ == "__main__":
    main()
