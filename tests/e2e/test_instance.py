"""The instance layout under Wine: the log, the Java home, the PATH assignment
and the class path. Most runs use -console with the session's double playing
"return"; -service from a console fails at the dispatcher after Wine's 10 s."""
import fnmatch
import os
import re
import shutil
import subprocess
import uuid

import pytest

from conftest import DOUBLE_DLL, ZRSVC_EXE, wait_for, winpath

LOG_LINE = re.compile(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d - (.*)")
TERMINATED = "Terminated with exit code -1."
NO_FOLDER = "_opendir() failed: No such file or directory"
PREFIX_LENGTH = len("-Djava.class.path=")


def parse_console(stdout):
    """(the LOG FILE path or None, the messages of the log lines) of a run's standard output."""
    text = stdout.decode("latin-1")
    assert text == "" or text.endswith("\r\n"), text
    lines = text.split("\r\n")[:-1]
    log_file = None
    if lines and lines[0].startswith("LOG FILE: "):
        log_file = re.fullmatch(r"LOG FILE: '(.*)'", lines.pop(0)).group(1)
    matches = [LOG_LINE.fullmatch(line) for line in lines]
    assert all(matches), text
    return log_file, [m.group(1) for m in matches]


def make_files(folder, *names):
    folder.mkdir(parents=True, exist_ok=True)
    for name in names:
        (folder / name).write_bytes(b"PK")


class Shop:
    """The instance "shop" (or another name) of a layout, run with -console."""

    def __init__(self, wine, layout, name="shop"):
        self.wine, self.layout, self.name = wine, layout, name
        self.base = winpath(layout.base) + "\\"
        layout.instance(name)
        (wine.java_home / "bin" / "server" / "jvm-script.txt").write_text("return\n")

    def run(self, env=None):
        """(exit status, LOG FILE path, messages) of one run."""
        if env is None:
            done = self.wine.run(self.layout.exe, "-console", self.name)
        else:
            with self.wine.unix_environment_only():
                done = self.wine.run(self.layout.exe, "-console", self.name, env=env)
        return (done.returncode, *parse_console(done.stdout))

    def java_home(self):
        return winpath(self.wine.java_home)

    def opening(self, java_home=None):
        return ["Started ZR NTService 1.0", f"BASE PATH: '{self.base}'",
                f"WORKING DIR PATH: '{self.base}work\\{self.name}'",
                f"JAVA_HOME: '{java_home or self.java_home()}'"]

    def scan(self, folder, *jars):
        return ([f"Scaning folder '{self.base}{folder}' for JARs"]
                + [f"Adding entry to class path: '{jar}'" for jar in jars])

    def path_assignment(self, java_home=None):
        home = java_home or self.java_home()
        return f"JVM 'PATH={home}\\bin;{home}\\bin\\server;{self.base}jdbc\\dll'"

    def class_path(self, *entries):
        return "JVM '-Djava.class.path=" + "".join(f"{self.base}{e};" for e in entries) + "conf'"


def fill_with_jars(folder, entries_length):
    """JAR files whose class-path entries (folder, separator, name, ';') add up to entries_length."""
    overhead = len(winpath(folder)) + 2
    count = -(-entries_length // (overhead + 199))
    share, extra = divmod(entries_length, count)
    make_files(folder, *[f"{i:03d}.jar" + "x" * (share - overhead + (i < extra) - 7) for i in range(count)])


def test_service_from_a_console_prepares_the_instance_then_fails_at_the_dispatcher(wine, layout):
    # Every file (not folder) whose name contains ".jar" in any case is taken.
    bin_folder = layout.base / "bin"
    taken = ["a.JAR", "a.jar.bak", "my.jarfile", ".hidden.jar", "file-link.jar"]
    make_files(bin_folder, *taken[:4], "b.txt", "jar")
    make_files(bin_folder / "lib.jar")
    make_files(bin_folder / "sub", "deep.jar")
    os.symlink(bin_folder / "sub", bin_folder / "dir-link.jar")
    os.symlink(bin_folder / "b.txt", bin_folder / "file-link.jar")
    (layout.base / "lib").write_bytes(b"not a folder")
    make_files(layout.base / "jdbc", "x.JAR")
    shop, other = Shop(wine, layout), Shop(wine, layout, "other")
    layout.log_file("shop").write_bytes(b"2000-01-01 00:00:00 - an older run\r\n")
    runs = [subprocess.Popen(["wine", str(layout.exe), "-service", name], env=wine.env, stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            for name in ("ZR - shop", "abcdeother")]
    outputs = [run.communicate(timeout=180)[0] for run in runs]
    assert [run.returncode for run in runs] == [255, 255]
    assert outputs[0] == f"LOG FILE: '{winpath(layout.log_file('shop'))}'\r\n".encode()
    raw = layout.log_file("shop").read_bytes()
    assert raw.count(b"\n") == raw.count(b"\r\n")
    log = layout.log_lines("shop")
    added = log[5:10]
    end = ["StartServiceCtrlDispatcher() failed: 1063", TERMINATED]
    assert log[:5] + sorted(added) + log[10:] == (
        shop.opening() + shop.scan("bin") + sorted(shop.scan("bin", *taken)[1:]) + shop.scan("lib") + [NO_FOLDER]
        + shop.scan("jdbc", "x.JAR") + ["Class archive not used: ZR_CLASS_ARCHIVE is off", shop.path_assignment(),
                                        shop.class_path(*[f"bin\\{line.split(chr(39))[1]}" for line in added],
                                                        "jdbc\\x.JAR")] + end)
    # The first five characters of the service name are dropped, whatever they are.
    assert layout.log_lines("other")[:4] + layout.log_lines("other")[-2:] == other.opening() + end
    assert (layout.log_file("shop").parent / "zrsvc-log.1.txt").read_bytes().endswith(b"an older run\r\n")


@pytest.mark.parametrize("variables, java_home, message", [
    ({"ZR_JAVA_HOME": "C:\\zr", "JAVA_HOME": "C:\\java"}, "C:\\zr", None),
    ({"zr_java_home": '"C:\\Program Files\\jdk\\"'}, "C:\\Program Files\\jdk", None),
    ({}, None, "Neither ZR_JAVA_HOME nor JAVA_HOME environment variable was set !"),
    ({"JAVA_HOME": '""'}, None, "Invalid ZR_JAVA_HOME or JAVA_HOME environment variable !"),
    ({"ZR_JAVA_HOME": "ab", "JAVA_HOME": "C:\\jdk"}, None, "Invalid ZR_JAVA_HOME or JAVA_HOME environment variable !"),
])
def test_java_home_comes_from_zr_java_home_else_java_home(wine, layout, variables, java_home, message):
    shop = Shop(wine, layout)
    status, _, messages = shop.run(env=variables)
    assert status == 255
    if message is not None:
        assert messages == shop.opening()[:3] + [message, TERMINATED]
    else:
        library = f"{java_home}\\bin\\server\\jvm.dll"
        assert messages[:4] == shop.opening(java_home)
        assert messages[-6:] == [shop.path_assignment(java_home), shop.class_path(), "Starting JVM",
                                 f"LoadLibraryEx('{library}') failed: 126", "Create JVM failed!", TERMINATED]


@pytest.mark.parametrize("folder_length", [242, 258])
def test_the_longest_instance_folders_have_their_log(wine, layout, folder_length):
    shop = Shop(wine, layout, "i" * (folder_length - len(winpath(layout.base) + "\\work\\")))
    layout.log_file(shop.name).write_bytes(b"an older run\r\n")
    status, log_file, messages = shop.run()
    assert status == 0
    assert messages[:4] == shop.opening()
    assert log_file == f"{shop.base}work\\{shop.name}\\log\\zrsvc-log.txt"
    assert sorted(os.listdir(layout.log_file(shop.name).parent)) == ["zrsvc-log.1.txt", "zrsvc-log.txt"]


# A VM not created while asked to write the class archive has the next runs
# stand aside.
NOT_CREATED = ("Class archive zrsvc.jsa not written: the VM was not created; the next runs stand aside until the "
               "Java home, class path or options change")


@pytest.mark.parametrize("case, last_lines", [
    ("instance folder too long", ["Instance folder path too long for instance '{name}': more than 258 characters"]),
    ("refused log limit", ["WORKING DIR PATH: '{base}work\\shop'",
                           "Invalid ZR_LOG_LIMIT_MB '1m': a whole number of MiB from 1 to 4096 is expected"]),
    ("no instance folder", ["WORKING DIR PATH: '{base}work\\nowhere'", "Cannot change working dir: 2: the instance "
                            "folder '{base}work\\nowhere' does not exist; create it, with its log and conf folders"]),
    ("no room for conf", ["Class path too long: no room for its last entry 'conf' within 9999 characters"]),
    ("class path too long", ["Class path too long while scanning '{base}lib': more than 9999 characters"]),
    ("unreadable jvm.options", ["Cannot read the JVM options file: CreateFileW('{base}work\\shop\\conf\\jvm.options') "
                                "failed: 5"]),
    ("no entry point", ["Starting JVM", "GetProcAddress('{jdk}\\bin\\server\\jvm.dll', 'JNI_CreateJavaVM') failed: 127",
                        NOT_CREATED, "Create JVM failed!"]),
    ("the VM's reason on stderr", ["Starting JVM", "double: Could not open options file 'x'",
                                   "JNI_CreateJavaVM failed: -1", NOT_CREATED, "Create JVM failed!"]),
    ("a VM given but not JNI_OK", ["Starting JVM", "JNI_CreateJavaVM failed: -5", NOT_CREATED, "Create JVM failed!"]),
])
def test_preparation_that_cannot_go_on_ends_the_process(wine, layout, tmp_path, case, last_lines):
    shop = Shop(wine, layout)
    jdk, env = tmp_path / "jdk", None
    if case == "instance folder too long":
        shop.name = "i" * (259 - len(winpath(layout.base) + "\\work\\"))
    elif case == "refused log limit":
        env = {"ZR_LOG_LIMIT_MB": "1m"}
    elif case == "no instance folder":
        shop.name = "nowhere"
    elif case == "no room for conf":
        fill_with_jars(layout.base / "bin", 9999 - PREFIX_LENGTH)
    elif case == "class path too long":
        fill_with_jars(layout.base / "lib", 10000 - PREFIX_LENGTH)
    elif case == "unreadable jvm.options":
        (layout.base / "work" / "shop" / "conf" / "jvm.options").mkdir()
    else:  # a library that loads but is no VM library; a VM that fails after writing its C runtime's stderr
        (jdk / "bin" / "server").mkdir(parents=True)
        library = DOUBLE_DLL.parents[1] / "libno_entry.dll" if case == "no entry point" else DOUBLE_DLL
        shutil.copy(library, jdk / "bin" / "server" / "jvm.dll")
        (jdk / "bin" / "server" / "jvm-script.txt").write_text("notok\n" if "JNI_OK" in case else "fail\n")
        env = {"ZR_JAVA_HOME": winpath(jdk)}
    status, _, messages = shop.run(env)
    expected = [line.format(name=shop.name, base=shop.base, jdk=winpath(jdk)) for line in last_lines] + [TERMINATED]
    assert (status, messages[-len(expected):]) == (255, expected)
    assert not list(wine.prefix.glob("drive_c/users/*/Temp/zrsvc-*"))  # the capture's file is gone


# conf\jvm.options reaches the VM in the ANSI code page (1252): a UTF-8 file converted, any other taken as
# written in the code page; a character the code page cannot hold refuses the file by its line.
CANNOT_HOLD = "it holds characters that the ANSI code page 1252 cannot hold"


@pytest.mark.parametrize("content, passed, refusal", [
    ("\ufeff-Dcity=Zürich\r\n-Dpath=C:\\café\r\n".encode(), ["-Dcity=Zürich", "-Dpath=C:\\café"], None),
    ("-Dcity=Zürich\r\n".encode("cp1252"), ["-Dcity=Zürich"], None),
    ("-Da\n-Dx=Ωmega\n".encode(), None, f"line 2: '-Dx=?mega' refused: {CANNOT_HOLD}"),
], ids=["UTF-8", "code page", "not held"])
def test_jvm_options_reach_the_vm_in_the_ansi_code_page(wine, layout, content, passed, refusal):
    shop = Shop(wine, layout)
    (layout.base / "work" / "shop" / "conf" / "jvm.options").write_bytes(content)
    calls = wine.java_home / "bin" / "server" / "jvm-calls.txt"
    calls.unlink(missing_ok=True)
    status, _, messages = shop.run()
    if refusal is None:
        logged = [m for m in messages if m.startswith("JVM '-D") and "class.path" not in m]
        assert (status, logged) == (0, [f"JVM '{option}'" for option in passed])
        options = [field.split("=", 1)[1] for field in calls.read_bytes().decode("cp1252").split("\t")
                   if re.fullmatch(r"option\d+=.*", field)]
        assert options[-len(passed):] == passed
    else:
        assert (status, messages[-2:]) == (255, [f"JVM options file '{shop.base}work\\shop\\conf\\jvm.options' "
                                                 + refusal, TERMINATED])


def test_the_vm_library_is_loaded_from_the_java_home_only(wine, layout):
    """Copies of the double where a library loaded by its bare name would come
    from: the executable's folder, the current directory (the instance
    folder) and a folder of the new PATH; and in the current directory a
    library that the VM loads by its bare name."""
    shop = Shop(wine, layout)
    decoys = [layout.base / "bin", layout.base / "work" / "shop", layout.folder("jdbc/dll")]
    for folder in decoys:
        shutil.copy(DOUBLE_DLL, folder / "jvm.dll")
        (folder / "jvm-script.txt").write_text("return\n")
    shutil.copy(DOUBLE_DLL, layout.base / "work" / "shop" / "jvm-decoy.dll")
    server = wine.java_home / "bin" / "server"
    (server / "jvm-script.txt").write_text("decoy\n")
    (server / "jvm-calls.txt").unlink(missing_ok=True)
    assert shop.run()[0] == 0
    calls = (server / "jvm-calls.txt").read_text().split("\n")
    assert calls[0].endswith(f"\tload\t{winpath(server)}\\jvm.dll")
    assert next(call for call in calls if "\tdecoy\t" in call).endswith("\tdecoy\tfailed 126")
    for folder in decoys:
        assert not (folder / "jvm-calls.txt").exists(), folder


# The thread that creates the VM and runs start() has the stack -Xss asks for, else the VM's default (the
# double's: 1536 KiB), as java's launcher makes the one for main(); in the foreground as in a service.
@pytest.mark.parametrize("options, stack", [("-Xss16m\n", 16 << 20), ("", 1536 << 10)], ids=["-Xss", "default"])
@pytest.mark.parametrize("command", ["-console", "-service"])
def test_the_vms_creating_thread_has_the_stack_the_options_ask_for(wine, layout, command, options, stack):
    shop = Shop(wine, layout, "s" + uuid.uuid4().hex[:8])
    (layout.base / "work" / shop.name / "conf" / "jvm.options").write_text(options)
    calls = wine.java_home / "bin" / "server" / "jvm-calls.txt"
    calls.unlink(missing_ok=True)
    if command == "-console":
        assert shop.run()[0] == 0
    else:
        service = "ZR - " + shop.name
        assert wine.run(layout.exe, "-install", shop.name).returncode == 0
        try:
            assert wine.sc("start", service)[0] == 0
            wait_for(lambda: "STOPPED" in wine.sc("query", service)[1], what="the service's end")
        finally:
            wine.run(layout.exe, "-uninstall", shop.name)
    records = [line.split("\t") for line in calls.read_text().splitlines()]
    creating = next(r[0] for r in records if r[1] == "JNI_CreateJavaVM")
    assert [r[2] for r in records if r[1] == "stack"] == [str(stack)]
    assert [r[1] for r in records if r[0] == creating][-2:] == ["DetachCurrentThread", "DestroyJavaVM"]


def test_ctrl_c_calls_stop_before_the_vms_own_console_handler(wine, layout):
    """The double puts a handler that ends the process first, as a VM does,
    then raises Ctrl+C: the host's handler, put back in front, asks first."""
    shop = Shop(wine, layout)
    (wine.java_home / "bin" / "server" / "jvm-script.txt").write_text("ctrlc\n")
    status, _, messages = shop.run()
    assert (status, messages[-2:]) == (0, ["Invoking main", "Invoking stop()"])


@pytest.mark.parametrize("command, status", [("-console", 255), ("-install", 1)])
def test_an_executable_at_a_drive_root_is_refused(wine, command, status):
    name = f"zrsvc-{uuid.uuid4().hex[:8]}.exe"
    at_root = wine.prefix / "drive_c" / name
    shutil.copy(ZRSVC_EXE, at_root)
    try:
        done = wine.run("C:\\" + name, command, "shop")
    finally:
        at_root.unlink()
    assert done.returncode == status
    reason = (f"the executable 'C:\\{name}' lies in no folder below a base folder: it must be "
              "<base>\\bin\\zrsvc.exe or in another folder of the base folder")
    if command == "-console":
        assert parse_console(done.stdout) == (None, [reason[0].upper() + reason[1:], TERMINATED])
    else:
        assert done.stdout.decode().endswith(f"Cannot install service: {reason}\r\n")


def test_the_class_archive_is_written_at_the_vms_end_mapped_later_and_renewed(wine, layout):
    """The double writes the file of -XX:ArchiveClassesAtExit while it is destroyed."""
    shop, folder = Shop(wine, layout), layout.base / "work" / "shop"
    make_files(layout.base / "lib", "app.jar")
    jar = layout.base / "lib" / "app.jar"
    calls = wine.java_home / "bin" / "server" / "jvm-calls.txt"
    archive = "Class archive zrsvc.jsa "
    dump = ["-XX:ArchiveClassesAtExit=zrsvc.jsa.tmp*\\zrsvc.jsa", "-Xlog:cds*=off"]

    def same_size_and_time():
        stamp = jar.stat()
        jar.with_suffix(".new").write_bytes(b"PK" + b"2" * (stamp.st_size - 2))
        os.utime(jar.with_suffix(".new"), ns=(stamp.st_atime_ns, stamp.st_mtime_ns))
        jar.with_suffix(".new").rename(jar)

    def folder_in_the_way():
        (folder / "zrsvc.jsa").unlink()
        (folder / "zrsvc.jsa").mkdir()

    runs = [(None, archive + "to be created when the VM ends: there is none", dump),
            (None, archive + "to be mapped: made from this Java home, class path and options",
             ["-XX:SharedArchiveFile=zrsvc.jsa"]),
            (same_size_and_time, archive + f"to be renewed when the VM ends: the JAR '{shop.base}lib\\app.jar' changed",
             dump),
            (folder_in_the_way, "Class archive not used: 'zrsvc.jsa' in the instance folder is in its way: it is no "
             "regular file (a folder, a link, a FIFO)", [])]
    for change, line, options in runs:
        if change:
            change()
        calls.unlink(missing_ok=True)
        status, _, log = shop.run({"ZR_JAVA_HOME": shop.java_home()})
        assert status == 0 and [entry for entry in log if entry.startswith("Class archive")] == [line]
        created = [field.split("=", 1)[1] for field in calls.read_text().split("\tJNI_CreateJavaVM\t")[1]
                   .split("\n")[0].split("\t") if field.startswith("option")]
        assert created[3] == shop.class_path("lib\\app.jar")[5:-1]
        assert len(created) == 4 + len(options) and all(map(fnmatch.fnmatchcase, created[4:], options))
        assert sorted(p.name for p in folder.glob("zrsvc.jsa*")) == ["zrsvc.jsa", "zrsvc.jsa.txt"]
    (folder / "zrsvc.jsa").rmdir()
    # A VM that gives up while writing the archive (a full disk) costs the new archive only.
    (wine.java_home / "bin" / "server" / "jvm-script.txt").write_text("giveup\n")
    status, _, log = shop.run({"ZR_JAVA_HOME": shop.java_home()})
    assert (status, log[-1]) == (0, archive + "not written: the VM gave up while writing it, "
                                 "for the reason it gives above")
    assert sorted(p.name for p in folder.glob("zrsvc.jsa*")) == ["zrsvc.jsa.txt"]
