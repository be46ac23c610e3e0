#!/usr/bin/env bash
# Start-up with jars kept whole (kvxpack --keep-jars): an application of 40 jars (the
# application's own and 39 libraries of 30 classes and some 150 KB of data each, the main
# class touching a class of every one) packed with --keep-jars, against `java -cp` with the
# same jars in a folder, named in the same order (input order, as kvx passes them). Later starts
# reuse the copies in the cache (goal: at most 1.03x java -cp); a first start copies all 39 into
# an emptied cache (goal: at most 1.5x). `java -cp "lib/*"` is measured beside, for information
# only: the wildcard takes the folder's order on disk (a hash order on ext4), and that order alone
# moves java's own start by several per cent either way in this application, which loads one
# class of each jar in turn.
# Medians of wall and CPU time on the real JDK 17, the commands taking turns; then the same under Wine with the real Windows
# JDK 21 (tools/fetch-test-runtimes) on the x64 launcher, against java.exe -cp "app.jar;lib\*"
# (medians of wall time, the commands taking turns; figures under Wine, say so with them).
# KVX_BENCH_QUICK=1: one run each.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jdk=/usr/lib/jvm/java-17-openjdk-amd64
work=$(mktemp -d)
export WINEPREFIX=${KVX_BENCH_WINEPREFIX:-$root/build/wine-bench}
server_started=0
cleanup() {
  [ $server_started -eq 1 ] && timeout 30 wineserver -k 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
libraries=39

mkdir -p "$work/src/app" "$work/lib"
main="$work/src/app/Main.java"
{
  echo "package app;"
  echo "public class Main { public static void main(String[] a) throws Exception { int n = 0;"
  for i in $(seq -w 1 $libraries); do echo "  n += Class.forName(\"lib$i.C01\").getName().length() > 0 ? 1 : 0;"; done
  echo "  System.out.println(\"loaded \" + n); } }"
} > "$main"
for i in $(seq -w 1 $libraries); do
  mkdir -p "$work/src/lib$i" "$work/classes-lib$i/lib$i"
  for c in $(seq -w 1 30); do
    echo "package lib$i; public class C$c { public int f(int x) { return x * 1$c + 1$i; } public String s() { return \"C$c of lib$i\"; } }" \
      > "$work/src/lib$i/C$c.java"
  done
  head -c 150000 /dev/urandom > "$work/classes-lib$i/lib$i/data.bin"
done
mkdir -p "$work/classes"
"$jdk/bin/javac" --release 8 -Xlint:-options -d "$work/classes" $(find "$work/src" -name '*.java')
for i in $(seq -w 1 $libraries); do
  mv "$work/classes/lib$i"/*.class "$work/classes-lib$i/lib$i/"
  "$jdk/bin/jar" cf "$work/lib/lib$i.jar" -C "$work/classes-lib$i" .
done
"$jdk/bin/jar" cf "$work/app.jar" -C "$work/classes" app
jars=(--jar "$work/app.jar")
for i in $(seq -w 1 $libraries); do jars+=(--jar "$work/lib/lib$i.jar"); done
"$root/build/host/kvxpack" --stub "$root/build/host/kvx" --keep-jars "${jars[@]}" --main app.Main \
    --jvmdll "$jdk/lib/server/libjvm.so" --jre-order c -o "$work/app"
export XDG_CACHE_HOME=$work/cache
[ "$("$work/app")" = "loaded $libraries" ] || { echo "the packed application did not run" >&2; exit 1; }
[ "$("$jdk/bin/java" -cp "$work/app.jar:$work/lib/*" app.Main)" = "loaded $libraries" ] ||
  { echo "java -cp did not run" >&2; exit 1; }
[ "$(ls "$work/cache/kvx/jars" | grep -c '\.jar$')" = $libraries ] || { echo "the cache does not hold the jars" >&2; exit 1; }

runs=${KEPT_BENCH_RUNS:-21}
[ -z "${KVX_BENCH_QUICK:-}" ] || runs=1
# The commands take turns, so that the load of a shared machine falls on both alike; the CPU
# time (user + system) beside the wall time is steadier there.
BENCH_WORK=$work BENCH_JDK=$jdk BENCH_LIBS=$libraries BENCH_RUNS=$runs BENCH_EXPECT="loaded $libraries" \
  BENCH_MB=$(( $(du -sk "$work/lib" | cut -f1) / 1024 )) /usr/bin/python3 - <<'PY'
import os, shutil, statistics, subprocess, sys, tempfile, time
e = os.environ
work, runs = e["BENCH_WORK"], int(e["BENCH_RUNS"])
ordered = ":".join([work + "/app.jar"] + [work + "/lib/lib%02d.jar" % i for i in range(1, int(e["BENCH_LIBS"]) + 1)])
commands = {"kvx": [os.path.join(work, "app")],
            "java": [e["BENCH_JDK"] + "/bin/java", "-cp", ordered, "app.Main"],
            "wildcard": [e["BENCH_JDK"] + "/bin/java", "-cp", work + "/app.jar:" + work + "/lib/*", "app.Main"]}

def once(command):
    # The CPU time from wait4, to the microsecond (os.times counts clock ticks of 10 ms).
    with tempfile.TemporaryFile() as out:
        start = time.perf_counter()
        pid = os.posix_spawn(command[0], command, os.environ,
                             file_actions=[(os.POSIX_SPAWN_DUP2, out.fileno(), 1), (os.POSIX_SPAWN_DUP2, out.fileno(), 2)])
        _, status, usage = os.wait4(pid, 0)
        wall = time.perf_counter() - start
        out.seek(0)
        text = out.read().decode("utf-8", "replace")
    if status != 0 or text.strip() != e["BENCH_EXPECT"]:
        sys.exit("%s ended with status %d: %r" % (command[0], status, text[-500:]))
    return wall, usage.ru_utime + usage.ru_stime

for command in commands.values():
    once(command)
walls, cpus = {k: [] for k in commands}, {k: [] for k in commands}
firsts, first_cpus = [], []
for _ in range(runs):
    for k, command in commands.items():
        wall, cpu = once(command)
        walls[k].append(wall)
        cpus[k].append(cpu)
# The first starts after all the others: the copies one writes are still being flushed to disk
# during the start after it, which would otherwise always be a later start of kvx.
for _ in range(runs):
    shutil.rmtree(os.path.join(work, "cache"), ignore_errors=True)
    wall, cpu = once(commands["kvx"])
    firsts.append(wall)
    first_cpus.append(cpu)
w = {k: statistics.median(v) for k, v in walls.items()}
c = {k: statistics.median(v) for k, v in cpus.items()}
first, first_cpu = statistics.median(firsts), statistics.median(first_cpus)
print(f"kept jars, 40 jars ({e['BENCH_MB']} MB): later starts median {w['kvx']*1000:.1f} ms, java -cp median "
      f"{w['java']*1000:.1f} ms, ratio {w['kvx']/w['java']:.3f} (goal <= 1.03); CPU time ratio {c['kvx']/c['java']:.3f}; "
      f"java -cp \"lib/*\" median {w['wildcard']*1000:.1f} ms (kvx {w['kvx']/w['wildcard']:.3f}x of it)")
print(f"kept jars, 40 jars: first start (copies 39 jars) median {first*1000:.1f} ms, ratio {first/w['java']:.3f} "
      f"(goal <= 1.5); CPU time ratio {first_cpu/c['java']:.3f} (medians of {runs}, taking turns)")
for what, ratio, goal in (("later starts", w['kvx'] / w['java'], 1.03), ("first start (copies)", first / w['java'], 1.5)):
    print(f"bench-result: kept jars, 40 jars, {what} vs java -cp (JDK 17) | {ratio:.3f}x | <= {goal}x | "
          f"{'pass' if ratio <= goal else 'fail'}")
PY

# Under Wine: the prefix made once by wine-run, one persistent server for every start.
for f in "$root/build/win64/kvx.exe" wine wineserver; do
  command -v "$f" >/dev/null || [ -f "$f" ] || { echo "$f is missing (make all, tools/bootstrap)" >&2; exit 1; }
done
jdk21=$("$root/tools/fetch-test-runtimes" --where jdk21)
[ -f "$jdk21/bin/server/jvm.dll" ] || { echo "the Windows JDK 21 is missing: make test-runtimes" >&2; exit 1; }
KVX_WINEPREFIX=$WINEPREFIX "$root/tools/wine-run" --timeout 300 cmd /c exit >/dev/null 2>&1 ||
  { echo "cannot prepare the Wine prefix $WINEPREFIX" >&2; exit 1; }
export WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= DISPLAY=
timeout 60 wineserver -w
wineserver -p
server_started=1
"$root/build/host/kvxpack" --stub "$root/build/win64/kvx.exe" --keep-jars "${jars[@]}" --main app.Main \
    --jvmdll "Z:${jdk21//\//\\}\\bin\\server\\jvm.dll" --jre-order c -o "$work/app.exe"
wine_runs=${KEPT_WINE_BENCH_RUNS:-25}
[ -z "${KVX_BENCH_QUICK:-}" ] || wine_runs=1
BENCH_WORK=$work BENCH_JDK=$jdk21 BENCH_LIBS=$libraries BENCH_RUNS=$wine_runs BENCH_EXPECT="loaded $libraries" /usr/bin/python3 - <<'PY'
import glob, os, shutil, statistics, subprocess, sys, tempfile, time
e = os.environ
work, runs = e["BENCH_WORK"], int(e["BENCH_RUNS"])

def win(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")

def clear_cache():
    for folder in glob.glob(os.path.join(e["WINEPREFIX"], "drive_c", "users", "*", "AppData", "Local", "kvx", "jars")):
        shutil.rmtree(folder, ignore_errors=True)

def once(command):
    # Files, not pipes: Wine's background processes would hold a pipe open past the program's end.
    with tempfile.TemporaryFile() as out:
        start = time.perf_counter()
        code = subprocess.run(["wine", *command], cwd=work, stdin=subprocess.DEVNULL, stdout=out,
                              stderr=subprocess.DEVNULL, timeout=600).returncode
        wall = time.perf_counter() - start
        out.seek(0)
        text = out.read().decode("utf-8", "replace")
    if code != 0 or e["BENCH_EXPECT"] not in text:
        sys.exit("%s ended with %d and printed %r" % (command[0], code, text[-500:]))
    return wall

java = os.path.join(e["BENCH_JDK"], "bin", "java.exe")
ordered = ";".join([win(os.path.join(work, "app.jar"))] + [win(os.path.join(work, "lib", "lib%02d.jar" % i)) for i in range(1, int(e["BENCH_LIBS"]) + 1)])
commands = {"kvx": [os.path.join(work, "app.exe")],
            "java": [java, "-cp", ordered, "app.Main"],
            "wildcard": [java, "-cp", win(os.path.join(work, "app.jar")) + ";" + win(os.path.join(work, "lib")) + "\\*", "app.Main"]}
clear_cache()
for command in commands.values() if not e.get("KVX_BENCH_QUICK") else ():
    once(command)
walls = {k: [] for k in commands}
for _ in range(runs):
    for k, command in commands.items():
        walls[k].append(once(command))
firsts = []
for _ in range(1 if e.get("KVX_BENCH_QUICK") else 3):
    clear_cache()
    firsts.append(once(commands["kvx"]))
w = {k: statistics.median(v) for k, v in walls.items()}
first = statistics.median(firsts)
print(f"kept jars under Wine, jdk21 x64, 40 jars: later starts median {w['kvx']*1000:.0f} ms, java.exe -cp median "
      f"{w['java']*1000:.0f} ms, ratio {w['kvx']/w['java']:.3f} (goal <= 1.03); java.exe -cp \"lib\\*\" median "
      f"{w['wildcard']*1000:.0f} ms (kvx {w['kvx']/w['wildcard']:.3f}x of it)")
print(f"kept jars under Wine, jdk21 x64, 40 jars: first start (copies 39 jars) median {first*1000:.0f} ms, ratio "
      f"{first/w['java']:.3f} (goal <= 1.5)")
wine = subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip().replace("wine-", "")
for what, ratio, goal in (("later starts", w['kvx'] / w['java'], 1.03), ("first start (copies)", first / w['java'], 1.5)):
    print(f"bench-result: kept jars, 40 jars, {what} vs java.exe -cp, jdk21 | {ratio:.3f}x | <= {goal}x | "
          f"{'pass' if ratio <= goal else 'fail'} | Wine {wine}")
PY
