' Logging through Varne.dll from VBScript: writes the log named by the first argument, which the
' job then compares byte for byte with the Linux build's format.
Option Explicit
Dim log, path, missing
path = WScript.Arguments(0)
missing = WScript.Arguments(1)
Set log = CreateObject("Varne.Logging")
Check "closed at first", log.IsOpen, False
Check "a line without a log", log.AppendLog("nowhere"), -1
Check "no name yet", log.GetLogName, ""
On Error Resume Next
log.StartLog missing
Check "a folder that does not exist", Err.Number, CLng(76)
Err.Clear
On Error GoTo 0
Check "still closed", log.IsOpen, False

Check "started", log.StartLog(path), 0
Check "open is True", log.IsOpen, True
Check "true is -1", CInt(log.IsOpen), -1
Check "its name", log.GetLogName, path
Check "already open", log.StartLog(path & ".other"), -2
Check "first entry", log.AppendLog("First line"), 0
Check "second entry", log.AppendLog("Caf" & Chr(233) & " ""quoted"""), 0
Check "an empty entry", log.AppendLog(""), 0
log.EndLog
Check "closed again", log.IsOpen, False

' Released with its log open: the object closes the log as EndLog does.
Dim second
Set second = CreateObject("Varne.Logging")
Check "second log", second.StartLog(path & ".released"), 0
Check "its entry", second.AppendLog("Before release"), 0
Set second = Nothing

