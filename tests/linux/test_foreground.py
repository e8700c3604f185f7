"""The Linux build of zrsvc in the foreground (-console NAME) against the real
OpenJDK 17, with the Java service classes the build compiles for the tests."""
import signal
import subprocess

import pytest

from conftest import preparation

STOPPED = ["Invoking stop()"]


@pytest.mark.parametrize("variant, stop_signal, status, after_start", [
    ("blocking", signal.SIGINT, 0, STOPPED),
    ("blocking", signal.SIGTERM, 0, STOPPED),
    ("blocking", signal.SIGHUP, 0, STOPPED),
    ("returning", None, 0, []),
    ("lingering", None, 0, []),
    (None, None, 1, ["Cannot find main class qo/wyn/zr/NTService"]),
    ("nostart", None, 2, ["Cannot find start() method"]),
    ("throwing", None, 3, ["start() ended with an exception: java.lang.IllegalStateException: boom"]),
], ids=["SIGINT", "SIGTERM", "SIGHUP", "returns", "lingers", "no class", "no start", "throws"])
def test_how_a_run_ends_and_its_exit_status(instance, variant, stop_signal, status, after_start):
    shop = instance(variant)
    proc = shop.start()
    if stop_signal is not None:
        shop.wait_file("started", proc)
        proc.send_signal(stop_signal)
    out, _ = proc.communicate(timeout=120)
    assert proc.returncode == status
    log = shop.log()
    main = log.index("Invoking main") + 1
    if variant is not None:
        assert log[:main] == preparation(shop)
    assert log[main:main + len(after_start)] == after_start
    # Every line is shown on the console as well.
    assert [line.split(" - ", 1)[1] for line in out.decode().splitlines()[1:]] == log
    if stop_signal is not None:
        # stop() ran on a thread of its own, not the one that runs start().
        assert (shop.folder / "stop-called").read_text() != (shop.folder / "started").read_text()
    if variant == "lingering":
        # The VM's destruction waited for the thread start() left behind.
        assert (shop.folder / "lingerer-done").read_text() == "done"


def test_previous_log_is_kept_and_a_run_without_log_folder_shows_each_line_once(instance):
    shop = instance("returning")
    shop.run()
    first = shop.log_file().read_text()
    shop.run()
    assert (shop.folder / "log" / "zrsvc-log.1.txt").read_text() == first

    bare = instance("returning", name="bare", log=False)
    status, out, _ = bare.run()
    assert status == 0
    shown = out.splitlines()
    assert shown[0] == f"LOG FILE: '{bare.folder}/log/zrsvc-log.txt'"
    assert [line.split(" - ", 1)[1] for line in shown[1:]] == preparation(bare)


def test_scm_commands_say_they_need_windows(instance):
    shop = instance(None)
    done = subprocess.run([str(shop.exe), "-install", "shop"], capture_output=True)
    assert done.returncode == 2
    assert done.stdout.decode() == ("'-install' needs the Windows Service Control Manager; "
                                    "here run an instance with -console name.\n")
