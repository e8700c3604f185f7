"""conf/jvm.options under Wine, with the test-double VM of the session's Java home."""
import uuid

from conftest import winpath


def run_with(wine, layout, make_file):
    instance = "o" + uuid.uuid4().hex[:8]
    make_file(layout.instance(instance) / "conf" / "jvm.options")
    server = wine.java_home / "bin" / "server"
    (server / "jvm-script.txt").write_text("return\n")
    calls = server / "jvm-calls.txt"
    calls.unlink(missing_ok=True)
    done = wine.run(layout.exe, "-console", instance)
    lines = calls.read_text().splitlines() if calls.exists() else []
    return done, [line.split("\t")[3:] for line in lines if "\tJNI_CreateJavaVM\t" in line], instance


def test_the_files_options_follow_the_class_path(wine, layout):
    done, creations, _ = run_with(wine, layout, lambda path: path.write_bytes(
        b"\xef\xbb\xbf# heap\r\n-Xmx64m\r\n\r\n -Dgreeting=hello world \r\n"))
    assert done.returncode == 0
    assert creations == [["nOptions=3", "ignoreUnrecognized=0", "option0=-Djava.class.path=conf", "extraInfo0=null",
                          "option1=-Xmx64m", "extraInfo1=null", "option2=-Dgreeting=hello world", "extraInfo2=null"]]


def test_an_unreadable_file_ends_the_process_before_the_vm_is_loaded(wine, layout):
    done, creations, instance = run_with(wine, layout, lambda path: path.mkdir())
    path = winpath(layout.base / "work" / instance / "conf" / "jvm.options")
    assert done.returncode == 255 and creations == []
    assert layout.log_lines(instance)[-2:] == [f"Cannot read the JVM options file: CreateFileA('{path}') failed: 5",
                                               "Terminated with exit code -1."]
