"""The service road under Wine's Service Control Manager, with the test-double
jvm.dll in the Java home that services see (ZR_JAVA_HOME in the registry).

The double plays a scripted variant of the Java service class and records
every call the host makes into it, one tab-separated line per call:
"<thread id>\t<event>\t<arguments...>".
"""
import re
import uuid
from pathlib import Path

import pytest

from conftest import BUILD, wait_for, winpath

SVCCTL_EXE = BUILD / "tests" / "svcctl.exe"
STOPPED, STOP_PENDING, RUNNING = 1, 3, 4
ACCEPT_STOP, ACCEPT_SHUTDOWN = 1, 4


class Service:
    def __init__(self, wine, layout, variant):
        self.wine = wine
        self.layout = layout
        self.instance = "s" + uuid.uuid4().hex[:8]
        self.name = "ZR - " + self.instance
        self.folder = layout.instance(self.instance)
        self.server = wine.java_home / "bin" / "server"
        for stale in ("jvm-calls.txt", "jvm-go"):
            (self.server / stale).unlink(missing_ok=True)
        (self.server / "jvm-script.txt").write_text(variant + "\n")
        done = wine.run(layout.exe, "-install", self.instance)
        assert b"Service installed successfully." in done.stdout

    def status(self):
        """The service's status as {state, accepted, win32, specific}."""
        done = self.wine.run(SVCCTL_EXE, "query", self.name)
        fields = dict(item.split("=") for item in done.stdout.decode().split())
        return {key: int(value) for key, value in fields.items()}

    def control(self, code):
        done = self.wine.run(SVCCTL_EXE, "control", self.name, str(code))
        return done.stdout.decode().strip()

    def start(self):
        rc, out = self.wine.sc("start", self.name)
        assert rc == 0, out

    def stop(self):
        rc, out = self.wine.sc("stop", self.name)
        assert rc == 0, out

    def wait_status(self, what, **expected):
        def matches():
            status = self.status()
            return all(status[key] == value for key, value in expected.items()) and status
        return wait_for(matches, timeout=30, what=f"{self.name} {what} {expected}")

    def log(self):
        return self.layout.log_lines(self.instance)

    def wait_log(self, line):
        return wait_for(lambda: self.layout.log_file(self.instance).exists() and line in self.log(),
                        timeout=30, what=f"log line {line!r}")

    def calls(self):
        """The calls the host made into the double: [(thread, event, args...)]."""
        path = self.server / "jvm-calls.txt"
        if not path.exists():
            return []
        return [tuple(line.split("\t")) for line in path.read_text().splitlines()]

    def events(self):
        return [call[1:] for call in self.calls() if call[1] not in ("load", "environment")]

    def process_alive(self):
        marker = self.name.encode()
        for cmdline in Path("/proc").glob("[0-9]*/cmdline"):
            try:
                if marker in cmdline.read_bytes() and b"-service" in cmdline.read_bytes():
                    return True
            except OSError:
                pass
        return False


@pytest.fixture(scope="session")
def double(wine):
    server = wine.java_home / "bin" / "server"
    if not (server / "jvm.dll").exists():
        pytest.fail("the test-double jvm.dll is missing from the Java home of the session")
    return server


@pytest.fixture
def service_for(wine, layout, double):
    made = []

    def make(variant):
        made.append(Service(wine, layout, variant))
        return made[-1]
    yield make
    for service in made:
        if service.status()["state"] != STOPPED and service.process_alive():
            wine.sc("stop", service.name)
            service.wait_status("stopped", state=STOPPED)
        wine.run(layout.exe, "-uninstall", service.instance)


def preparation_lines(service):
    """The lines every run logs before the dispatcher takes over."""
    base = winpath(service.layout.base) + "\\"
    return [
        "Started ZR NTService 1.0",
        f"BASE PATH: '{base}'",
        f"WORKING DIR PATH: '{base}work\\{service.instance}'",
    ]


