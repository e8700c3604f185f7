"""The foreground mode (-console NAME) under Wine, with the test-double VM of
the session's Java home, and the previous run's log kept at each start."""
import uuid

import pytest

from conftest import winpath


@pytest.fixture
def console_run(wine, layout):
    instance = "c" + uuid.uuid4().hex[:8]
    layout.instance(instance)
    server = wine.java_home / "bin" / "server"

    def run(variant):
        (server / "jvm-script.txt").write_text(variant + "\n")
        (server / "jvm-calls.txt").unlink(missing_ok=True)
        return wine.run(layout.exe, "-console", instance)
    run.instance = instance
    return run


def messages(console_bytes):
    """The messages of the log lines shown on the console."""
    lines = console_bytes.decode("latin-1").split("\r\n")
    return [line.split(" - ", 1)[1] for line in lines if " - " in line]


def test_foreground_run_shows_the_log_on_the_console_and_ends_with_the_application(wine, layout,
                                                                                    console_run):
    done = console_run("return")
    assert done.returncode == 0
    log_path = f"{winpath(layout.base)}\\work\\{console_run.instance}\\log\\zrsvc-log.txt"
    assert done.stdout.startswith(f"LOG FILE: '{log_path}'\r\n".encode())
    shown = messages(done.stdout)
    assert shown == layout.log_lines(console_run.instance)
    assert shown[0] == "Started ZR NTService 1.0"
    assert shown[-2:] == ["Starting JVM", "Invoking main"]


@pytest.mark.parametrize("variant, status, line", [
    ("noclass", 1, "Cannot find main class qo/wyn/zr/NTService"),
    ("nostart", 2, "Cannot find start() method"),
    ("throw", 3, "start() ended with an exception: java.lang.IllegalStateException: boom"),
    ("createfail", 255, "Terminated with exit code -1."),
])
def test_application_failures_end_with_their_own_status(layout, console_run, variant, status, line):
    done = console_run(variant)
    assert done.returncode == status
    assert line in layout.log_lines(console_run.instance)


def test_console_without_a_name_prints_its_usage(wine, layout):
    done = wine.run(layout.exe, "-CONSOLE")
    assert done.stdout == (b"Usage: zrsvc -console name\r\n"
                           b"\tWhere name is the name of folder in the 'work' folder.\r\n\r\n")
    assert done.returncode == 0


def test_each_start_keeps_the_previous_log(layout, console_run):
    console_run("return")
    console_run("noclass")
    folder = layout.log_file(console_run.instance).parent
    previous = (folder / "zrsvc-log.1.txt").read_bytes().decode("latin-1").split("\r\n")
    assert previous[-2].endswith(" - Invoking main")
    current = layout.log_lines(console_run.instance)
    assert current[0] == "Started ZR NTService 1.0"
    assert "Cannot find main class qo/wyn/zr/NTService" in current
    assert current.count("Started ZR NTService 1.0") == 1
