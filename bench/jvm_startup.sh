#!/usr/bin/env bash
# Start-up cost of the launcher: the same small application on the same JVM, started as a
# packed executable through build/host/kvx and as `java -cp app.jar`. Prints both medians
# and their ratio (goal: at most 1.02).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jdk=/usr/lib/jvm/java-17-openjdk-amd64
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/src/bench" "$work/classes"
cat > "$work/src/bench/Hello.java" <<'JAVA'
package bench;
public class Hello { public static void main(String[] a) { System.out.println("hello " + a.length); } }
JAVA
"$jdk/bin/javac" --release 8 -Xlint:-options -d "$work/classes" "$work/src/bench/Hello.java"
"$jdk/bin/jar" cf "$work/app.jar" -C "$work/classes" .
"$root/build/host/kvxpack" --stub "$root/build/host/kvx" --jar "$work/app.jar" --main bench.Hello \
    --jvmdll "$jdk/lib/server/libjvm.so" --jre-order c -o "$work/hello"
"$work/hello" x | grep -q "hello 1" || { echo "packed executable did not run" >&2; exit 1; }
# kvxpack's default order and no jvmdll: the runtime shipped beside the executable.
mkdir -p "$work/shipped"
ln -s "$jdk" "$work/shipped/runtime"
"$root/build/host/kvxpack" --stub "$root/build/host/kvx" --jar "$work/app.jar" --main bench.Hello \
    -o "$work/shipped/hello"
"$work/shipped/hello" x | grep -q "hello 1" || { echo "packed executable (default order) did not run" >&2; exit 1; }

if [ -n "${KVX_BENCH_QUICK:-}" ]; then timing=(--warmup 0 --runs 1); else timing=(--warmup 3 --runs 30); fi
hyperfine "${timing[@]}" --export-json "$work/result.json" -N \
    "$work/hello x" "$jdk/bin/java -cp $work/app.jar bench.Hello x" "$work/shipped/hello x" >/dev/null
/usr/bin/python3 - "$work/result.json" <<'PY'
import json, sys
runs = json.load(open(sys.argv[1]))["results"]
kvx, java, modern = runs[0]["median"], runs[1]["median"], runs[2]["median"]
print(f"kvx launcher median {kvx*1000:.1f} ms, java -cp median {java*1000:.1f} ms, ratio {kvx/java:.3f} (goal <= 1.02)")
print(f"kvx launcher, default order (bundled runtime) median {modern*1000:.1f} ms, ratio {modern/java:.3f} (goal <= 1.02)")
for what, ratio in (("jvmdll", kvx / java), ("default order, bundled runtime", modern / java)):
    verdict = "pass" if ratio <= 1.02 else "fail"
    print(f"bench-result: launcher start vs java -cp, {what} (JDK 17) | {ratio:.3f}x | <= 1.02x | {verdict}")
PY
