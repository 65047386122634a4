#!/usr/bin/python3
"""Times the Firefox engine against a bare WebDriver BiDi client of the same Firefox, run
alternately, on pages served here on 127.0.0.1: launch to a usable page and a round trip of
script.evaluate('1+1') (firefox_bench), a click on a link that loads a page (ClickLink) and the
count of 10,000 links by their text (LinkExists, against one evaluate that reads every link's
text), both through the Python module with VARNE_BROWSER=firefox. Prints the medians and their ratios.

    PYTHONPATH=build/python firefox_bench.py --firefox-bench build/bench/firefox_bench [--runs 3]
"""
import argparse, http.server, json, os, re, shutil, signal, socketserver, statistics, subprocess, sys, tempfile, threading, time

import websocket

LINK_COUNT = 10000
CLICKS = 20
COUNTS = 5

PREFS = {"remote.retry-on-abort": False, "dom.require_user_interaction_for_beforeunload": False,
         "media.gmp-provider.enabled": False, "media.gmp-manager.url": "",
         "media.gmp-manager.chromium-update-url": "", "media.gmp-widevinecdm.allow-chromium-update": False}


class Page(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_GET(self):
        if self.path == "/links":
            links = "".join(f"<a href='#l{i}'>Link {i}</a>\n" for i in range(LINK_COUNT))
        elif self.path in ("/a", "/b"):
            links = "<a href='%s'>Onwards</a>" % ("/b" if self.path == "/a" else "/a")
        else:
            links = "<a href='/'>link</a>"
        body = f"<html><head><title>bench</title></head><body>{links}</body></html>".encode()
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


def bare_client(url, round_trips):
    start = time.monotonic()
    folder = tempfile.mkdtemp(prefix="firefox-bare-", dir="/dev/shm")
    profile = os.path.join(folder, "profile")
    os.mkdir(profile)
    with open(os.path.join(profile, "user.js"), "w") as user_js:
        user_js.writelines(f"user_pref({json.dumps(k)}, {json.dumps(v)});\n" for k, v in PREFS.items())
    browser = subprocess.Popen(
        ["/usr/bin/firefox-esr", "--headless", "--remote-debugging-port=0", "--no-remote", "--profile", profile,
         "about:blank"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
        env=dict(os.environ, MOZ_REMOTE_SETTINGS_DEVTOOLS="1"), start_new_session=True)
    try:
        port = None
        for line in browser.stderr:
            found = re.search(rb"WebDriver BiDi listening on ws://[^:]+:(\d+)", line)
            if found:
                port = int(found.group(1))
                break
        socket = websocket.create_connection(f"ws://127.0.0.1:{port}/session", suppress_origin=True)
        ids = iter(range(1, 1 << 30))

        def send(method, params):
            command = next(ids)
            socket.send(json.dumps({"id": command, "method": method, "params": params}))
            while True:
                message = json.loads(socket.recv())
                if message.get("id") == command:
                    return message
                if message.get("method") == "browsingContext.load":
                    loaded.append(message)

        loaded = []
        send("session.new", {"capabilities": {"alwaysMatch": {"unhandledPromptBehavior": {"default": "ignore"}}}})
        context = send("browsingContext.getTree", {"maxDepth": 0})["result"]["contexts"][0]["context"]
        send("browsingContext.navigate", {"context": context, "url": url, "wait": "complete"})
        launch = (time.monotonic() - start) * 1000
        trips = time.monotonic()
        for _ in range(round_trips):
            send("script.evaluate", {"expression": "1+1", "target": {"context": context}, "awaitPromise": False})
        round_trip = (time.monotonic() - trips) * 1000 / round_trips

        def evaluate(expression):
            return send("script.evaluate", {"expression": expression, "target": {"context": context},
                                            "awaitPromise": False})

        def click_loading():
            del loaded[:]
            evaluate("document.links[0].click()")
            while not any(event["params"]["context"] == context for event in loaded):
                message = json.loads(socket.recv())
                if message.get("method") == "browsingContext.load":
                    loaded.append(message)

        send("session.subscribe", {"events": ["browsingContext.load"]})
        send("browsingContext.navigate", {"context": context, "url": url + "a", "wait": "complete"})
        clicks = timed(click_loading, CLICKS)
        send("browsingContext.navigate", {"context": context, "url": url + "links", "wait": "complete"})
        counts = timed(lambda: evaluate("Array.from(document.links, a => a.innerText)"), COUNTS)
        send("browser.close", {})
        browser.wait(10)
        return {"launch_ms": launch, "round_trip_ms": round_trip, "click_ms": clicks, "count_ms": counts}
    finally:
        if browser.poll() is None:
            os.killpg(browser.pid, 9)
            browser.wait()
        shutil.rmtree(folder, ignore_errors=True)


def timed(work, times):
    """The median time of `work` in milliseconds."""
    spans = []
    for _ in range(times):
        started = time.monotonic()
        work()
        spans.append((time.monotonic() - started) * 1000)
    return statistics.median(spans)


def library_client(url):
    """ClickLink between two pages and LinkExists over 10,000 links, through the Python module."""
    os.environ["VARNE_BROWSER"] = "firefox"
    import varne

    browser = varne.CreateObject("Varne.Browser")
    try:
        browser.GotoURL(url + "a")
        clicks = timed(lambda: browser.ClickLink(browser.GetBrowser().Document, "Onwards"), CLICKS)
        browser.GotoURL(url + "links")
        document = browser.GetBrowser().Document
        last = "Link %d" % (LINK_COUNT - 1)
        assert browser.LinkExists(document, last) == 1
        counts = timed(lambda: browser.LinkExists(document, last), COUNTS)
        return {"click_ms": clicks, "count_ms": counts}
    finally:
        del browser


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--firefox-bench", required=True)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--round-trips", type=int, default=1000)
    options = parser.parse_args()
    # The bare Firefox runs in a session of its own, beyond a terminal's signals: a run ended from
    # outside leaves through the `finally` that ends it.
    for ending in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(ending, lambda number, _: sys.exit(128 + number))
    server = socketserver.ThreadingTCPServer(("127.0.0.1", 0), Page)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    url = f"http://127.0.0.1:{server.server_address[1]}/"
    ours, bare = [], []
    for _ in range(options.runs):
        run = subprocess.run([options.firefox_bench, "--page", url, "--round-trips", str(options.round_trips)],
                             capture_output=True, text=True, check=True)
        ours.append(dict(json.loads(run.stdout), **library_client(url)))
        bare.append(bare_client(url, options.round_trips))
    print("load average %.2f %.2f %.2f" % os.getloadavg())
    for figure in ("launch_ms", "round_trip_ms", "click_ms", "count_ms"):
        mine = statistics.median(r[figure] for r in ours)
        base = statistics.median(r[figure] for r in bare)
        print(f"{figure:14} varne {mine:9.2f}  bare BiDi {base:9.2f}  ratio {mine / base:5.2f}"
              f"  (varne runs {[round(r[figure], 2) for r in ours]}, bare {[round(r[figure], 2) for r in bare]})")
    server.shutdown()


if __name__ == "__main__":
    main()
