' Timing through Varne.dll from VBScript: stopwatches, their texts, names in any case, errors.
Option Explicit
Dim timing, other, name, lapsed
Set timing = CreateObject("Varne.Timing")
Set other = CreateObject("Varne.Timing")
Check "type name from the type library", TypeName(timing), "_Timing"

name = "Step"
timing.StartTiming name
Check "start time is a date", VarType(timing.GetStartTime(name)), vbDate
Wait 1.2
timing.EndTiming name
lapsed = timing.GetLapsed(name)
Check "lapsed is a long", VarType(lapsed), vbLong
Check "lapsed at least a second", lapsed >= 1 And lapsed <= 3, True
Check "lapsed text", timing.LapsedString(name), "0 days 00:00:0" & lapsed
Check "end minus start", CLng((timing.GetEndTime(name) - timing.GetStartTime(name)) * 86400), lapsed
Check "members by any case", timing.lapsedstring("Step"), timing.LAPSEDSTRING("Step")
Check "milliseconds are a long", VarType(timing.GetLapsedMilliseconds(name)), vbLong
Check "milliseconds at least a second", timing.GetLapsedMilliseconds(name) >= 1000, True
Check "unknown milliseconds", timing.GetLapsedMilliseconds("Other"), CLng(-1)

Check "unknown start", timing.GetStartTime("Other"), -1
Check "unknown lapsed", timing.GetLapsed("Other"), CLng(-1)
Check "unknown text", timing.LapsedString("Other"), "<unknown timing>"
Check "objects are independent", other.GetLapsed("Step"), CLng(-1)

other.StartTiming "Zero"
other.EndTiming "Zero"
Check "a zero stopwatch", other.LapsedString("Zero"), "0 days 00:00:00"

On Error Resume Next
timing.StartTiming
CheckError "argument left out", CLng(449), "Argument not optional: TimingName of Timing.StartTiming"
timing.StartTiming "a", "b"
CheckError "one argument too many", CLng(450), _
    "Wrong number of arguments or invalid property assignment: Timing.StartTiming takes 1 (TimingName), got 2"
timing.StartTiming other
CheckError "an object for a string", CLng(13), "Timing.StartTiming: TimingName: expected a string, got a Varne.Timing object"
timing.StartTiming Null
CheckError "null for a string", CLng(94), "Timing.StartTiming: TimingName: expected a string, got Null"
timing.NoSuchMember
Check "unknown member", Err.Number, CLng(438)
Err.Clear
On Error GoTo 0

Set timing = Nothing
Set other = Nothing
