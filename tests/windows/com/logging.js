// Logging through Varne.dll from JScript: the boolean and the codes as JScript sees them.
var path = WScript.Arguments(0);
var log = new ActiveXObject("Varne.Logging");
check("closed", log.IsOpen(), false);
check("start", log.StartLog(path), 0);
check("open is true", log.IsOpen(), true);
check("append", log.AppendLog("From JScript"), 0);
check("name", log.GetLogName(), path);
log.EndLog();
check("closed again", log.IsOpen(), false);
