"""The demo journeys of examples/, in Python and in C++, run as a newcomer runs them."""
import os
import re
import subprocess

import pytest
import xlrd

import varne

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
EXAMPLES = os.path.join(REPO, "examples")
MODULE_DIR = os.path.dirname(os.path.abspath(varne.__file__))

STEPS = [
    "Open home page", "Log in", "Check greeting", "Open catalogue", "Load product list", "Count text links",
    "Count image links", "Open product by text", "Open product by image", "Check out", "Place order",
    "Check confirmation",
]
TABLE_ROW = re.compile(r"(\S.*?) +(PASS|FAIL) +(\d+) +(\d+)")
STEP_COLUMNS = ("Step", "Result", "Started", "Lapsed", "Milliseconds")


def _cpp_journey():
    # The build that made the module under test first, then the repository's own build.
    for build in (os.path.dirname(MODULE_DIR), os.path.join(REPO, "build")):
        program = os.path.join(build, "examples", "demo_journey")
        if os.access(program, os.X_OK):
            return program
    return None


@pytest.fixture(params=["python", "cpp"])
def journey(request):
    if request.param == "python":
        return ["/usr/bin/python3", os.path.join(EXAMPLES, "demo_journey.py")]
    program = _cpp_journey()
    if program is None:
        pytest.skip("the C++ demo journey is not built")
    return [program]


def _run(command, cwd, *options):
    environment = dict(os.environ, PYTHONPATH=MODULE_DIR)
    return subprocess.run(command + list(options), cwd=cwd, env=environment, capture_output=True, text=True,
                          timeout=120)


def _table(stdout):
    """The rows of the table printed at the end, after its heading."""
    lines = stdout.splitlines()
    start = next(index for index, line in enumerate(lines)
                 if line.split() == ["Step", "Result", "Seconds", "Milliseconds"])
    rows = []
    for line in lines[start + 1:]:
        match = TABLE_ROW.fullmatch(line)
        if not match:
            break
        rows.append((match[1], match[2], int(match[3]), int(match[4])))
    return rows


def _workbook(path):
    book = xlrd.open_workbook(path)
    summary = book.sheet_by_name("Summary")
    totals = {summary.cell_value(row, 0): summary.cell_value(row, 1) for row in range(summary.nrows)}
    steps = book.sheet_by_name("Steps")
    rows = [tuple(steps.row_values(row)) for row in range(steps.nrows)]
    return book.sheet_names(), totals, rows


def _layout(path, sheet_name):
    """Per column of the sheet its width in characters (1/256 units) and the widest text in
    it; per cell that has one, its number format."""
    book = xlrd.open_workbook(path, formatting_info=True)
    sheet = book.sheet_by_name(sheet_name)
    widths = {column: info.width / 256 for column, info in sheet.colinfo_map.items()}
    longest = {}
    formats = {}
    for row in range(sheet.nrows):
        for column in range(sheet.ncols):
            cell = sheet.cell(row, column)
            if cell.ctype == xlrd.XL_CELL_TEXT:
                longest[column] = max(longest.get(column, 0), len(cell.value))
            format_text = book.format_map[book.xf_list[cell.xf_index].format_key].format_str
            if cell.ctype != xlrd.XL_CELL_EMPTY and format_text != "General":
                formats[(row, column)] = format_text
    return widths, longest, formats


def _log_texts(path):
    with open(path, "rb") as log:
        return log.read().decode("utf-8").split("\r\n")


