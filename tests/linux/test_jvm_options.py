"""conf/jvm.options of an instance, on the real OpenJDK 17."""
import pytest

from conftest import Instance, preparation


def run_with(tmp_path, content, variant="options"):
    instance = Instance(tmp_path, variant)
    path = instance.folder / "conf" / "jvm.options"
    path.mkdir() if content is None else path.write_bytes(content)
    status, out, err = instance.run()
    return instance, status, out + err


def test_the_files_options_follow_the_class_path(tmp_path):
    content = b"\xef\xbb\xbf# the heap\r\n  -Xmx48m \r\n\r\n   # a property\n\t-Dzr.test=a b\t\n"
    instance, status, _ = run_with(tmp_path, content)
    assert status == 0
    lines = preparation(instance)
    assert instance.log() == lines[:10] + ["JVM '-Xmx48m'", "JVM '-Dzr.test=a b'"] + lines[10:]
    heap, value = (instance.folder / "options-seen").read_text().split(" ", 1)
    assert 40 << 20 < int(heap) <= 48 << 20 and value == "a b"


def test_an_option_the_vm_rejects_fails_the_creation_with_its_reason(tmp_path):
    instance, status, output = run_with(tmp_path, b"-Xnonsense\n")
    assert status == 255
    assert instance.log()[-3:] == ["JNI_CreateJavaVM failed: -1", "Create JVM failed!",
                                   "Terminated with exit code -1."]
    assert "Unrecognized option: -Xnonsense" in output


CLASS_PATH = "refused: the class path comes from the instance's folders"


@pytest.mark.parametrize("content, line", [
    (b"-Xmx64m\n-Djava.class.path=x\n", f"line 2: '-Djava.class.path=x' {CLASS_PATH}"),
    (b"-cp x\n", f"line 1: '-cp x' {CLASS_PATH}"),
    (b"-classpath\n", f"line 1: '-classpath' {CLASS_PATH}"),
    (b" --class-path=x", f"line 1: '--class-path=x' {CLASS_PATH}"),
    (b"-D" + b"x" * 4094 + b"\r\n", "line 1: '-D" + "x" * 38 + "' refused: longer than 4095 characters"
     " (its start is shown)"),
    (b"-Da\n" * 257, "line 257: '-Da' refused: more than 256 options"),
    (b"#" * 65537, "refused: larger than 65536 bytes"),
    (b"-Da\n-D\0b\n", "line 2: '-D' refused: it holds a zero byte"),
    (None, "Cannot read the JVM options file: read('{path}') failed: 21"),
])
def test_a_refused_file_ends_the_process_before_the_vm(tmp_path, content, line):
    instance, status, _ = run_with(tmp_path, content, variant=None)
    path = instance.folder / "conf" / "jvm.options"
    assert status == 255
    assert instance.log()[-2:] == [line.format(path=path) if content is None else
                                   f"JVM options file '{path}' {line}", "Terminated with exit code -1."]
    assert "Starting JVM" not in instance.log()
