"""The Varne demo journey: a test script that shops in the bundled demo web application.

    PYTHONPATH=build/python python3 examples/demo_journey.py [--output DIR] [--settings FILE]

It reads its settings with Config from demo_journey.cfg beside it, starts the demo shop on
127.0.0.1 (unless BASE_URL names another), drives a Browser through the shop step by step,
times every step with Timing, prints a table of the steps and leaves in the output folder
the browser's log, the settings it ran with and a workbook of the steps (written with
ExcelConn). It exits with status 1, naming the step, when a check fails.
"""
import argparse
import contextlib
import os
import sys
import time

import varne
from demo_server import DemoServer

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_OUTPUT = "varne-demo-output"
LOG_FILE = "demo_journey.log"
SETTINGS_FILE = "demo_journey_settings.cfg"
WORKBOOK_FILE = "demo_journey.xls"
SHELF_FRAME = 1  # the catalogue's middle frame, where products are shown
STEP_COLUMNS = ("Step", "Result", "Started", "Lapsed", "Milliseconds")
TIME_FORMAT = "hh:mm:ss"
DATE_TIME_FORMAT = "yyyy-mm-dd hh:mm:ss"
MILLISECONDS_FORMAT = "#,##0"


class StepFailed(Exception):
    """A check of the journey did not hold; the message says what was expected."""


def check(condition, expected):
    if not condition:
        raise StepFailed("expected " + expected)


class Shop:
    """The browser on the demo shop, and the account that the journey logs in with."""

    def __init__(self, browser, base, user, password):
        self.browser = browser
        self.base = base
        self.user = user
        self.password = password

    def url(self, page):
        return self.base + "/" + page

    def page(self):
        """The document that the window shows now. Take it afresh after every load:
        a document of a page that has gone raises an error when used."""
        return self.browser.GetBrowser().Document

    def shelf(self):
        """The document in the catalogue's shelf frame."""
        return self.page().frames.item(SHELF_FRAME).document

    def form(self, document, name):
        position = self.browser.FormExists(document, name)
        check(position >= 0, f"a form named '{name}'")
        return document.forms.item(position)


# The steps, in the order they run. Each takes the Shop and raises StepFailed when a check fails.

def open_home_page(shop):
    shop.browser.GotoURL(shop.url("index.html"))  # returns once the page has loaded
    shop.form(shop.page(), "login")


def log_in(shop):
    form = shop.form(shop.page(), "login")
    # The form's fields are the page's own DOM objects: set them as a person would type.
    form.elements.item("user").value = shop.user
    form.elements.item("password").value = shop.password
    check(shop.browser.ClickFormButton(form, "Log in") == 0, "a 'Log in' button")


def check_greeting(shop):
    greeting = "Welcome, " + shop.user
    page = shop.page()
    check(shop.browser.MatchInnerText(page, greeting, "H1") == 0,
          f"the heading '{greeting}' (the page is '{page.title}')")


def open_catalogue(shop):
    # GotoURL waits for every frame, nested ones too, so it comes back only after the
    # deliberately slow offers frame (about a second).
    shop.browser.GotoURL(shop.url("catalogue.html"))
    frames = shop.page().frames
    check(frames.length == 3, "a frameset of three frames")
    offers = frames.item(2).document.frames.item(1).document
    check(shop.browser.MatchInnerText(offers, "Offer of the day", "P", varne.brwLeftMatch) == 0,
          "the slow offers frame to have loaded")


def load_product_list(shop):
    check(shop.browser.FrameGotoURL(SHELF_FRAME, shop.url("products.html")) == 0, "a shelf frame")
    check(shop.shelf().title == "Products", "the product list in the shelf frame")


def count_text_links(shop):
    # Two links read "Kettle": today's pick and the one in the list.
    count = shop.browser.LinkExists(shop.shelf(), "Kettle")
    check(count == 2, f"2 links reading 'Kettle', found {count}")


def count_image_links(shop):
    shelf = shop.shelf()
    by_alt = shop.browser.LinkExists(shelf, "Teapot", varne.brwImgAlt)
    by_file = shop.browser.ImageExists(shelf, "teapot.svg", varne.brwImgSrc)
    check(by_alt == 1, f"1 link made of the image 'Teapot', found {by_alt}")
    check(by_file == 1, f"1 image teapot.svg, found {by_file}")


