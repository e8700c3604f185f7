"""One run per instance under Wine's Service Control Manager, and instance
names that are one plain folder name below work or refused."""
import os

import pytest

from test_service import ACCEPTS, RUNNING, STOP_PENDING, STOPPED, service_for  # noqa: F401 (a fixture)

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
    assert done.stdout.startswith(f"Instance '{service.instance}' is already running\r\n".encode())
    assert service.layout.log_file(service.instance).read_bytes() == log
    assert sorted(os.listdir(log_folder)) == ["zrsvc-log.txt", "zrsvc-stdout.txt"]
    assert service.events().count("JNI_CreateJavaVM") == 1


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


# The name rules are a unit table; here each command that checks a name
# shows that a refused one is said on the console and touches nothing.
@pytest.mark.parametrize("command, prefix, status", [("-install", "", 1), ("-console", "", 1),
                                                     ("-service", "ZR - ", 255)])
def test_an_instance_name_that_is_not_one_plain_folder_name_is_refused(wine, layout, command, prefix, status):
    layout.folder("work")
    done = wine.run(layout.exe, command, prefix + "a\tb")
    assert done.returncode == status
    lines = done.stdout.decode("latin-1").split("\r\n")
    assert lines[0] == "Invalid instance name 'a\\tb': it holds a control character"
    # Nothing registered (no "Installing ..."), nothing created or claimed.
    assert len(lines) == (3 if command == "-service" else 2)
    assert sorted(os.listdir(layout.base)) == ["bin", "work"] and os.listdir(layout.base / "work") == []
