' Page results that find no object reach VBScript as Nothing, as with the old browser, while data
' that the page holds as null stays Null; against the test site (first argument, ending in "/").
Option Explicit
Dim site, browser, document, found

site = WScript.Arguments(0)
Set browser = CreateObject("Varne.Browser")
browser.GotoURL site & "dialogs.html"
Set document = browser.GetBrowser().Document

Set found = document.getElementById("none")
Check "a missing id gives Nothing", found Is Nothing, True
Check "tested as old scripts test it", document.getElementById("none") Is Nothing, True
Check "in another case", document.GetElementByID("none") Is Nothing, True
Check "a selector that matches nothing", document.querySelector("table.none") Is Nothing, True
Check "the document has no parent", document.parentNode Is Nothing, True
Check "a name that no element of a collection has", document.all("none") Is Nothing, True

Set found = document.getElementById("out")
Check "an element that is there", found Is Nothing, False
Check "its text", found.innerText, "none"
Check "its parent", found.parentNode Is Nothing, False
Check "a missing attribute stays Null", IsNull(found.getAttribute("missing")), True
Check "a text node has no child", found.firstChild.firstChild Is Nothing, True
