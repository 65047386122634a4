"""Bounded waits for what a browser or a server does in its own time."""
import time


def eventually(condition, seconds=10, step=0.1):
    """Waits until `condition` holds or `seconds` have passed and gives its last value; the caller
    asserts it as usual."""
    deadline = time.monotonic() + seconds
    while not condition() and time.monotonic() < deadline:
        time.sleep(step)
    return condition()
