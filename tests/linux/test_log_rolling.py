"""The instance log rolled over by size on the real VM: the host's own lines
(one per VM option) and the VM's messages (-Xlog:all=trace, some 13,000
lines, 1.9 MB as log lines) pass ZR_LOG_LIMIT_MB."""
import re

from conftest import Instance

MIB = 1 << 20
LINE = re.compile(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d - [^\r\n]*")


def log_files(instance):
    """The files of the log folder, current first, then .1, .2, ..."""
    folder = instance.folder / "log"
    names = sorted((path.name for path in folder.iterdir()),
                   key=lambda name: 0 if name == "zrsvc-log.txt" else int(name.split(".")[1]))
    return [(folder / name).read_bytes() for name in names]


def test_the_log_rolls_over_between_lines_keeping_every_line_once_in_order(tmp_path):
    shop = Instance(tmp_path, "returning")
    options = [f"-Dzr.line{number:02}={'x' * 1000}" for number in range(60)]
    (shop.folder / "conf" / "jvm.options").write_text("\n".join(options + ["-Xlog:all=trace"]) + "\n")
    env = {"ZR_LOG_LIMIT_MB": "1", "ZR_LOG_KEEP": "3"}
    status, out, _ = shop.run(env)
    assert status == 0
    files = log_files(shop)
    assert len(files) >= 2
    longest = max(len(line) for data in files for line in data.split(b"\n"))
    assert all(len(data) <= MIB + longest for data in files)
    assert all(len(data) > MIB - longest for data in files[1:])
    # Oldest first, the files hold the run's lines as the console showed them.
    lines = b"".join(reversed(files)).decode().split("\n")
    assert lines.pop() == ""
    assert all(LINE.fullmatch(line) for line in lines)
    assert lines == out.splitlines()[1:]
    messages = [line.split(" - ", 1)[1] for line in lines]
    assert messages[0] == "Started ZR NTService 1.0"
    assert [m for m in messages if m.startswith("JVM '-Dzr.line")] == [f"JVM '{option}'" for option in options]
    assert sum(m.startswith("[") for m in messages) > 10000  # the VM's trace

    # A later run turns the files over under its count: the oldest go.
    (shop.folder / "conf" / "jvm.options").unlink()
    assert shop.run(dict(env, ZR_LOG_KEEP="1"))[0] == 0
    again = log_files(shop)
    assert len(again) == 2 and again[1] == files[0]
    assert again[0].decode().split("\n")[0].endswith(" - Started ZR NTService 1.0")

