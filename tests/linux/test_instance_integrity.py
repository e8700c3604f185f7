"""One run per instance, a previous log that is never destroyed, and class-path
entries that cannot break the class path or the log: the Linux zrsvc -console
on the real OpenJDK 17."""
import os
import re
import signal
import shutil

import pytest

from conftest import Instance


def test_a_second_run_of_a_running_instance_touches_nothing_and_ends_with_minus_one(tmp_path):
    instance = Instance(tmp_path, "blocking")
    first = instance.start()
    instance.wait_file("started", first)
    log = instance.log_file().read_bytes()
    status, out, _ = instance.run()
    assert status == 255
    assert out.startswith("Instance 'shop' is already running: another process holds the lock on zrsvc.lock\n")
    assert instance.log_file().read_bytes() == log
    assert sorted(os.listdir(instance.folder / "log")) == ["zrsvc-log.txt"]
    first.send_signal(signal.SIGINT)
    assert first.wait(timeout=60) == 0


def test_a_log_that_cannot_be_kept_is_continued_below_a_separator(tmp_path):
    instance = Instance(tmp_path, "returning")
    (instance.folder / "log" / "zrsvc-log.1.txt").mkdir()
    instance.log_file().write_text("2000-01-01 00:00:00 - the run before\n")
    # Kept alone, the previous log would replace the folder.
    assert instance.run({"ZR_LOG_KEEP": "1"})[0] == 0
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


def link_to(target):
    return lambda path: os.symlink(target, path)


def folder_with_entry(path):
    (path / "entry").mkdir(parents=True)


# Files of the instance folder that a run must not write through, wait on or
# lose silently: (file, how it is made, exit status, the line that says so).
@pytest.mark.parametrize("name, make, status, line", [
    ("zrsvc.lock", link_to("../../outside"), 255,
     "zrsvc.lock in the instance folder is a link: refused, the claim is never taken through a link"),
    ("zrsvc.lock", link_to("../../missing/zrsvc.lock"), 255,
     "zrsvc.lock in the instance folder is a link: refused, the claim is never taken through a link"),
    ("log/zrsvc-log.txt", link_to("../../../outside"), 0, None),
    ("log/zrsvc-log.1.txt", folder_with_entry, 0,
     "Cannot open the log file '{folder}/log/zrsvc-log.txt': it is a link, which is never followed"),
    ("log/zrsvc-log.txt", folder_with_entry, 0, "Cannot open the log file '{folder}/log/zrsvc-log.txt': 21"),
    ("conf/jvm.options", os.mkfifo, 255, "JVM options file '{folder}/conf/jvm.options' refused: it is not a regular file"),
], ids=["lock link", "lock link into a missing folder", "log link", "log link that cannot be kept",
        "log folder", "jvm.options FIFO"])
def test_instance_files_are_never_written_through_a_link_nor_waited_on(tmp_path, name, make, status, line):
    instance = Instance(tmp_path, "returning")
    outside = tmp_path / "outside"
    outside.write_text("precious\n")
    make(instance.folder / name)
    if name == "log/zrsvc-log.1.txt":
        os.symlink("../../../outside", instance.log_file())
    if name == "log/zrsvc-log.txt" and status == 0 and line is not None:
        folder_with_entry(instance.folder / "log" / "zrsvc-log.1.txt")
    # One kept log: the folders in the way are not moved on.
    code, out, err = instance.run({"ZR_LOG_KEEP": "1"})
    assert code == status
    assert outside.read_text() == "precious\n"
    assert not (tmp_path / "missing").exists()
    if line is not None:
        line = line.format(folder=instance.folder)
        assert line in out
        if "log file" in line:  # said on standard error as well, and the run goes on
            assert line in err and "Invoking main" in out
    else:  # the link is kept as the previous log, and the run logs afresh
        assert os.path.islink(instance.folder / "log" / "zrsvc-log.1.txt")
        assert "Invoking main" in instance.log()


def test_a_stop_signal_ends_a_run_whose_vm_is_being_created(tmp_path):
    instance = Instance(tmp_path, "returning")
    os.mkfifo(instance.folder / "gc.fifo")
    # The VM opens its GC log, a FIFO without a reader, while it is created.
    (instance.folder / "conf" / "jvm.options").write_text("-Xlog:gc:file=gc.fifo\n")
    proc = instance.start()
    instance.wait_log("Starting JVM", proc)
    proc.send_signal(signal.SIGTERM)
    out, _ = proc.communicate(timeout=30)
    assert proc.returncode == 0
    assert "Stop requested before the JVM was created: the process ends" in instance.log()
