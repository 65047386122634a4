' The Varne demo journey in VBScript: the steps of demo_journey.py through the registered Varne.dll.
'
'     cscript //nologo demo_journey.vbs [/output:DIR] [/settings:FILE] [/base:URL]
'
' It reads its settings with Config from demo_journey.cfg beside it, drives a Browser through the
' demo shop step by step, times every step with Timing, prints a line per step and a table of the
' steps, and leaves in the output folder the browser's log, the settings it ran with and a
' workbook of the steps (written with ExcelConn). A script cannot serve the shop itself: the
' shop's address is BASE_URL of the settings, or /base:, for instance of `python3 demo_server.py`.
' It exits with status 1, naming the step, when a check fails.
Option Explicit

Const LOG_FILE = "demo_journey.log"
Const SETTINGS_FILE = "demo_journey_settings.cfg"
Const WORKBOOK_FILE = "demo_journey.xls"
Const DEFAULT_OUTPUT = "varne-demo-output"
Const SHELF_FRAME = 1  ' the catalogue's middle frame, where products are shown
Const STEP_FAILED = 513  ' raised by Check as vbObjectError + STEP_FAILED

Dim browser, base, user, password
Dim results, resultCount  ' a row (name, PASS or FAIL, seconds) per step run, by its position
Set results = CreateObject("Scripting.Dictionary")
resultCount = 0
Dim stepNames
stepNames = Array("Open home page", "Log in", "Check greeting", "Open catalogue", "Load product list", _
    "Count text links", "Count image links", "Open product by text", "Open product by image", "Check out", _
    "Place order", "Check confirmation")

Sub Check(condition, expected)
    If Not condition Then Err.Raise vbObjectError + STEP_FAILED, "demo_journey", "expected " & expected
End Sub

Function Url(page)
    Url = base & "/" & page
End Function

' The document that the window shows now. Take it afresh after every load: a document of a page
' that has gone raises an error when used.
Function Page()
    Set Page = browser.GetBrowser().Document
End Function

Function Shelf()
    Set Shelf = Page().frames.item(SHELF_FRAME).document
End Function

Function Form(document, name)
    Dim position
    position = browser.FormExists(document, name)
    Check position >= 0, "a form named '" & name & "'"
    Set Form = document.forms.item(position)
End Function

' The steps, in the order of stepNames.
Sub RunStep(name)
    Dim f, document, frames, offers, count, byAlt, byFile, submitted
    Select Case name
    Case "Open home page"
        browser.GotoURL Url("index.html")  ' returns once the page has loaded
        Set f = Form(Page(), "login")
    Case "Log in"
        Set f = Form(Page(), "login")
        ' The form's fields are the page's own DOM objects: set them as a person would type.
        f.elements.item("user").value = user
        f.elements.item("password").value = password
        Check browser.ClickFormButton(f, "Log in") = 0, "a 'Log in' button"
    Case "Check greeting"
        Set document = Page()
        Check browser.MatchInnerText(document, "Welcome, " & user, "H1") = 0, _
            "the heading 'Welcome, " & user & "' (the page is '" & document.title & "')"
    Case "Open catalogue"
        ' GotoURL waits for every frame, nested ones too, so it comes back only after the
        ' deliberately slow offers frame (about a second).
        browser.GotoURL Url("catalogue.html")
        Set frames = Page().frames
        Check frames.length = 3, "a frameset of three frames"
        Set offers = frames.item(2).document.frames.item(1).document
        Check browser.MatchInnerText(offers, "Offer of the day", "P", brwLeftMatch) = 0, _
            "the slow offers frame to have loaded"
    Case "Load product list"
        Check browser.FrameGotoURL(SHELF_FRAME, Url("products.html")) = 0, "a shelf frame"
        Check Shelf().title = "Products", "the product list in the shelf frame"
    Case "Count text links"
        ' Two links read "Kettle": today's pick and the one in the list.
        count = browser.LinkExists(Shelf(), "Kettle")
        Check count = 2, "2 links reading 'Kettle', found " & count
    Case "Count image links"
        Set document = Shelf()
        byAlt = browser.LinkExists(document, "Teapot", brwImgAlt)
        byFile = browser.ImageExists(document, "teapot.svg", brwImgSrc)
        Check byAlt = 1, "1 link made of the image 'Teapot', found " & byAlt
        Check byFile = 1, "1 image teapot.svg, found " & byFile
    Case "Open product by text"
        ' Occurrence 1 picks the second link reading "Kettle", the one in the list.
        Check browser.ClickLink(Shelf(), "Kettle", brwInnerText, 1) = 0, "a second 'Kettle' link"
        Check browser.MatchInnerText(Shelf(), "Kettle", "H1") = 0, "the Kettle's page"
    Case "Open product by image"
        Check browser.ClickLink(Shelf(), "Back to products") = 0, "a 'Back to products' link"
        Check browser.ClickLink(Shelf(), "Teapot", brwImgAlt) = 0, "a link made of the image 'Teapot'"
        Check browser.MatchInnerText(Shelf(), "Teapot", "H1") = 0, "the Teapot's page"
    Case "Check out"
        Set f = Form(Shelf(), "buy")
        f.elements.item("quantity").value = "2"
        ' The form targets the top window: the checkout replaces the whole catalogue.
        Check browser.ClickFormButton(f, "Check out") = 0, "a 'Check out' button"
        Check browser.MatchInnerText(Page(), "Checkout", "H1") = 0, "the checkout page"
    Case "Place order"
        Set f = Form(Page(), "order")
        ' The form asks a JavaScript confirm before it is sent: the click comes back with the
        ' dialog open, PopupClickOk answers it, and only then does the order page start to
        ' load, so it is waited for with WaitForBrowser.
        Check browser.ClickFormButton(f, "Place order") = 0, "a 'Place order' button"
        Check browser.PopupClickOk() = 0, "a confirm dialog to answer"
        Check browser.WaitForBrowser() = 0, "the order page to load"
    Case "Check confirmation"
        Set document = Page()
        Check browser.MatchInnerText(document, "Order confirmed", "H1") = 0, _
            "the order confirmation (the page is '" & document.title & "')"
        ' The shop lists what it received; each field can be read back by its id.
        submitted = document.getElementById("product").innerText & ", " & document.getElementById("quantity").innerText
        Check submitted = "Teapot, 2", "an order of 2 Teapot, the shop received " & submitted
    End Select
