"""ExcelConn through the Python module: a workbook filled through GetXL, saved, and read back by
readers that share no code with the library (xlrd, LibreOffice)."""
import csv
import datetime
import gc
import os
import struct
import subprocess

import pytest
import xlrd
import xlrd.compdoc

import varne

SERVER_UNAVAILABLE = -2147023174
GONE = "The RPC server is unavailable: the spreadsheet application has quit"
ROWS = 1000
SOFFICE = "/usr/bin/soffice"


def row_values(row):
    """The number, text, boolean and date-time written to one row of Sheet2."""
    return (row * 0.5, f"=Item {row}, \"ü\" €", row % 3 == 0,
            datetime.datetime(2020, 1, 1, 8, 30, 15) + datetime.timedelta(days=row, minutes=row))


def fill_and_save(path):
    conn = varne.CreateObject("Varne.ExcelConn")
    xl = conn.GetXL()
    xl.Sheets(1).Name = "Summary"
    sheet = xl.Sheets("Sheet2")
    for row in range(1, ROWS + 1):
        for column, value in enumerate(row_values(row), start=1):
            sheet.Cells(row, column).Value = value
    conn.SaveWorkbook(str(path), "Summary")
    return conn, xl


def read_only_recommended(path):
    """FILESHARING's flag, from the Workbook stream (xlrd does not parse that record)."""
    stream = xlrd.compdoc.CompDoc(path.read_bytes(), logfile=open(os.devnull, "w")).get_named_stream("Workbook")
    position = 0
    while position + 4 <= len(stream):
        record, length = struct.unpack_from("<HH", stream, position)
        if record == 0x005B:
            return struct.unpack_from("<H", stream, position + 4)[0]
        if record == 0x000A:
            return None
        position += 4 + length
    return None


def active_sheet(path):
    book = xlrd.open_workbook(str(path))
    shown = [sheet.name for sheet in book.sheets() if sheet.sheet_visible]
    assert shown == [sheet.name for sheet in book.sheets() if sheet.sheet_selected]
    return shown


def test_a_filled_workbook_reads_back_with_its_values_and_active_sheet(tmp_path):
    path = tmp_path / "report.xls"
    conn, xl = fill_and_save(path)
    assert (xl.ActiveSheet.Name, xl.ActiveWindow.WindowState, xl.ActiveWorkbook.Name) == ("Summary", -4137,
                                                                                           "report.xls")

    book = xlrd.open_workbook(str(path))
    assert book.sheet_names() == ["Summary", "Sheet2", "Sheet3"]
    assert active_sheet(path) == ["Summary"]
    assert read_only_recommended(path) == 1
    sheet = book.sheet_by_name("Sheet2")
    assert (sheet.nrows, sheet.ncols) == (ROWS, 4)
    for row in range(1, ROWS + 1):
        number, text, boolean, moment = row_values(row)
        cells = sheet.row(row - 1)
        assert [cell.ctype for cell in cells] == [xlrd.XL_CELL_NUMBER, xlrd.XL_CELL_TEXT, xlrd.XL_CELL_BOOLEAN,
                                                  xlrd.XL_CELL_DATE]
        assert (cells[0].value, cells[1].value, bool(cells[2].value)) == (number, text, boolean)
        assert xlrd.xldate_as_datetime(cells[3].value, book.datemode) == moment


@pytest.mark.skipif(not os.path.exists(SOFFICE), reason="LibreOffice (libreoffice-calc-nogui) is not installed")
def test_libreoffice_reads_the_same_values(tmp_path):
    path = tmp_path / "office.xls"
    fill_and_save(path)
    # UTF-8 CSV of every sheet, each into a file of its own, with a profile of the test's own.
    subprocess.run([SOFFICE, f"-env:UserInstallation=file://{tmp_path}/profile", "--headless", "--convert-to",
                    "csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false,false,false,-1",
                    "--outdir", str(tmp_path), str(path)], check=True, capture_output=True, timeout=120)
    with open(tmp_path / "office-Sheet2.csv", encoding="utf-8", newline="") as file:
        rows = list(csv.reader(file))
    assert len(rows) == ROWS
    for row, fields in enumerate(rows, start=1):
        number, text, boolean, moment = row_values(row)
        # LibreOffice turns a stored boolean into a TRUE() or FALSE() formula and writes it as 1 or 0.
        assert fields == [f"{number:g}", text, "1" if boolean else "0", moment.strftime("%m/%d/%Y %H:%M:%S")]
    assert (tmp_path / "office-Summary.csv").read_text().strip() == ""


