"""Applications that misbehave, in the foreground on the real VM: every run
ends by itself, or on a second stop request, with its own status and a log
that says why."""
import signal

import pytest

from conftest import Instance, wait_for

AGAIN = ["Stop requested again: the process ends without waiting for the application"]
EXITED = ["The application ended the process with exit code 7"]


# The case the Java class plays (ZR_TEST_CASE), more environment, the stop
# signals (each sent once the log holds the line before it), the exit status
# and the last lines of the log.
@pytest.mark.parametrize("case, env, stops, status, last", [
    ("release-then-block", {}, [("Invoking main", signal.SIGINT),
                                ("Waiting for stop() to return before destroying the JVM", signal.SIGINT)], 6, AGAIN),
    ("throw-in-stop", {}, [("Invoking main", signal.SIGTERM),
                           ("stop() ended with an exception: java.lang.IllegalStateException: refused",
                            signal.SIGTERM)], 6, AGAIN),
    ("ignore", {"ZR_STOP_TIMEOUT": "2"}, [("Invoking main", signal.SIGINT)], 4,
     ["The application did not stop within 2 seconds of the stop request: the process ends without waiting for it"]),
    ("linger", {}, [], 7, ["The JVM was not destroyed within 30 seconds after the application ended: "
                           "the process ends without waiting for it"]),
    ("exit-in-start", {}, [], 5, EXITED),
    ("exit-in-stop", {}, [("Invoking main", signal.SIGINT)], 5, EXITED),
    ("ignore", {"JAVA_TOOL_OPTIONS": "-Xmx1m"}, [], 255,
     ["Too small maximum heap", "Create JVM failed!", "Terminated with exit code -1."]),
    ("ignore", {"ZR_STOP_TIMEOUT": "86401"}, [], 255,
     ["Invalid ZR_STOP_TIMEOUT '86401': a whole number of seconds from 1 to 86400 is expected",
      "Terminated with exit code -1."]),
])
def test_misbehaving_application_ends_the_run_with_its_own_status(tmp_path, case, env, stops, status, last):
    instance = Instance(tmp_path, "misbehaving")
    proc = instance.start(dict(env, ZR_TEST_CASE=case))
    try:
        for line, stop_signal in stops:
            wait_for(lambda: instance.log_file().exists() and line in instance.log(), what=line)
            proc.send_signal(stop_signal)
        proc.communicate(timeout=120)
    finally:
        proc.kill()
    assert (proc.returncode, instance.log()[-len(last):]) == (status, last)