def test_stop_request_calls_stop_on_another_thread_and_the_service_stops(service_for):
    service = service_for("block")
    (service.layout.folder("lib") / "app.jar").write_bytes(b"")
    service.start()
    service.wait_status("running with the VM", state=RUNNING, accepted=ACCEPT_STOP | ACCEPT_SHUTDOWN)
    service.wait_log("Invoking main")
    service.stop()
    status = service.wait_status("stopped", state=STOPPED)
    assert (status["win32"], status["specific"]) == (0, 0)

    log = service.log()
    assert log[:3] == preparation_lines(service)
    assert log[-3:] == ["Starting JVM", "Invoking main", "Invoking stop()"]
    assert not any("Terminated" in line for line in log)

    calls = wait_for(lambda: [c for c in service.calls() if c[1] == "DestroyJavaVM"] and service.calls(),
                     what="the VM to be destroyed")
    events = [c[1:] for c in calls if c[1] not in ("load", "environment")]
    create = events[0]
    assert create[0] == "JNI_CreateJavaVM"
    assert "version=0x00010002" in create and "nOptions=4" in create
    assert "ignoreUnrecognized=0" in create and "extraInfo3=null" in create
    base = winpath(service.layout.base)
    assert f"option3=-Djava.class.path={base}\\lib\\app.jar;conf" in create

    # The VM finds the process's PATH replaced by exactly three folders.
    java_home = winpath(service.wine.java_home)
    assert [c[2] for c in calls if c[1] == "environment"] == [
        f"PATH={java_home}\\bin;{java_home}\\bin\\server;{base}\\jdbc\\dll"]

    service_thread = calls[[c[1] for c in calls].index("JNI_CreateJavaVM")][0]
    on_service_thread = [c[1:3] for c in calls
                         if c[0] == service_thread and c[1] not in ("load", "environment")]
    assert on_service_thread[:4] == [
        ("JNI_CreateJavaVM", create[1]),
        ("FindClass", "qo/wyn/zr/NTService"),
        ("GetStaticMethodID", "start"),
        ("CallStaticVoidMethodV", "start"),
    ]
    attach = [c for c in calls if c[1] == "AttachCurrentThread"]
    assert len(attach) == 1 and attach[0][0] != service_thread
    stop_thread = attach[0][0]
    stop_events = [c[1] for c in calls if c[0] == stop_thread]
    assert stop_events[0] == "AttachCurrentThread" and stop_events[-1] == "DetachCurrentThread"
    assert ("CallStaticVoidMethodV", "stop") in [c[1:3] for c in calls if c[0] == stop_thread]
    destroy = [c for c in calls if c[1] == "DestroyJavaVM"]
    assert len(destroy) == 1 and destroy[0][0] == service_thread
    assert calls.index(destroy[0]) > max(i for i, c in enumerate(calls) if c[1:3] == ("returned", "start"))
    assert not [c for c in calls if c[1] in ("unexpected", "violation")]
    wait_for(lambda: not service.process_alive(), what="the service process to end")


def test_running_is_reported_before_the_vm_exists_and_stop_accepted_only_after(service_for):
    service = service_for("slowcreate")
    service.start()
    service.wait_status("running without the VM", state=RUNNING, accepted=0)
    service.wait_log("Starting JVM")
    assert service.status()["accepted"] == 0
    (service.server / "jvm-go").write_text("")
    service.wait_status("running with the VM", state=RUNNING, accepted=ACCEPT_STOP | ACCEPT_SHUTDOWN)
    service.stop()
    service.wait_status("stopped", state=STOPPED, win32=0)


def test_application_ending_by_itself_stops_the_service_without_a_stop_request(service_for):
    service = service_for("return")
    service.start()
    service.wait_status("stopped", state=STOPPED, win32=0, specific=0)
    wait_for(lambda: not service.process_alive(), what="the service process to end")
    log = service.log()
    assert log[-2:] == ["Starting JVM", "Invoking main"]
    assert "Invoking stop()" not in log
    assert "AttachCurrentThread" not in [event[0] for event in service.events()]
    assert service.events()[-1] == ("DestroyJavaVM",)


