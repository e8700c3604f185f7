"""conf/jvm.options under Wine, with the test-double VM of the session's Java home."""
import uuid

from conftest import winpath


def run_with(wine, layout, make_file):
    """A foreground run with the file make_file makes: (process, the file, the VM creations recorded)."""
    path = layout.instance("o" + uuid.uuid4().hex[:8]) / "conf" / "jvm.options"
    make_file(path)
    calls = wine.java_home / "bin" / "server" / "jvm-calls.txt"
    (calls.parent / "jvm-script.txt").write_text("return\n")
    calls.unlink(missing_ok=True)
    done = wine.run(layout.exe, "-console", path.parent.parent.name)
    lines = calls.read_text().splitlines() if calls.exists() else []
    return done, path, [line.split("\t")[3:] for line in lines if "\tJNI_CreateJavaVM\t" in line]


def test_the_files_options_follow_the_class_path(wine, layout):
    done, _, creations = run_with(wine, layout, lambda path: path.write_bytes(b"#\r\n-Xmx64m\r\n\r\n -Da=b c \r\n"))
    # After the VM's three hooks.
    assert done.returncode == 0 and [creation[:2] + creation[8:] for creation in creations] == [[
        "nOptions=6", "ignoreUnrecognized=0", "option3=-Djava.class.path=conf", "extraInfo3=null",
        "option4=-Xmx64m", "extraInfo4=null", "option5=-Da=b c", "extraInfo5=null"]]


def test_an_unreadable_file_ends_the_process_before_the_vm_is_loaded(wine, layout):
    done, path, creations = run_with(wine, layout, lambda path: path.mkdir())
    assert done.returncode == 255 and creations == []
    assert layout.log_lines(path.parent.parent.name)[-2:] == [
        f"Cannot read the JVM options file: CreateFileA('{winpath(path)}') failed: 5",
        "Terminated with exit code -1."]
