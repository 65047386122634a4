' A Browser whose browser cannot start (the job points VARNE_CHROMIUM at a program that does not
' exist): VBScript reports its own error 429, and the library's text waits in the process's
' VARNE_CREATION_FAILURE. A programmatic identifier that names no class never reaches the library.
Option Explicit
Dim shell, browser, cause

Set shell = CreateObject("WScript.Shell")
Check "no failure yet", shell.ExpandEnvironmentStrings("%VARNE_CREATION_FAILURE%"), "%VARNE_CREATION_FAILURE%"

On Error Resume Next
Set browser = CreateObject("Varne.Browser")
Check "the script host's number", Err.Number, CLng(429)
WScript.Echo "the script host says: " & Err.Description
Err.Clear
On Error GoTo 0
Check "no object", IsEmpty(browser), True
cause = shell.ExpandEnvironmentStrings("%VARNE_CREATION_FAILURE%")
Check "the cause names the class", Left(cause, 15), "Varne.Browser: "
Check "and says what failed", Len(cause) > 20, True
WScript.Echo "creation failure: " & cause

On Error Resume Next
Set browser = CreateObject("Varne.NoSuchClass")
Check "an unknown identifier", Err.Number, CLng(429)
Err.Clear
On Error GoTo 0
Check "leaves the last cause", shell.ExpandEnvironmentStrings("%VARNE_CREATION_FAILURE%"), cause