@pytest.mark.parametrize("variant, line, error, specific", [
    ("noclass", "Cannot find main class qo/wyn/zr/NTService", "java.lang.NoClassDefFoundError", 1),
    ("nostart", "Cannot find start() method", "java.lang.NoSuchMethodError", 2),
])
def test_missing_class_or_start_reports_a_service_specific_failure(service_for, variant, line, error, specific):
    service = service_for(variant)
    service.start()
    service.wait_status("stopped", state=STOPPED, win32=1066, specific=specific)
    wait_for(lambda: not service.process_alive(), what="the service process to end")
    assert service.log()[-2] == line
    assert service.log()[-1].startswith("Lookup ended with an exception: " + error)
    events = [event[0] for event in service.events()]
    assert "CallStaticVoidMethodV" not in events
    assert events[-1] == "DestroyJavaVM"
    assert not [e for e in events if e in ("unexpected", "violation")]


def test_start_ending_with_an_exception_is_logged_and_reported(service_for):
    service = service_for("throw")
    service.start()
    service.wait_status("stopped", state=STOPPED, win32=1066, specific=3)
    wait_for(lambda: not service.process_alive(), what="the service process to end")
    assert any("java.lang.IllegalStateException: boom" in line for line in service.log())
    assert "ExceptionClear" in [event[0] for event in service.events()]


def test_vm_that_cannot_be_created_ends_the_process(service_for):
    service = service_for("createfail")
    service.start()
    wait_for(lambda: service.layout.log_file(service.instance).exists()
             and "Terminated with exit code -1." in service.log(), what="the termination line")
    assert service.log()[-2:] == ["Create JVM failed!", "Terminated with exit code -1."]
    wait_for(lambda: not service.process_alive(), what="the service process to end")


@pytest.mark.parametrize("code", [2, 3, 4, 128])
def test_other_controls_are_ignored_and_not_advertised(service_for, code):
    service = service_for("block")
    service.start()
    service.wait_status("running with the VM", state=RUNNING, accepted=ACCEPT_STOP | ACCEPT_SHUTDOWN)
    service.wait_log("Invoking main")
    service.control(code)
    assert service.status()["state"] == RUNNING
    assert service.log()[-1] == "Invoking main"
    assert "AttachCurrentThread" not in [event[0] for event in service.events()]
    service.stop()
    service.wait_status("stopped", state=STOPPED)


def test_twenty_start_stop_cycles_leave_complete_logs(service_for):
    service = service_for("block")
    for cycle in range(20):
        (service.server / "jvm-calls.txt").unlink(missing_ok=True)
        service.start()
        service.wait_status("running with the VM", state=RUNNING, accepted=ACCEPT_STOP | ACCEPT_SHUTDOWN)
        service.wait_log("Invoking main")
        service.stop()
        service.wait_status("stopped", state=STOPPED, win32=0)
        wait_for(lambda: not service.process_alive(), what=f"the service process to end (cycle {cycle})")
        log = service.log()
        assert log[:3] == preparation_lines(service), cycle
        assert log[-3:] == ["Starting JVM", "Invoking main", "Invoking stop()"], cycle
        assert [e[0] for e in service.events()].count("DestroyJavaVM") == 1, cycle


def test_what_the_vm_writes_to_standard_output_and_error_is_kept(service_for):
    service = service_for("output")
    for run in range(2):
        service.start()
        service.wait_status("stopped", state=STOPPED, win32=0)
        wait_for(lambda: not service.process_alive(), what="the service process to end")
    folder = service.layout.log_file(service.instance).parent
    for name in ("zrsvc-stdout.txt", "zrsvc-stdout.1.txt"):
        assert (folder / name).read_bytes() == (b"double: standard output\r\n"
                                                b"double: standard error\r\n"), name
    assert (folder / "zrsvc-log.1.txt").exists()


def test_the_process_waits_for_the_vm_to_be_destroyed_after_reporting_stopped(service_for):
    service = service_for("slowdestroy")
    service.start()
    service.wait_status("running with the VM", state=RUNNING, accepted=ACCEPT_STOP | ACCEPT_SHUTDOWN)
    service.stop()
    service.wait_status("stopped", state=STOPPED, win32=0)
    wait_for(lambda: not service.process_alive(), what="the service process to end")
    assert [event[0] for event in service.events()][-2:] == ["DestroyJavaVM", "destroyed"]
