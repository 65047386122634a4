"""Times one step with a Timing object and prints its lapsed text."""
import time

import varne

timing = varne.CreateObject("Varne.Timing")
timing.StartTiming("Step")
time.sleep(1)
timing.EndTiming("Step")
print("Step started", timing.GetStartTime("Step"), "took", timing.LapsedString("Step"))
