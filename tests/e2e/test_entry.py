"""The entry: greeting, option words, usage texts, exit status, log lines."""
import re
import time

import pytest

GREETING = b"This is a 'ZR' service program, refer to documentation how to install and use it.\r\n\r\n"
INSTALL_USAGE = b"Usage: zrsvc -install name\r\n\tWhere name is the name of folder in the 'work' folder.\r\n\r\n"
UNINSTALL_USAGE = b"Usage: zrsvc -uninstall name\r\n\tWhere name is the name of folder in the 'work' folder.\r\n\r\n"
LOG_LINE = re.compile(rb"^(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d) - (.*)$")


@pytest.mark.parametrize("args", [[], ["install"], ["-inst"], ["-installx"], ["--service"], ["/install"]])
def test_greeting_for_missing_or_unknown_command(wine, layout, args):
    done = wine.run(layout.exe, *args)
    assert done.stdout == GREETING
    assert done.returncode == 0


@pytest.mark.parametrize("word", ["-install", "-INSTALL", "-Install"])
def test_install_word_in_any_case_without_name_prints_usage(wine, layout, word):
    done = wine.run(layout.exe, word)
    assert done.stdout == INSTALL_USAGE
    assert done.returncode == 0


def test_uninstall_without_name_prints_usage(wine, layout):
    done = wine.run(layout.exe, "-UnInstall")
    assert done.stdout == UNINSTALL_USAGE
    assert done.returncode == 0


@pytest.mark.parametrize("args", [["-service"], ["-SERVICE", "ZR - "], ["-service", ""]])
def test_invalid_service_name_is_logged_on_console_and_ends_with_minus_one(wine, layout, args):
    before = time.time()
    done = wine.run(layout.exe, *args)
    after = time.time()
    assert done.returncode == 255  # -1 as the Linux side sees it
    lines = done.stdout.split(b"\r\n")
    assert lines[-1] == b""
    messages = [LOG_LINE.match(line) for line in lines[:-1]]
    assert all(messages), done.stdout
    assert [m.group(2) for m in messages] == [b"Invalid service name", b"Terminated with exit code -1."]
    # The timestamp is this machine's local time.
    stamp = time.mktime(time.strptime(messages[0].group(1).decode(), "%Y-%m-%d %H:%M:%S"))
    assert int(before) - 1 <= stamp <= after + 1


def test_arguments_after_the_second_are_ignored(wine, layout):
    done = wine.run(layout.exe, "-uninstall", "nothere", "extra", "words")
    assert done.stdout == b"Uninstalling service 'ZR - nothere' ...\r\nOpenService failed (1060)\r\n"
    assert done.returncode == 0
