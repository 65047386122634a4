// ExcelConn through Varne.dll from JScript: the object model by name, an omitted optional argument.
var path = WScript.Arguments(0);
var conn = new ActiveXObject("Varne.ExcelConn");
var xl = conn.GetXL();
xl.Sheets(1).Name = "Summary";
xl.Sheets("Sheet3").Cells(1, 1).Value = "from JScript";
check("cell", xl.Sheets("Sheet3").Cells(1, 1).Value, "from JScript");
conn.SaveWorkbook(path, "Sheet3");
check("active", xl.ActiveSheet.Name, "Sheet3");
try {
    conn.SaveWorkbook(path, "Nope");
    check("raised", false, true);
} catch (e) {
    check("number", e.number, 0x800A0009 | 0);
}
