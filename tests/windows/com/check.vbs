' The checks that every VBScript test uses. run_com_tests.py runs each script with this file
' joined after it (Wine's script host has no include, and its ExecuteGlobal ends a script
' silently), so a line number up to the script's length is the script's own. Procedures and
' Dim are known before the script's first line runs; the other statements here run after its
' last, and print the summary that the job requires.
Dim passed, failed

Sub Check(what, actual, expected)
    If VarType(actual) = VarType(expected) And actual = expected Then
        passed = passed + 1
    Else
        failed = failed + 1
        WScript.Echo "FAIL " & what & ": got " & actual & " (type " & VarType(actual) & "), expected " & _
            expected & " (type " & VarType(expected) & ")"
    End If
End Sub

Sub CheckError(what, number, description)
    Check what & " number", Err.Number, number
    Check what & " description", Err.Description, description
    Err.Clear
End Sub

' Waits on the clock, since the host's own sleep ends the script under some hosts.
Sub Wait(seconds)
    Dim start
    start = Timer
    Do While Timer - start < seconds And Timer >= start
    Loop
End Sub

' Reached only when the script ran to its end; the counters start Empty, which counts as 0.
WScript.Echo CLng(passed) & " passed, " & CLng(failed) & " failed"
