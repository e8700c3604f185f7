"""The Linux build of zrsvc in the foreground (-console NAME) against the real
OpenJDK 17, with the Java service classes the build compiles for the tests."""
import signal
import subprocess

import pytest

from conftest import Instance, preparation, wait_for


@pytest.mark.parametrize("stop_signal", [signal.SIGINT, signal.SIGTERM])
def test_a_stop_signal_calls_stop_and_the_process_ends_with_zero(tmp_path, stop_signal):
    instance = Instance(tmp_path, "blocking")
    proc = instance.start()
    wait_for(lambda: (instance.folder / "started").exists(), what="start() to run")
    proc.send_signal(stop_signal)
    out, _ = proc.communicate(timeout=60)
    assert proc.returncode == 0
    assert instance.log() == preparation(instance) + ["Invoking stop()"]
    # stop() ran on a thread of its own, not the one that runs start().
    assert (instance.folder / "stop-called").read_text() != (instance.folder / "started").read_text()
    assert out.decode().splitlines()[-1].endswith(" - Invoking stop()")


def test_application_ending_by_itself_ends_the_process_with_zero(tmp_path):
    instance = Instance(tmp_path, "returning")
    status, _, _ = instance.run()
    assert status == 0
    assert instance.log() == preparation(instance)


def test_destroying_the_vm_waits_for_the_applications_threads(tmp_path):
    instance = Instance(tmp_path, "lingering")
    status, _, _ = instance.run()
    assert status == 0
    assert (instance.folder / "lingerer-done").read_text() == "done"


@pytest.mark.parametrize("variant, status, line", [
    (None, 1, "Cannot find main class qo/wyn/zr/NTService"),
    ("nostart", 2, "Cannot find start() method"),
    ("throwing", 3, "start() ended with an exception: "),
])
def test_application_failures_end_with_their_own_status(tmp_path, variant, status, line):
    instance = Instance(tmp_path, variant)
    code, _, _ = instance.run()
    assert code == status
    assert any(entry.startswith(line) for entry in instance.log()), instance.log()


def test_previous_log_is_kept(tmp_path):
    instance = Instance(tmp_path, "returning")
    instance.run()
    first = (instance.folder / "log" / "zrsvc-log.txt").read_text()
    instance.run()
    assert (instance.folder / "log" / "zrsvc-log.1.txt").read_text() == first


@pytest.mark.parametrize("command", ["-install", "-uninstall", "-service"])
def test_scm_commands_say_they_need_windows(tmp_path, command):
    instance = Instance(tmp_path, None)
    done = subprocess.run([str(instance.base / "bin" / "zrsvc"), command, "shop"], capture_output=True)
    assert done.returncode == 2
    assert done.stdout.decode() == (f"'{command}' needs the Windows Service Control Manager; "
                                    "here run an instance with -console name.\n")