def test_an_unknown_default_sheet_fails_before_anything_is_touched(tmp_path):
    conn = varne.CreateObject("Varne.ExcelConn")
    with pytest.raises(varne.AutomationError) as raised:
        conn.SaveWorkbook(str(tmp_path / "never.xls"), "Nope")
    assert (raised.value.number, raised.value.description) == (
        9, "Subscript out of range: workbook 'Book1' has no sheet 'Nope'")
    assert list(tmp_path.iterdir()) == []
    xl = conn.GetXL()
    assert (xl.ActiveSheet.Name, xl.ActiveWindow.WindowState) == ("Sheet1", -4143)


def test_a_failed_save_keeps_the_selection_and_the_maximized_window(tmp_path):
    conn = varne.CreateObject("Varne.ExcelConn")
    target = tmp_path / "missing" / "out.xls"
    with pytest.raises(varne.AutomationError) as raised:
        conn.SaveWorkbook(str(target), "sheet3")
    assert (raised.value.number, raised.value.description) == (
        76, f"Path not found: cannot create '{target}' (No such file or directory)")
    xl = conn.GetXL()
    assert (xl.ActiveSheet.Name, xl.ActiveWindow.WindowState, xl.ActiveWorkbook.Name) == ("Sheet3", -4137, "Book1")


def test_without_a_default_sheet_the_active_one_stays_and_every_save_is_the_same_format(tmp_path):
    conn = varne.CreateObject("Varne.ExcelConn")
    xl = conn.GetXL()
    xl.Sheets.Item(3).Activate()
    first, second = tmp_path / "first.txt", tmp_path / "second.xls"
    conn.SaveWorkbook(str(first))
    conn.SaveWorkbook(str(second), "")
    for path in (first, second):
        assert active_sheet(path) == ["Sheet3"]
        assert read_only_recommended(path) == 1
    assert xl.ActiveWorkbook.FullName == str(second)


def test_releasing_after_a_quit_through_getxl_completes_quietly():
    conn = varne.CreateObject("Varne.ExcelConn")
    xl = conn.GetXL()
    assert xl == conn.GetXL()
    xl.Quit()
    del conn
    gc.collect()
    with pytest.raises(varne.AutomationError) as raised:
        xl.Workbooks.Count
    assert (raised.value.number, raised.value.description) == (SERVER_UNAVAILABLE, GONE)


def test_two_connections_have_applications_of_their_own():
    first, second = varne.CreateObject("Varne.ExcelConn"), varne.CreateObject("Varne.ExcelConn")
    first_xl, second_xl = first.GetXL(), second.GetXL()
    assert first_xl != second_xl
    assert (first_xl.Workbooks.Count, second_xl.Workbooks.Count) == (1, 1)
    assert (first_xl.ActiveWorkbook.Name, second_xl.ActiveWorkbook.Name) == ("Book1", "Book1")
    first_xl.Sheets(1).Name = "Mine"
    assert second_xl.Sheets(1).Name == "Sheet1"

    del first
    gc.collect()
    with pytest.raises(varne.AutomationError) as raised:
        first_xl.Sheets("Mine")
    assert raised.value.number == SERVER_UNAVAILABLE
    assert second_xl.Workbooks.Count == 1


def test_sheets_and_workbooks_are_sequences_counted_from_0():
    conn = varne.CreateObject("Varne.ExcelConn")
    xl = conn.GetXL()
    sheets = xl.ActiveWorkbook.Sheets
    assert len(sheets) == 3 and sheets[0].Name == "Sheet1" and sheets[-1].Name == "Sheet3"
    for sheet in sheets:  # the sheets as they were when the walk began
        if sheet.Name != "Sheet2":
            sheet.Delete()
    assert [sheet.Name for sheet in xl.Sheets] == ["Sheet2"]
    assert len(xl.Workbooks) == 1
    with pytest.raises(IndexError, match=r"error 9"):
        sheets[1]


def test_columns_and_rows_as_the_readme_sizes_them_reach_the_file(tmp_path):
    conn = varne.CreateObject("Varne.ExcelConn")
    sheet = conn.GetXL().Sheets.Item(1)
    sheet.Columns(1).ColumnWidth = 30
    sheet.Columns("B:C").ColumnWidth = 12
    sheet.Rows(2).RowHeight = 24
    assert sheet.Columns(1).ColumnWidth == 30
    assert sheet.Columns("A:B").ColumnWidth is None  # columns of different widths
    assert sheet.Rows(2).RowHeight == 24 and sheet.Rows(3).RowHeight == 12.75
    with pytest.raises(varne.AutomationError) as raised:
        sheet.Columns(1).Widht = 3
    assert raised.value.number == 438 and "Widht" in raised.value.description
    path = tmp_path / "sized.xls"
    conn.SaveWorkbook(str(path), "")
    book = xlrd.open_workbook(str(path), formatting_info=True)
    first = book.sheet_by_index(0)
    assert [first.colinfo_map[column].width for column in range(3)] == [7862, 3254, 3254]
    assert first.rowinfo_map[1].height == 480
