"""Serves the benchmark pages on 127.0.0.1, runs the C++ benchmark against them, measures a Python
client of the module (its peak memory, and members timed as a script calls them) and prints one
table of every figure with its baseline, their ratio, the target and whether the figure meets it.

    python_client_bench.py [--browser-bench PATH] [--detail]

The module is imported from PYTHONPATH, else from build/python at the top of the tree.
Exits with 0 unless a measuring program failed."""
# Only what the measured client needs is imported here: the rest would count in its memory.
import json
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))

PYTHON = "/usr/bin/python3"
MEMORY_TARGET_MB = 30
PAGE_RUNS = 15
CREATE_RUNS = 7
# Between one browser's close and the next start, as in the C++ benchmark.
SETTLE_AFTER_CLOSE = 0.5

def peak_memory_mb(status):
    """VmHWM, the process's peak resident memory, from the text of /proc/<pid>/status."""
    for line in status.splitlines():
        if line.startswith("VmHWM:"):
            return int(line.split()[1]) / 1024
    raise RuntimeError("no VmHWM in /proc/self/status")


def own_peak_memory_mb():
    with open("/proc/self/status") as status:
        return peak_memory_mb(status.read())


def timed(work):
    started = time.perf_counter()
    work()
    return (time.perf_counter() - started) * 1000


def bare_client():
    """The baseline of the client's memory: this script in a process of its own, up to where the
    client imports the module."""
    print(json.dumps({"memory_mb": own_peak_memory_mb()}))


def client(base, link_count):
    """The measured client, run in a process of its own: its peak memory after a script's first
    steps, then members timed as a script calls them. Prints its figures as JSON."""
    import varne

    figures = {"memory_import_mb": own_peak_memory_mb()}
    started = time.perf_counter()
    browser = varne.CreateObject("Varne.Browser")  # ready to navigate once created
    figures["create_ms"] = [(time.perf_counter() - started) * 1000]
    browser.GotoURL(base + "/small_a.html")
    figures["memory_mb"] = own_peak_memory_mb()

    pages = [base + "/small_b.html", base + "/small_a.html"]
    figures["goto_ms"] = [timed(lambda: browser.GotoURL(pages[run % 2])) for run in range(PAGE_RUNS)]

    browser.GotoURL(f"{base}/links?count={link_count}")
    document = browser.GetBrowser().Document
    last = f"Link {link_count - 1}"
    if browser.LinkExists(document, last) != 1:
        raise RuntimeError("LinkExists did not find the last link")
    figures["link_exists_ms"] = [timed(lambda: browser.LinkExists(document, last)) for _ in range(PAGE_RUNS)]
    figures["memory_after_links_mb"] = own_peak_memory_mb()
    del document
    del browser

    for _ in range(CREATE_RUNS - 1):
        time.sleep(SETTLE_AFTER_CLOSE)
        started = time.perf_counter()
        browser = varne.CreateObject("Varne.Browser")
        figures["create_ms"].append((time.perf_counter() - started) * 1000)
        del browser
    print(json.dumps(figures))


def run_child(args, env):
    import subprocess

    done = subprocess.run(args, env=env, stdout=subprocess.PIPE, text=True, check=False)
    if done.returncode != 0:
        raise RuntimeError(f"{' '.join(args[:3])} ... ended with status {done.returncode}")
    return done.stdout


def row(name, figure, baseline=None, unit="ms", kind="report", limit=0.0):
    return {"name": name, "figure": figure, "baseline": baseline, "unit": unit, "kind": kind, "limit": limit}


def rows_of_browser_bench(text):
    rows = []
    for line in text.splitlines():
        name, figure, baseline, unit, kind, limit = line.split("\t")
        rows.append(row(name, float(figure), float(baseline) if baseline else None, unit, kind, float(limit)))
    return rows


