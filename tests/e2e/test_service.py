"""The service road under Wine's Service Control Manager, with the test-double
jvm.dll (tests/double) in the Java home that services see: it plays a
scripted variant of the Java service class and records every call."""
import contextlib
import os
import re
import shutil
import signal
import subprocess
import uuid
from pathlib import Path

import pytest

from conftest import BUILD, DOUBLE_DLL, HOLDER_EXE, wait_for, winpath

UCRT_DOUBLE_DLL = BUILD / "tests" / "jvm" / "ucrt" / "jvm.dll"

SVCCTL_EXE = BUILD / "tests" / "svcctl.exe"
STOPPED, START_PENDING, STOP_PENDING, RUNNING = 1, 2, 3, 4
ACCEPTS = 1 | 4 | 0x100  # stop, shutdown and preshutdown


def read_or_nothing(path):
    try:
        return path.read_bytes()
    except OSError:
        return b""


class Service:
    def __init__(self, wine, layout, variant):
        self.wine = wine
        self.layout = layout
        self.instance = "s" + uuid.uuid4().hex[:8]
        self.name = "ZR - " + self.instance
        layout.instance(self.instance)
        self.server = wine.java_home / "bin" / "server"
        for stale in ("jvm-calls.txt", "jvm-go", "jvm-go2", "jvm-hook-file.txt"):
            (self.server / stale).unlink(missing_ok=True)
        (self.server / "jvm-script.txt").write_text(f"{variant}\n{self.name}\n")
        assert b"Service installed successfully." in wine.run(layout.exe, "-install", self.instance).stdout

    def status(self):
        """The service's status as {state, accepted, win32, specific, check, hint}."""
        done = self.wine.run(SVCCTL_EXE, "query", self.name)
        return {key: int(value) for key, value in (item.split("=") for item in done.stdout.decode().split())}

    def sc(self, verb):
        rc, out = self.wine.sc(verb, self.name)
        assert rc == 0, out

    def wait_status(self, **expected):
        def matches():
            status = self.status()
            return all(status[key] == value for key, value in expected.items()) and status
        return wait_for(matches, what=f"{self.name} {expected}")

    def wait_progress(self, state):
        """Waits until the pending state's checkpoint has moved on twice, with a wait hint."""
        first = self.wait_status(state=state)
        assert first["hint"] > 0
        return wait_for(lambda: (now := self.status())["state"] == state and now["check"] >= first["check"] + 2,
                        what=f"the checkpoint of state {state} to move on")

    def log(self):
        return self.layout.log_lines(self.instance)

    def wait_log(self, line):
        return wait_for(lambda: self.layout.log_file(self.instance).exists() and line in self.log(),
                        what=f"log line {line!r}")

    def calls(self):
        """The calls the host made into the double: [(thread, event, args...)]."""
        path = self.server / "jvm-calls.txt"
        return [tuple(line.split("\t")) for line in path.read_text().splitlines()] if path.exists() else []

    def events(self):
        return [call[1] for call in self.calls()]

    def process_alive(self):
        """Under Wine a process's Windows command line shows in /proc."""
        return any(self.name.encode() in text and b"-service" in text for text in map(read_or_nothing,
                   Path("/proc").glob("[0-9]*/cmdline")))

    def wait_gone(self):
        wait_for(lambda: not self.process_alive(), what="the service process to end")


@pytest.fixture
def service_for(wine, layout):
    made = []

    def make(variant):
        made.append(Service(wine, layout, variant))
        return made[-1]
    yield make
    for service in made:
        if service.process_alive():
            wine.sc("stop", service.name)
            service.wait_status(state=STOPPED)
        # A process still cleaning up would record into the next test's calls.
        service.wait_gone()
        wine.run(layout.exe, "-uninstall", service.instance)


