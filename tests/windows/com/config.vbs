' Config through Varne.dll from VBScript. The first argument is a folder holding rig.cfg
' ("# test rig", "  Server = alpha  ", "Retries=3", "server=beta") and long.cfg (a line past
' 32765 characters); the job checks the saved out.cfg byte for byte.
Option Explicit
Dim folder, config, saved
folder = WScript.Arguments(0) & "\"
Set config = CreateObject("Varne.Config")
Check "loads", config.Load(folder & "rig.cfg"), 0
Check "the last of two keys", config.GetItem("SERVER"), "beta"
Check "keys in any case", config.GetItem("retries"), "3"
Check "a missing key", config.GetItem("nothing"), ""
config.SetItem "Added", "x y"
config.UnSetItem "retries"
saved = config.Save(folder & "out.cfg")
Check "save gives nothing", IsEmpty(saved), True

config.SetItem "stale", "1"
Check "a missing file", config.Load(folder & "missing.cfg"), -1
Check "nothing kept from before", config.GetItem("stale"), ""
Check "no file name", config.Save(""), -1
config.RemoveAll
Check "removed", config.GetItem("Added"), ""

On Error Resume Next
config.Load folder & "long.cfg"
Check "overflow number", Err.Number, CLng(6)
Check "overflow description", Err.Description, "Overflow"
Err.Clear
On Error GoTo 0

