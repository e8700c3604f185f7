"""Where the VM library is loaded from, under Wine."""
import shutil
import uuid

import pytest

from conftest import DOUBLE_DLL, winpath

NO_ENTRY_DLL = DOUBLE_DLL.parents[1] / "libno_entry.dll"


@pytest.fixture
def shop(wine, layout):
    name = "c" + uuid.uuid4().hex[:8]
    layout.instance(name)
    (wine.java_home / "bin" / "server" / "jvm-script.txt").write_text("return\n")
    (wine.java_home / "bin" / "server" / "jvm-calls.txt").unlink(missing_ok=True)
    return name


def messages(console_bytes):
    """The messages of the log lines shown on the console."""
    lines = console_bytes.decode("latin-1").split("\r\n")
    return [line.split(" - ", 1)[1] for line in lines if " - " in line]


def test_a_vm_library_without_its_entry_point_ends_the_process(wine, layout, shop, tmp_path):
    server = tmp_path / "jdk" / "bin" / "server"
    server.mkdir(parents=True)
    shutil.copy(NO_ENTRY_DLL, server / "jvm.dll")
    with wine.unix_environment_only():
        done = wine.run(layout.exe, "-console", shop, env={"ZR_JAVA_HOME": winpath(tmp_path / "jdk")})
    assert done.returncode == 255
    assert messages(done.stdout)[-3:] == [f"GetProcAddress('{winpath(server)}\\jvm.dll', 'JNI_CreateJavaVM') failed: 127",
                                          "Create JVM failed!", "Terminated with exit code -1."]


def test_the_vm_library_is_loaded_from_the_java_home_only(wine, layout, shop):
    """Copies of the double where a library loaded by its bare name would come
    from: the executable's folder, the current directory (the instance
    folder) and a folder of the new PATH."""
    decoys = [layout.base / "bin", layout.base / "work" / shop, layout.folder("jdbc/dll")]
    for folder in decoys:
        shutil.copy(DOUBLE_DLL, folder / "jvm.dll")
        (folder / "jvm-script.txt").write_text("return\n")
    done = wine.run(layout.exe, "-console", shop)
    assert done.returncode == 0
    server = wine.java_home / "bin" / "server"
    assert (server / "jvm-calls.txt").read_text().split("\n")[0].endswith(f"\tload\t{winpath(server)}\\jvm.dll")
    for folder in decoys:
        assert not (folder / "jvm-calls.txt").exists(), folder
