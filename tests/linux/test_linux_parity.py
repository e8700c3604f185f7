"""An application hosted by the Linux zrsvc -console finds what it would find
under the java launcher: programs by name, its drivers' native libraries, the
children's default signals, thread dumps; broken standard streams do no harm."""
import os
import shutil
import signal
import subprocess

import pytest

from conftest import BUILD, JAVA_HOME, Instance, preparation

# The bits of SIGHUP, SIGINT, SIGPIPE and SIGTERM in /proc/PID/status masks.
STOP_AND_PIPE = sum(1 << (s - 1) for s in (signal.SIGHUP, signal.SIGINT, signal.SIGPIPE, signal.SIGTERM))


def test_application_starts_programs_loads_libraries_ends_children_and_dumps_threads(tmp_path):
    instance = Instance(tmp_path, "parity")
    (instance.base / "jdbc" / "dll").mkdir()
    shutil.copy(BUILD / "tests" / "jvm" / "libno_entry.so", instance.base / "jdbc" / "dll")
    proc = instance.start()
    instance.wait_file("checks", proc)
    checks = dict(line.split(" ", 1) for line in (instance.folder / "checks").read_text().splitlines())
    assert (checks["ls"], checks["library"], checks["destroyed"]) == ("0", "loaded", "143")
    assert int(checks["SigBlk"], 16) & STOP_AND_PIPE == 0 and int(checks["SigIgn"], 16) & STOP_AND_PIPE == 0
    dump = subprocess.run([JAVA_HOME / "bin" / "jcmd", str(proc.pid), "Thread.print"],
                          capture_output=True, text=True, timeout=120)
    assert '"main"' in dump.stdout, dump
    proc.send_signal(signal.SIGTERM)
    assert proc.wait(timeout=60) == 0


def close_stdout():
    os.close(1)


def break_stdout():
    reader, writer = os.pipe()
    os.close(reader)
    os.dup2(writer, 1)


@pytest.mark.parametrize("spoil", [close_stdout, break_stdout])
def test_a_closed_or_broken_standard_output_leaves_the_run_and_its_log_whole(tmp_path, spoil):
    instance = Instance(tmp_path, "returning")
    proc = instance.start(preexec_fn=spoil)
    proc.communicate(timeout=120)
    assert proc.returncode == 0
    assert instance.log() == preparation(instance)
