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
STOPTIME = WINDOWS / "stoptime.exe"
MINIMAL_SERVICE = WINDOWS / "minimal_service.exe"
DOUBLE_DLL = WINDOWS / "tests" / "jvm" / "double" / "jvm.dll"

ROWS = []


def row(figure, side, values, against, other, result, target="", unit=1000.0, suffix="ms"):
    def fmt(v):
        return f"{v * unit:.1f} {suffix}"
    ROWS.append((figure, side, fmt(statistics.median(values)), fmt(min(values)),
                 against, fmt(statistics.median(other)), fmt(min(other)), result, target))


def verdict(met):
    return "met" if met else "missed"


def ratio(a, b):
    """The result text and the ratio of the medians as printed (two decimals)."""
    value = round(statistics.median(a) / statistics.median(b), 2)
    return f"ratio {value:.2f}", value


def difference(a, b):
    """The result text and the difference of the medians in ms as printed (one decimal)."""
    value = round((statistics.median(a) - statistics.median(b)) * 1000, 1)
    return f"{value:+.1f} ms", value


# 1, 1b and 2: the real VM on Linux, zrsvc -console against the java launcher
# given what zrsvc gives the VM: the same class path and working folder.

def measure_process(argv, cwd, env, reached):
    """Runs a process to its end: (seconds from spawn to start(), seconds from
    spawn to exit, peak RSS in bytes)."""
    reached.unlink(missing_ok=True)
    began = time.time()
    began_run = time.perf_counter()
    proc = subprocess.Popen(argv, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    whole = time.perf_counter() - began_run
    if os.waitstatus_to_exitcode(status) != 0:
        raise RuntimeError(f"{argv[0]} ended with {os.waitstatus_to_exitcode(status)}")
    return int(reached.read_text()) / 1e6 - began, whole, usage.ru_maxrss * 1024


def logged_class_path(log):
    """The class path zrsvc gave the VM, as its log shows the VM's option."""
    found = re.search(r" - JVM '-Djava\.class\.path=(.*)'$", log.read_text(), re.MULTILINE)
    if found is None:
        raise RuntimeError(f"no class path option in {log}")
    return found.group(1)


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
    # What the host adds to the VM: neither side has a class archive of the application.
    env = dict(os.environ, JAVA_HOME=str(JAVA_HOME), ZR_CLASS_ARCHIVE="off")
    env.pop("ZR_JAVA_HOME", None)
    host_argv = [str(base / "bin" / "zrsvc"), "-console", "bench"]
    # One run of each side first, uncounted: it warms the file cache for both,
    # and zrsvc's log tells the class path the launcher is to get.
    measure_process(host_argv, instance, env, instance / "reached.txt")
    java_argv = [str(JAVA_HOME / "bin" / "java"), "-cp", logged_class_path(instance / "log" / "zrsvc-log.txt"),
                 "qo.wyn.zr.ReachedStart"]
    measure_process(java_argv, instance, env, instance / "reached.txt")
    host, java = [], []
    for _ in range(RUNS):
        host.append(measure_process(host_argv, instance, env, instance / "reached.txt"))
        java.append(measure_process(java_argv, instance, env, instance / "reached.txt"))
    for index, figure in ((0, "1. time to reach start(), OpenJDK 17"), (1, "1b. whole run, spawn to exit")):
        host_t, java_t = [h[index] for h in host], [j[index] for j in java]
        result, value = ratio(host_t, java_t)
        row(figure, "zrsvc -console", host_t, "java -cp", java_t, result,
            f"≤ 1.00: {verdict(value <= 1.00)}" if index == 0 else "")
    host_m, java_m = [h[2] for h in host], [j[2] for j in java]
    result, value = ratio(host_m, java_m)
    row("2. peak resident memory", "zrsvc -console", host_m, "java -cp", java_m, result,
        f"≤ 1.00: {verdict(value <= 1.00)}", unit=1 / 2**20, suffix="MiB")


# 7 and 8: an application of some 3,000 classes, which its start() loads
# and initialises, split over three JARs.

CLASS_COUNT, JAR_COUNT = 3000, 3


def generated_class(index):
    return f"""package qo.wyn.zr.gen{index % JAR_COUNT};

public final class C{index} implements java.util.function.IntUnaryOperator {{
    private final int[] values = new int[8];
    private final java.util.List<String> names = new java.util.ArrayList<>();

    public int applyAsInt(int x) {{
        int sum = x;
        for (int i = 0; i < values.length; i++)
            sum += values[i] * (i + {index});
        return names.isEmpty() ? sum ^ {index} : sum;
    }}

    public String describe(Object other) {{
        if (other instanceof Number)
            return names.size() + ":" + ((Number) other).intValue();
        return String.valueOf(other).trim();
    }}

    static long mix(long a, long b) {{
        return (a * 31 + b) ^ (a >>> 7) ^ {index}L;
    }}
}}
"""


LOADER = f"""package qo.wyn.zr;

/** Benchmark application: start() loads and initialises every generated class, then records the moment. */
public final class NTService {{
    public static void start() throws Exception {{
        for (int i = 0; i < {CLASS_COUNT}; i++)
            Class.forName("qo.wyn.zr.gen" + i % {JAR_COUNT} + ".C" + i);
        ReachedStart.record();
    }}

    public static void stop() {{
    }}

    /** The plain-launcher side: the same work from main(). */
    public static void main(String[] args) throws Exception {{
        start();
    }}
}}
"""


def build_many_classes(root):
    """A layout whose lib holds app.jar and the JARs of the generated classes."""
    sources = root / "src"
    for index in range(CLASS_COUNT):
        path = sources / f"gen{index % JAR_COUNT}" / f"C{index}.java"
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(generated_class(index))
    (sources / "NTService.java").write_text(LOADER)
    shutil.copy(REPO / "bench" / "java" / "qo" / "wyn" / "zr" / "ReachedStart.java", sources)
    classes = root / "classes"
    subprocess.run([str(JAVA_HOME / "bin" / "javac"), "-d", str(classes), *map(str, sources.rglob("*.java"))],
                   check=True)
    base = root / "app"
    for folder in ("bin", "lib", "jdbc", "work/bench/log", "work/bench/conf"):
        (base / folder).mkdir(parents=True)
    shutil.copy(NATIVE / "zrsvc", base / "bin" / "zrsvc")
    jar = str(JAVA_HOME / "bin" / "jar")
    subprocess.run([jar, "cf", str(base / "lib" / "app.jar"), "-C", str(classes), "qo/wyn/zr/NTService.class",
                    "-C", str(classes), "qo/wyn/zr/ReachedStart.class"], check=True)
    for part in range(JAR_COUNT):
        subprocess.run([jar, "cf", str(base / "lib" / f"gen{part}.jar"), "-C", str(classes), f"qo/wyn/zr/gen{part}"],
                       check=True)
    return base


def bench_class_archive(root):
    base = build_many_classes(root)
    instance = base / "work" / "bench"
    reached = instance / "reached.txt"
    env = dict(os.environ, JAVA_HOME=str(JAVA_HOME))
    env.pop("ZR_JAVA_HOME", None)
    env.pop("ZR_CLASS_ARCHIVE", None)
    off = dict(env, ZR_CLASS_ARCHIVE="off")
    host_argv = [str(base / "bin" / "zrsvc"), "-console", "bench"]
    # The first run writes the archive; the log then tells the class path.
    measure_process(host_argv, instance, env, reached)
    if not (instance / "zrsvc.jsa").exists():
        raise RuntimeError("the first run wrote no class archive")
    java_argv = [str(JAVA_HOME / "bin" / "java"), "-cp", logged_class_path(instance / "log" / "zrsvc-log.txt"),
                 "qo.wyn.zr.NTService"]
    measure_process(java_argv, instance, env, reached)
    host, java, writing, plain = [], [], [], []
    for _ in range(RUNS):
        host.append(measure_process(host_argv, instance, env, reached))
        java.append(measure_process(java_argv, instance, env, reached))
    # The first run's stop: from start()'s end to the process's end, with the
    # archive written meanwhile against without any archive.
    kept = instance / "kept.jsa"
    (instance / "zrsvc.jsa").rename(kept)
    for _ in range(RUNS):
        (instance / "zrsvc.jsa").unlink(missing_ok=True)
        writing.append(measure_process(host_argv, instance, env, reached))
        plain.append(measure_process(host_argv, instance, off, reached))
    archive_size = kept.stat().st_size
    host_t, java_t = [h[0] for h in host], [j[0] for j in java]
    result, value = ratio(host_t, java_t)
    row(f"7. time to reach start(), {CLASS_COUNT:,} classes loaded", "zrsvc, its class archive", host_t,
        "java -cp", java_t, result, f"≤ 0.35: {verdict(value <= 0.35)}")
    host_m, java_m = [h[2] for h in host], [j[2] for j in java]
    memory, memory_value = ratio(host_m, java_m)
    row(f"7b. peak resident memory, {CLASS_COUNT:,} classes", "zrsvc, its class archive", host_m, "java -cp",
        java_m, memory, f"≤ 0.75: {verdict(memory_value <= 0.75)}", unit=1 / 2**20, suffix="MiB")
    writing_t, plain_t = [w[1] - w[0] for w in writing], [p[1] - p[0] for p in plain]
    row(f"8. start()'s end to exit, first run ({archive_size / 2**20:.0f} MiB archive)", "writing the archive",
        writing_t, "no archive", plain_t, difference(writing_t, plain_t)[0])


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
    result, value = difference(prepared[300], greeting)
    row("3. preparation under Wine, 300 JARs", "-console, double VM", prepared[300], "greeting", greeting,
        result, f"≤ 5 ms: {verdict(value <= 5.0)}")
    m = {n: statistics.median(v) for n, v in prepared.items()}
    spans = ((0, 10), (10, 100), (100, 300))
    per_jar = [(m[b] - m[a]) / (b - a) * 1e6 for a, b in spans]
    # The first span also pays for the folder listings. Past it, a linear
    # assembly costs the same per JAR from 100 to 300 as from 10 to 100; a
    # quadratic one would cost about 3.6 times as much.
    linear = per_jar[2] <= 1.5 * per_jar[1]
    row("4. class-path assembly", "300 JARs", prepared[300], "0 JARs", prepared[0],
        " / ".join(f"{c:.0f}" for c in per_jar) + " µs per JAR (0-10, 10-100, 100-300)",
        "linear: met from 10 JARs on" if linear else "linear: missed")


# 5: stopping under Wine's SCM.

def stop_time(wine, name, started_state):
    rc, out = wine.sc("start", name)
    assert rc == 0, out
    wait_for(lambda: re.search(started_state, wine.run(SVCCTL, "query", name).stdout.decode()),
             what=f"{name} to run")
    done = wine.run(STOPTIME, name)
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
            host.append(stop_time(wine, host_name, r"state=4 accepted=261 "))  # stop, shutdown, preshutdown
            minimal.append(stop_time(wine, minimal_name, r"state=4 accepted=1"))
    finally:
        wine.run(layout.exe, "-uninstall", instance)
        wine.run("sc", "delete", minimal_name)
    row("5. stop request to STOPPED, Wine's SCM", "zrsvc, double VM", host, "minimal service", minimal,
        difference(host, minimal)[0])


# 9: the application printing 100 MiB through the output capture (a pipe
# the host drains into files rolled at 10 MiB, ten kept) against the same
# writes into a plain file: lines of 100 bytes, standard output buffered as
# the C runtime buffers it for a pipe or a file.

CAPTURE_MIB = 100


def capture_times(run, folder, side):
    """(seconds the writes took, seconds until all was in the files)."""
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    done = run(side)
    if done.returncode != 0:
        raise RuntimeError(f"capture_bench {side} ended with {done.returncode}: {done.stderr[-300:]!r}")
    writes, drained = map(float, done.stderr.decode().split()[-2:])
    return writes, drained


def bench_capture(figure, run, folder):
    capture, plain, drained = [], [], []
    for _ in range(RUNS):
        writes, whole = capture_times(run, folder, "capture")
        capture.append(writes)
        drained.append(whole)
        plain.append(capture_times(run, folder, "plain")[0])
    shutil.rmtree(folder, ignore_errors=True)
    result, value = ratio(capture, plain)
    row(figure, "through the capture", capture, "plain file", plain,
        f"{result}; all in the files: {statistics.median(drained) * 1000:.1f} ms", f"≤ 1.10: {verdict(value <= 1.10)}")


def bench_capture_linux(root):
    folder = root / "capture"
    bench_capture(f"9. printing {CAPTURE_MIB} MiB, Linux", lambda side: subprocess.run(
        [str(NATIVE / "capture_bench"), str(folder), str(CAPTURE_MIB), side], stdin=subprocess.DEVNULL,
        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=300), folder)


def bench_capture_wine(wine, root):
    folder = root / "capture"
    bench_capture(f"9b. printing {CAPTURE_MIB} MiB, Wine", lambda side: wine.run(
        WINDOWS / "capture_bench.exe", winpath(folder), str(CAPTURE_MIB), side, timeout=300), folder)


# The DLLs of Windows itself; anything else (a compiler's runtime, say) would
# have to be shipped beside zrsvc.exe.
SYSTEM_DLLS = {"advapi32", "kernel32", "msvcrt", "ntdll", "user32", "shell32", "ws2_32"}


def executable_row():
    exe = WINDOWS / "zrsvc.exe"
    dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", str(exe)], capture_output=True, text=True).stdout
    dlls = sorted({re.sub(r"(?i)\.dll$", "", name) for name in re.findall(r"DLL Name: (\S+)", dump)})
    size = exe.stat().st_size
    met = size <= 2**20 and all(name.lower() in SYSTEM_DLLS for name in dlls)
    return ("6. zrsvc.exe", f"{size / 1024:.0f} KiB", "", "", "imports", ", ".join(dlls), "", "",
            f"≤ 1 MB, system DLLs only: {verdict(met)}")


def machine():
    model = "unknown CPU"
    for line in Path("/proc/cpuinfo").read_text().splitlines():
        if line.startswith("model name"):
            model = line.split(":", 1)[1].strip()
            break
    kernel = re.match(r"[0-9]+(\.[0-9]+)?", platform.release()).group(0)
    wine = subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()
    wine = re.sub(r"^wine-(\S+).*", r"Wine \1", wine)
    return f"{model}, {os.cpu_count()} cores, {platform.system()} {kernel}, {wine}"


def attempt(figure, bench, *args):
    """Runs one figure's bench; a failure becomes a row that says so, and the others go on."""
    try:
        bench(*args)
    except Exception as failure:  # noqa: BLE001 - any failure of one figure is reported in its row
        ROWS.append((figure, "failed", "", "", "", "", "", f"{type(failure).__name__}: {failure}"[:200], ""))


def bench_wine(root):
    java_home = root / "jdk"
    (java_home / "bin" / "server").mkdir(parents=True)
    shutil.copy(DOUBLE_DLL, java_home / "bin" / "server" / "jvm.dll")
    wine = Wine(WINDOWS / "bench-prefix", java_home)
    wine.start({"ZR_JAVA_HOME": winpath(java_home), "ZR_CLASS_ARCHIVE": "off"})
    try:
        short = Path("/tmp/zb")
        shutil.rmtree(short, ignore_errors=True)
        try:
            attempt("3-4. preparation under Wine", bench_preparation, wine, short)
        finally:
            shutil.rmtree(short, ignore_errors=True)
        attempt("5. stop request to STOPPED, Wine's SCM", bench_stop, wine, root / "wine")
        attempt("9b. printing through the capture, Wine", bench_capture_wine, wine, root)
    finally:
        wine.stop()


def main():
    with tempfile.TemporaryDirectory() as tmp:
        root = Path(tmp)
        attempt("1-2. start and memory, OpenJDK 17", bench_real_vm, root / "vm")
        attempt("3-5. under Wine", bench_wine, root)
        attempt("7-8. class archive, OpenJDK 17", bench_class_archive, root / "many")
        attempt("9. printing through the capture, Linux", bench_capture_linux, root)
    print(f"Latest run ({machine()}), {RUNS} runs of each side, interleaved:")
    print()
    print("| figure | side | median | min | against | median | min | result | target |")
    print("|---|---|---|---|---|---|---|---|---|")
    rows = ROWS + [executable_row()]
    rows.sort(key=lambda r: int(re.match(r"\d+", r[0]).group(0)))
    for r in rows:
        print("|" + "|".join(f" {x} " if x != "" else " " for x in r) + "|")


if __name__ == "__main__":
    main()