def open_product_by_text(shop):
    # Occurrence 1 picks the second link reading "Kettle", the one in the list.
    check(shop.browser.ClickLink(shop.shelf(), "Kettle", varne.brwInnerText, 1) == 0, "a second 'Kettle' link")
    check(shop.browser.MatchInnerText(shop.shelf(), "Kettle", "H1") == 0, "the Kettle's page")


def open_product_by_image(shop):
    check(shop.browser.ClickLink(shop.shelf(), "Back to products") == 0, "a 'Back to products' link")
    check(shop.browser.ClickLink(shop.shelf(), "Teapot", varne.brwImgAlt) == 0, "a link made of the image 'Teapot'")
    check(shop.browser.MatchInnerText(shop.shelf(), "Teapot", "H1") == 0, "the Teapot's page")


def check_out(shop):
    form = shop.form(shop.shelf(), "buy")
    form.elements.item("quantity").value = "2"
    # The form targets the top window: the checkout replaces the whole catalogue.
    check(shop.browser.ClickFormButton(form, "Check out") == 0, "a 'Check out' button")
    check(shop.browser.MatchInnerText(shop.page(), "Checkout", "H1") == 0, "the checkout page")


def place_order(shop):
    form = shop.form(shop.page(), "order")
    # The form asks a JavaScript confirm before it is sent: the click comes back with the
    # dialog open, PopupClickOk answers it, and only then does the order page start to
    # load, so it is waited for with WaitForBrowser.
    check(shop.browser.ClickFormButton(form, "Place order") == 0, "a 'Place order' button")
    check(shop.browser.PopupClickOk() == 0, "a confirm dialog to answer")
    check(shop.browser.WaitForBrowser() == 0, "the order page to load")


def check_confirmation(shop):
    page = shop.page()
    check(shop.browser.MatchInnerText(page, "Order confirmed", "H1") == 0,
          f"the order confirmation (the page is '{page.title}')")
    # The shop lists what it received; each field can be read back by its id.
    submitted = (page.getElementById("product").innerText, page.getElementById("quantity").innerText)
    check(submitted == ("Teapot", "2"), f"an order of 2 Teapot, the shop received {submitted}")


STEPS = [
    ("Open home page", open_home_page),
    ("Log in", log_in),
    ("Check greeting", check_greeting),
    ("Open catalogue", open_catalogue),
    ("Load product list", load_product_list),
    ("Count text links", count_text_links),
    ("Count image links", count_image_links),
    ("Open product by text", open_product_by_text),
    ("Open product by image", open_product_by_image),
    ("Check out", check_out),
    ("Place order", place_order),
    ("Check confirmation", check_confirmation),
]


class StepResult:
    """One step as it ran: PASS or FAIL, when it started (an automation date, to the whole
    second), its lapsed time as Timing counts it (whole seconds and the lapsed text) and its
    duration in milliseconds, measured around it with the monotonic clock."""

    def __init__(self, name, result, timing, milliseconds):
        self.name = name
        self.result = result
        self.started = timing.GetStartTime(name)
        self.seconds = timing.GetLapsed(name)
        self.lapsed = timing.LapsedString(name)
        self.milliseconds = milliseconds


def run_steps(shop, timing):
    """Runs the steps in order, each timed under its own name, and stops at the first that
    fails: the later ones build on it. Returns the StepResults and the failure's text, None
    when every step passed."""
    results = []
    for number, (name, step) in enumerate(STEPS, 1):
        print(f"[{number:2}/{len(STEPS)}] {name:<24} ", end="", flush=True)
        failure = None
        timing.StartTiming(name)
        started = time.monotonic_ns()
        try:
            step(shop)
        except (StepFailed, varne.AutomationError) as error:
            failure = str(error)
        milliseconds = (time.monotonic_ns() - started) // 1_000_000
        timing.EndTiming(name)
        results.append(StepResult(name, "FAIL" if failure else "PASS", timing, milliseconds))
        print(results[-1].result, flush=True)
        if failure:
            return results, f"step '{name}' failed: {failure}"
    return results, None


def print_table(results, total_seconds):
    print()
    print(f"{'Step':<24} Result  Seconds  Milliseconds")
    for step in results:
        print(f"{step.name:<24} {step.result:<6}  {step.seconds:>7}  {step.milliseconds:>12}")
    passed = sum(step.result == "PASS" for step in results)
    print(f"{len(results)} of {len(STEPS)} steps run, {passed} passed, {total_seconds} s in all")


