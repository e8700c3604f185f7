"""One run per instance, a previous log that is never destroyed, and class-path
entries that cannot break the class path or the log: the Linux zrsvc -console
on the real OpenJDK 17."""
import os
import re
import signal
import shutil

import pytest

from conftest import Instance, wait_for


def test_a_second_run_of_a_running_instance_touches_nothing_and_ends_with_minus_one(tmp_path):
    instance = Instance(tmp_path, "blocking")
    first = instance.start()
    instance.wait_file("started", first)
    log = instance.log_file().read_bytes()
    status, out, _ = instance.run()
    assert status == 255
    assert out.startswith("Instance 'shop' is already running\n")
    assert instance.log_file().read_bytes() == log
    assert sorted(os.listdir(instance.folder / "log")) == ["zrsvc-log.txt"]
    first.send_signal(signal.SIGINT)
    assert first.wait(timeout=60) == 0


def test_a_log_that_cannot_be_kept_is_continued_below_a_separator(tmp_path):
    instance = Instance(tmp_path, "returning")
    (instance.folder / "log" / "zrsvc-log.1.txt").mkdir()
    instance.log_file().write_text("2000-01-01 00:00:00 - the run before\n")
    assert instance.run()[0] == 0
    assert instance.log()[:4] == ["the run before", "-" * 40,
                                  "Cannot keep the previous log as zrsvc-log.1.txt: 21",
                                  "Started ZR NTService 1.0"]


def fifo(path):
    os.mkfifo(path)


@pytest.mark.parametrize("name, make, line", [
    ("my:app.jar", shutil.copy, "Skipping entry 'my:app.jar': its name holds ':', the class path separator"),
    ("fifo.jar", lambda _, path: fifo(path), "Skipping entry 'fifo.jar': not a file nor a link to one"),
    ("gone.jar", lambda _, path: os.symlink("nowhere", path),
     "Skipping entry 'gone.jar': not a file nor a link to one"),
    ("two\nlines.jar", shutil.copy, "Adding entry to class path: 'two\\nlines.jar'"),
])
def test_class_path_entries_that_would_break_the_class_path_or_the_log(tmp_path, name, make, line):
    instance = Instance(tmp_path, "returning")
    make(instance.base / "lib" / "app.jar", instance.base / "jdbc" / name)
    assert instance.run()[0] == 0
    text = instance.log_file().read_text()
    assert all(re.match(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d - ", entry) for entry in text.splitlines())
    assert line in instance.log()
    assert "Invoking main" in instance.log()


def test_an_exception_text_longer_than_a_log_line_keeps_its_first_part(tmp_path):
    instance = Instance(tmp_path, "misbehaving")
    assert instance.run({"ZR_TEST_CASE": "long-throw"})[0] == 3
    line = next(m for m in instance.log() if m.startswith("start() ended with an exception: "))
    assert line.startswith("start() ended with an exception: java.lang.IllegalStateException: xxx")
    assert line.endswith("x...") and len(line) == 9999
