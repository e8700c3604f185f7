"""End-to-end tests of zrsvc.exe under Wine: one private prefix and one warm
session for the whole run. Services take their environment from the registry
when the session starts, so it is written there first; a holder process keeps
the session (and its Service Control Manager) alive until the run ends."""
import contextlib
import os
import shutil
import signal
import subprocess
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))
from polling import wait_for  # noqa: E402

REPO = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("ZRSVC_BUILD", REPO / "build" / "windows"))
ZRSVC_EXE = BUILD / "zrsvc.exe"
HOLDER_EXE = BUILD / "tests" / "wine_holder.exe"
DOUBLE_DLL = BUILD / "tests" / "jvm" / "double" / "jvm.dll"
ENVIRONMENT_KEY = r"HKLM\System\CurrentControlSet\Control\Session Manager\Environment"
SERVICES_KEY = "HKLM\\System\\CurrentControlSet\\Services\\"


def winpath(path):
    """The Windows name of a Unix path, through Wine's Z: drive."""
    return "Z:" + str(path).replace("/", "\\")




def launch_failed(done):
    """True when Wine could not start the program: exit status 1 with its own
    message, or with no output at all (every program the tests run prints)."""
    output = done.stdout + done.stderr
    return done.returncode == 1 and (b"ShellExecuteEx failed" in output or output == b"")


class Wine:
    def __init__(self, prefix, java_home):
        self.prefix = prefix
        self.java_home = java_home
        # Wine takes the Unix command line and file names in the locale's
        # encoding: UTF-8, for the tests of names outside the ANSI code page.
        self.env = dict(os.environ, WINEPREFIX=str(prefix), WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=", LC_ALL="C.UTF-8")
        for name in ("ZR_JAVA_HOME", "JAVA_HOME"):
            self.env.pop(name, None)

    def quiet(self, *args, timeout=180):
        """A Wine call whose streams lead nowhere: safe as the first of a session."""
        return subprocess.run(args, env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=timeout, check=False).returncode

    def start(self, service_environment):
        self.service_environment = dict(service_environment)
        self.quiet("wineserver", "-k")  # a session an earlier run left behind
        if not (self.prefix / "system.reg").exists():
            self.prefix.mkdir(parents=True, exist_ok=True)
            self.quiet("wineboot", "--init")
            self.quiet("wineserver", "-w")
        for name, value in service_environment.items():
            self.quiet("wine", "reg", "add", ENVIRONMENT_KEY, "/v", name, "/d", value, "/f")
        self.quiet("wineserver", "-w")
        self.holder = subprocess.Popen(["wine", str(HOLDER_EXE)], env=self.env, stdin=subprocess.DEVNULL,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        wait_for(lambda: self.quiet("wine", "cmd", "/c", "exit", "0", timeout=60) == 0, timeout=120,
                 what="the Wine session")

    def stop(self):
        os.killpg(self.holder.pid, signal.SIGTERM)
        self.holder.wait(timeout=30)
        if self.quiet("timeout", "60", "wineserver", "-w") != 0:
            self.quiet("wineserver", "-k")

    @contextlib.contextmanager
    def unix_environment_only(self):
        """A process started from Unix gets the registry's environment over the
        Unix one: the services' variables leave the registry for the block."""
        # Through run, which tries a launch that Wine fails again: a value
        # left in the registry would stand in for the block's own.
        for name in self.service_environment:
            self.run("reg", "delete", ENVIRONMENT_KEY, "/v", name, "/f")
        try:
            yield
        finally:
            for name, value in self.service_environment.items():
                self.run("reg", "add", ENVIRONMENT_KEY, "/v", name, "/d", value, "/f")

    def run(self, exe, *args, env=None, timeout=60, cwd=None):
        """Runs a Windows program; returns the completed process (bytes). Under
        load Wine now and then fails to launch a program: only that is retried."""
        full_env = dict(self.env)
        full_env.update(env or {})
        for _ in range(5):
            done = subprocess.run(["wine", str(exe), *args], env=full_env, cwd=cwd,
                                  stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout)
            if not launch_failed(done):
                return done
        return done

    def sc(self, *args):
        """Runs sc.exe; returns (exit status, output with line ends made plain)."""
        done = self.run("sc", *args)
        return done.returncode, done.stdout.decode("latin-1").replace("\r\n", "\n")

    def registration(self, service_name):
        """The values of a service's registry key as {name: text}, {} when absent."""
        done = self.run("reg", "query", SERVICES_KEY + service_name)
        values = {}
        for line in done.stdout.decode("latin-1").splitlines():
            parts = line.strip().split(None, 2)
            if len(parts) == 3 and parts[1].startswith("REG_"):
                values[parts[0]] = parts[2]
        return values


@pytest.fixture(scope="session")
def wine(tmp_path_factory):
    if not ZRSVC_EXE.exists():
        pytest.fail(f"{ZRSVC_EXE} is missing: build the windows preset first")
    # Every service of the session sees a Java home with the test-double VM,
    # ends when its application has not stopped 2 s after a stop request,
    # keeps no class archive, and rolls its log and output over at 1 MiB,
    # keeping two files.
    java_home = tmp_path_factory.mktemp("jdk")
    (java_home / "bin" / "server").mkdir(parents=True)
    shutil.copy(DOUBLE_DLL, java_home / "bin" / "server" / "jvm.dll")
    session = Wine(BUILD / "e2e-prefix", java_home)
    session.start({"ZR_JAVA_HOME": winpath(java_home), "ZR_STOP_TIMEOUT": "2", "ZR_CLASS_ARCHIVE": "off",
                   "ZR_LOG_LIMIT_MB": "1", "ZR_LOG_KEEP": "2"})
    yield session
    session.stop()


class Layout:
    """A base folder as zrsvc expects it: bin\\zrsvc.exe, lib, jdbc, work\\NAME."""

    def __init__(self, base):
        self.base = base
        self.exe = base / "bin" / "zrsvc.exe"

    def folder(self, relative):
        path = self.base / relative
        path.mkdir(parents=True, exist_ok=True)
        return path

    def instance(self, name):
        path = self.folder(Path("work") / name)
        for folder in ("log", "conf"):
            (path / folder).mkdir(exist_ok=True)
        return path

    def log_file(self, name):
        return self.base / "work" / name / "log" / "zrsvc-log.txt"

    def log_lines(self, name):
        """The instance log's messages, without the timestamps."""
        text = self.log_file(name).read_bytes().decode("latin-1")
        return [line.split(" - ", 1)[1] for line in text.split("\r\n") if " - " in line]


def make_layout(base):
    (base / "bin").mkdir(parents=True)
    shutil.copy(ZRSVC_EXE, base / "bin" / "zrsvc.exe")
    return Layout(base)


@pytest.fixture
def layout(tmp_path):
    return make_layout(tmp_path / "app")
