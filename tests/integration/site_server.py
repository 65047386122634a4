"""A small web server on 127.0.0.1 for the tests: static pages from a folder, plus
/slow (answers after ?delay= milliseconds), /echo (shows what was submitted) and
/links (a page of ?count= links), /large (a page of ?mb= megabytes of text), /redirect (a 302 to
?to=) and /slow_image (a GIF that comes after ?delay= milliseconds)."""
import html
import http.server
import os
import sys
import time
import urllib.parse

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples"))
from local_server import LocalServer, send_page  # noqa: E402


class _Handler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def _send(self, body):
        send_page(self, body)

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(url.query)
        if url.path == "/slow":
            time.sleep(int(query.get("delay", ["1000"])[0]) / 1000)
            title = html.escape(query.get("title", ["Slow"])[0])
            return self._send(f"<html><head><title>{title}</title></head><body><p>{title}</p></body></html>")
        if url.path == "/slow_image":
            time.sleep(int(query.get("delay", ["1000"])[0]) / 1000)
            gif = b"GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00\xff\xff\xff!\xf9\x04\x01\x00\x00\x00\x00,\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02D\x01\x00;"
            self.send_response(200)
            self.send_header("Content-Type", "image/gif")
            self.send_header("Content-Length", str(len(gif)))
            self.send_header("Cache-Control", "no-store")
            self.end_headers()
            self.wfile.write(gif)
            return None
        if url.path == "/echo":
            items = "".join(f"<li id='{html.escape(k)}'>{html.escape(v[0])}</li>" for k, v in sorted(query.items()))
            return self._send(f"<html><head><title>Echo</title></head><body><h1>Submitted</h1><ul>{items}</ul></body></html>")
        if url.path == "/links":
            count = int(query.get("count", ["10"])[0])
            links = "\n".join(f"<a href='#l{i}'>Link {i}</a>" for i in range(count))
            return self._send(f"<html><head><title>Links</title></head><body>{links}</body></html>")
        if url.path == "/large":
            text = "x" * (int(query.get("mb", ["1"])[0]) << 20)
            return self._send(f"<html><head><title>Large</title></head><body><p id='text'>{text}</p></body></html>")
        if url.path == "/redirect":
            self.send_response(302)
            self.send_header("Location", query.get("to", ["/index.html"])[0])
            self.send_header("Content-Length", "0")
            self.end_headers()
            return None
        if url.path == "/nocontent":
            self.send_response(204)
            self.end_headers()
            return None
        return super().do_GET()

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        self.path = "/echo?" + self.rfile.read(length).decode("utf-8")
        return self.do_GET()


class SiteServer(LocalServer):
    """Serves a folder on 127.0.0.1 at a free port, in a thread of its own."""

    def __init__(self, folder):
        super().__init__(lambda *args, **kwargs: _Handler(*args, directory=folder, **kwargs))


SITE = os.path.join(os.path.dirname(__file__), "site")
