' ExcelConn through Varne.dll from VBScript: a workbook filled through GetXL and saved to the path
' given as the first argument with "Summary" active; the job reads it back with xlrd.
Option Explicit
Dim conn, xl, sheet, row, path
path = WScript.Arguments(0)
Set conn = CreateObject("Varne.ExcelConn")
Set xl = conn.GetXL()
Check "the same application each time", xl Is conn.GetXL(), True
xl.Sheets(1).Name = "Summary"
Set sheet = xl.Sheets("Sheet2")
For row = 1 To 20
    sheet.Cells(row, 1).Value = row * 0.5
    sheet.Cells(row, 2).Value = "Item " & row
Next
Check "a cell reads back", sheet.Cells(3, 2).Value, "Item 3"
sheet.Columns(1).ColumnWidth = 30
sheet.Columns("B:C").ColumnWidth = 12
sheet.Rows(2).RowHeight = 24
Check "a column's width", sheet.Columns(1).ColumnWidth, CDbl(30)
Check "columns of different widths", IsNull(sheet.Columns("A:B").ColumnWidth), True
Check "a row's height", sheet.Rows(2).RowHeight, CDbl(24)

On Error Resume Next
conn.SaveWorkbook path, "Nope"
Check "an unknown sheet", Err.Number, CLng(9)
Check "its description", Err.Description, "Subscript out of range: workbook 'Book1' has no sheet 'Nope'"
Err.Clear
On Error GoTo 0

conn.SaveWorkbook path, "Summary"
Check "active sheet", xl.ActiveSheet.Name, "Summary"
Check "workbook name", xl.ActiveWorkbook.Name, Mid(path, InStrRev(path, "\") + 1)

' DefaultSheet left out: the workbook is saved as it is.
conn.SaveWorkbook path & ".plain.xls"
Check "still the same sheet", xl.ActiveSheet.Name, "Summary"

Set sheet = Nothing
Set xl = Nothing
Set conn = Nothing
