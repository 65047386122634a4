' Browser through Varne.dll from VBScript against the test site (first argument, ending in "/"),
' logging to the second argument: navigation and frames, element search, a link and a form button
' clicked, a confirm answered with OK and with Cancel, an alert answered with Cancel then OK. The
' job compares the log's lines with the Linux build's.
Option Explicit
Const brwImgAlt = 1
Const brwImgSrc = 2
Const brwInnerText = 3
Const brwRightMatch = 3

Dim site, browser, app, document, frames, form, result
site = WScript.Arguments(0)
Set browser = CreateObject("Varne.Browser")
browser.SetBrowserLog WScript.Arguments(1)
Check "a window handle", browser.GetBrowserHWnd() <> 0, True

browser.GotoURL site & "index.html"
Set app = browser.GetBrowser()
Check "one application object", app Is browser.GetBrowser(), True
Check "loaded", app.ReadyState, CLng(4)
Check "title", app.Document.title, "Home"
Check "its address", app.LocationURL, site & "index.html"

browser.GotoURL site & "frames.html"
Set frames = browser.GetBrowser().Document.frames
Check "three frames", frames.length, CLng(3)
Check "nested frames", frames.item(1).document.frames.length, CLng(2)
Check "the slow frame waited for", frames.item(2).document.title, "Slow frame"
Check "nothing left to wait for", browser.WaitForBrowser(), 0
Check "frame 2 loaded", browser.FrameGotoURL(2, site & "frame_b.html"), 0
Check "frame 2 shows it", browser.GetBrowser().Document.frames.item(2).document.title, "Frame B"
Check "no frame 3", browser.FrameGotoURL(3, site & "frame_b.html"), -1
On Error Resume Next
browser.FrameGotoURL 40000, site & "frame_b.html"
Check "a frame number past 16 bits", Err.Number, CLng(6)
Err.Clear
On Error GoTo 0

browser.GotoURL site & "images.html"
Set document = browser.GetBrowser().Document
Check "images by alternate text, the default", browser.ImageExists(document, "Logo"), 3
Check "images by file name", browser.ImageExists(document, "logo.gif", brwImgSrc), 3
Check "image links", browser.LinkExists(document, "Logo", brwImgAlt), 3

browser.GotoURL site & "index.html"
Set document = browser.GetBrowser().Document
Check "text links, the default", browser.LinkExists(document, "Next"), 2
Check "no match", browser.MatchInnerText(document, "Go home", "P", brwRightMatch, 2), 1
Check "a left-out argument in the middle", browser.MatchInnerText(document, "Hello ", "P", , 0), 0
Check "second link clicked", browser.ClickLink(document, "Next", brwInnerText, 1), 0
Check "it went there", browser.GetBrowser().LocationURL, site & "second.html?b"

browser.GotoURL site & "forms.html"
Set document = browser.GetBrowser().Document
Check "the form", browser.FormExists(document, "login"), 0
Set form = document.forms.item(0)
form.elements.item(0).value = "bob"
form.elements.item(1).value = "secret"
Check "a field set", form.elements.item(0).value, "bob"
Check "button clicked", browser.ClickFormButton(form, "Go"), 0
Set result = browser.GetBrowser().Document
Check "submitted", result.title, "Echo"
Check "what was submitted", result.getElementById("user").innerText, "bob"

browser.GotoURL site & "dialogs.html"
Set document = browser.GetBrowser().Document
Check "confirm asked", browser.ClickLink(document, "Ask"), 0
Check "OK", browser.PopupClickOk(), 0
Check "confirmed", document.getElementById("out").innerText, "true"
Check "confirm asked again", browser.ClickLink(document, "Ask"), 0
Check "Cancel", browser.PopupClickCancel(), 0
Check "cancelled", document.getElementById("out").innerText, "false"
Check "alert shown", browser.ClickLink(document, "Tell"), 0
Check "an alert has no Cancel", browser.PopupClickCancel(), -3
Check "OK on the alert", browser.PopupClickOk(), 0
Check "alerted", document.getElementById("out").innerText, "alerted"

browser.CloseBrowserLog