def test_stop_request_reports_stop_pending_calls_stop_on_another_thread_and_the_service_stops(service_for):
    service = service_for("block")
    (service.layout.folder("lib") / "app.jar").write_bytes(b"")
    (service.layout.base / "work" / service.instance / "conf" / "jvm.options").write_bytes(b"#\r\n-Xmx64m\r\n\r\n -Da=b c \r\n")
    service.sc("start")
    service.wait_status(state=RUNNING, accepted=ACCEPTS)
    service.wait_log("Invoking main")
    service.sc("stop")
    status = service.wait_status(state=STOPPED)
    assert (status["win32"], status["specific"]) == (0, 0)
    service.wait_gone()

    base = winpath(service.layout.base)
    assert service.log()[1] == f"BASE PATH: '{base}\\'"
    assert service.log()[-3:] == ["Starting JVM", "Invoking main", "Invoking stop()"]
    calls = service.calls()
    # The VM finds the process's PATH replaced by exactly three folders.
    java_home = winpath(service.wine.java_home)
    assert [c[2] for c in calls if c[1] == "environment"] == [
        f"PATH={java_home}\\bin;{java_home}\\bin\\server;{base}\\jdbc\\dll"]
    # The VM's hooks come first, so that what the VM says about the options
    # reaches the log; then the class path and the lines of conf/jvm.options.
    creation = next(c for c in calls if c[1] == "JNI_CreateJavaVM")
    assert creation[1:] == ("JNI_CreateJavaVM", "version=0x00010002", "nOptions=6", "ignoreUnrecognized=0",
                            "option0=vfprintf", "extraInfo0=set", "option1=exit", "extraInfo1=set",
                            "option2=abort", "extraInfo2=set",
                            f"option3=-Djava.class.path={base}\\lib\\app.jar;conf", "extraInfo3=null",
                            "option4=-Xmx64m", "extraInfo4=null", "option5=-Da=b c", "extraInfo5=null")
    on = {thread: [c[1:3] for c in calls if c[0] == thread] for thread in {c[0] for c in calls}}
    stop_thread = next(c[0] for c in calls if c[1] == "AttachCurrentThread")
    assert stop_thread != creation[0]
    # The thread that created the VM leaves it before it destroys it.
    assert on[creation[0]][3:] == [("FindClass", "qo/wyn/zr/NTService"), ("GetStaticMethodID", "start"),
                                   ("CallStaticVoidMethodV", "start"), ("returned", "start"),
                                   ("ExceptionOccurred",), ("DetachCurrentThread",), ("DestroyJavaVM",)]
    # The SCM shows the stop pending when stop() begins.
    assert on[stop_thread] == [("AttachCurrentThread", "args=null"), ("FindClass", "qo/wyn/zr/NTService"),
                               ("GetStaticMethodID", "stop"), ("CallStaticVoidMethodV", "stop"),
                               ("status", str(STOP_PENDING)), ("returned", "stop"), ("ExceptionOccurred",),
                               ("DetachCurrentThread",)]
    assert calls[-1][1] == "DestroyJavaVM"


# The VM's creation may take minutes (a debugger agent waiting for its debugger, a large heap touched) or never
# end: a stop then ends the service at once, as on Linux (the session's ZR_STOP_TIMEOUT of 2 s plays no part).
def test_start_pending_moves_on_while_the_vm_is_created_and_a_stop_then_ends_the_service_at_once(service_for):
    service = service_for("slowcreate")
    service.sc("start")
    service.wait_log("Starting JVM")
    service.wait_progress(START_PENDING)
    service.sc("stop")
    service.wait_status(state=STOPPED, win32=0, specific=0)
    service.wait_gone()
    assert service.log()[-1] == "Stop requested while the JVM was being created: the process ends"
    assert "CallStaticVoidMethodV" not in service.events()


