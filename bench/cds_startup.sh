#!/usr/bin/env bash
# Start-up with `cds auto`: a real, class-heavy application that Debian packages (Clojure
# evaluating one expression: some thousands of classes) packed with --cds, against the same
# runtime started by `java -cp` with no archive of the application, and against `java` given
# the best archive options by hand (without and with -XX:+VerifySharedSpaces, which the
# launcher adds when it maps an archive).
# A jlinked JDK 17 (no archive of its own) gets a static archive dumped from a class list.
# Prints the first-start cost and the ratios of later starts (goals: at most 0.85 of plain
# java on JDK 17 and 0.80 on JDK 25, within 1.02 of the hand-tuned options).
# Medians of wall time, the commands taking turns; the CPU time (user + system) is printed
# beside them, being steadier on a shared machine. KVX_BENCH_QUICK=1 (tools/run-bench --quick):
# one run of each command, JDK 17 only, to show that the benchmark still works.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
java_dir=/usr/share/java
for jar in clojure.jar spec.alpha.jar core.specs.alpha.jar; do
  [ -f "$java_dir/$jar" ] || { echo "$java_dir/$jar is missing: Clojure is not installed (tools/bootstrap)" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
quick=${KVX_BENCH_QUICK:-}
runs=${CDS_BENCH_RUNS:-15}
[ -z "$quick" ] || runs=1

# The packed executable carries clojure.jar; its two companion libraries sit in lib/ beside it.
mkdir -p "$work/lib"
cp "$java_dir/spec.alpha.jar" "$java_dir/core.specs.alpha.jar" "$work/lib/"
classpath=$java_dir/clojure.jar:$work/lib/spec.alpha.jar:$work/lib/core.specs.alpha.jar
main=clojure.main
args=(-e "(println (reduce + (range 10)))")

bench_runtime() {
  local name=$1 jdk=$2 goal=$3 hand_write=$4 hand_use=$5 aot=${6:-}
  local exe=$work/clj-$name cache=$work/cache-$name
  # CDS_BENCH_ONLY=name measures that runtime alone.
  [ -z "${CDS_BENCH_ONLY:-}" ] || [ "$CDS_BENCH_ONLY" = "$name" ] || return 0
  # The host launcher: kvxpack's default is the Windows one, which cannot run here.
  "$root/build/host/kvxpack" --arch host --cds --jar "$java_dir/clojure.jar" --main $main --libs lib \
      --jvmdll "$jdk/lib/server/libjvm.so" --jre-order c -o "$exe"
  export XDG_CACHE_HOME=$cache
  "$exe" "${args[@]}" >"$work/out" 2>&1 ||
    { echo "$name: the packed application failed (exit $?): $(cat "$work/out")" >&2; exit 1; }
  [ "$(cat "$work/out")" = 45 ] || { echo "$name: the packed application printed: $(cat "$work/out")" >&2; exit 1; }
  compgen -G "$cache/kvx/cds/*.jsa" >/dev/null ||
    { echo "$name: no archive was written" >&2; exit 1; }

  # The archive by hand, as a user who knows the options would make it.
  local hand=$work/hand-$name
  if [ "$hand_write" = static ]; then
    # A runtime without its own archive: the class list of one start, then a static dump.
    "$jdk/bin/java" -XX:DumpLoadedClassList="$hand.list" -cp "$classpath" $main "${args[@]}" >/dev/null 2>&1
    "$jdk/bin/java" -Xshare:dump -XX:SharedClassListFile="$hand.list" -XX:SharedArchiveFile="$hand" \
        -cp "$classpath" >/dev/null 2>&1
  else
    "$jdk/bin/java" "${hand_write/@/$hand}" -cp "$classpath" $main "${args[@]}" >"$work/out" 2>&1 ||
      { echo "$name: java writing the archive failed: $(cat "$work/out")" >&2; exit 1; }
  fi
  [ -s "$hand" ] || { echo "$name: the hand-made archive is missing" >&2; exit 1; }

  # JDK 25's ahead-of-time cache made by hand, shown beside: the launcher builds a static
  # archive instead, because recording the cache slows the first start before main.
  export BENCH_AOT=
  if [ -n "$aot" ]; then
    "$jdk/bin/java" -XX:AOTCacheOutput="$hand.aot" -cp "$classpath" $main "${args[@]}" >/dev/null 2>&1
    [ -s "$hand.aot" ] || { echo "$name: the hand-made AOT cache is missing" >&2; exit 1; }
    BENCH_AOT=-XX:AOTCache=$hand.aot
  fi
  export BENCH_EXE=$exe BENCH_JDK=$jdk BENCH_HAND=${hand_use/@/$hand} BENCH_CP=$classpath BENCH_CACHE=$cache
  /usr/bin/python3 - "$name" "$goal" "$runs" <<'PY'
import os, shutil, statistics, subprocess, sys, time
name, goal, runs = sys.argv[1], float(sys.argv[2]), int(sys.argv[3])
e = os.environ
expr = ["-e", "(println (reduce + (range 10)))"]
commands = {
    "kvx": [e["BENCH_EXE"], *expr],
    "java": [e["BENCH_JDK"] + "/bin/java", "-cp", e["BENCH_CP"], "clojure.main", *expr],
    "hand": [e["BENCH_JDK"] + "/bin/java", e["BENCH_HAND"], "-cp", e["BENCH_CP"], "clojure.main", *expr],
    # The same with the archive check that the launcher adds (a damaged archive crashes
    # JDK 17 without it): the difference between kvx and this is the launcher's own cost.
    "checked": [e["BENCH_JDK"] + "/bin/java", e["BENCH_HAND"], "-XX:+VerifySharedSpaces", "-cp", e["BENCH_CP"],
                "clojure.main", *expr],
}
if e.get("BENCH_AOT"):
    commands["aot"] = [e["BENCH_JDK"] + "/bin/java", e["BENCH_AOT"], "-cp", e["BENCH_CP"], "clojure.main", *expr]

def once(command):
    """Wall and CPU (user + system) seconds of one start; fails on wrong output."""
    start = time.perf_counter()
    proc = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    out, err = proc.communicate(timeout=600)
    wall = time.perf_counter() - start
    if out.strip() != b"45" or err:
        sys.exit(f"{name}: {command[0]} printed {out!r} {err!r}")
    return wall

# The three commands take turns, so that the load of a shared machine falls on all alike.
walls = {k: [] for k in commands}
cpus = {k: [] for k in commands}
for k in commands:
    once(commands[k])
for _ in range(runs):
    for k, command in commands.items():
        before = os.times()
        walls[k].append(once(command))
        after = os.times()
        cpus[k].append((after.children_user - before.children_user) + (after.children_system - before.children_system))
firsts = []
for _ in range(1 if e.get("KVX_BENCH_QUICK") else 3):
    shutil.rmtree(e["BENCH_CACHE"], ignore_errors=True)
    firsts.append(once(commands["kvx"]))
w = {k: statistics.median(v) for k, v in walls.items()}
c = {k: statistics.median(v) for k, v in cpus.items()}
print(f"{name}: kvx cds auto {w['kvx']*1000:.0f} ms, java -cp {w['java']*1000:.0f} ms, java with hand-made archive "
      f"{w['hand']*1000:.0f} ms (medians of {runs}, taking turns)")
print(f"{name}: ratio vs java -cp {w['kvx']/w['java']:.3f} (goal <= {goal}), vs hand-tuned {w['kvx']/w['hand']:.3f} "
      f"(goal <= 1.02), vs hand-tuned with the archive check {w['kvx']/w['checked']:.3f}")
print(f"{name}: CPU time ratios: vs java -cp {c['kvx']/c['java']:.3f}, vs hand-tuned {c['kvx']/c['hand']:.3f}, "
      f"vs hand-tuned with the archive check {c['kvx']/c['checked']:.3f}")
first = statistics.median(firsts)
print(f"{name}: first start (writes the archive) {first*1000:.0f} ms = {first/w['java']:.2f}x java -cp")
def result(what, figure, target, verdict):
    print(f"bench-result: {what} | {figure} | {target} | {verdict}")
r = w['kvx'] / w['java']
result(f"cds auto later start vs java -cp, Clojure, {name}", f"{r:.3f}x", f"<= {goal}x", "pass" if r <= goal else "fail")
r = w['kvx'] / w['hand']
result(f"cds auto vs hand-tuned archive, Clojure, {name}", f"{r:.3f}x", "<= 1.02x", "pass" if r <= 1.02 else "fail")
result(f"cds auto first start (writes the archive), {name}", f"{first/w['java']:.2f}x java -cp", "-", "info")
if "aot" in w:
    result(f"AOT cache by hand vs java -cp, Clojure, {name}", f"{w['aot']/w['java']:.3f}x", "-", "info")
    result(f"cds auto vs AOT cache by hand, Clojure, {name}", f"{w['kvx']/w['aot']:.3f}x", "-", "info")
PY
}

bench_runtime jdk17 /usr/lib/jvm/java-17-openjdk-amd64 0.85 "-XX:ArchiveClassesAtExit=@" "-XX:SharedArchiveFile=@"
# The same JDK 17 made into a runtime image with jlink, as applications bundle one: no
# classes.jsa, so the launcher dumps a static archive from the first start's class list.
if [ -z "${CDS_BENCH_ONLY:-}" ] || [ "$CDS_BENCH_ONLY" = jdk17-jlinked ]; then
  /usr/lib/jvm/java-17-openjdk-amd64/bin/jlink --add-modules java.se --strip-debug --no-header-files \
      --no-man-pages --output "$work/jdk17-jlinked"
  bench_runtime jdk17-jlinked "$work/jdk17-jlinked" 0.85 static "-XX:SharedArchiveFile=@"
fi
temurin=/usr/lib/jvm/temurin-25-jdk-amd64
if [ -n "$quick" ]; then
  echo "jdk25: not measured in a quick run"
elif [ -n "${CDS_BENCH_ONLY:-}" ]; then
  :
elif [ -f "$temurin/lib/server/libjvm.so" ]; then
  # JDK 25 gets a static archive dumped from the first start's class list.
  bench_runtime jdk25 $temurin 0.80 static "-XX:SharedArchiveFile=@" aot
else
  echo "jdk25: $temurin is not installed; it is not measured"
fi
