"""conf/jvm.options of an instance, on the real OpenJDK 17."""
import pytest

from conftest import Instance, preparation

CLASS_PATH = "refused: the class path comes from the instance's folders"


def run_with(tmp_path, content, variant="options"):
    instance = Instance(tmp_path, variant)
    path = instance.folder / "conf" / "jvm.options"
    path.mkdir() if content is None else path.write_bytes(content)
    status, out, err = instance.run()
    return instance, status, out + err, path


def test_the_files_options_follow_the_class_path_and_a_gc_log_goes_to_its_file_only(tmp_path):
    content = b"\xef\xbb\xbf# heap\r\n  -Xmx48m \r\n\r\n  #\n\t-Dzr.test=a b\t\n-Xlog:gc*:file=log/gc.log\n"
    instance, status, _, _ = run_with(tmp_path, content)
    lines = preparation(instance)
    at = lines.index("Starting JVM")
    options = ["JVM '-Xmx48m'", "JVM '-Dzr.test=a b'", "JVM '-Xlog:gc*:file=log/gc.log'"]
    assert status == 0 and instance.log() == lines[:at] + options + lines[at:]
    heap, value = (instance.folder / "options-seen").read_text().split(" ", 1)
    assert 40 << 20 < int(heap) <= 48 << 20 and value == "a b"
    assert "[gc" in (instance.folder / "log" / "gc.log").read_text()


# The VM's reason reaches the log, and the console once (as the log line), also when the VM gives it before
# its hook for messages is in force (while it reads a settings file).
@pytest.mark.parametrize("option, reason", [("-Xnonsense", "Unrecognized option: -Xnonsense"),
                                            ("-XX:Flags=/nonexistent", "Could not open settings file /nonexistent")])
def test_an_option_the_vm_rejects_fails_the_creation_with_its_reason(tmp_path, option, reason):
    instance, status, output, _ = run_with(tmp_path, option.encode())
    assert status == 255 and instance.log()[-4] == reason
    assert instance.log()[-2:] == ["Create JVM failed!", "Terminated with exit code -1."]
    assert output.count(reason) == 1


# The refusals themselves are a unit table; here one of them and a folder
# show that either ends the run before the VM exists.
@pytest.mark.parametrize("content, line", [
    (b"-Xmx64m\n-Djava.class.path=x\n", f"line 2: '-Djava.class.path=x' {CLASS_PATH}"),
    (None, "refused: it is not a regular file"),
])
def test_a_refused_file_ends_the_process_before_the_vm(tmp_path, content, line):
    instance, status, _, path = run_with(tmp_path, content, variant=None)
    start = f"JVM options file '{path}' "
    assert status == 255 and "Starting JVM" not in instance.log()
    assert instance.log()[-2:] == [start + line, "Terminated with exit code -1."]


# A warning the VM prints while it is created is one whole log line, and shown once on the console, though
# its first words come through the VM's hook and the rest straight on standard error.
def test_a_vm_warning_while_it_is_created_is_one_whole_line(tmp_path):
    warning = ("OpenJDK 64-Bit Server VM warning: Options -Xverify:none and -noverify were deprecated in JDK 13 and "
               "will likely be removed in a future release.")
    instance, status, output, _ = run_with(tmp_path, b"-Xverify:none\n", variant="returning")
    assert status == 0 and warning in instance.log()
    assert output.count("VM warning") == 1
