"""-install and -uninstall against Wine's Service Control Manager."""
import uuid

import pytest

from conftest import winpath


@pytest.fixture
def instance_name():
    """A name no other test uses; whatever a test registered is removed after it."""
    return "t" + uuid.uuid4().hex[:8]


@pytest.fixture
def registered(wine, layout):
    names = []
    yield names
    for name in names:
        wine.run(layout.exe, "-uninstall", name)


def console(done):
    return done.stdout.decode("latin-1")


def test_install_registers_an_on_demand_service_running_zrsvc(wine, layout, instance_name, registered):
    registered.append(instance_name)
    done = wine.run(layout.exe, "-install", instance_name)
    service = "ZR - " + instance_name
    assert console(done) == (f"Installing service '{service}' ...\r\n"
                             "Service installed successfully.\r\n")
    assert done.returncode == 0
    values = wine.registration(service)
    assert values["ImagePath"] == f'"{winpath(layout.exe)}" -service "{service}"'
    assert values["DisplayName"] == service
    assert int(values["Type"], 16) == 0x10
    assert int(values["Start"], 16) == 3
    assert int(values["ErrorControl"], 16) == 1
    assert wine.service_state(service) == "STOPPED"


def test_uninstall_removes_the_registration(wine, layout, instance_name):
    wine.run(layout.exe, "-install", instance_name)
    done = wine.run(layout.exe, "-uninstall", instance_name)
    service = "ZR - " + instance_name
    assert console(done) == (f"Uninstalling service '{service}' ...\r\n"
                             "Service uninstalled successfully.\r\n")
    assert done.returncode == 0
    assert wine.registration(service) == {}
    assert wine.service_state(service) is None


def test_instance_name_with_blanks_is_registered_whole(wine, layout, instance_name, registered):
    name = instance_name + " east wing"
    registered.append(name)
    done = wine.run(layout.exe, "-install", name)
    assert "Service installed successfully." in console(done)
    values = wine.registration("ZR - " + name)
    assert values["ImagePath"].endswith(f'-service "ZR - {name}"')


def test_installing_twice_reports_the_existing_service(wine, layout, instance_name, registered):
    registered.append(instance_name)
    wine.run(layout.exe, "-install", instance_name)
    done = wine.run(layout.exe, "-install", instance_name)
    assert console(done).endswith("CreateService failed (1073)\r\n")
    assert done.returncode == 0


def test_uninstalling_a_missing_instance_reports_it(wine, layout, instance_name):
    done = wine.run(layout.exe, "-uninstall", instance_name)
    assert console(done) == (f"Uninstalling service 'ZR - {instance_name}' ...\r\n"
                             "OpenService failed (1060)\r\n")
    assert done.returncode == 0


def test_empty_instance_name_is_refused_by_install(wine, layout):
    done = wine.run(layout.exe, "-install", "")
    assert console(done).startswith("Usage: zrsvc -install name\r\n")
    assert done.returncode == 0
    assert wine.registration("ZR - ") == {}


def test_empty_instance_name_still_reaches_the_scm_on_uninstall(wine, layout):
    done = wine.run(layout.exe, "-uninstall", "")
    assert console(done).startswith("Uninstalling service 'ZR - ' ...\r\n")
    assert "failed (" in console(done)
    assert done.returncode == 0


def test_overlong_instance_name_empties_the_service_name(wine, layout):
    done = wine.run(layout.exe, "-install", "n" * 195)
    lines = console(done).split("\r\n")
    assert lines[0] == "Installing service '' ..."
    assert lines[1].startswith("CreateService failed (")
    assert done.returncode == 0

    fits = "n" * 194
    done = wine.run(layout.exe, "-uninstall", fits)
    assert console(done).startswith(f"Uninstalling service 'ZR - {fits}' ...\r\n")
