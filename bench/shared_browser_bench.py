#!/usr/bin/python3
"""Times Browser objects of one process that share a running browser, on each engine: the first
Browser (the browser's start) against the second to tenth, created and ready to navigate while the
others live; a Browser created right after the last one was released (the browser waits a moment
for it); and the browsers' memory (the sum of their processes' PSS) with ten Browsers alive against
ten separate starts (ten times one). Prints one row per figure.

    PYTHONPATH=build/python bench/shared_browser_bench.py [--engine chromium|firefox] [--count 10]
"""
import argparse
import gc
import os
import socketserver
import statistics
import sys
import threading
import time

import varne
from firefox_bench import Page

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "integration"))
from processes import descendants  # noqa: E402


def pss_mb(pids):
    total = 0
    for pid in pids:
        try:
            with open(f"/proc/{pid}/smaps_rollup") as rollup:
                for line in rollup:
                    if line.startswith("Pss:"):
                        total += int(line.split()[1])
        except OSError:
            pass
    return total / 1024


def ready(url):
    start = time.monotonic()
    browser = varne.CreateObject("Varne.Browser")
    browser.GotoURL(url)
    return browser, (time.monotonic() - start) * 1000


def settle_idle():
    """Waits until no browser of this process runs, so that the next Browser starts one."""
    deadline = time.monotonic() + 30
    while descendants(os.getpid()) and time.monotonic() < deadline:
        time.sleep(0.1)


def run(engine, url, count):
    os.environ["VARNE_BROWSER"] = engine
    settle_idle()
    browsers, times = [], []
    for _ in range(count):
        browser, ms = ready(url)
        browsers.append(browser)
        times.append(ms)
    time.sleep(2)  # renderers settle before memory is read
    shared = pss_mb(descendants(os.getpid()))
    del browsers
    gc.collect()
    _, after_release = ready(url)
    gc.collect()
    settle_idle()
    alone, first_again = ready(url)
    time.sleep(2)
    one = pss_mb(descendants(os.getpid()))
    del alone
    gc.collect()
    settle_idle()
    later = statistics.median(times[1:])
    rows = [
        ("first Browser, start to a loaded page", times[0], "ms"),
        ("first Browser again (fresh start)", first_again, "ms"),
        (f"Browsers 2-{count}, median", later, "ms"),
        ("later / first", later / times[0], "x"),
        ("Browser right after the last was released", after_release, "ms"),
        (f"memory, {count} Browsers sharing one browser", shared, "MB"),
        (f"memory, {count} separate starts ({count} x one)", one * count, "MB"),
        ("shared / separate", shared / (one * count), "x"),
    ]
    for name, value, unit in rows:
        print(f"{engine:9} {name:48} {value:10.2f} {unit}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--engine", choices=["chromium", "firefox"], action="append")
    parser.add_argument("--count", type=int, default=10)
    args = parser.parse_args()
    os.environ.setdefault("VARNE_HEADLESS", "1")
    server = socketserver.ThreadingTCPServer(("127.0.0.1", 0), Page)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    url = f"http://127.0.0.1:{server.server_address[1]}/"
    for engine in args.engine or ["chromium", "firefox"]:
        run(engine, url, args.count)
    server.shutdown()


if __name__ == "__main__":
    main()