End Sub

' The enumeration constants of the type library, which VBScript does not read.
Const brwImgAlt = 1
Const brwImgSrc = 2
Const brwInnerText = 3
Const brwLeftMatch = 2

Function PadRight(text, width)
    PadRight = text
    If Len(text) < width Then PadRight = text & Space(width - Len(text))
End Function

Function PadLeft(text, width)
    PadLeft = text
    If Len(text) < width Then PadLeft = Space(width - Len(text)) & text
End Function

Sub AddResult(row)
    results.Add resultCount, row
    resultCount = resultCount + 1
End Sub

' One field of a step's row. The row is taken into a variable first: some script hosts lose the
' value of an index applied straight to a dictionary's item.
Function ResultField(position, field)
    Dim row
    row = results(position)
    ResultField = row(field)
End Function

' Runs the steps in order, each timed under its own name (GetLapsed counts whole seconds), and
' stops at the first that fails: the later ones build on it. Returns the failure's text, empty
' when every step passed.
Function RunSteps(timing)
    Dim number, name, failure
    RunSteps = ""
    For number = 1 To UBound(stepNames) + 1
        name = stepNames(number - 1)
        timing.StartTiming name
        On Error Resume Next
        RunStep name
        failure = ""
        If Err.Number <> 0 Then failure = Err.Description
        Err.Clear
        On Error GoTo 0
        timing.EndTiming name
        If failure = "" Then
            AddResult Array(name, "PASS", timing.GetLapsed(name))
        Else
            AddResult Array(name, "FAIL", timing.GetLapsed(name))
        End If
        WScript.Echo "[" & PadLeft(CStr(number), 2) & "/" & (UBound(stepNames) + 1) & "] " & PadRight(name, 24) & _
            " " & ResultField(resultCount - 1, 1)
        If failure <> "" Then
            RunSteps = "step '" & name & "' failed: " & failure
            Exit Function
        End If
    Next
End Function

Function CountPassed()
    Dim i
    CountPassed = 0
    For i = 0 To resultCount - 1
        If ResultField(i, 1) = "PASS" Then CountPassed = CountPassed + 1
    Next
End Function

Sub PrintTable(totalSeconds)
    Dim i
    WScript.Echo ""
    WScript.Echo PadRight("Step", 24) & " Result  Seconds"
    For i = 0 To resultCount - 1
        WScript.Echo PadRight(ResultField(i, 0), 24) & " " & PadRight(ResultField(i, 1), 6) & "  " & _
            PadLeft(CStr(ResultField(i, 2)), 7)
    Next
    WScript.Echo resultCount & " of " & (UBound(stepNames) + 1) & " steps run, " & CountPassed() & _
        " passed, " & totalSeconds & " s in all"
