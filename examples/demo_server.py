"""The demo shop that the journey walks through, served on 127.0.0.1 at a free port.

Static pages come from demo_site/; a few addresses are answered by the server itself:
  POST /login     checks the user name and password, greets the user or says why not
  GET  /product   the page of one product (?id=lamp|kettle|teapot)
  GET  /checkout  what is about to be ordered (?id=..&quantity=..)
  POST /order     the order confirmation, listing what was submitted
  offers.html     is sent after a delay, so that a page with it in a frame loads slowly

Run on its own, it prints its address and serves until its standard input is closed
(Ctrl-D in a terminal); the C++ journey starts it that way.
"""
import html
import http.server
import os
import string
import sys
import time
import urllib.parse

from local_server import LocalServer, send_page

SITE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "demo_site")

ACCOUNTS = {"alice": "wonderland"}
PRODUCTS = {
    "lamp": ("Lamp", 12.50, "A reading lamp with a warm light."),
    "kettle": ("Kettle", 24.00, "Boils a litre in two minutes."),
    "teapot": ("Teapot", 18.00, "Porcelain, for four cups."),
}
SLOW_PAGES = {"/offers.html": 1.0}  # seconds


def _render(template_name, markup=None, **texts):
    """Fills a template of demo_site/templates: texts are escaped, markup goes in as it is."""
    values = {key: html.escape(str(value)) for key, value in texts.items()}
    values.update(markup or {})
    with open(os.path.join(SITE, "templates", template_name), encoding="utf-8") as template:
        return string.Template(template.read()).substitute(values)


class _ShopHandler(http.server.SimpleHTTPRequestHandler):
    def __init__(self, *args, **kwargs):
        super().__init__(*args, directory=SITE, **kwargs)

    def log_message(self, *args):
        pass  # the journey prints its own progress

    def _send_page(self, body, cookie=None):
        send_page(self, body, headers=[("Set-Cookie", cookie)] if cookie else [])

    def _user(self):
        for part in self.headers.get("Cookie", "").split(";"):
            key, _, value = part.strip().partition("=")
            if key == "user":
                return urllib.parse.unquote(value)
        return "guest"

    def _form(self):
        length = int(self.headers.get("Content-Length", "0"))
        fields = urllib.parse.parse_qs(self.rfile.read(length).decode("utf-8"), keep_blank_values=True)
        return {key: values[0] for key, values in fields.items()}

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        query = {key: values[0] for key, values in urllib.parse.parse_qs(url.query).items()}
        if url.path.startswith("/templates/"):
            return self.send_error(404)
        if url.path == "/product":
            return self._product(query.get("id", ""))
        if url.path == "/checkout":
            return self._checkout(query.get("id", ""), query.get("quantity", ""))
        time.sleep(SLOW_PAGES.get(url.path, 0))
        return super().do_GET()

    def do_POST(self):
        path = urllib.parse.urlsplit(self.path).path
        if path == "/login":
            return self._login(self._form())
        if path == "/order":
            return self._order(self._form())
        return self.send_error(404)

    def _login(self, form):
        user, password = form.get("user", ""), form.get("password", "")
        if ACCOUNTS.get(user) != password:
            return self._send_page(_render("login_failed.html", user=user))
        cookie = "user=" + urllib.parse.quote(user) + "; Path=/"
        return self._send_page(_render("welcome.html", user=user), cookie=cookie)

    def _product(self, product_id):
        if product_id not in PRODUCTS:
            return self.send_error(404, "No such product")
        name, price, description = PRODUCTS[product_id]
        return self._send_page(_render("product.html", id=product_id, name=name, price=f"{price:.2f}",
                                       description=description))

    def _checkout(self, product_id, quantity):
        if product_id not in PRODUCTS or not quantity.isdigit() or not 1 <= int(quantity) <= 99:
            return self.send_error(400, "Choose a product and a quantity from 1 to 99")
        name, price, _ = PRODUCTS[product_id]
        return self._send_page(_render("checkout.html", user=self._user(), name=name, quantity=int(quantity),
                                       total=f"{price * int(quantity):.2f}"))

    def _order(self, form):
        # Each submitted field becomes a list item whose id is the field's name, so a script
        # can read any of them back with getElementById.
        items = "".join(f"<li>{html.escape(key)}: <span id='{html.escape(key)}'>{html.escape(value)}</span></li>"
                        for key, value in form.items())
        return self._send_page(_render("order.html", {"items": items}, user=self._user()))


class DemoServer(LocalServer):
    """The demo shop on 127.0.0.1 at a free port, answering from threads of its own."""

    def __init__(self):
        super().__init__(_ShopHandler)


def main():
    with DemoServer() as server:
        print(server.base, flush=True)
        sys.stdin.read()


if __name__ == "__main__":
    main()