# A reason logged, and one said on the console, which no one reads for a service.
@pytest.mark.parametrize("name, reason", [("nothere", "Cannot change working dir: 2: the instance folder "
                                                      "'{base}\\work\\nothere' does not exist; create it, with its "
                                                      "log and conf folders"),
                                          ("shop.", "Invalid instance name 'shop.': it ends with a blank or a dot"),
                                          ("ｓｈｏｐ", "Invalid instance name 'ZR - ????': it holds characters that "
                                                   "the ANSI code page 1252 cannot hold")])
def test_a_fatal_condition_of_a_service_is_written_to_the_event_log(wine, layout, name, reason):
    layout.folder("work")  # without the instance's folder
    done = wine.run(layout.exe, "-service", "ZR - " + name, env={"WINEDEBUG": "-all,err+eventlog"})
    assert done.returncode == 255
    assert done.stderr.decode().count(":eventlog:") == 1
    reason = reason.format(base=winpath(layout.base)).replace("\\", "\\\\")  # Wine's debug text escapes them
    assert f'err:eventlog:ReportEventW L"{reason}"' in done.stderr.decode()


def test_a_service_whose_log_cannot_be_opened_keeps_its_lines_in_its_captured_output(service_for):
    service = service_for("output")
    log_folder = service.layout.log_file(service.instance).parent
    # Neither opened nor kept apart: the session keeps two files, and folders
    # that are not empty cannot be moved onto each other.
    for name in ("zrsvc-log.txt", "zrsvc-log.1.txt", "zrsvc-log.2.txt"):
        (log_folder / name / "entry").mkdir(parents=True)
    service.sc("start")
    service.wait_status(state=STOPPED)
    service.wait_gone()
    captured = (log_folder / "zrsvc-stdout.txt").read_bytes().decode("cp1252")
    for line in [f"Cannot open the log file '{winpath(log_folder)}\\zrsvc-log.txt': 5", "Started ZR NTService 1.0",
                 "JAVA_HOME: '", "JVM '-Djava.class.path=", "Class archive not used: ZR_CLASS_ARCHIVE is off",
                 "Starting JVM", "double: to standard error 2"]:
        assert f" - {line}" in captured


# How the service ends (the session's services see ZR_STOP_TIMEOUT=2): the
# stopped report accepts no control and carries the application's exit code.
@pytest.mark.parametrize("variant, stop, win32, specific, line", [
    ("output", False, 0, 0, "double: to standard error 2"),
    ("hang", True, 1066, 4,
     "The application did not stop within 2 seconds of the stop request: the process ends without waiting for it"),
    ("exit 7", False, 1066, 5, "The application ended the process with exit code 7"),
    ("exit 0", False, 0, 0, "The application ended the process with exit code 0"),
])
def test_the_service_stops_with_its_exit_code_and_no_control_accepted(service_for, variant, stop, win32, specific,
                                                                      line):
    service = service_for(variant)
    service.sc("start")
    if stop:
        service.wait_log("Invoking main")
        service.sc("stop")
    service.wait_status(state=STOPPED, accepted=0, win32=win32, specific=specific)
    service.wait_gone()
    assert service.log()[-1] == line


@pytest.fixture(params=["msvcrt", "ucrt"])
def vm_runtime(request, wine):
    """The session's Java home with the double built against either C runtime."""
    vm_library = wine.java_home / "bin" / "server" / "jvm.dll"
    shutil.copy(UCRT_DOUBLE_DLL if request.param == "ucrt" else DOUBLE_DLL, vm_library)
    yield request.param
    shutil.copy(DOUBLE_DLL, vm_library)