def test_the_journey_passes_every_step_and_leaves_its_outputs(journey, tmp_path):
    finished = _run(journey, tmp_path)  # outputs go to ./varne-demo-output by default
    assert finished.returncode == 0, finished.stderr
    for number, name in enumerate(STEPS, 1):
        assert re.search(r"^\[ ?%d/12\] %s +PASS$" % (number, re.escape(name)), finished.stdout, re.M)
    table = _table(finished.stdout)
    assert [(name, result) for name, result, _, _ in table] == [(name, "PASS") for name in STEPS]
    assert "12 of 12 steps run, 12 passed" in finished.stdout

    output = tmp_path / "varne-demo-output"
    assert sorted(os.listdir(output)) == ["demo_journey.log", "demo_journey.xls", "demo_journey_settings.cfg"]

    sheets, totals, rows = _workbook(str(output / "demo_journey.xls"))
    assert sheets[0] == "Summary" and "Steps" in sheets
    assert totals["Passed"] == 12 and totals["Failed"] == 0 and totals["Result"] == "PASS"
    assert rows[0] == STEP_COLUMNS
    assert [(name, result, lapsed, milliseconds) for name, result, _, lapsed, milliseconds in rows[1:]] == [
        (name, result, "0 days 00:00:%02d" % seconds, float(milliseconds))
        for name, result, seconds, milliseconds in table]
    assert totals["Lapsed"] == "0 days 00:00:%02d" % totals["Seconds"]

    # Columns are fitted to their texts (a letter is narrower than the digit that widths
    # count, so a text needs fewer widths than it has letters); the times and durations
    # carry their formats.
    for sheet in ("Summary", "Steps"):
        widths, longest, formats = _layout(str(output / "demo_journey.xls"), sheet)
        for column, length in longest.items():
            assert widths[column] >= 0.8 * length, (sheet, column, widths, longest)
        if sheet == "Summary":
            assert formats == {(4, 1): "yyyy-mm-dd hh:mm:ss"}
        else:
            assert set(formats.values()) == {"hh:mm:ss", "#,##0"}
            assert sorted(formats) == [(row, column) for row in range(1, 13) for column in (2, 4)]

    with open(output / "demo_journey_settings.cfg", "rb") as settings:
        assert settings.read().decode("utf-8").split("\r\n") == [
            "BASE_URL=", "USER=alice", "PASSWORD=wonderland", "OUTPUT=varne-demo-output", ""]

    log = _log_texts(output / "demo_journey.log")
    for line in ('Clicked form button "Log in"', 'Clicked text link "Kettle"', 'Clicked graphic link "Teapot" (0)',
                 'Clicked form button "Place order"', 'Popup "OK" button clicked'):
        assert any(text.startswith(line + " [0 days ") for text in log), line
    assert any(re.fullmatch(r'Frame 1 set to "http://127\.0\.0\.1:\d+/products\.html"\. \[.*\]', text) for text in log)


def test_a_wrong_password_fails_the_greeting_and_stops_there(journey, tmp_path):
    with open(os.path.join(EXAMPLES, "demo_journey.cfg"), "rb") as shipped:
        lines = shipped.read().decode("utf-8").split("\r\n")
    wrong = tmp_path / "wrong.cfg"
    wrong.write_bytes("\r\n".join("PASSWORD=guess" if line.startswith("PASSWORD=") else line
                                  for line in lines).encode("utf-8"))
    output = tmp_path / "out"

    finished = _run(journey, tmp_path, "--settings", str(wrong), "--output", str(output))
    assert finished.returncode == 1
    assert finished.stderr.strip() == ("demo_journey: step 'Check greeting' failed: expected the heading "
                                       "'Welcome, alice' (the page is 'Login failed')")
    assert [(name, result) for name, result, _, _ in _table(finished.stdout)] == [
        ("Open home page", "PASS"), ("Log in", "PASS"), ("Check greeting", "FAIL")]

    sheets, totals, rows = _workbook(str(output / "demo_journey.xls"))
    assert sheets[0] == "Summary"
    assert (totals["Run"], totals["Passed"], totals["Failed"], totals["Result"]) == (3, 2, 1, "FAIL")
    assert [row[:2] for row in rows[1:]] == [("Open home page", "PASS"), ("Log in", "PASS"), ("Check greeting", "FAIL")]
    with open(output / "demo_journey_settings.cfg", "rb") as settings:
        assert "PASSWORD=guess\r\nOUTPUT=%s\r\n" % output in settings.read().decode("utf-8")
