"""The entry and the registration commands: console texts, exit status and
what Wine's Service Control Manager holds afterwards."""
import calendar
import re
import time
import uuid

import pytest

from conftest import winpath

GREETING = b"This is a 'ZR' service program, refer to documentation how to install and use it.\r\n\r\n"


def usage(option):
    return (f"Usage: zrsvc {option} name\r\n"
            "\tWhere name is the name of folder in the 'work' folder.\r\n\r\n").encode()


USAGES = (b"Usage: zrsvc -install name     registers the instance as the Windows service \"ZR - name\",\r\n"
          b"                               started on demand (run it from an elevated prompt)\r\n"
          b"       zrsvc -uninstall name   removes that service (stop it first)\r\n"
          b"       zrsvc -console name     runs the instance in the foreground until Ctrl+C\r\n"
          b"                               (on Linux also SIGTERM or SIGHUP: how systemd runs it)\r\n"
          b"       zrsvc -service \"ZR - name\"  what the Service Control Manager runs\r\n"
          b"\tWhere name is the name of folder in the 'work' folder, beside the folder of zrsvc.\r\n\r\n")


@pytest.mark.parametrize("args, stdout, status", [
    ([], GREETING, 0),
    (["--help"], USAGES, 0),
    (["-H"], USAGES, 0),
    (["/?", "shop"], USAGES, 0),
    (["install"], GREETING, 0),
    (["-installx"], GREETING, 0),
    (["-INSTALL"], usage("-install"), 0),
    (["-Install", ""], usage("-install"), 0),
    (["-UnInstall"], usage("-uninstall"), 0),
    (["-CONSOLE"], usage("-console"), 1),
    (["-uninstall", "nothere", "extra"], b"Uninstalling service 'ZR - nothere' ...\r\nOpenService failed (1060)\r\n", 1),
    (["-uninstall", ""], b"Uninstalling service 'ZR - ' ...\r\nOpenService failed (1060)\r\n", 1),
    (["-service"], None, 255),
    (["-SERVICE", "ZR - "], None, 255),
], ids=lambda value: repr(value)[:40])
def test_console_texts_and_exit_status(wine, layout, args, stdout, status):
    # Three hours east of UTC: log timestamps must follow the time zone.
    before = time.time()
    done = wine.run(layout.exe, *args, env={"TZ": "ZRT-3"})
    after = time.time()
    assert done.returncode == status
    if stdout is None:  # an invalid service name, logged on the console
        stamp = rb"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d) - "
        logged = re.fullmatch(stamp + rb"Invalid service name\r\n" + stamp + rb"Terminated with exit code -1.\r\n",
                              done.stdout)
        assert logged, done.stdout
        shown = calendar.timegm(time.strptime(logged.group(1).decode(), "%Y-%m-%d %H:%M:%S")) - 3 * 3600
        assert int(before) - 1 <= shown <= after + 1
    else:
        assert done.stdout == stdout


def test_install_registers_the_service_and_uninstall_removes_it(wine, layout):
    # The longest name: 255 characters with "ZR - ", as a registry key takes.
    name = "t" + uuid.uuid4().hex[:8] + " east wing" + "w" * 231
    service = "ZR - " + name
    done = wine.run(layout.exe, "-install", name)
    assert done.stdout == f"Installing service '{service}' ...\r\nService installed successfully.\r\n".encode()
    values = wine.registration(service)
    assert values["ImagePath"] == f'"{winpath(layout.exe)}" -service "{service}"'
    assert values["DisplayName"] == service
    assert (int(values["Type"], 16), int(values["Start"], 16), int(values["ErrorControl"], 16)) == (0x10, 3, 1)
    assert "STOPPED" in wine.sc("query", service)[1]
    # The event source of the service's fatal conditions: zrsvc.exe holds the message table.
    source = "EventLog\\Application\\" + service
    assert wine.registration(source) == {"EventMessageFile": winpath(layout.exe), "TypesSupported": "0x1"}
    again = wine.run(layout.exe, "-install", name)
    assert (again.returncode, again.stdout.endswith(b"CreateService failed (1073)\r\n")) == (1, True)

    done = wine.run(layout.exe, "-uninstall", name)
    assert done.stdout == f"Uninstalling service '{service}' ...\r\nService uninstalled successfully.\r\n".encode()
    assert done.returncode == 0
    assert wine.registration(service) == {} and wine.registration(source) == {}
