"""The instance's class-data archive on the real OpenJDK 17: whether the VM
maps it is asked of the VM itself, through its class-loading log."""
import resource
import shutil
import subprocess
import zipfile

import pytest

from conftest import JAVA_HOME, Instance

MAPPED = "qo.wyn.zr.NTService source: shared objects file (top)"
ARCHIVE = "Class archive zrsvc.jsa"
CREATED = f"{ARCHIVE} to be created when the VM ends: there is none"
USED = f"{ARCHIVE} used: made from this Java home, class path and options"
RENEWED = f"{ARCHIVE} to be renewed when the VM ends: "


def run(instance, env=None, **popen):
    """(exit status, the archive's lines of the log, whether the VM mapped the service class)."""
    proc = instance.start(dict({"ZR_CLASS_ARCHIVE": None}, **(env or {})), **popen)
    out = proc.communicate(timeout=120)[0].decode()
    return proc.returncode, [line for line in instance.log() if line.startswith("Class archive")], MAPPED in out


def change_jar(instance):
    with zipfile.ZipFile(instance.base / "lib" / "app.jar", "a") as jar:
        jar.writestr("added.txt", "a JAR of the class path changes")
    return f"the JAR '{instance.base}/lib/app.jar' changed"


def cut_archive(instance):
    archive = instance.folder / "zrsvc.jsa"
    cut = archive.read_bytes()[:5000]  # a cut archive crashes the VM that maps it
    archive.unlink()  # read-only, as the VM writes it: replaced, as its owner can
    archive.write_bytes(cut)
    return "the archive is not the one its record describes"


def remove_jar(instance):
    (instance.base / "jdbc" / "extra.jar").unlink()
    return "the class path changed"


def change_options(instance):
    (instance.folder / "conf" / "jvm.options").write_text("-Xlog:class+load\n-Xmx64m\n")
    return "the options of jvm.options changed"


@pytest.mark.parametrize("change", [None, change_jar, remove_jar, cut_archive, change_options])
def test_a_later_run_maps_the_archive_and_a_change_renews_it(tmp_path, change):
    instance = Instance(tmp_path, "returning")
    shutil.copy(instance.base / "lib" / "app.jar", instance.base / "jdbc" / "extra.jar")
    (instance.folder / "conf" / "jvm.options").write_text("-Xlog:class+load\n")
    assert run(instance) == (0, [CREATED], False)
    assert sorted(p.name for p in instance.folder.glob("zrsvc.jsa*")) == ["zrsvc.jsa", "zrsvc.jsa.txt"]
    if change is not None:
        assert run(instance) == (0, [USED], True)
        assert run(instance, {"ZR_CLASS_ARCHIVE": "on"}) == (0, [USED], True)
        reason = change(instance)
        assert run(instance) == (0, [RENEWED + reason], False)
    assert run(instance) == (0, [USED], True)


# A class loaded from a folder of the class path (conf) would make the
# VM's dump end the process. A Java home whose release file states Java 11
# (its VM is the real one, through a link) would refuse the archive's options.
@pytest.mark.parametrize("env, options, conf_class, line", [
    ({"ZR_CLASS_ARCHIVE": "off"}, "", None, "Class archive not used: ZR_CLASS_ARCHIVE is off"),
    ({}, "-Xshare:off\n", None, "Class archive not used: jvm.options sets '-Xshare:off'"),
    ({}, "", "qo/Local.class", "Class archive not used: the VM cannot archive classes of the conf folder "
                               "('conf/qo/Local.class')"),
    ({"JAVA_HOME": "old-jdk"}, "", None, "Class archive not used: the Java home holds Java 11 (its release file); "
                                         "the archive needs Java 13 or later"),
], ids=["off", "own sharing option", "conf class", "Java 11"])
def test_the_archive_stands_aside(tmp_path, env, options, conf_class, line):
    instance = Instance(tmp_path, "returning")
    if "JAVA_HOME" in env:
        old = tmp_path / env["JAVA_HOME"]
        old.mkdir()
        (old / "lib").symlink_to(JAVA_HOME / "lib")
        (old / "release").write_text('IMPLEMENTOR="Test"\nJAVA_VERSION="11.0.21"\n')
        env = {"JAVA_HOME": str(old)}
    (instance.folder / "conf" / "jvm.options").write_text("-Xlog:class+load\n" + options)
    if conf_class:
        (instance.folder / "conf" / conf_class).parent.mkdir(parents=True)
        (instance.folder / "conf" / conf_class).write_bytes(b"")
    for _ in range(2):
        assert run(instance, env) == (0, [line], False)
    assert not list(instance.folder.glob("zrsvc.jsa*"))


# A disk that fills up while the VM writes the archive, as a file-size limit
# that the log stays below and the archive (112 KiB) exceeds: the run ends
# as without the archive, its status kept, the unfinished archive removed.
@pytest.mark.parametrize("variant, status", [("returning", 0), ("nostart", 2)])
def test_a_disk_full_while_the_archive_is_written_costs_the_archive_only(tmp_path, variant, status):
    instance = Instance(tmp_path, variant)
    limit = 64 * 1024
    assert run(instance, preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))) == (
        status, [CREATED, f"{ARCHIVE} not written: the VM gave up while writing it, for the reason it gives above"],
        False)
    assert "The Java VM gave up while it was destroyed, after the application had ended" in instance.log()
    assert not list(instance.folder.glob("zrsvc.jsa*"))


def test_too_little_free_space_stands_aside(tmp_path):
    instance = Instance(tmp_path, "returning", log=False)
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=2m", "tmpfs", str(instance.folder)]).returncode:
        pytest.skip("a small volume needs a tmpfs mount, which only root may make")
    try:
        for folder in ("conf", "log"):
            (instance.folder / folder).mkdir()
        assert run(instance) == (0, ["Class archive not used: the instance folder's volume has 1 MiB free space, "
                                     "less than the 65 MiB it may need"], False)
        assert not list(instance.folder.glob("zrsvc.jsa*"))
    finally:
        subprocess.run(["umount", "--lazy", str(instance.folder)], check=True)