def python_rows(figures, bare_mb, cpp_rows):
    """The client's figures; each timing is set against the same member called from C++."""
    import statistics

    cpp = {r["name"]: r["figure"] for r in cpp_rows}
    return [
        row("Python client peak memory (base: client before import)", figures["memory_mb"], bare_mb, "MB", "below",
            MEMORY_TARGET_MB),
        row("  of which: interpreter + import varne", figures["memory_import_mb"], bare_mb, "MB"),
        row("  same, after LinkExists on 10,000 links", figures["memory_after_links_mb"], bare_mb, "MB"),
        row("Python: Browser create + first page ready (base: C++)", statistics.median(figures["create_ms"]),
            cpp.get("Browser create + first page ready")),
        row("Python: GotoURL small page (base: C++)", statistics.median(figures["goto_ms"]),
            cpp.get("GotoURL small page (base: Page.navigate + load event)")),
        row("Python: LinkExists, 10,000 links (base: C++)", statistics.median(figures["link_exists_ms"]),
            cpp.get("LinkExists, 10,000 links")),
    ]


def number(value, unit):
    return f"{value:.3f} {unit}" if value < 10 else f"{value:.1f} {unit}"


def columns(r):
    baseline = r["baseline"]
    ratio = f"{r['figure'] / baseline:.2f}x" if baseline else "-"
    target, verdict = "report", "-"
    if r["kind"] == "ratio":
        target = f"<= {r['limit']:.1f}x"
        verdict = "PASS" if baseline and r["figure"] <= r["limit"] * baseline else "FAIL"
    elif r["kind"] == "below":
        target = "< " + number(r["limit"], r["unit"])
        verdict = "PASS" if r["figure"] < r["limit"] else "FAIL"
    return [r["name"], number(r["figure"], r["unit"]), number(baseline, r["unit"]) if baseline else "-", ratio,
            target, verdict]


def print_table(rows):
    lines = [["figure", "value", "baseline", "ratio", "target", "result"]] + [columns(r) for r in rows]
    widths = [max(len(line[column]) for line in lines) for column in range(len(lines[0]))]
    for line in lines:
        print(line[0].ljust(widths[0]) + "".join("  " + cell.rjust(width) for cell, width in zip(line[1:], widths[1:])))


def default_module_dir():
    return os.path.join(HERE, "..", "build", "python")


def main():
    import argparse

    sys.path.insert(0, HERE)
    from bench_site import LINK_COUNT, BenchSite

    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--browser-bench", help="the C++ benchmark to run against the same pages")
    parser.add_argument("--detail", action="store_true", help="let the C++ benchmark split a start into its parts")
    args = parser.parse_args()

    env = dict(os.environ)
    env.pop("DISPLAY", None)  # headless, as in the C++ benchmark
    if not env.get("PYTHONPATH"):
        env["PYTHONPATH"] = os.path.abspath(default_module_dir())

    rows = []
    failed = False
    with BenchSite() as site:
        if args.browser_bench:
            print("python_client_bench: running " + args.browser_bench, file=sys.stderr)
            command = [args.browser_bench, "--site", site.base, "--tsv"] + (["--detail"] if args.detail else [])
            try:
                rows = rows_of_browser_bench(run_child(command, env))
            except RuntimeError as error:
                print("python_client_bench: " + str(error), file=sys.stderr)
                failed = True
        print("python_client_bench: measuring the Python client", file=sys.stderr)
        try:
            bare_mb = json.loads(run_child([PYTHON, os.path.abspath(__file__), "--bare-client"], env))["memory_mb"]
            command = [PYTHON, os.path.abspath(__file__), "--client", site.base, str(LINK_COUNT)]
            figures = json.loads(run_child(command, env))
            rows += python_rows(figures, bare_mb, rows)
        except RuntimeError as error:
            print("python_client_bench: " + str(error), file=sys.stderr)
            failed = True
    print_table(rows)
    return 1 if failed else 0


if __name__ == "__main__":
    if sys.argv[1:2] == ["--client"]:
        sys.exit(client(sys.argv[2], int(sys.argv[3])))
    if sys.argv[1:2] == ["--bare-client"]:
        sys.exit(bare_client())
    sys.exit(main())