End Sub

' Writes the summary and the steps into a workbook through the spreadsheet's object model, and
' saves it as an .xls that opens on the summary.
Sub WriteWorkbook(path, totalSeconds)
    Dim excel, xl, summary, steps, passed, totals, row, column, titles, result
    Set excel = CreateObject("Varne.ExcelConn")
    Set xl = excel.GetXL()
    ' A new workbook has three sheets: the first becomes the summary, the second the steps.
    Set summary = xl.Sheets.Item(1)
    Set steps = xl.Sheets.Item(2)
    summary.Name = "Summary"
    steps.Name = "Steps"
    xl.Sheets.Item(3).Delete

    passed = CountPassed()
    result = "FAIL"
    If passed = UBound(stepNames) + 1 Then result = "PASS"
    totals = Array(Array("Steps", UBound(stepNames) + 1), Array("Run", resultCount), Array("Passed", passed), _
        Array("Failed", resultCount - passed), Array("Seconds", totalSeconds), Array("Result", result))
    For row = 1 To UBound(totals) + 1
        summary.Cells(row, 1).Value = totals(row - 1)(0)
        summary.Cells(row, 2).Value = totals(row - 1)(1)
    Next

    titles = Array("Step", "Result", "Seconds")
    For column = 1 To 3
        steps.Cells(1, column).Value = titles(column - 1)
    Next
    For row = 0 To resultCount - 1
        For column = 1 To 3
            steps.Cells(row + 2, column).Value = ResultField(row, column - 1)
        Next
    Next
    excel.SaveWorkbook path, "Summary"
End Sub

Function Folder(path)
    Folder = Left(path, InStrRev(path, "\") - 1)
End Function

Function Joined(folderPath, name)
    Joined = folderPath & "\" & name
End Function

' The value of /name:value on the command line, or the default. (Wine's host has no Arguments.Named.)
Function Argument(name, default)
    Dim i, given
    Argument = default
    For i = 0 To WScript.Arguments.Count - 1
        given = WScript.Arguments.Item(i)
        If LCase(Left(given, Len(name) + 2)) = "/" & name & ":" Then Argument = Mid(given, Len(name) + 3)
    Next
End Function

Sub Main()
    Dim settingsPath, settings, output, timing, failure, total, files
    settingsPath = Argument("settings", Joined(Folder(WScript.ScriptFullName), "demo_journey.cfg"))

    Set settings = CreateObject("Varne.Config")
    If settings.Load(settingsPath) <> 0 Then
        WScript.Echo "demo_journey: cannot read the settings file " & settingsPath
        WScript.Quit 1
    End If
    settings.SetItem "OUTPUT", Argument("output", settings.GetItem("OUTPUT"))
    settings.SetItem "BASE_URL", Argument("base", settings.GetItem("BASE_URL"))
    If settings.GetItem("OUTPUT") = "" Then settings.SetItem "OUTPUT", DEFAULT_OUTPUT
    output = settings.GetItem("OUTPUT")
    base = settings.GetItem("BASE_URL")
    If Right(base, 1) = "/" Then base = Left(base, Len(base) - 1)
    If base = "" Then
        WScript.Echo "demo_journey: no shop address: set BASE_URL or give /base:URL"
        WScript.Quit 1
    End If
    Set files = CreateObject("Scripting.FileSystemObject")
    If Not files.FolderExists(output) Then files.CreateFolder output
    user = settings.GetItem("USER")
    password = settings.GetItem("PASSWORD")

    Set timing = CreateObject("Varne.Timing")
    WScript.Echo "Demo shop at " & base
    Set browser = CreateObject("Varne.Browser")
    browser.SetBrowserLog Joined(output, LOG_FILE)
    timing.StartTiming "Journey"
    failure = RunSteps(timing)
    timing.EndTiming "Journey"
    browser.CloseBrowserLog

    total = timing.GetLapsed("Journey")
    PrintTable total
    WriteWorkbook Joined(output, WORKBOOK_FILE), total
    settings.Save Joined(output, SETTINGS_FILE)
    WScript.Echo "Log, settings and workbook are in " & output
    If failure <> "" Then
        WScript.Echo "demo_journey: " & failure
        WScript.Quit 1
    End If
    WScript.Quit 0
End Sub


Main
