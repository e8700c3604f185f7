"""The instance's class-data archive on the real OpenJDK 17: whether the VM
maps it is asked of the VM itself, through its class-loading log."""
import os
import resource
import shutil
import signal
import zipfile

import pytest

from conftest import CLASSES, JAVA_HOME, Instance, wait_for

MAPPED = "qo.wyn.zr.NTService source: shared objects file (top)"
ARCHIVE = "Class archive zrsvc.jsa"
CREATED = f"{ARCHIVE} to be created when the VM ends: there is none"
TO_MAP = f"{ARCHIVE} to be mapped: made from this Java home, class path and options"
USED = [TO_MAP, f"{ARCHIVE} used: the VM mapped it"]
RENEWED = f"{ARCHIVE} to be renewed when the VM ends: "
KEPT = ["zrsvc.jsa", "zrsvc.jsa.txt"]


def run(instance, env=None, **popen):
    """(exit status, the archive's lines of the log, whether the VM mapped the service class)."""
    proc = instance.start(dict({"ZR_CLASS_ARCHIVE": None}, **(env or {})), **popen)
    out = proc.communicate(timeout=120)[0].decode()
    return proc.returncode, [line for line in instance.log() if line.startswith("Class archive")], MAPPED in out


def archive_files(instance):
    return sorted(p.name for p in instance.folder.glob("zrsvc.jsa*"))


def change_jar(instance):
    with zipfile.ZipFile(instance.base / "lib" / "app.jar", "a") as jar:
        jar.writestr("added.txt", "a JAR of the class path changes")
    return f"the JAR '{instance.base}/lib/app.jar' changed"


def write_keeping_time(path, data):
    """Rewrites the file, then puts its modification time back, as a copy that keeps times does."""
    times = os.stat(path)
    os.chmod(path, 0o644)
    path.write_bytes(data)
    os.utime(path, ns=(times.st_atime_ns, times.st_mtime_ns))


def cut_archive(instance):
    archive = instance.folder / "zrsvc.jsa"
    write_keeping_time(archive, archive.read_bytes()[:5000])  # a cut archive crashes the VM that maps it
    return "the archive is not the one its record describes"


