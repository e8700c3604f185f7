"""Benchmarks of what zrsvc adds on top of the Java VM.

Each comparison runs its two sides interleaved, so that the machine's drift
touches both alike, and reports medians, minimums and the ratio or difference
of the medians. Nothing here asserts a time: it prints figures.
"""
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import uuid
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
NATIVE = REPO / "build" / "native"
WINDOWS = REPO / "build" / "windows"
JAVA_HOME = Path(os.environ.get("ZR_BENCH_JAVA_HOME", "/usr/lib/jvm/java-17-openjdk-amd64"))
RUNS = int(os.environ.get("ZR_BENCH_RUNS", "30"))
sys.path.insert(0, str(REPO / "tests" / "e2e"))
os.environ.setdefault("ZRSVC_BUILD", str(WINDOWS))
from conftest import Wine, make_layout, wait_for, winpath  # noqa: E402

SVCCTL = WINDOWS / "tests" / "svcctl.exe"
MINIMAL_SERVICE = WINDOWS / "tests" / "minimal_service.exe"
DOUBLE_DLL = WINDOWS / "tests" / "jvm" / "double" / "jvm.dll"

ROWS = []


def row(figure, side, values, against, other, result, unit=1000.0, suffix="ms"):
    def fmt(v):
        return f"{v * unit:.1f} {suffix}"
    ROWS.append((figure, side, fmt(statistics.median(values)), fmt(min(values)), len(values),
                 against, fmt(statistics.median(other)), fmt(min(other)), result))


def ratio(a, b):
    return f"ratio {statistics.median(a) / statistics.median(b):.2f}"


def difference(a, b):
    return f"difference {(statistics.median(a) - statistics.median(b)) * 1000:+.1f} ms"


# 1 and 2: the real VM on Linux, zrsvc -console against the java launcher.

