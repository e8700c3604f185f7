"""Applications that misbehave, as services under Wine's SCM with the
test-double VM: the stopped report, its codes, and the order of the stop and
the VM's destruction. The services see ZR_STOP_TIMEOUT=2."""
import pytest

from conftest import ENVIRONMENT_KEY
from test_service import STOPPED, service_for  # noqa: F401 (a fixture)


@pytest.fixture(scope="module", autouse=True)
def stop_timeout(wine):
    """Services take their environment from the session's start: restart it."""
    original = dict(wine.service_environment)
    wine.stop()
    wine.start(dict(original, ZR_STOP_TIMEOUT="2"))
    yield
    wine.stop()
    wine.quiet("wine", "reg", "delete", ENVIRONMENT_KEY, "/v", "ZR_STOP_TIMEOUT", "/f")
    wine.start(original)


@pytest.mark.parametrize("variant, stop, win32, specific, line", [
    ("hang", True, 1066, 4,
     "The application did not stop within 2 seconds of the stop request: the process ends without waiting for it"),
    ("exit 7", False, 1066, 5, "The application ended the process with exit code 7"),
    ("exit 0", False, 0, 0, "The application ended the process with exit code 0"),
    ("return", False, 0, 0, "Invoking main"),
])
def test_service_stops_with_its_code_and_no_control_accepted(service_for, variant, stop, win32, specific, line):
    service = service_for(variant)
    service.sc("start")
    if stop:
        service.wait_log("Invoking main")
        service.sc("stop")
    service.wait_status(state=STOPPED, accepted=0, win32=win32, specific=specific)
    service.wait_gone()
    assert service.log()[-1] == line


def test_vm_is_destroyed_only_after_the_stopping_thread_has_detached(service_for):
    service = service_for("slowstop")
    service.sc("start")
    service.wait_log("Invoking main")
    service.sc("stop")
    service.wait_status(state=STOPPED, accepted=0, win32=0)
    service.wait_log("Waiting for stop() to return before destroying the JVM")
    (service.server / "jvm-go").write_text("")
    service.wait_gone()
    events = service.events()
    assert events.index("DetachCurrentThread") < events.index("DestroyJavaVM")
