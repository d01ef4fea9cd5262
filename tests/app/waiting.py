"""The condition wait the Python tests share: no fixed sleeps as synchronisation."""
import time


def wait_for(predicate, what, fail, seconds):
    """predicate()'s first true value, polled every 50 ms; fail(what) after `seconds`."""
    deadline = time.monotonic() + seconds
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            return fail(what)
        time.sleep(0.05)
