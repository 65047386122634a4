// Timing through Varne.dll from JScript: stopwatches, texts, error numbers as JScript sees them.
var timing = new ActiveXObject("Varne.Timing");
timing.StartTiming("Step");
timing.EndTiming("Step");
check("lapsed", timing.GetLapsed("Step"), 0);
check("lapsed text", timing.LapsedString("Step"), "0 days 00:00:00");
// Wine's JScript refuses a date-time result (E_NOTIMPL); it is taken here without being looked at.
try {
    timing.GetStartTime("Step");
} catch (e) {
    check("date-time result", e.number, 0x80004001 | 0);
}
check("unknown", timing.GetStartTime("Nope"), -1);
check("members by any case", timing.lapsedSTRING("Nope"), "<unknown timing>");

checkError("argument left out", function () { timing.StartTiming(); }, 449,
           "Argument not optional: TimingName of Timing.StartTiming");
checkError("too many", function () { timing.EndTiming("a", "b"); }, 450,
           "Wrong number of arguments or invalid property assignment: Timing.EndTiming takes 1 (TimingName), got 2");
checkError("object for a string", function () { timing.EndTiming(timing); }, 13,
           "Timing.EndTiming: TimingName: expected a string, got a Varne.Timing object");