def flip_archive(instance):
    archive = instance.folder / "zrsvc.jsa"
    data = bytearray(archive.read_bytes())
    data[len(data) // 2] ^= 0xFF  # same size, same time
    write_keeping_time(archive, bytes(data))
    return "the archive is not the one its record describes"


def remove_jar(instance):
    (instance.base / "jdbc" / "extra.jar").unlink()
    return "the class path changed"


def change_options(instance):
    (instance.folder / "conf" / "jvm.options").write_text("-Xlog:class+load\n-Xmx64m\n")
    return "the options of jvm.options changed"


@pytest.mark.parametrize("change", [None, change_jar, remove_jar, cut_archive, flip_archive, change_options])
def test_a_later_run_maps_the_archive_and_a_change_renews_it(tmp_path, change):
    instance = Instance(tmp_path, "returning")
    shutil.copy(instance.base / "lib" / "app.jar", instance.base / "jdbc" / "extra.jar")
    (instance.folder / "conf" / "jvm.options").write_text("-Xlog:class+load\n")
    assert run(instance) == (0, [CREATED], False)
    assert archive_files(instance) == KEPT
    if change is not None:
        assert run(instance) == (0, USED, True)
        assert run(instance, {"ZR_CLASS_ARCHIVE": "on"}) == (0, USED, True)
        reason = change(instance)
        assert run(instance) == (0, [RENEWED + reason], False)
    assert run(instance) == (0, USED, True)


def same_size_build(jar, build):
    """lib/app.jar holding the versioned service class as the build names it, stored uncompressed with fixed
    times: builds of another name have the same size."""
    data = (CLASSES / "versioned" / "qo" / "wyn" / "zr" / "NTService.class").read_bytes().replace(b"build-A", build)
    part = jar.with_suffix(".part")
    with zipfile.ZipFile(part, "w", zipfile.ZIP_STORED) as archive:
        archive.writestr(zipfile.ZipInfo("qo/wyn/zr/NTService.class", (2020, 1, 1, 0, 0, 0)), data)
    os.utime(part, ns=(0, 1_600_000_000_000_000_000))
    part.rename(jar)


def test_a_jar_replaced_by_a_build_of_the_same_size_and_time_runs_its_new_classes(tmp_path):
    instance = Instance(tmp_path, None)
    jar = instance.base / "lib" / "app.jar"
    same_size_build(jar, b"build-A")
    stamp = os.stat(jar)
    for expected in ([CREATED], USED):
        assert run(instance)[:2] == (0, expected)
    same_size_build(jar, b"build-B")
    assert (os.stat(jar).st_size, os.stat(jar).st_mtime_ns) == (stamp.st_size, stamp.st_mtime_ns)
    assert run(instance)[:2] == (0, [RENEWED + f"the JAR '{jar}' changed"])
    assert (instance.folder / "build-seen").read_text() == "build-B"


# A class loaded from a folder of the class path (conf) would make the
# VM's dump end the process; links and depth in conf cost milliseconds. A
# Java home whose release file states Java 11 (its VM is the real one,
# through a link) would refuse the archive's options.
DEEP = "/".join(f"d{i}" for i in range(17))
LONG = f"long/{'x' * 200}"
AGENT = "-agentlib:jdwp=transport=dt_socket,server=y,suspend=n,address=127.0.0.1:0"
WITH_WHICH = ", with which the VM cannot write it"
IN_ITS_WAY = "in the instance folder is in its way: it is no regular file (a folder, a link, a FIFO)"


def class_file(path):
    def prepare(folder):
        for name, target in (("a", "."), ("b", "."), ("c", "..")):
            (folder / "conf" / name).symlink_to(target)
        (folder / "conf" / path).parent.mkdir(parents=True)
        (folder / "conf" / path).write_bytes(b"")
    return prepare


def in_the_way(name, fifo=False):
    def prepare(folder):
        (folder / "zrsvc.jsa.txt").write_text("zrsvc class archive 2\narchive forged\n")
        if name == "zrsvc.jsa.txt":
            (folder / name).unlink()
        os.mkfifo(folder / name) if fifo else (folder / name).mkdir()
    return prepare


@pytest.mark.parametrize("env, options, prepare, line", [
    ({"ZR_CLASS_ARCHIVE": "off"}, "", None, "ZR_CLASS_ARCHIVE is off"),
    ({}, "-Xshare:off\n", None, "jvm.options sets '-Xshare:off'"),
    ({}, AGENT + "\n", None, f"jvm.options sets '{AGENT}'{WITH_WHICH}"),
    ({}, "--limit-modules=java.base\n", None, f"jvm.options sets '--limit-modules=java.base'{WITH_WHICH}"),
    ({"JAVA_TOOL_OPTIONS": f"'-Dzr.test=a b' {AGENT}"}, "", None, f"JAVA_TOOL_OPTIONS sets '{AGENT}'{WITH_WHICH}"),
    ({"JAVA_TOOL_OPTIONS": "-XX:-UseCompressedClassPointers"}, "", None,
     f"JAVA_TOOL_OPTIONS sets '-XX:-UseCompressedClassPointers'{WITH_WHICH}"),
    ({}, "", class_file(f"{DEEP}/Local.class"),
     f"the VM cannot archive classes of the conf folder ('conf/{DEEP}/Local.class')"),
    ({}, "", class_file(f"{LONG}/{'y' * 60}/C.class"), "the conf folder is too large or too deep to be searched "
                                                       f"for class files, which the VM cannot archive (at 'conf/{LONG}')"),
    ({}, "", in_the_way("zrsvc.jsa"), f"'zrsvc.jsa' {IN_ITS_WAY}"),
    ({}, "", in_the_way("zrsvc.jsa.txt"), f"'zrsvc.jsa.txt' {IN_ITS_WAY}"),
    ({}, "", in_the_way("zrsvc.jsa", fifo=True), f"'zrsvc.jsa' {IN_ITS_WAY}"),
    ({"JAVA_HOME": "old-jdk"}, "", None, "the Java home holds Java 11 (its release file); the archive needs Java 13 "
                                         "or later"),
], ids=["off", "own sharing option", "agent", "limited modules", "agent in JAVA_TOOL_OPTIONS",
        "no compressed class pointers", "class 17 folders deep", "path too long", "folder as archive",
        "folder as record", "FIFO as archive", "Java 11"])
def test_the_archive_stands_aside(tmp_path, env, options, prepare, line):
    instance = Instance(tmp_path, "returning")
    if "JAVA_HOME" in env:
        old = tmp_path / env["JAVA_HOME"]
        old.mkdir()
        (old / "lib").symlink_to(JAVA_HOME / "lib")
        (old / "release").write_text('IMPLEMENTOR="Test"\nJAVA_VERSION="11.0.21"\n')
        env = {"JAVA_HOME": str(old)}
    (instance.folder / "conf" / "jvm.options").write_text("-Xlog:class+load\n" + options)
    if prepare:
        prepare(instance.folder)
    before = archive_files(instance)
    for _ in range(2):
        assert run(instance, env) == (0, ["Class archive not used: " + line], False)
    assert archive_files(instance) == before


# A VM that cannot be created while asked to write the archive (the option
# here is one it refuses in any case) has the next runs stand aside until
# the inputs change.
def test_a_vm_not_created_while_writing_the_archive_has_the_next_runs_stand_aside(tmp_path):
    instance = Instance(tmp_path, "returning")
    (instance.folder / "conf" / "jvm.options").write_text("-XX:+NoSuchFlagOfTheVM\n")
    assert run(instance) == (255, [CREATED, f"{ARCHIVE} not written: the VM was not created; the next runs stand "
                                            "aside until the Java home, class path or options change"], False)
    aside = ("Class archive not used: the VM could not be created while asked to write it in a run before with "
             "this Java home, class path and options; remove zrsvc.jsa.txt to try again")
    for _ in range(2):
        assert run(instance) == (255, [aside], False)
    (instance.folder / "conf" / "jvm.options").write_text("-Xlog:class+load\n")
    assert run(instance) == (0, [RENEWED + "the options of jvm.options changed"], False)
    assert run(instance) == (0, USED, True)


# A stop while the VM is created (held by -XX:+PauseAtStartup until its file
# goes) ends the run, and the next run tries the archive again.
def test_a_stop_while_the_vm_is_created_keeps_the_archives_next_try(tmp_path):
    instance = Instance(tmp_path, "returning")
    (instance.folder / "conf" / "jvm.options").write_text("-XX:+UnlockDiagnosticVMOptions\n-XX:+PauseAtStartup\n")
    for stop in (True, False):
        proc = instance.start({"ZR_CLASS_ARCHIVE": None})
        wait_for(lambda: list(instance.folder.glob("vm.paused.*")) or proc.poll() is not None, what="a paused VM")
        if stop:
            proc.send_signal(signal.SIGTERM)
        for paused in instance.folder.glob("vm.paused.*"):
            paused.unlink()
        proc.communicate(timeout=120)
        assert (proc.returncode, [line for line in instance.log() if line.startswith("Class archive")]) == (
            0, [CREATED])
    assert archive_files(instance) == KEPT


# The exit status is the application's whatever the archive does; only a
# run in which start() was invoked and the application ended by itself or
# on a stop request (System.exit() included: the VM wrote the archive before
# it ended the process) leaves an archive.
NOT_RUN = f"{ARCHIVE} not written: the application did not run"


@pytest.mark.parametrize("variant, case, stop, status, lines", [
    ("misbehaving", "exit-in-start", False, 5, [CREATED]),
    ("misbehaving", "exit-in-stop", True, 5, [CREATED]),
    ("misbehaving", None, True, 0, [CREATED]),
    ("nostart", None, False, 2, [CREATED, NOT_RUN]),
    ("misbehaving", "throw-in-start", False, 3, [CREATED, NOT_RUN]),
])
def test_only_a_run_that_ran_the_application_leaves_an_archive(tmp_path, variant, case, stop, status, lines):
    instance = Instance(tmp_path, variant)
    env = {"ZR_TEST_CASE": case or "block"}
    proc = instance.start(dict({"ZR_CLASS_ARCHIVE": None}, **env))
    if stop:
        instance.wait_log("Invoking main", proc)
        proc.send_signal(signal.SIGTERM)
    proc.communicate(timeout=120)
    assert (proc.returncode, [line for line in instance.log() if line.startswith("Class archive")]) == (status, lines)
    assert archive_files(instance) == (KEPT if len(lines) == 1 else ["zrsvc.jsa.txt"])
    if len(lines) == 1:
        assert run(instance, {"ZR_TEST_CASE": "throw-in-start"})[:2] == (3, USED)


# A disk that fills up while the VM writes the archive, as a file-size limit
# that the log stays below and the archive (112 KiB) exceeds: the run ends
# as without the archive, its status kept, the unfinished archive removed;
# the next runs stand aside. At the application's System.exit(), the VM gives
# up before it tells the exit code: that run ends as the VM ends it.
GAVE_UP = f"{ARCHIVE} not written: the VM gave up while writing it, for the reason it gives above"
GAVE_UP_RUNNING = f"{ARCHIVE} not written: the VM gave up while the application ran, for the reason it gives above"


@pytest.mark.parametrize("variant, case, status, gave_up, later", [
    ("returning", None, 0, GAVE_UP, 0),
    ("nostart", None, 2, GAVE_UP, 2),
    ("misbehaving", "exit-in-start", 1, GAVE_UP_RUNNING, 5),
])
def test_a_disk_full_while_the_archive_is_written_costs_the_archive_only(tmp_path, variant, case, status, gave_up,
                                                                        later):
    instance = Instance(tmp_path, variant)
    limit = 64 * 1024
    env = {"ZR_TEST_CASE": case} if case else {}
    assert run(instance, env, preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))) == (
        status, [CREATED, gave_up], False)
    assert archive_files(instance) == ["zrsvc.jsa.txt"]
    assert run(instance, env)[:2] == (later, ["Class archive not used: the VM gave up while writing it in a run "
                                              "before with this Java home, class path and options; remove "
                                              "zrsvc.jsa.txt to try again"])


