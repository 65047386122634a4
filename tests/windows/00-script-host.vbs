' The script host as the Windows tests use it: what they put in place of Wine's stubs
' (WScript.Sleep, DateDiff and ChrW end a script silently there) works.
Option Explicit
Dim passed, failed
passed = 0
failed = 0

Sub Check(condition, what)
    If condition Then
        passed = passed + 1
    Else
        failed = failed + 1
        WScript.Echo "FAILED: " & what
    End If
End Sub

Dim started, later
started = Timer
Do While Timer - started < 0.2 And Timer >= started
Loop
Check Timer - started >= 0.2 Or Timer < started, "a busy loop on Timer waits"

later = DateAdd("s", 90, #2026-12-08 10:00:00#)
Check CLng((later - #2026-12-08 10:00:00#) * 86400) = 90, "date arithmetic counts seconds"
Check Chr(65) & Chr(13) & Chr(10) = "A" & vbCrLf, "Chr builds line ends"
Check CDbl("1.5") * 2 = 3, "numbers read with a point"

WScript.Echo passed & " passed, " & failed & " failed"
