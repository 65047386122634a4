' Headless Browsers of one process share one browser of the host (the engine that VARNE_BROWSER
' names), each in a context of its own, so that no cookie of one Browser reaches another: created
' in turn, and alive together. Arguments: the site's address, and the start of the browser
' folders' names ("varne-chromium-", "varne-firefox-"). Prints the name of that browser's folder,
' which the job checks is gone, with the browser, once this script's host has ended.
Option Explicit
Dim site, prefix, files, temp, before, folder, shared, turn, browser, window, found, first, second
site = WScript.Arguments(0)
prefix = WScript.Arguments(1)
Set files = CreateObject("Scripting.FileSystemObject")
Set temp = files.GetSpecialFolder(2)
Set before = CreateObject("Scripting.Dictionary")
For Each folder In temp.SubFolders
    before(folder.Name) = True
Next

' The names of the browsers' folders made since the script began, separated by spaces.
Function NewBrowserFolders()
    Dim names
    names = ""
    For Each folder In temp.SubFolders
        If Left(folder.Name, Len(prefix)) = prefix And Not before.Exists(folder.Name) Then names = names & " " & folder.Name
    Next
    NewBrowserFolders = Trim(names)
End Function

' The page's window, where scripts of the test read and set the page's cookies.
Function PageWindow(browser)
    browser.GotoURL site & "index.html"
    Set PageWindow = browser.GetBrowser().Document.defaultView
End Function

For turn = 1 To 3
    Set browser = CreateObject("Varne.Browser")
    Set window = PageWindow(browser)
    Check "no cookie of an earlier Browser, turn " & turn, window.eval("document.cookie"), ""
    window.eval "document.cookie = 'turn=" & turn & "; path=/'"
    Check "its own cookie, turn " & turn, window.eval("document.cookie"), "turn=" & turn
    found = NewBrowserFolders()
    If turn = 1 Then shared = found
    Check "the first Browser's browser serves turn " & turn, found, shared
    Set window = Nothing
    Set browser = Nothing
Next

Set first = CreateObject("Varne.Browser")
Set second = CreateObject("Varne.Browser")
Set window = PageWindow(first)
window.eval "document.cookie = 'owner=first; path=/'"
Set window = PageWindow(second)
Check "no cookie of a Browser alive beside it", window.eval("document.cookie"), ""
Check "Browsers alive together share the browser", NewBrowserFolders(), shared
Set window = Nothing
Set second = Nothing
Set first = Nothing

Check "one browser was started", shared <> "" And InStr(shared, " ") = 0, True
WScript.Echo "browser folder: " & shared