def measure_process(argv, cwd, env, reached):
    """Runs a process to its end: (seconds from spawn to start(), peak RSS in bytes)."""
    reached.unlink(missing_ok=True)
    began = time.time()
    proc = subprocess.Popen(argv, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    if os.waitstatus_to_exitcode(status) != 0:
        raise RuntimeError(f"{argv[0]} ended with {os.waitstatus_to_exitcode(status)}")
    return int(reached.read_text()) / 1e6 - began, usage.ru_maxrss * 1024


def bench_real_vm(root):
    classes = root / "classes"
    sources = [str(p) for p in (REPO / "bench" / "java").rglob("*.java")]
    subprocess.run([str(JAVA_HOME / "bin" / "javac"), "-d", str(classes), *sources], check=True)
    base = root / "app"
    for folder in ("bin", "lib", "jdbc", "work/bench/log", "work/bench/conf"):
        (base / folder).mkdir(parents=True)
    shutil.copy(NATIVE / "zrsvc", base / "bin" / "zrsvc")
    subprocess.run([str(JAVA_HOME / "bin" / "jar"), "cf", str(base / "lib" / "bench.jar"),
                    "-C", str(classes), "."], check=True)
    instance = base / "work" / "bench"
    plain = root / "plain"
    plain.mkdir()
    env = dict(os.environ, JAVA_HOME=str(JAVA_HOME))
    env.pop("ZR_JAVA_HOME", None)
    host, java = [], []
    for _ in range(RUNS):
        host.append(measure_process([str(base / "bin" / "zrsvc"), "-console", "bench"], instance, env,
                                    instance / "reached.txt"))
        java.append(measure_process([str(JAVA_HOME / "bin" / "java"), "-cp", str(classes),
                                     "qo.wyn.zr.ReachedStart"], plain, env, plain / "reached.txt"))
    host_t, java_t = [h[0] for h in host], [j[0] for j in java]
    row("1. time to reach start(), OpenJDK 17", "zrsvc -console", host_t, "java -cp", java_t,
        ratio(host_t, java_t))
    host_m, java_m = [h[1] for h in host], [j[1] for j in java]
    row("2. peak resident memory", "zrsvc -console", host_m, "java -cp", java_m, ratio(host_m, java_m),
        unit=1 / 2**20, suffix="MiB")


# 3 and 4: preparation under Wine, with the test-double VM.

def timed_run(wine, exe, *args):
    began = time.perf_counter()
    done = wine.run(exe, *args)
    elapsed = time.perf_counter() - began
    return elapsed, done.returncode


def jar_layout(root, jars):
    # Short paths: 300 entries must fit the class path's 9999 characters.
    layout = make_layout(root / str(jars))
    layout.instance("bench")
    for i in range(jars):
        folder = layout.folder(("bin", "lib", "jdbc")[i % 3])
        (folder / f"j{i:03d}.jar").write_bytes(b"")
    return layout


def bench_preparation(wine, root):
    (wine.java_home / "bin" / "server" / "jvm-script.txt").write_text("return\n")
    layouts = {n: jar_layout(root, n) for n in (0, 10, 100, 300)}
    greeting = []
    prepared = {n: [] for n in layouts}
    for _ in range(RUNS):
        greeting.append(timed_run(wine, layouts[0].exe)[0])
        for n, layout in layouts.items():
            elapsed, status = timed_run(wine, layout.exe, "-console", "bench")
            if status != 0:
                log = layout.log_file("bench").read_text(errors="replace")[-600:]
                raise RuntimeError(f"-console with {n} JARs ended with {status}: {log}")
            prepared[n].append(elapsed)
    row("3. preparation under Wine, 300 JARs", "-console, double VM", prepared[300], "greeting", greeting,
        difference(prepared[300], greeting))
    m = {n: statistics.median(v) for n, v in prepared.items()}
    per_jar = ", ".join(f"{a}-{b}: {(m[b] - m[a]) / (b - a) * 1e6:.0f} us/JAR"
                        for a, b in ((0, 10), (10, 100), (100, 300)))
    row("4. class-path assembly", "-console, 300 JARs", prepared[300], "0 JARs", prepared[0], per_jar)


# 5: stopping under Wine's SCM.

def stop_time(wine, name, started_state):
    rc, out = wine.sc("start", name)
    assert rc == 0, out
    wait_for(lambda: re.search(started_state, wine.run(SVCCTL, "query", name).stdout.decode()),
             what=f"{name} to run")
    done = wine.run(SVCCTL, "stoptime", name)
    match = re.search(r"stopped_us=(\d+)", done.stdout.decode())
    if match is None:
        raise RuntimeError(f"stopping {name}: {done.stdout!r}")
    wait_for(lambda: b"state=1 " in wine.run(SVCCTL, "query", name).stdout, what=f"{name} to stop")
    return int(match.group(1)) / 1e6


def bench_stop(wine, root):
    (wine.java_home / "bin" / "server" / "jvm-script.txt").write_text("block\n")
    layout = make_layout(root / "stop" / "app")
    instance = "bench" + uuid.uuid4().hex[:6]
    layout.instance(instance)
    wine.run(layout.exe, "-install", instance)
    host_name, minimal_name = "ZR - " + instance, "ZR bench minimal " + instance
    rc, out = wine.sc("create", minimal_name, "binpath=", winpath(MINIMAL_SERVICE))
    assert rc == 0, out
    host, minimal = [], []
    try:
        for _ in range(RUNS):
            host.append(stop_time(wine, host_name, r"state=4 accepted=5"))
            minimal.append(stop_time(wine, minimal_name, r"state=4 accepted=1"))
    finally:
        wine.run(layout.exe, "-uninstall", instance)
        wine.run("sc", "delete", minimal_name)
    row("5. stop request to STOPPED, Wine's SCM", "zrsvc, double VM", host, "minimal service", minimal,
        difference(host, minimal))


def executable_figures():
    exe = WINDOWS / "zrsvc.exe"
    dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", str(exe)], capture_output=True, text=True).stdout
    dlls = ", ".join(sorted(set(re.findall(r"DLL Name: (\S+)", dump))))
    return f"6. zrsvc.exe: {exe.stat().st_size / 1024:.0f} KiB, imports {dlls}"


def machine():
    model = "unknown CPU"
    for line in Path("/proc/cpuinfo").read_text().splitlines():
        if line.startswith("model name"):
            model = line.split(":", 1)[1].strip()
            break
    return f"{model}, {os.cpu_count()} cores, {platform.system()} {platform.release()}"


def main():
    with tempfile.TemporaryDirectory() as tmp:
        root = Path(tmp)
        bench_real_vm(root / "vm")
        java_home = root / "jdk"
        (java_home / "bin" / "server").mkdir(parents=True)
        shutil.copy(DOUBLE_DLL, java_home / "bin" / "server" / "jvm.dll")
        wine = Wine(WINDOWS / "bench-prefix", java_home)
        wine.start({"ZR_JAVA_HOME": winpath(java_home)})
        try:
            short = Path("/tmp/zb")
            shutil.rmtree(short, ignore_errors=True)
            try:
                bench_preparation(wine, short)
            finally:
                shutil.rmtree(short)
            bench_stop(wine, root / "wine")
        finally:
            wine.stop()
    print(f"machine: {machine()}; {RUNS} runs of each side, interleaved")
    print("| figure | side | median | min | runs | against | median | min | result |")
    print("|---|---|---|---|---|---|---|---|---|")
    for r in ROWS:
        print("| " + " | ".join(str(x) for x in r) + " |")
    print(executable_figures())


if __name__ == "__main__":
    main()
