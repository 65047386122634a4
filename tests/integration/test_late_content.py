"""Waiting for content that a page adds after its load, and stopwatches in milliseconds, on the real Chromium."""
import pytest

import varne


def test_text_and_elements_that_come_after_the_load_are_waited_for(browser, site, log):
    timing = varne.CreateObject("Varne.Timing")
    timing.StartTiming("Late")
    browser.GotoURL(site.url("late_content.html"))
    assert browser.GetLastActionMilliseconds() >= 0

    assert browser.WaitForText("Total: 3") == 0
    timing.EndTiming("Late")
    # The text is added 1.5 s after the load, which came after the stopwatch started.
    assert timing.GetLapsedMilliseconds("Late") >= 1500
    assert timing.GetLapsedMilliseconds("Late") >= browser.GetLastActionMilliseconds()
    assert timing.GetLapsedMilliseconds("never started") == -1

    assert browser.WaitForElement("#total", 5) == 0
    assert browser.WaitForElement("span.late", Seconds=5) == 0  # in a frame of the page's origin
    assert browser.WaitForText("Shipped", 5) == 0
    # The frame of another origin cannot be read: it is passed over, not an error.
    assert browser.WaitForText("Frame B", 0) == -1
    assert browser.WaitForText("Never", 1) == -1
    assert browser.WaitForElement("#never", 1) == -1
    assert log()[-3:] == ['Text "Frame B" not shown after 0 seconds', 'Text "Never" not shown after 1 seconds',
                          'Element "#never" not found after 1 seconds']

    with pytest.raises(varne.AutomationError):
        browser.WaitForElement("##not a selector", 1)
