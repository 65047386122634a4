' Headless Browsers created in turn share one browser of the host's Chromium, each in a browser
' context of its own, so that no cookie of an earlier Browser reaches a later one. Prints the name
' of that browser's folder, which the job checks is gone, with the browser, once this script's
' host has ended.
Option Explicit
Dim site, files, temp, before, folder, shared, turn, browser, window, found
site = WScript.Arguments(0)
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
        If Left(folder.Name, 15) = "varne-chromium-" And Not before.Exists(folder.Name) Then names = names & " " & folder.Name
    Next
    NewBrowserFolders = Trim(names)
End Function

For turn = 1 To 3
    Set browser = CreateObject("Varne.Browser")
    browser.GotoURL site & "index.html"
    Set window = browser.GetBrowser().Document.defaultView
    Check "no cookie of an earlier Browser, turn " & turn, window.eval("document.cookie"), ""
    window.eval "document.cookie = 'turn=" & turn & "; path=/'"
    Check "its own cookie, turn " & turn, window.eval("document.cookie"), "turn=" & turn
    found = NewBrowserFolders()
    If turn = 1 Then shared = found
    Check "the first Browser's browser serves turn " & turn, found, shared
    Set window = Nothing
    Set browser = Nothing
Next
Check "one browser was started", shared <> "" And InStr(shared, " ") = 0, True
WScript.Echo "browser folder: " & shared
