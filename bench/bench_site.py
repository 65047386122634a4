"""The pages the benchmarks load, served on 127.0.0.1 by the integration tests' own server.

The server answers /links?count=N itself; the other pages are written into a temporary
folder that it serves as static files."""
import os
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "integration"))

from site_server import SiteServer  # noqa: E402

LINK_COUNT = 10000

# A 1x1 transparent GIF: every image of the image page shares it, so the page needs one request.
_PIXEL = bytes.fromhex("47494638396101000100800000000000ffffff21f90401000000002c00000000010001000002024401003b")


def _page(title, body):
    return f"<html><head><title>{title}</title></head><body>{body}</body></html>"


def _pages():
    images = "\n".join(
        f"<a href='#i{i}'><img alt='Image {i}' src='pixel.gif' width='1' height='1'></a>" for i in range(LINK_COUNT)
    )
    return {
        "small_a.html": _page("Small A", "<h1>Small A</h1><p>A small page.</p><a href='small_b.html'>Next</a>"),
        "small_b.html": _page("Small B", "<h1>Small B</h1><p>Another small page.</p><a href='small_a.html'>Back</a>"),
        "images.html": _page("Images", images),
        "confirm.html": _page(
            "Confirm",
            "<p id='out'>none</p><a href='#' onclick=\"document.getElementById('out').innerText ="
            " String(confirm('Sure?')); return false;\">Ask</a>",
        ),
    }


class BenchSite:
    """SiteServer over a temporary folder of the benchmark pages; use as a context manager."""

    def __init__(self):
        self._folder = tempfile.TemporaryDirectory(prefix="varne-bench-site-")
        for name, text in _pages().items():
            with open(os.path.join(self._folder.name, name), "w", encoding="utf-8") as page:
                page.write(text)
        with open(os.path.join(self._folder.name, "pixel.gif"), "wb") as pixel:
            pixel.write(_PIXEL)
        self._server = SiteServer(self._folder.name)

    @property
    def base(self):
        return self._server.base

    def url(self, path):
        return self._server.url(path)

    def __enter__(self):
        self._server.__enter__()
        return self

    def __exit__(self, *exc):
        self._server.__exit__(*exc)
        self._folder.cleanup()
