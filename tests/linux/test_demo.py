"""scripts/demo's run of the sample application (scripts/heartbeat, with the
build's zrsvc), stopped as the demo stops it: after five heartbeats, or by
Ctrl+C at its terminal (SIGINT to its whole process group, where zrsvc, a
background job of the script, ignores it)."""
import os
import signal
import subprocess

import pytest

from conftest import BUILD, REPO, default_signals, wait_for


@pytest.mark.parametrize("ctrl_c", [False, True], ids=["after five heartbeats", "Ctrl+C"])
def test_the_demo_stops_the_application_and_ends_with_its_status(tmp_path, ctrl_c):
    demo = tmp_path / "demo"
    beats = demo / "app" / "work" / "heartbeat" / "heartbeat.txt"
    proc = subprocess.Popen([str(REPO / "scripts" / "heartbeat"), str(BUILD / "zrsvc"), str(demo)],
                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            start_new_session=True, preexec_fn=default_signals())
    try:
        if ctrl_c:
            wait_for(lambda: "heartbeat 1 " in (beats.read_text() if beats.exists() else "") or proc.poll() is not None,
                     what="the first heartbeat")
            assert proc.poll() is None, proc.communicate()[0].decode()
            os.killpg(proc.pid, signal.SIGINT)
        out = proc.communicate(timeout=120)[0].decode()
    finally:
        proc.kill()
    assert proc.returncode == 0, out
    assert "== zrsvc ended with exit status 0\n" in out
    lines = beats.read_text().splitlines()
    assert lines[-1] == "heartbeat: stopped"
    assert len(lines) - 1 < 5 if ctrl_c else len(lines) - 1 >= 5
    assert out.rstrip().endswith(" - Invoking stop()")
