"""How a foreground run (zrsvc -console NAME) of the Linux build ends, on the
real OpenJDK 17: the exit status and the log's last lines, for applications
that keep the contract, break it or misbehave, and for VM libraries that
cannot be used."""
import calendar
import shutil
import signal
import subprocess
import time

import pytest

from conftest import BUILD, Instance, preparation

AGAIN = "Stop requested again: the process ends without waiting for the application"
EXITED = "The application ended the process with exit code 7"
LOOKUP = "Lookup ended with an exception: java.lang.NoSuchMethodError: static Lqo/wyn/zr/NTService;."
CREATE_FAILED = ["Create JVM failed!", "Terminated with exit code -1."]
LIBRARY = "{tmp}/jdk/lib/server/libjvm.so"
THROWN_IN_STOP = ["stop() ended with an exception: java.lang.IllegalStateException: refused",
                  "\tat qo.wyn.zr.NTService.stop(NTService.java:31)"]


# The Java class of tests/java, more environment ({tmp}: the test's folder),
# the stop signals (each sent once the log holds the line before it), the
# exit status, and the log's last lines (stack frames not of the service
# class left out).
@pytest.mark.parametrize("variant, env, stops, status, last", [
    ("blocking", {}, [("Invoking main", signal.SIGINT)], 0, ["Invoking main", "Invoking stop()"]),
    ("blocking", {}, [("Invoking main", signal.SIGTERM)], 0, ["Invoking main", "Invoking stop()"]),
    ("blocking", {}, [("Invoking main", signal.SIGHUP)], 0, ["Invoking main", "Invoking stop()"]),
    ("returning", {}, [], 0, ["Starting JVM", "Invoking main"]),
    ("misbehaving", {"ZR_TEST_CASE": "linger-briefly"}, [], 0, ["Starting JVM", "Invoking main"]),
    (None, {}, [], 1, ["Cannot find main class qo/wyn/zr/NTService",
                       "Lookup ended with an exception: java.lang.NoClassDefFoundError: qo/wyn/zr/NTService",
                       "Caused by: java.lang.ClassNotFoundException: qo.wyn.zr.NTService"]),
    ("nostart", {}, [], 2, ["Cannot find start() method", LOOKUP + "start()V"]),
    ("misbehaving", {"ZR_TEST_CASE": "throw-in-start"}, [], 3,
     ["start() ended with an exception: java.lang.IllegalStateException: boom",
      "\tat qo.wyn.zr.NTService.start(NTService.java:19)"]),
    ("misbehaving", {"ZR_TEST_CASE": "throw-in-init"}, [], 3,
     ["start() ended with an exception: java.lang.ExceptionInInitializerError",
      "Caused by: java.lang.IllegalStateException: init", "\tat qo.wyn.zr.NTService.<clinit>(NTService.java:14)"]),
    # Without a stop timeout, a stop() that fails waits for the clean-up limit
    # (the stop roads' unit table); here the stop timeout ends it sooner.
    ("nostop", {"ZR_STOP_TIMEOUT": "1"}, [("Invoking main", signal.SIGINT)], 4,
     ["Invoking stop()", "Cannot find stop() method", LOOKUP + "stop()V",
      "The application did not stop within 1 seconds of the stop request: the process ends without waiting for it"]),
    ("misbehaving", {"ZR_TEST_CASE": "release-then-block"},
     [("Invoking main", signal.SIGINT), ("Waiting for stop() to return before destroying the JVM", signal.SIGINT)],
     6, [AGAIN]),
    ("misbehaving", {"ZR_TEST_CASE": "throw-in-stop"},
     [("Invoking main", signal.SIGTERM), (THROWN_IN_STOP[1], signal.SIGTERM)], 6, THROWN_IN_STOP + [AGAIN]),
    ("misbehaving", {"ZR_TEST_CASE": "ignore", "ZR_STOP_TIMEOUT": "2"}, [("Invoking main", signal.SIGINT)], 4,
     ["The application did not stop within 2 seconds of the stop request: the process ends without waiting for it"]),
    ("misbehaving", {"ZR_TEST_CASE": "linger"}, [], 7,
     ["The JVM was not destroyed within 30 seconds after the application ended: "
      "the process ends without waiting for it"]),
    ("misbehaving", {"ZR_TEST_CASE": "exit-in-start"}, [], 5, [EXITED]),
    ("misbehaving", {"ZR_TEST_CASE": "exit-in-stop"}, [("Invoking main", signal.SIGINT)], 5, [EXITED]),
    ("misbehaving", {"ZR_TEST_CASE": "ignore", "JAVA_TOOL_OPTIONS": "-Xmx1m"}, [], 255,
     ["Too small maximum heap"] + CREATE_FAILED),
    ("misbehaving", {"ZR_STOP_TIMEOUT": "86401"}, [], 255,
     ["Invalid ZR_STOP_TIMEOUT '86401': a whole number of seconds from 1 to 86400 is expected",
      "Terminated with exit code -1."]),
    ("returning", {"JAVA_HOME": "{tmp}/nowhere"}, [], 255,
     ["dlopen('{tmp}/nowhere/lib/server/libjvm.so') failed: {tmp}/nowhere/lib/server/libjvm.so: "
      "cannot open shared object file: No such file or directory"] + CREATE_FAILED),
    ("returning", {"JAVA_HOME": "{tmp}/jdk"}, [], 255,
     [f"dlsym('{LIBRARY}', 'JNI_CreateJavaVM') failed: {LIBRARY}: undefined symbol: JNI_CreateJavaVM"]
     + CREATE_FAILED),
    ("returning", {"JAVA_HOME": "jdk"}, [], 255,
     ["Java home 'jdk' is not an absolute path: the VM library is not loaded from it"] + CREATE_FAILED),
    ("returning", {"JAVA_HOME": "/" + "j" * 238}, [], 255,
     [f"Java home '/{'j' * 238}' is too long: its VM library path exceeds 259 characters"] + CREATE_FAILED),
], ids=["SIGINT", "SIGTERM", "SIGHUP", "returns", "lingers", "no class", "no start", "throws", "initializer throws", "no stop",
        "stop blocks", "stop throws", "stop timeout", "clean-up limit", "exit in start", "exit in stop",
        "VM gives up", "bad stop timeout", "no VM library", "no entry point", "relative Java home",
        "long Java home"])
