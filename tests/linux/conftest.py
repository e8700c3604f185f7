"""Foreground runs of the Linux zrsvc (-console NAME) on the real OpenJDK 17.

An Instance is a base folder laid out as zrsvc expects it, with the Java
service class of one variant of tests/java packed into lib/app.jar.
"""
import os
import shutil
import signal
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))
from polling import wait_for  # noqa: E402

REPO = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("ZRSVC_NATIVE_BUILD", REPO / "build" / "native"))
CLASSES = BUILD / "tests" / "jvm" / "java"
JAVA_HOME = Path(os.environ.get("ZR_TEST_JAVA_HOME", "/usr/lib/jvm/java-17-openjdk-amd64"))
STOP_SIGNALS = (signal.SIGINT, signal.SIGTERM, signal.SIGQUIT, signal.SIGHUP)


def default_signals(then=None):
    """A preexec_fn: zrsvc starts with the default dispositions of the stop
    signals and SIGQUIT, whatever the suite inherited (a background job of a
    script ignores SIGINT and SIGQUIT), then with what then sets."""
    def reset():
        for number in STOP_SIGNALS:
            signal.signal(number, signal.SIG_DFL)
        if then is not None:
            then()
    return reset


class Instance:
    def __init__(self, root, variant, name="shop", log=True):
        self.base = root / "app"
        self.name = name
        self.folder = self.base / "work" / name
        for folder in ("bin", "lib", "jdbc", "work/" + name + "/conf"):
            (self.base / folder).mkdir(parents=True, exist_ok=True)
        if log:
            (self.folder / "log").mkdir()
        self.exe = self.base / "bin" / "zrsvc"
        shutil.copy(BUILD / "zrsvc", self.exe)
        if variant is not None:
            subprocess.run([str(JAVA_HOME / "bin" / "jar"), "cf", str(self.base / "lib" / "app.jar"),
                            "-C", str(CLASSES / variant), "."], check=True)

    def environment(self, extra=None):
        """The run's environment: the class archive is off unless extra says
        otherwise; a value None in extra unsets the variable."""
        env = dict(os.environ, JAVA_HOME=str(JAVA_HOME), ZR_CLASS_ARCHIVE="off")
        env.pop("ZR_JAVA_HOME", None)
        env.update(extra or {})
        return {name: value for name, value in env.items() if value is not None}

    def start(self, env=None, **popen):
        """Starts zrsvc -console NAME; stdout and stderr are pipes unless popen says otherwise."""
        options = dict(stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        options.update(popen)
        options["preexec_fn"] = default_signals(options.get("preexec_fn"))
        return subprocess.Popen([str(self.exe), "-console", self.name], env=self.environment(env),
                                **options)

    def run(self, env=None):
        """Runs to the end: (exit status, standard output, standard error)."""
        proc = self.start(env)
        out, err = proc.communicate(timeout=120)
        return proc.returncode, out.decode(), err.decode()

    def log_file(self):
        return self.folder / "log" / "zrsvc-log.txt"

    def log(self):
        """The messages of the instance log, without their timestamps."""
        text = self.log_file().read_text()
        return [line.split(" - ", 1)[1] for line in text.splitlines() if " - " in line]

    def wait_log(self, line, proc):
        """Waits until the log holds the line (or the run has ended)."""
        wait_for(lambda: (self.log_file().exists() and line in self.log()) or proc.poll() is not None,
                 what=line)

    def wait_file(self, name, proc=None):
        """Waits until the application has left the file name in the instance folder."""
        wait_for(lambda: (self.folder / name).exists() or (proc is not None and proc.poll() is not None),
                 what=f"{name} in {self.folder}")
        assert (self.folder / name).exists(), f"the run ended before {name} appeared"


def preparation(instance):
    """The lines a run with lib/app.jar logs up to start()."""
    base, env = f"{instance.base}/", instance.environment()
    return [
        "Started ZR NTService 1.0",
        f"BASE PATH: '{base}'",
        f"WORKING DIR PATH: '{base}work/{instance.name}'",
        f"JAVA_HOME: '{JAVA_HOME}'",
        f"Scaning folder '{base}bin' for JARs",
        f"Scaning folder '{base}lib' for JARs",
        "Adding entry to class path: 'app.jar'",
        f"Scaning folder '{base}jdbc' for JARs",
        "Class archive not used: ZR_CLASS_ARCHIVE is off",
        f"JVM 'PATH={JAVA_HOME}/bin:{env['PATH']}'",
        f"JVM 'LD_LIBRARY_PATH={':'.join(filter(None, [base + 'jdbc/dll', env.get('LD_LIBRARY_PATH')]))}'",
        f"JVM '-Djava.class.path={base}lib/app.jar:conf'",
        "Starting JVM",
        "Invoking main",
    ]