# An archive whose record matches the run but that the VM does not map (as
# after the JDK's base archive was regenerated; here its record is made to
# say it was made with -Xmx40g, with which the VM maps no archive made
# without): the log says so, and the next run renews it.
def test_an_archive_the_vm_does_not_map_is_said_and_renewed(tmp_path):
    instance = Instance(tmp_path, "returning")
    assert run(instance)[:2] == (0, [CREATED])
    (instance.folder / "zrsvc.jsa.txt").write_text((instance.folder / "zrsvc.jsa.txt").read_text() +
                                                   "JAVA_TOOL_OPTIONS -Xmx40g\n")
    assert run(instance, {"JAVA_TOOL_OPTIONS": "-Xmx40g"})[:2] == (0, [
        TO_MAP, f"{ARCHIVE} not used: the VM did not map it; the next run renews it"])
    assert run(instance, {"JAVA_TOOL_OPTIONS": "-Xmx40g"})[:2] == (
        0, [RENEWED + "the VM did not map it in the run before"])
    assert run(instance, {"JAVA_TOOL_OPTIONS": "-Xmx40g"})[:2] == (0, USED)
    assert run(instance)[:2] == (0, [RENEWED + "the options of JAVA_TOOL_OPTIONS changed"])


# The VM writes the archive into a folder of the run's own that only the
# run's user may write, named to it by descriptor; a link planted under any
# name the archive takes is replaced, never written through.
def test_the_archive_is_never_written_through_a_link(tmp_path):
    instance = Instance(tmp_path, "blocking")
    outside = tmp_path / "outside"
    outside.write_text("not the archive's")
    stale = instance.folder / "zrsvc.jsa.tmpOLD123"
    stale.mkdir()
    (stale / "zrsvc.jsa").write_text("left by a run that was killed")
    proc = instance.start({"ZR_CLASS_ARCHIVE": None})
    instance.wait_file("started", proc)
    private = [p for p in instance.folder.glob("zrsvc.jsa.tmp*")]
    assert len(private) == 1 and private[0] != stale and (os.lstat(private[0]).st_mode & 0o777) == 0o700
    # The folder renamed away and a link put in its place, and the archive's
    # own name a link.
    private[0].rename(instance.folder / "moved")
    private[0].symlink_to(tmp_path)
    (tmp_path / "zrsvc.jsa").symlink_to(outside)
    (instance.folder / "zrsvc.jsa").symlink_to(outside)
    proc.send_signal(signal.SIGTERM)
    assert proc.wait(timeout=120) == 0
    assert outside.read_text() == "not the archive's" and (tmp_path / "zrsvc.jsa").is_symlink()
    assert (instance.folder / "zrsvc.jsa").is_file() and not (instance.folder / "zrsvc.jsa").is_symlink()
    assert not stale.exists()
