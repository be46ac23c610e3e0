#!/usr/bin/env bash
# Start-up with jars kept whole (kvxpack --keep-jars): an application of 40 jars (the
# application's own and 39 libraries of 30 classes and some 150 KB of data each, the main
# class touching a class of every one) packed with --keep-jars, against `java -cp` with the
# same jars in a folder. Later starts reuse the copies in the cache (goal: at most 1.03x
# java -cp); a first start copies all 39 into an emptied cache (goal: at most 1.5x).
# Medians of hyperfine runs on the real JDK 17. KVX_BENCH_QUICK=1: one run each.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jdk=/usr/lib/jvm/java-17-openjdk-amd64
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
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

if [ -n "${KVX_BENCH_QUICK:-}" ]; then timing=(--warmup 0 --runs 1); else timing=(--warmup 3 --runs 30); fi
hyperfine "${timing[@]}" --export-json "$work/later.json" -N \
    "$work/app" "$jdk/bin/java -cp $work/app.jar:$work/lib/* app.Main" >/dev/null
hyperfine "${timing[@]}" --export-json "$work/first.json" -N --prepare "rm -rf $work/cache" "$work/app" >/dev/null
/usr/bin/python3 - "$work/later.json" "$work/first.json" "$(du -sk "$work/lib" | cut -f1)" <<'PY'
import json, sys
later = json.load(open(sys.argv[1]))["results"]
first = json.load(open(sys.argv[2]))["results"][0]["median"]
kvx, java = later[0]["median"], later[1]["median"]
print(f"kept jars, 40 jars ({int(sys.argv[3]) // 1024} MB): later starts median {kvx*1000:.1f} ms, java -cp median "
      f"{java*1000:.1f} ms, ratio {kvx/java:.3f} (goal <= 1.03)")
print(f"kept jars, 40 jars: first start (copies 39 jars) median {first*1000:.1f} ms, ratio {first/java:.3f} "
      f"(goal <= 1.5)")
PY