def write_workbook(path, results, journey, timing):
    """Writes the summary and the steps into a workbook through the spreadsheet's object
    model, with formats for times and durations and columns as wide as their texts, and
    saves it as an .xls that opens on the summary."""
    excel = varne.CreateObject("Varne.ExcelConn")
    xl = excel.GetXL()
    # A new workbook has three sheets: the first becomes the summary, the second the steps.
    summary, steps = xl.Sheets.Item(1), xl.Sheets.Item(2)
    summary.Name, steps.Name = "Summary", "Steps"
    xl.Sheets.Item(3).Delete()

    passed = sum(step.result == "PASS" for step in results)
    totals = [("Steps", len(STEPS), None), ("Run", len(results), None), ("Passed", passed, None),
              ("Failed", len(results) - passed, None), ("Started", timing.GetStartTime(journey), DATE_TIME_FORMAT),
              ("Seconds", timing.GetLapsed(journey), None), ("Lapsed", timing.LapsedString(journey), None),
              ("Result", "PASS" if passed == len(STEPS) else "FAIL", None)]
    for row, (label, value, number_format) in enumerate(totals, 1):
        summary.Cells(row, 1).Value = label
        summary.Cells(row, 2).Value = value
        if number_format:
            summary.Cells(row, 2).NumberFormat = number_format

    for column, title in enumerate(STEP_COLUMNS, 1):
        steps.Cells(1, column).Value = title
    for row, step in enumerate(results, 2):
        for column, value in enumerate((step.name, step.result, step.started, step.lapsed, step.milliseconds), 1):
            steps.Cells(row, column).Value = value
    last = len(results) + 1
    steps.Range(f"C2:C{last}").NumberFormat = TIME_FORMAT
    steps.Range(f"E2:E{last}").NumberFormat = MILLISECONDS_FORMAT
    for sheet in (summary, steps):
        sheet.Columns.AutoFit()
    excel.SaveWorkbook(path, "Summary")


def read_settings(path, output):
    """Loads the settings file; an --output on the command line wins over its OUTPUT."""
    settings = varne.CreateObject("Varne.Config")
    if settings.Load(path) != 0:
        sys.exit(f"demo_journey: cannot read the settings file {path}")
    if output:
        settings.SetItem("OUTPUT", output)
    if not settings.GetItem("OUTPUT"):
        settings.SetItem("OUTPUT", DEFAULT_OUTPUT)
    return settings


@contextlib.contextmanager
def demo_shop(base_url):
    """The shop's address: BASE_URL when the settings name one, else the bundled demo shop,
    served for as long as the journey runs."""
    if base_url:
        yield base_url.rstrip("/")
        return
    with DemoServer() as server:
        yield server.base


def main():
    parser = argparse.ArgumentParser(description="Walks through the Varne demo shop and reports on every step.")
    parser.add_argument("--output", help=f"folder for the log, settings and workbook (default {DEFAULT_OUTPUT})")
    parser.add_argument("--settings", default=os.path.join(HERE, "demo_journey.cfg"), help="settings file to read")
    arguments = parser.parse_args()

    settings = read_settings(arguments.settings, arguments.output)
    output = settings.GetItem("OUTPUT")
    os.makedirs(output, exist_ok=True)

    timing = varne.CreateObject("Varne.Timing")
    with demo_shop(settings.GetItem("BASE_URL")) as base:
        print("Demo shop at", base)
        browser = varne.CreateObject("Varne.Browser")
        browser.SetBrowserLog(os.path.join(output, LOG_FILE))
        shop = Shop(browser, base, settings.GetItem("USER"), settings.GetItem("PASSWORD"))
        timing.StartTiming("Journey")
        results, failure = run_steps(shop, timing)
        timing.EndTiming("Journey")
        browser.CloseBrowserLog()

    print_table(results, timing.GetLapsed("Journey"))
    write_workbook(os.path.join(output, WORKBOOK_FILE), results, "Journey", timing)
    settings.Save(os.path.join(output, SETTINGS_FILE))
    print("Log, settings and workbook are in", os.path.abspath(output))
    if failure:
        print("demo_journey:", failure, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
