import functools
import http.server
import os
import pathlib
import sys
import threading

import pytest

# The module is built into build/python; the README's commands set PYTHONPATH to it.
_built = os.path.join(os.path.dirname(__file__), "..", "..", "build", "python")
if os.path.isdir(_built) and _built not in sys.path:
    sys.path.insert(0, os.path.abspath(_built))

SAMPLE_SITE = pathlib.Path(__file__).resolve().parents[2] / "examples" / "sample_site"


class _QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


@pytest.fixture(scope="module")
def sample_site():
    """The address of examples/sample_site, served on 127.0.0.1 for the module's tests."""
    handler = functools.partial(_QuietHandler, directory=str(SAMPLE_SITE))
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    yield f"http://127.0.0.1:{server.server_address[1]}"
    server.shutdown()
    server.server_close()
