#!/usr/bin/python3
"""Times the Firefox engine (firefox_bench) against a bare WebDriver BiDi client of the same
Firefox, run alternately: launch to a usable page (a page served here on 127.0.0.1) and a round
trip of script.evaluate('1+1'). Prints the medians and their ratios.

    firefox_bench.py --firefox-bench build/bench/firefox_bench [--runs 3]
"""
import argparse, http.server, json, os, re, shutil, socketserver, statistics, subprocess, tempfile, threading, time

import websocket

PREFS = {"remote.retry-on-abort": False, "dom.require_user_interaction_for_beforeunload": False,
         "media.gmp-provider.enabled": False, "media.gmp-manager.url": "",
         "media.gmp-manager.chromium-update-url": "", "media.gmp-widevinecdm.allow-chromium-update": False}


class Page(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_GET(self):
        body = b"<html><head><title>bench</title></head><body><a href='/'>link</a></body></html>"
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
        send("browser.close", {})
        browser.wait(10)
        return {"launch_ms": launch, "round_trip_ms": round_trip}
    finally:
        if browser.poll() is None:
            os.killpg(browser.pid, 9)
            browser.wait()
        shutil.rmtree(folder, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--firefox-bench", required=True)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--round-trips", type=int, default=1000)
    options = parser.parse_args()
    server = socketserver.ThreadingTCPServer(("127.0.0.1", 0), Page)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    url = f"http://127.0.0.1:{server.server_address[1]}/"
    ours, bare = [], []
    for _ in range(options.runs):
        run = subprocess.run([options.firefox_bench, "--page", url, "--round-trips", str(options.round_trips)],
                             capture_output=True, text=True, check=True)
        ours.append(json.loads(run.stdout))
        bare.append(bare_client(url, options.round_trips))
    for figure in ("launch_ms", "round_trip_ms"):
        mine = statistics.median(r[figure] for r in ours)
        base = statistics.median(r[figure] for r in bare)
        print(f"{figure:14} varne {mine:9.2f}  bare BiDi {base:9.2f}  ratio {mine / base:5.2f}"
              f"  (varne runs {[round(r[figure], 2) for r in ours]}, bare {[round(r[figure], 2) for r in bare]})")
    server.shutdown()


if __name__ == "__main__":
    main()
