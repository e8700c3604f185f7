"""Waiting for something without a fixed sleep: both pytest suites poll."""
import time


def wait_for(predicate, timeout=60.0, what="condition"):
    """Polls predicate until it returns a true value, which it returns; fails after timeout."""
    deadline = time.monotonic() + timeout
    while not (value := predicate()):
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out after {timeout}s waiting for {what}")
        time.sleep(0.05)
    return value
