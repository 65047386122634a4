' For Each through Varne.dll from VBScript over the page's collections (links, forms, frames,
' all, empty ones) and over the workbook's sheets, against the test site
' (first argument, ending in "/"). A walk goes over the items as they were when it began.
Option Explicit
Dim site, browser, document, item, texts, count, conn, xl

site = WScript.Arguments(0)
Set browser = CreateObject("Varne.Browser")
browser.GotoURL site & "index.html"
Set document = browser.GetBrowser().Document
texts = ""
For Each item In document.links
    texts = texts & item.innerText & "|"
Next
Check "links in order", texts, "Next|Next|Slow page|"

count = 0
For Each item In document.links
    item.parentNode.removeChild item
    count = count + 1
Next
Check "every link visited while each is removed", count, 3
Check "and none is left", document.links.length, CLng(0)

texts = ""
For Each item In document.all
    texts = texts & item.tagName & " "
Next
Check "every element of the document", texts, "HTML HEAD TITLE BODY H1 P P P "

count = 0
For Each item In document.applets
    count = count + 1
Next
For Each item In document.getElementsByTagName("table")
    count = count + 1
Next
Check "empty collections walk no item", count, 0

browser.GotoURL site & "forms.html"
Set document = browser.GetBrowser().Document
texts = ""
For Each item In document.forms
    texts = texts & item.name & "|"
Next
Check "forms", texts, "login|login|search|"
' VBScript asks for a read and a call at once here: the method runs and its list is walked.
texts = ""
For Each item In document.forms(0).getAttributeNames()
    texts = texts & item & "|"
Next
Check "a method called without arguments gives its list of values", texts, "name|action|method|"

browser.GotoURL site & "frames.html"
texts = ""
For Each item In browser.GetBrowser().Document.frames
    texts = texts & item.document.title & "|"
Next
Check "frames", texts, "Frame A|Nested|Slow frame|"
Set document = Nothing
Set browser = Nothing

Set conn = CreateObject("Varne.ExcelConn")
Set xl = conn.GetXL()
texts = ""
For Each item In xl.ActiveWorkbook.Sheets
    texts = texts & item.Name & "|"
Next
Check "sheets", texts, "Sheet1|Sheet2|Sheet3|"
For Each item In xl.Sheets
    If item.Name <> "Sheet1" Then item.Delete
Next
Check "sheets deleted while walked", xl.Sheets.Count, CLng(1)
count = 0
For Each item In xl.Workbooks
    count = count + 1
Next
Check "workbooks", count, 1
Set xl = Nothing
Set conn = Nothing
