"""One run per instance under Wine's Service Control Manager, and instance
names that are one plain folder name below work or refused."""
import os
import re

import pytest

from conftest import make_layout, winpath
from test_instance import Shop, make_files

from test_service import ACCEPTS, RUNNING, STOP_PENDING, STOPPED, service_for, viewer_holding  # noqa: F401 (a fixture)

RUNNING_WITH_VM = dict(state=RUNNING, accepted=ACCEPTS)


@pytest.mark.parametrize("command", ["-service", "-console"])
def test_a_run_by_hand_of_a_running_service_touches_nothing(service_for, command):
    service = service_for("block")
    service.sc("start")
    service.wait_status(**RUNNING_WITH_VM)
    service.wait_log("Invoking main")
    log_folder = service.layout.log_file(service.instance).parent
    log = service.layout.log_file(service.instance).read_bytes()
    done = service.wine.run(service.layout.exe, command, service.name if command == "-service" else service.instance)
    assert done.returncode == 255
    assert done.stdout.startswith(f"Instance '{service.instance}' is already running: another process holds the "
                                  "lock on zrsvc.lock\r\n".encode())
    assert service.layout.log_file(service.instance).read_bytes() == log
    assert sorted(os.listdir(log_folder)) == ["zrsvc-log.txt", "zrsvc-stdout.txt"]
    assert service.events().count("JNI_CreateJavaVM") == 1


# A program that holds zrsvc.lock open for reading, sharing reading only (a
# backup agent, a viewer), does not make the instance look claimed.
def test_a_reader_of_the_lock_file_leaves_the_instance_free(wine, layout):
    shop = Shop(wine, layout)
    lock_file = layout.base / "work" / "shop" / "zrsvc.lock"
    lock_file.write_bytes(b"")
    with viewer_holding(wine, lock_file):
        status, _, messages = shop.run()
    assert (status, messages[-1]) == (0, "Invoking main")


# The previous run reports STOPPED only once its VM is destroyed (here after
# 15 s of STOP_PENDING, longer than Wine's SCM waits for a new run to reach
# it), and its process ends moments later: a start right after works.
def test_a_start_right_after_a_stop_whose_clean_up_takes_15_seconds(service_for):
    service = service_for("slowdestroy 15")
    service.sc("start")
    service.wait_status(**RUNNING_WITH_VM)
    service.sc("stop")
    service.wait_progress(STOP_PENDING)
    service.wait_status(state=STOPPED, win32=0)
    assert service.events()[-2:] == ["DestroyJavaVM", "destroyed"]
    (service.server / "jvm-script.txt").write_text(f"block\n{service.name}\n")
    service.sc("start")
    service.wait_status(**RUNNING_WITH_VM)
    events = service.events()
    creations = [at for at, event in enumerate(events) if event == "JNI_CreateJavaVM"]
    assert len(creations) == 2 and creations[1] > events.index("destroyed")
    previous = service.layout.log_file(service.instance).parent / "zrsvc-log.1.txt"
    assert previous.read_bytes().endswith(b" - Invoking stop()\r\n")


# The name rules are a unit table; here each road by which a name, a folder
# or a JAR's name arrives shows that it is used as given or refused on the
# console, touching nothing: what the ANSI code page 1252 cannot hold (from
# Wine's UTF-8 command line and folder names), what the SCM would expand, what
# would split the class path, what names a device, what the SCM cannot hold.
DEVICE = "Windows names a device so (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9, CONIN$, CONOUT$)"
CODE_PAGE = "holds characters that the ANSI code page 1252 cannot hold"
EXPANDED = "holds '%', which the Service Control Manager expands in the service's command line"
NAMES = [  # base folder, arguments, lines of the console (after a timestamp for a log line), status
    ("app", ["-console", "a\tb"], ["Invalid instance name 'a\\tb': it holds a control character"], 1),
    ("app", ["-service", "ZR - a\tb"], ["Invalid instance name 'a\\tb': it holds a control character"], 255),
    ("app", ["-console", "ｓｈｏｐ"], [f"Invalid instance name '????': it {CODE_PAGE}"], 1),
    ("app", ["-install", "Ω"], [f"Invalid instance name '?': it {CODE_PAGE}"], 1),
    ("app", ["-uninstall", "Ω"], [f"Invalid instance name '?': it {CODE_PAGE}"], 1),
    ("app", ["-console", "con.txt"], [f"Invalid instance name 'con.txt': {DEVICE}"], 1),
    ("app", ["-install", "NUL"], [f"Invalid instance name 'NUL': {DEVICE}"], 1),
    ("app", ["-install", "a%OS%b"], [f"Invalid instance name 'a%OS%b': it {EXPANDED}"], 1),
    ("app", ["-install", "n" * 251], [f"Invalid instance name '{'n' * 251}': longer than 250 characters (a service "
                                      "name, 'ZR - ' and the instance name, names registry keys, of at most 255 "
                                      "characters)"], 1),
    ("app商", ["-install", "shop"], ["Installing service 'ZR - shop' ...", "Cannot install service: the executable's "
                                     f"path '{{base}}\\bin\\zrsvc.exe' {CODE_PAGE}"], 1),
    ("app商", ["-console", "shop"], [f"Executable path '{{base}}\\bin\\zrsvc.exe' {CODE_PAGE}"], 255),
    ("app%OS%", ["-install", "shop"], ["Cannot install service: the executable's path '{base}\\bin\\zrsvc.exe' "
                                       f"{EXPANDED}"], 1),
    ("app;v2", ["-install", "shop"], ["Cannot install service: the base folder '{base}\\' holds ';', the class "
                                      "path separator: its paths would be split there"], 1),
    ("app;v2", ["-console", "shop"], ["Base folder '{base}\\' holds ';', the class path separator: its paths "
                                      "would be split there"], 255),
    ("app", ["-console", "café"], ["LOG FILE: '{base}\\work\\café\\log\\zrsvc-log.txt'",
                                   f"Skipping entry '???????.jar': its name {CODE_PAGE}"], 0),
]


@pytest.mark.parametrize("base, args, lines, status", NAMES, ids=lambda value: repr(value)[:30])
def test_a_name_or_folder_is_used_as_given_or_refused(wine, tmp_path, base, args, lines, status):
    layout = make_layout(tmp_path / base)
    Shop(wine, layout, "café")
    (layout.base / "work" / "shop").mkdir()
    make_files(layout.base / "lib", "драйвер.jar")
    done = wine.run(layout.exe, *args)
    assert done.returncode == status
    console = [re.sub(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d - ", "", line)
               for line in done.stdout.decode("cp1252").split("\r\n")]
    base_folder = winpath(layout.base).replace("商", "?")
    for line in lines:
        assert line.format(base=base_folder) in console, console
    if status != 0:  # nothing registered, created or claimed
        assert "Service installed successfully." not in console
        assert sorted(os.listdir(layout.base / "work")) == ["café", "shop"]
        assert os.listdir(layout.base / "work" / "shop") == []
        assert os.listdir(layout.base / "work" / "café" / "log") == []
