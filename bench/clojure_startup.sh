#!/usr/bin/env bash
# Start-up of a packed application that compares entry times: Clojure (Debian's 1.11)
# evaluating one expression loads a compiled namespace only when its __init.class is newer
# than its .clj, so a packed archive that lost the entries' times compiles every namespace
# from source at each start. The three Clojure jars packed into one executable (host
# launcher, no class-data sharing) against `java -cp` of the same jars on the same runtime
# (JDK 17). Prints both medians and their ratio (goal: at most 1.15). The commands take
# turns; the CPU time (user + system) is printed beside them, being steadier on a shared
# machine. KVX_BENCH_QUICK=1: one run each, to show that the benchmark works.
#   bench/clojure_startup.sh      (KVXPACK=path/to/kvxpack to measure another build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kvxpack=${KVXPACK:-$root/build/host/kvxpack}
jdk=/usr/lib/jvm/java-17-openjdk-amd64
java_dir=/usr/share/java
jars=()
for jar in clojure.jar spec.alpha.jar core.specs.alpha.jar; do
  [ -f "$java_dir/$jar" ] || { echo "$java_dir/$jar is missing: Clojure is not installed (tools/bootstrap)" >&2; exit 1; }
  jars+=(--jar "$java_dir/$jar")
done
[ -x "$jdk/bin/java" ] || { echo "$jdk is not installed" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
runs=${CLOJURE_BENCH_RUNS:-15}
[ -z "${KVX_BENCH_QUICK:-}" ] || runs=1

# The host launcher: kvxpack's default is the Windows one. Debian's jars share some names
# (META-INF/ and its maven folder): kvxpack reports them.
"$kvxpack" --arch host "${jars[@]}" --main clojure.main \
    --jvmdll "$jdk/lib/server/libjvm.so" --jre-order c -o "$work/clj" 2>"$work/pack.log" ||
  { echo "kvxpack failed: $(cat "$work/pack.log")" >&2; exit 1; }

export BENCH_EXE=$work/clj BENCH_JDK=$jdk
export BENCH_CP=$java_dir/clojure.jar:$java_dir/spec.alpha.jar:$java_dir/core.specs.alpha.jar
/usr/bin/python3 - "$runs" <<'PY'
import os, statistics, subprocess, sys, time
runs = int(sys.argv[1])
e = os.environ
expr = ["-e", "(println (reduce + (range 10)))"]
commands = {
    "kvx": [e["BENCH_EXE"], *expr],
    "java": [e["BENCH_JDK"] + "/bin/java", "-cp", e["BENCH_CP"], "clojure.main", *expr],
}

def once(command):
    """Wall seconds of one start; fails on wrong output."""
    start = time.perf_counter()
    proc = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    out, err = proc.communicate(timeout=600)
    wall = time.perf_counter() - start
    if proc.returncode != 0 or out.strip() != b"45" or err:
        sys.exit(f"clojure_startup: {command[0]} (exit {proc.returncode}) printed {out!r} {err!r}")
    return wall

for command in commands.values():
    once(command)
walls = {k: [] for k in commands}
cpus = {k: [] for k in commands}
for _ in range(runs):
    for k, command in commands.items():
        before = os.times()
        walls[k].append(once(command))
        after = os.times()
        cpus[k].append((after.children_user - before.children_user) + (after.children_system - before.children_system))
w = {k: statistics.median(v) for k, v in walls.items()}
c = {k: statistics.median(v) for k, v in cpus.items()}
print(f"clojure packed (JDK 17, host launcher): kvx {w['kvx']*1000:.0f} ms, java -cp {w['java']*1000:.0f} ms "
      f"(medians of {runs}, taking turns); ratio {w['kvx']/w['java']:.3f} (goal <= 1.15), "
      f"CPU time ratio {c['kvx']/c['java']:.3f}")
r = w['kvx'] / w['java']
print(f"bench-result: Clojure start, kvx vs java -cp (JDK 17) | {r:.3f}x | <= 1.15x | {'pass' if r <= 1.15 else 'fail'}")
PY