# What the VM writes to its standard handles, and what its hook is given for its C runtime's standard streams
# (written through that runtime, whichever it is), is kept beside the log; what the hook is given for a file
# of the VM's goes to that file only. What the VM's runtime prints on its standard error while the VM is
# created, before its hook is in force, becomes log lines.
@pytest.mark.usefixtures("vm_runtime")
@pytest.mark.parametrize("variant", ["output", "fail"])
def test_the_vms_output_is_captured_whichever_c_runtime_it_prints_with(service_for, variant):
    service = service_for(variant)
    service.sc("start")
    service.wait_gone()
    captured = service.layout.log_file(service.instance).parent / "zrsvc-stdout.txt"
    if variant == "fail":
        assert service.log()[-4:] == ["double: Could not open options file 'x'", "JNI_CreateJavaVM failed: -1",
                                      "Create JVM failed!", "Terminated with exit code -1."]
        return
    assert captured.read_bytes() == (b"double: standard output\r\ndouble: standard error\r\n"
                                     b"double: to standard output 1\r\ndouble: to standard error 2\r\n")
    assert service.log()[-3:] == ["Invoking main", "double: to standard output 1", "double: to standard error 2"]
    assert (service.server / "jvm-hook-file.txt").read_bytes() == b"double: to its file 3\r\n"


def test_stop_pending_moves_on_while_stop_runs_and_the_vm_is_destroyed_after_the_stopping_thread_detached(
        service_for):
    service = service_for("slowstop")
    service.sc("start")
    service.wait_log("Invoking main")
    service.sc("stop")
    service.wait_log("Waiting for stop() to return before destroying the JVM")
    service.wait_progress(STOP_PENDING)
    (service.server / "jvm-go").write_text("")
    service.wait_status(state=STOPPED, accepted=0, win32=0)
    events = service.events()
    assert events.index("DetachCurrentThread") < events.index("DestroyJavaVM") == len(events) - 1


def rolled_files(log_folder, name):
    """The files of a rolled output, oldest first, and whether more than two are kept."""
    files = [log_folder / f"{name}.{index}.txt" for index in (2, 1)] + [log_folder / f"{name}.txt"]
    return [path.read_bytes() for path in files if path.exists()], (log_folder / f"{name}.3.txt").exists()


def numbers(lines, pattern):
    return [int(match.group(1)) for match in map(re.compile(pattern).fullmatch, lines) if match]


# The session's services roll at 1 MiB and keep two files. The double prints
# 45,000 lines of 100 bytes through its C runtime, the host's hook and the
# standard handle, then an unfinished line, and its start() returns, it calls
# the exit hook, or it crashes (the abort hook, then the end of the process,
# which Wine's SCM does not notice): all of it reaches the files.
@pytest.mark.parametrize("variant", ["chatty 45000", "chattyexit 45000", "chattyabort 45000"])
def test_captured_output_and_log_roll_over_between_whole_lines_losing_nothing(service_for, variant):
    service = service_for(variant)
    service.sc("start")
    if variant.startswith("chattyabort"):
        service.wait_log("The Java VM aborted the process")
    else:
        service.wait_status(state=STOPPED, win32=0)
    service.wait_gone()
    folder = service.layout.log_file(service.instance).parent
    limit = 1 << 20
    # 4.5 MB of output, of which the oldest beyond the two files kept are gone;
    # every third line, through the hook, in 1.7 MB of log.
    # The log keeps its first line of output (1); the output's oldest are gone.
    for name, line_pattern, last_line, step, count, first in [
            ("zrsvc-stdout", rb"double: line (\d{6}) x{80}", b"double: last words", 1, 3, None),
            ("zrsvc-log", rb"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d - double: line (\d{6}) x{80}", b"", 3, 2, 1)]:
        files, too_many = rolled_files(folder, name)
        assert len(files) == count and not too_many, name
        assert all(len(data) <= limit + 130 for data in files) and all(len(data) > limit - 130 for data in files[:-1])
        lines = b"".join(files).split(b"\r\n")
        assert lines.pop() == last_line, name
        assert all(b"\n" not in line and b"\r" not in line for line in lines)
        # Every line whole, once and in order, up to the last one.
        printed = numbers(lines, line_pattern)
        assert printed == list(range(printed[0], 45000, step)), name
        assert first is None or printed[0] == first, name
        assert len(printed) >= 20000 // step
    assert numbers(rolled_files(folder, "zrsvc-stdout")[0][0].split(b"\r\n"), rb"double: line (\d{6}) x{80}")[0] > 0


