"""The contract of the Python module that every class keeps."""
import datetime
import threading
import time

import pytest

import varne


def test_creates_objects_by_programmatic_identifier():
    timing = varne.CreateObject("Varne.Timing")
    assert repr(timing) == "<varne.Timing object>"
    assert dir(timing) == sorted(
        ["GetStartTime", "GetEndTime", "GetLapsed", "StartTiming", "EndTiming", "LapsedString",
         "GetLapsedMilliseconds"])
    with pytest.raises(varne.AutomationError) as raised:
        varne.CreateObject("Varne.Nothing")
    assert raised.value.number == 429


def test_times_two_seconds():
    timing = varne.CreateObject("Varne.Timing")
    timing.StartTiming("Step")
    time.sleep(2.2)
    timing.EndTiming("Step")
    # The clock is read to the whole second, so 2.2 s may span 2 or 3 second boundaries.
    assert timing.LapsedString("Step") in ("0 days 00:00:02", "0 days 00:00:03")
    start, end = timing.GetStartTime("Step"), timing.GetEndTime("Step")
    assert isinstance(start, datetime.datetime) and start.tzinfo is None
    assert (end - start).total_seconds() == timing.GetLapsed("Step")


def test_values_keep_their_automation_types():
    timing = varne.CreateObject("Varne.Timing")
    assert timing.GetStartTime("unknown") == -1
    assert type(timing.GetStartTime("unknown")) is int
    assert timing.GetLapsed("unknown") == -1
    assert timing.LapsedString("unknown") == "<unknown timing>"
    assert varne.CreateObject("Varne.Config").GetItem("missing") == ""


def test_arguments_by_keyword_any_case_and_position():
    timing = varne.CreateObject("Varne.Timing")
    timing.starttiming(TimingName="Load")
    assert timing.GetLapsed(timingname="Load") == 0
    with pytest.raises(varne.AutomationError) as raised:
        timing.GetLapsed(Name="Load")
    assert (raised.value.number, raised.value.description) == (
        448, "Named argument not found: Name of Timing.GetLapsed (its parameters: TimingName)")
    with pytest.raises(varne.AutomationError) as raised:
        timing.GetLapsed()
    assert raised.value.number == 449


def test_automation_error_carries_number_and_description():
    timing = varne.CreateObject("Varne.Timing")
    with pytest.raises(varne.AutomationError) as raised:
        timing.Frobnicate()
    error = raised.value
    assert error.number == 438
    assert error.description == "Object doesn't support this property or method: Timing.Frobnicate"
    assert str(error) == "Object doesn't support this property or method: Timing.Frobnicate (error 438)"
    assert isinstance(error, Exception)


def test_enumeration_members_are_module_constants():
    assert (varne.brwImgAlt, varne.brwImgSrc, varne.brwInnerText) == (1, 2, 3)
    assert (varne.brwExactMatch, varne.brwLeftMatch, varne.brwRightMatch) == (1, 2, 3)


def test_objects_refuse_calls_from_another_thread():
    timing = varne.CreateObject("Varne.Timing")
    seen = []

    def call():
        try:
            timing.GetLapsed("x")
        except varne.AutomationError as error:
            seen.append(error.number)

    worker = threading.Thread(target=call)
    worker.start()
    worker.join()
    assert seen == [-2147417842]
