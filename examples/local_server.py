"""Serving on 127.0.0.1 at a free port, shared by the demo shop and the test sites."""
import http.server
import threading


def send_page(handler, body, content_type="text/html; charset=utf-8", status=200, headers=()):
    """Answers with body, never cached, so that every visit sees what the server says now."""
    data = body.encode("utf-8")
    handler.send_response(status)
    handler.send_header("Content-Type", content_type)
    handler.send_header("Content-Length", str(len(data)))
    handler.send_header("Cache-Control", "no-store")
    for name, value in headers:
        handler.send_header(name, value)
    handler.end_headers()
    handler.wfile.write(data)


class LocalServer:
    """Answers with handler on 127.0.0.1 at a free port, from threads of its own."""

    def __init__(self, handler):
        self._server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        self._server.daemon_threads = True
        self._thread = threading.Thread(target=self._server.serve_forever, daemon=True)

    @property
    def base(self):
        return f"http://127.0.0.1:{self._server.server_address[1]}"

    def url(self, path):
        return self.base + "/" + path.lstrip("/")

    def __enter__(self):
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._server.shutdown()
        self._server.server_close()