@contextlib.contextmanager
def viewer_holding(wine, path, *sharing):
    """Another program holding the file open, as holder.c does, until the block ends."""
    viewer = subprocess.Popen(["wine", str(HOLDER_EXE), winpath(path), *sharing], env=wine.env,
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                              start_new_session=True)
    try:
        assert viewer.stdout.readline() == b"held\r\n"
        yield
    finally:
        os.killpg(viewer.pid, signal.SIGKILL)
        viewer.wait(timeout=30)


def roll_failures(folder):
    """The log's lines that say a roll failed; access denied (5) under Wine,
    where Windows may say a sharing violation (32)."""
    log = b"".join(rolled_files(folder, "zrsvc-log")[0]).decode().split("\r\n")
    return [re.sub(r": (5|32); ", ": <code>; ", line.split(" - ", 1)[1]) for line in log if " - Cannot keep" in line]


PAST_THE_LIMIT = "; the output goes on past its limit of 1048576 bytes until it can be rolled over"


# A kept file that another program holds open sharing only reading cannot be
# replaced: the output goes on past its limit in the current file, losing
# nothing and saying so once, and the application is not held up.
def test_a_kept_file_held_by_another_program_costs_the_limit_only(service_for):
    service = service_for("chatty 45000")
    folder = service.layout.log_file(service.instance).parent
    (folder / "zrsvc-stdout.2.txt").write_bytes(b"held\r\n")
    with viewer_holding(service.wine, folder / "zrsvc-stdout.2.txt"):
        service.sc("start")
        service.wait_status(state=STOPPED, win32=0)
        service.wait_gone()
    files, _ = rolled_files(folder, "zrsvc-stdout")
    assert files[0] == b"held\r\n" and len(files[1]) <= (1 << 20) and len(files[2]) > 3 << 20
    lines = b"".join(files[1:]).split(b"\r\n")
    assert lines.pop() == b"double: last words"
    assert numbers(lines, rb"double: line (\d{6}) x{80}") == list(range(45000))
    assert roll_failures(folder) == ["Cannot keep zrsvc-stdout.1.txt as zrsvc-stdout.2.txt: <code>" + PAST_THE_LIMIT]


# A viewer of the growing file itself, which shares it for writing but not
# for deleting, holds up its roll while it looks: the file grows past its
# limit meanwhile, and rolls over again once the viewer is gone, no kept file
# lost to the retries.
def test_the_current_file_held_by_a_viewer_rolls_over_again_once_it_is_let_go(service_for):
    service = service_for("chattywait 15000")
    folder = service.layout.log_file(service.instance).parent
    current = folder / "zrsvc-stdout.txt"
    service.sc("start")
    wait_for(lambda: b"double: line 014999" in read_or_nothing(current), what="the first round of lines")
    with viewer_holding(service.wine, current, "shared"):
        (service.server / "jvm-go").write_text("")
        wait_for(lambda: b"double: line 029999" in read_or_nothing(current), what="the second round of lines")
    (service.server / "jvm-go2").write_text("")
    service.wait_status(state=STOPPED, win32=0)
    service.wait_gone()
    files, too_many = rolled_files(folder, "zrsvc-stdout")
    assert not too_many and len(files[0]) > 3 << 20 >> 1 and all(len(data) <= 1 << 20 for data in files[1:])
    lines = b"".join(files).split(b"\r\n")
    assert lines.pop() == b"double: last words"
    printed = numbers(lines, rb"double: line (\d{6}) x{80}")
    assert printed == list(range(printed[0], 45000)) and printed[0] < 15000
    assert roll_failures(folder) == ["Cannot keep zrsvc-stdout.txt as zrsvc-stdout.1.txt: <code>" + PAST_THE_LIMIT]