def test_how_a_run_ends_its_status_and_its_last_log_lines(tmp_path, variant, env, stops, status, last):
    shop = Instance(tmp_path, variant)
    if env.get("JAVA_HOME") == "{tmp}/jdk":  # a library that loads but is no VM library
        (tmp_path / "jdk" / "lib" / "server").mkdir(parents=True)
        shutil.copy(BUILD / "tests" / "jvm" / "libno_entry.so", LIBRARY.format(tmp=tmp_path))
    env = {name: value.format(tmp=tmp_path) for name, value in env.items()}
    last = [line.format(tmp=tmp_path) for line in last]
    proc = shop.start(env)
    try:
        for line, stop_signal in stops:
            shop.wait_log(line, proc)
            proc.send_signal(stop_signal)
        out, _ = proc.communicate(timeout=120)
    finally:
        proc.kill()
    log = [line for line in shop.log() if not line.startswith("\t") or "qo.wyn.zr" in line]
    assert (proc.returncode, log[-len(last):]) == (status, last)
    # Every line is shown on the console as well.
    assert [line.split(" - ", 1)[1] for line in out.decode().splitlines()[1:]] == shop.log()
    if variant == "blocking":  # stop() ran on a thread of its own, not start()'s
        assert (shop.folder / "stop-called").read_text() != (shop.folder / "started").read_text()
    if env.get("ZR_TEST_CASE") == "linger-briefly":  # the VM's destruction waited for start()'s thread
        assert (shop.folder / "lingerer-done").read_text() == "done"


def test_previous_log_is_kept_and_a_run_without_log_folder_shows_each_line_once_in_local_time(tmp_path):
    shop = Instance(tmp_path, "returning")
    shop.run()
    first = shop.log_file().read_text()
    shop.run()
    assert (shop.folder / "log" / "zrsvc-log.1.txt").read_text() == first

    bare = Instance(tmp_path, "returning", name="bare", log=False)
    before = time.time()
    status, out, _ = bare.run({"TZ": "ZRT-3"})  # three hours east of UTC
    assert status == 0
    shown = out.splitlines()
    assert shown[0] == (f"No log file: the instance folder has no log folder; create '{bare.folder}/log' "
                        "to keep the run's log")
    assert [line.split(" - ", 1)[1] for line in shown[1:]] == preparation(bare)
    # Timestamps are local time.
    stamp = calendar.timegm(time.strptime(shown[1][:19], "%Y-%m-%d %H:%M:%S")) - 3 * 3600
    assert int(before) - 1 <= stamp <= time.time() + 1


def test_scm_commands_say_they_need_windows(tmp_path):
    shop = Instance(tmp_path, None)
    done = subprocess.run([str(shop.exe), "-install", "shop"], capture_output=True)
    assert done.returncode == 2
    assert done.stdout.decode() == ("'-install' needs the Windows Service Control Manager; "
                                    "here run an instance with -console name.\n")
