"""An application hosted by zrsvc -console on Linux finds what it would find under the java launcher, and
examples/systemd/zrsvc@.service runs it as systemd would."""
import contextlib
import os
import shlex
import signal
import socket
import struct
import subprocess

import pytest

from conftest import BUILD, JAVA_HOME, REPO, Instance, default_signals, preparation, wait_for

# The bits of SIGHUP, SIGINT, SIGPIPE and SIGTERM in the signal masks of /proc/PID/status.
STOP_AND_PIPE = sum(1 << (s - 1) for s in (signal.SIGHUP, signal.SIGINT, signal.SIGPIPE, signal.SIGTERM))
SYSTEMD_PATH = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin"


def checks(instance, name):
    return dict(line.split(" ", 1) for line in (instance.folder / name).read_text().splitlines())


# Children of start() and of stop() start as under java: no stop signal blocked, none ignored but a SIGHUP
# the process inherited as ignored (nohup), which zrsvc leaves ignored too; without PATH, programs are found
# along the system's default path.
@pytest.mark.parametrize("nohup, env", [(False, {}), (True, {}), (False, {"PATH": None})],
                         ids=["plain", "nohup", "no PATH"])
def test_application_starts_programs_loads_libraries_ends_children_and_dumps_threads(tmp_path, nohup, env):
    instance = Instance(tmp_path, "parity")
    (instance.base / "jdbc" / "dll").symlink_to(BUILD / "tests" / "jvm")  # holds libno_entry.so
    proc = instance.start(env, preexec_fn=(lambda: signal.signal(signal.SIGHUP, signal.SIG_IGN)) if nohup else None)
    instance.wait_file("checks", proc)
    ignored = (1 << (signal.SIGHUP - 1)) if nohup else 0
    seen = checks(instance, "checks")
    assert (seen["ls"], seen["library"]) == ("0", "loaded")
    dump = subprocess.run([JAVA_HOME / "bin/jcmd", str(proc.pid), "Thread.print"], capture_output=True, text=True)
    assert '"main"' in dump.stdout, dump
    if nohup:  # a SIGHUP does not stop the application: it stays ignored
        assert int(checks_of_status(proc.pid)["SigIgn"], 16) & STOP_AND_PIPE == ignored
        proc.send_signal(signal.SIGHUP)
    proc.send_signal(signal.SIGTERM)
    assert proc.wait(timeout=60) == 0
    for seen in (seen, checks(instance, "stop-checks")):
        assert seen["destroyed"] == "143"
        assert [int(seen[mask], 16) & STOP_AND_PIPE for mask in ("SigBlk", "SigIgn")] == [0, ignored]
    if env:
        assert f"JVM 'PATH={JAVA_HOME}/bin:{os.confstr('CS_PATH')}'" in instance.log()


def checks_of_status(pid):
    return dict(line.split(":\t", 1) for line in open(f"/proc/{pid}/status").read().splitlines() if ":\t" in line)


@pytest.mark.parametrize("closed", [True, False], ids=["closed", "pipe without reader"])
def test_standard_output_closed_or_without_reader_leaves_the_run_and_its_log_whole(tmp_path, closed):
    instance = Instance(tmp_path, "returning")
    reader, writer = os.pipe()
    os.close(reader)
    proc = instance.start(stdout=writer, preexec_fn=(lambda: os.close(1)) if closed else None)
    os.close(writer)
    assert proc.wait(timeout=120) == 0 and instance.log() == preparation(instance)
    # The console text went nowhere, not into a file the run opened first.
    assert (instance.folder / "zrsvc.lock").read_bytes() == b""


def notifications(manager, pid):
    """The messages waiting on the manager's socket, each checked to come from the process pid."""
    messages = []
    with contextlib.suppress(BlockingIOError):
        while True:
            text, ancillary, _, _ = manager.recvmsg(4096, socket.CMSG_SPACE(12))
            assert struct.unpack("i", ancillary[0][2][:4])[0] == pid  # as systemd's NotifyAccess=main wants
            messages.append(text.decode())
    return messages


STAGES = ["STATUS=Preparing the instance", "STATUS=Creating the Java VM", "READY=1\nSTATUS=Running: start() invoked"]
CLEANING_UP = "STOPPING=1\nSTATUS=Cleaning up: waiting for stop(), destroying the Java VM"


# Type=notify: the unit is started once start() is invoked. Its manager's
# socket is a path or an abstract name.
@pytest.mark.parametrize("variant, status, outcome, socket_name, told", [
    ("blocking", 0, "inactive", "notify", STAGES + ["STOPPING=1\nSTATUS=Stopping: stop() invoked", CLEANING_UP]),
    ("nostart", 2, "restarted", "@zrsvc-test-", STAGES + [CLEANING_UP])])
def test_systemd_unit_runs_the_instance_stops_it_and_counts_its_failures(tmp_path, variant, status, outcome,
                                                                         socket_name, told):
    instance = Instance(tmp_path, variant)
    unit = {}  # each setting's values, %i and the installed base folder made the test's
    for line in (REPO / "examples" / "systemd" / "zrsvc@.service").read_text().splitlines():
        key, _, v = line.partition("=")
        unit.setdefault(key, []).append(v.replace("%i", instance.name).replace("/opt/zrsvc/", f"{instance.base}/"))
    assert unit["Type"] == ["notify"]
    env = dict([("PATH", SYSTEMD_PATH)] + [a.split("=", 1) for v in unit["Environment"] for a in shlex.split(v)])
    env["NOTIFY_SOCKET"] = str(tmp_path / socket_name) if socket_name[0] != "@" else socket_name + str(os.getpid())
    manager = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    manager.bind(env["NOTIFY_SOCKET"].replace("@", "\0", 1))
    manager.setsockopt(socket.SOL_SOCKET, socket.SO_PASSCRED, 1)
    manager.setblocking(False)
    proc = subprocess.Popen(shlex.split(unit["ExecStart"][0]), env=env, cwd=unit["WorkingDirectory"][0],
                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            preexec_fn=default_signals())
    messages = []
    if status == 0:  # the application runs until systemd stops the unit
        wait_for(lambda: messages.extend(notifications(manager, proc.pid)) or STAGES[-1] in messages
                 or proc.poll() is not None, what="READY=1")
        proc.send_signal(signal.Signals[unit["KillSignal"][0]])
    journal, _ = proc.communicate(timeout=int(unit["TimeoutStopSec"][0]))
    assert messages + notifications(manager, proc.pid) == told
    assert proc.returncode == status
    success = status == 0 or str(status) in " ".join(unit.get("SuccessExitStatus", [])).split()
    assert ("inactive" if success else "restarted" if unit["Restart"] == ["on-failure"] else "failed") == outcome
    assert f"JVM 'PATH={env['JAVA_HOME']}/bin:{SYSTEMD_PATH}'" in instance.log()
    assert all(f" - {line}" in journal.decode() for line in instance.log())
