"""-service from a console: the instance environment, its log, the Java home,
the PATH assignment and the class path, up to the dispatcher's refusal.

Started from a console, a run that reaches the dispatcher waits for Wine's
service pipe (10 s) before it fails with 1063, so those runs are started all
at once by one fixture and the tests look at their results.
"""
import os
import re
import shutil
import subprocess
import uuid

import pytest

from conftest import ZRSVC_EXE, make_layout, winpath

JDK = "C:\\jdk"
LOG_LINE = re.compile(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d - (.*)")
TERMINATED = ["Terminated with exit code -1."]
END = ["StartServiceCtrlDispatcher() failed: 1063"] + TERMINATED
NO_FOLDER = "_opendir() failed: No such file or directory"
INVALID_JAVA_HOME = "Invalid ZR_JAVA_HOME or JAVA_HOME environment variable !"
PREFIX_LENGTH = len("-Djava.class.path=")


def parse_console(done):
    """(the LOG FILE path or None, the messages of the log lines) of standard output."""
    text = done.stdout.decode("latin-1")
    assert text == "" or text.endswith("\r\n"), text
    lines = text.split("\r\n")[:-1]
    log_file = None
    if lines and lines[0].startswith("LOG FILE: "):
        log_file = re.fullmatch(r"LOG FILE: '(.*)'", lines.pop(0)).group(1)
    matches = [LOG_LINE.fullmatch(line) for line in lines]
    assert all(matches), text
    return log_file, [m.group(1) for m in matches]


class Instance:
    """An instance folder in a layout, how zrsvc is started for it, and the texts its log shows."""

    def __init__(self, layout, name="shop", log=True, env=None, service_name=None):
        self.layout = layout
        self.name = name
        self.folder = layout.instance(name, log=log)
        self.base = winpath(layout.base) + "\\"
        self.env = {"ZR_JAVA_HOME": JDK} if env is None else env
        self.args = ["-service", service_name or "ZR - " + name]
        self.done = None

    def run(self, wine):
        self.done = wine.run(self.layout.exe, *self.args, env=self.env)
        return self.done

    def messages(self):
        return self.layout.log_lines(self.name)

    def opening(self, java_home=JDK):
        return ["Started ZR NTService 1.0",
                f"BASE PATH: '{self.base}'",
                f"WORKING DIR PATH: '{self.base}work\\{self.name}'",
                f"JAVA_HOME: '{java_home}'"]

    def scan(self, folder, *jars):
        return ([f"Scaning folder '{self.base}{folder}' for JARs"]
                + [f"Adding entry to class path: '{jar}'" for jar in jars])

    def path_assignment(self, java_home=JDK):
        return f"JVM 'PATH={java_home}\\bin;{java_home}\\bin\\server;{self.base}jdbc\\dll'"

    def class_path(self, *entries):
        return "JVM '-Djava.class.path=" + "".join(f"{self.base}{e};" for e in entries) + "conf'"


def make_files(folder, *names):
    folder.mkdir(parents=True, exist_ok=True)
    for name in names:
        (folder / name).write_bytes(b"PK")


def instance_name_for(layout, folder_length):
    """An instance name that makes the instance folder path folder_length characters long."""
    length = folder_length - len(winpath(layout.base) + "\\work\\")
    assert 1 <= length <= 255, "the test's base folder is too long or too short"
    return "i" * length


def fill_with_jars(folder, entries_length):
    """JAR files whose class-path entries (folder, separator, name, ';') add up to entries_length."""
    overhead = len(winpath(folder)) + 2
    count = -(-entries_length // (overhead + 199))
    share, extra = divmod(entries_length, count)
    names = [f"{i:03d}.jar" + "x" * (share - overhead + (i < extra) - 7) for i in range(count)]
    make_files(folder, *names)
    assert sum(overhead + len(name) for name in names) == entries_length


# Runs that reach the dispatcher: each prepares a layout of its own.

def good_run(layout):
    make_files(layout.base / "bin", "boot.jar")
    make_files(layout.base / "lib", "app.jar")
    make_files(layout.base / "jdbc", "driver.jar")
    shop = Instance(layout)
    layout.log_file("shop").write_bytes(b"2000-01-01 00:00:00 - an older run\r\n" * 50)
    return shop


JARS_TAKEN = ["a.JAR", "a.jar.bak", "my.jarfile", ".hidden.jar", "file-link.jar"]


def jar_selection(layout):
    bin_folder = layout.base / "bin"
    make_files(bin_folder, "a.JAR", "a.jar.bak", "my.jarfile", ".hidden.jar", "b.txt", "jar")
    make_files(bin_folder / "lib.jar")
    make_files(bin_folder / "sub", "deep.jar")
    os.symlink(bin_folder / "sub", bin_folder / "dir-link.jar")
    os.symlink(bin_folder / "b.txt", bin_folder / "file-link.jar")
    return Instance(layout)


def file_in_place_of_lib(layout):
    make_files(layout.base / "bin", "a.jar", "b.txt")
    (layout.base / "lib").write_bytes(b"not a folder")
    make_files(layout.base / "jdbc", "x.JAR")
    return Instance(layout)


def no_jar_folders(layout):
    make_files(layout.base / "bin", "a.jar")
    return Instance(layout)


def class_path_of_9999_characters(layout):
    fill_with_jars(layout.base / "bin", 9999 - PREFIX_LENGTH - len("conf"))
    return Instance(layout)


JAVA_HOMES = [
    ({"ZR_JAVA_HOME": '"C:\\Program Files\\Java\\jdk\\"'}, "C:\\Program Files\\Java\\jdk"),
    ({"JAVA_HOME": "C:\\jdk\\\\"}, "C:\\jdk\\"),
    ({"JAVA_HOME": '"C:\\jdk'}, '"C:\\jdk'),
    ({"JAVA_HOME": 'C:\\"jdk"\\'}, 'C:\\"jdk"'),
    ({"JAVA_HOME": "C:/jdk/"}, "C:/jdk/"),
    ({"JAVA_HOME": "abc"}, "abc"),
    ({"ZR_JAVA_HOME": '"\\"'}, ""),
    ({"ZR_JAVA_HOME": "C:\\zr", "JAVA_HOME": "C:\\java"}, "C:\\zr"),
    ({"zr_java_home": "C:\\any case"}, "C:\\any case"),
]

RUNS = {
    "good": good_run,
    "jar selection": jar_selection,
    "file in place of lib": file_in_place_of_lib,
    "no jar folders": no_jar_folders,
    "no log folder": lambda layout: Instance(layout, log=False),
    "one-character instance": lambda layout: Instance(layout, "x", service_name="ZR - x"),
    "other prefix": lambda layout: Instance(layout, service_name="abcdeshop"),
    "class path of 9999": class_path_of_9999_characters,
    **{f"log path {n}": lambda layout, n=n: Instance(layout, instance_name_for(layout, n))
       for n in (241, 242, 259)},
    **{f"java home {i}": lambda layout, v=variables: Instance(layout, env=v)
       for i, (variables, _) in enumerate(JAVA_HOMES)},
}


@pytest.fixture(scope="module")
def runs(wine, tmp_path_factory):
    instances = {key: prepare(make_layout(tmp_path_factory.mktemp("run") / "app"))
                 for key, prepare in RUNS.items()}
    with wine.unix_environment_only():
        started = {key: subprocess.Popen(["wine", str(i.layout.exe), *i.args], env=dict(wine.env, **i.env),
                                         stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                         stderr=subprocess.PIPE)
                   for key, i in instances.items()}
        for key, process in started.items():
            stdout, stderr = process.communicate(timeout=180)
            instances[key].done = subprocess.CompletedProcess(process.args, process.returncode, stdout, stderr)
    return instances


def test_good_run_logs_every_step_into_a_fresh_log_and_fails_to_reach_the_dispatcher(runs):
    shop = runs["good"]
    log_file = shop.layout.log_file("shop")
    assert shop.done.returncode == 255  # -1
    assert shop.done.stdout.decode("latin-1") == f"LOG FILE: '{winpath(log_file)}'\r\n"
    raw = log_file.read_bytes()
    assert raw.count(b"\n") == raw.count(b"\r\n")
    assert b"older run" not in raw
    assert shop.messages() == (
        shop.opening()
        + shop.scan("bin", "boot.jar") + shop.scan("lib", "app.jar") + shop.scan("jdbc", "driver.jar")
        + [shop.path_assignment(), shop.class_path("bin\\boot.jar", "lib\\app.jar", "jdbc\\driver.jar")]
        + END)


def test_jar_selection_takes_every_non_directory_whose_name_contains_dot_jar(runs):
    shop = runs["jar selection"]
    messages = shop.messages()
    added = [m for m in messages if m.startswith("Adding entry")]
    assert sorted(added) == sorted(f"Adding entry to class path: '{name}'" for name in JARS_TAKEN)
    option = re.fullmatch(r"JVM '-Djava\.class\.path=(.*)'", messages[-3]).group(1)
    assert sorted(option.split(";")) == sorted([f"{shop.base}bin\\{name}" for name in JARS_TAKEN] + ["conf"])
    assert messages[-2:] == END


def test_a_missing_folder_or_a_file_in_its_place_costs_one_line_and_the_scan_goes_on(runs):
    shop = runs["file in place of lib"]
    assert shop.messages()[4:] == (shop.scan("bin", "a.jar") + shop.scan("lib") + [NO_FOLDER]
                                   + shop.scan("jdbc", "x.JAR")
                                   + [shop.path_assignment(), shop.class_path("bin\\a.jar", "jdbc\\x.JAR")]
                                   + END)
    shop = runs["no jar folders"]
    assert shop.messages()[4:] == (shop.scan("bin", "a.jar") + shop.scan("lib") + [NO_FOLDER]
                                   + shop.scan("jdbc") + [NO_FOLDER]
                                   + [shop.path_assignment(), shop.class_path("bin\\a.jar")] + END)


@pytest.mark.parametrize("index", range(len(JAVA_HOMES)), ids=[str(v) for v, _ in JAVA_HOMES])
def test_java_home_is_taken_and_normalised(runs, index):
    shop = runs[f"java home {index}"]
    java_home = JAVA_HOMES[index][1]
    messages = shop.messages()
    assert messages[:4] == shop.opening(java_home)
    assert messages[-4:] == [shop.path_assignment(java_home), shop.class_path()] + END


def test_without_log_folder_the_lines_stay_on_the_console(runs):
    shop = runs["no log folder"]
    log_file, messages = parse_console(shop.done)
    assert shop.done.returncode == 255
    assert log_file == winpath(shop.layout.log_file("shop"))
    assert messages[:4] == shop.opening()
    assert messages[-4:] == [shop.path_assignment(), shop.class_path()] + END
    assert not (shop.folder / "log").exists()


@pytest.mark.parametrize("key", ["one-character instance", "other prefix"])
def test_instance_name_is_the_service_name_without_its_first_five_characters(runs, key):
    instance = runs[key]
    assert instance.messages()[:4] == instance.opening()
    assert instance.messages()[-2:] == END


def test_log_file_path_of_259_characters_is_used(runs):
    instance = runs["log path 241"]
    assert len(parse_console(instance.done)[0]) == 259
    assert instance.messages()[-2:] == END


@pytest.mark.parametrize("key", ["log path 242", "log path 259"])
def test_log_file_path_that_does_not_fit_leaves_logging_on_the_console(runs, key):
    instance = runs[key]
    log_file, messages = parse_console(instance.done)
    assert instance.done.returncode == 255
    assert log_file == ""
    assert messages[:4] == instance.opening()
    assert messages[-2:] == END
    assert list((instance.folder / "log").iterdir()) == []


def test_class_path_of_9999_characters_reaches_the_dispatcher(runs):
    shop = runs["class path of 9999"]
    # "JVM '%s'" with a 9999-character option does not fit the message buffer: the line is empty.
    assert shop.messages()[-6:] == (shop.scan("jdbc") + [NO_FOLDER, shop.path_assignment(), ""] + END)


# Runs that end before the dispatcher.

@pytest.mark.parametrize("variables, message", [
    ({}, "Neither ZR_JAVA_HOME nor JAVA_HOME environment variable was set !"),
    ({"JAVA_HOME": '""'}, INVALID_JAVA_HOME),
    ({"ZR_JAVA_HOME": "ab", "JAVA_HOME": "C:\\jdk"}, INVALID_JAVA_HOME),
    ({"ZR_JAVA_HOME": "", "JAVA_HOME": "C:\\jdk"}, INVALID_JAVA_HOME),
])
def test_missing_or_unusable_java_home_ends_the_process(wine, layout, variables, message):
    shop = Instance(layout, env=variables)
    with wine.unix_environment_only():
        shop.run(wine)
    assert shop.done.returncode == 255
    assert shop.messages() == shop.opening()[:3] + [message] + TERMINATED


@pytest.mark.parametrize("work_folder, code", [(False, 3), (True, 2)])
def test_missing_instance_folder_ends_the_process_on_the_console(wine, layout, work_folder, code):
    if work_folder:
        layout.folder("work")
    done = wine.run(layout.exe, "-service", "ZR - nowhere")
    base = winpath(layout.base) + "\\"
    assert done.returncode == 255
    assert parse_console(done) == (f"{base}work\\nowhere\\log\\zrsvc-log.txt",
                                   ["Started ZR NTService 1.0", f"BASE PATH: '{base}'",
                                    f"WORKING DIR PATH: '{base}work\\nowhere'",
                                    f"Cannot change working dir: {code}"] + TERMINATED)


def test_instance_folder_path_that_does_not_fit_ends_the_process(wine, layout):
    name = instance_name_for(layout, 260)
    done = wine.run(layout.exe, "-service", "ZR - " + name)
    assert done.returncode == 255
    assert parse_console(done) == (None, [
        f"Instance folder path too long for instance '{name}': more than 259 characters"] + TERMINATED)


def test_class_path_without_room_for_conf_fails_build_paths(wine, layout):
    fill_with_jars(layout.base / "bin", 9999 - PREFIX_LENGTH)
    shop = Instance(layout)
    shop.run(wine)
    assert shop.done.returncode == 255
    assert shop.messages()[-3:] == [
        "Class path too long: no room for its last entry 'conf' within 9999 characters",
        "build_paths() failed: -1"] + TERMINATED


def test_class_path_too_long_ends_the_process_naming_the_folder(wine, layout):
    fill_with_jars(layout.base / "lib", 10000 - PREFIX_LENGTH)
    shop = Instance(layout)
    shop.run(wine)
    assert shop.done.returncode == 255
    messages = shop.messages()
    assert messages[-2:] == [f"Class path too long while scanning '{shop.base}lib': more than 9999 characters"
                             ] + TERMINATED
    assert not any(m.startswith("JVM") or "jdbc" in m for m in messages)


def test_executable_at_a_drive_root_ends_with_the_termination_line_only(wine):
    name = f"zrsvc-{uuid.uuid4().hex[:8]}.exe"
    at_root = wine.prefix / "drive_c" / name
    shutil.copy(ZRSVC_EXE, at_root)
    try:
        done = wine.run("C:\\" + name, "-service", "ZR - shop")
    finally:
        at_root.unlink()
    assert done.returncode == 255
    assert parse_console(done) == (None, TERMINATED)
