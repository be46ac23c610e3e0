#!/usr/bin/env bash
# kvxpack on a 256 MiB archive, and merging two 128 MiB archives: wall time against `cp` of
# the same number of bytes (median of several runs) and peak memory (maximum resident set).
# Goals: within 1.3x of cp, under 64 MiB (one bench-result line each, for tools/run-bench).
#   bench/kvxpack_bench.sh [RUNS]      (KVXPACK=path/to/kvxpack to measure another build)
# KVX_BENCH_QUICK=1: one run over archives of a few hundred KiB, goals printed but not held,
# to show that the benchmark works.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kvxpack=${KVXPACK:-$root/build/host/kvxpack}
stub=${KVX_STUB:-$root/build/host/kvx}
runs=${1:-7}
quick=${KVX_BENCH_QUICK:-}
[ -z "$quick" ] || runs=1
[ -x "$kvxpack" ] || { echo "kvxpack_bench: $kvxpack is not built" >&2; exit 1; }
[ -f "$stub" ] || { echo "kvxpack_bench: $stub is not built" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "kvxpack_bench: /usr/bin/time is missing" >&2; exit 1; }

work=$(mktemp -d "$root/build/kvxpack-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Stored entries of 4 MiB random bytes (jar-like archives that do not compress), plus many
# small deflated ones as real jars have: 256 MiB in one archive, and 2 x 128 MiB.
/usr/bin/python3 - "$work" "$quick" <<'PY'
import os, sys, zipfile
part, small = (64 << 10, 20) if sys.argv[2] else (4 << 20, 2000)
def make(path, parts, prefix):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_STORED) as archive:
        for i in range(parts):
            archive.writestr(f"{prefix}/part{i:02}.bin", os.urandom(part))
        for i in range(small):
            archive.writestr(f"{prefix}/c/C{i}.class", os.urandom(64) * 20, zipfile.ZIP_DEFLATED)
make(os.path.join(sys.argv[1], "app.jar"), 64, "app")
make(os.path.join(sys.argv[1], "one.jar"), 32, "one")
make(os.path.join(sys.argv[1], "two.jar"), 32, "two")
PY
cat "$work/one.jar" "$work/two.jar" > "$work/both.bin"

now_ns() { date +%s%N; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
status=0

measure() {  # name, file cp copies, kvxpack arguments...
  local name=$1 copy_of=$2
  shift 2
  local cp_times=() pack_times=() start end
  # One untimed run of each first: inputs in the page cache for both.
  cp "$copy_of" "$work/copy"
  "$kvxpack" --stub "$stub" "$@" --main app.Main -o "$work/out"
  for _ in $(seq "$runs"); do
    # Each timed command starts with no dirty pages left by the other (write-back would
    # throttle whichever runs second).
    rm -f "$work/copy" "$work/out"; sync
    start=$(now_ns); cp "$copy_of" "$work/copy"; end=$(now_ns)
    cp_times+=($(( (end - start) / 1000 )))
    rm -f "$work/copy"; sync
    start=$(now_ns)
    "$kvxpack" --stub "$stub" "$@" --main app.Main -o "$work/out"
    end=$(now_ns)
    pack_times+=($(( (end - start) / 1000 )))
  done
  local cp_us pack_us pack_kib cp_kib ratio
  cp_us=$(printf '%s\n' "${cp_times[@]}" | median)
  pack_us=$(printf '%s\n' "${pack_times[@]}" | median)
  rm -f "$work/out" "$work/copy"
  pack_kib=$(/usr/bin/time -f %M "$kvxpack" --stub "$stub" "$@" --main app.Main -o "$work/out" 2>&1 >/dev/null | tail -1)
  cp_kib=$(/usr/bin/time -f %M cp "$copy_of" "$work/copy" 2>&1 >/dev/null | tail -1)
  ratio=$(awk -v p="$pack_us" -v c="$cp_us" 'BEGIN { printf "%.2f", p / c }')
  echo "kvxpack_bench: $name ($(( $(stat -c %s "$copy_of") / 1024 )) KiB), median of $runs runs"
  echo "  cp       $(awk -v t="$cp_us" 'BEGIN { printf "%8.1f ms", t / 1000 }')   max RSS ${cp_kib} KiB"
  echo "  kvxpack  $(awk -v t="$pack_us" 'BEGIN { printf "%8.1f ms", t / 1000 }')   max RSS ${pack_kib} KiB"
  echo "  time ratio kvxpack/cp = $ratio (goal <= 1.30)"
  echo "  peak memory = $(( pack_kib / 1024 )) MiB (goal < 64 MiB)"
  local time_verdict=pass memory_verdict=pass
  awk -v r="$ratio" 'BEGIN { exit !(r <= 1.3) }' || { echo "  GOAL MISSED: time"; time_verdict=fail; }
  [ "$pack_kib" -lt $(( 64 * 1024 )) ] || { echo "  GOAL MISSED: memory"; memory_verdict=fail; }
  local size_mib=$(( $(stat -c %s "$copy_of") >> 20 ))
  echo "bench-result: kvxpack time vs cp, $name of $size_mib MiB | ${ratio}x | <= 1.30x | $time_verdict"
  echo "bench-result: kvxpack peak memory, $name of $size_mib MiB | $(( pack_kib / 1024 )) MiB | < 64 MiB | $memory_verdict"
  [ "$time_verdict$memory_verdict" = passpass ] || status=1
}

measure "one archive" "$work/app.jar" --jar "$work/app.jar"
measure "two archives merged" "$work/both.bin" --jar "$work/one.jar" --jar "$work/two.jar"
if [ -n "$quick" ]; then echo "  (a quick run: too small to hold the goals)"; elif [ $status -eq 0 ]; then echo "  goals met"; fi
# Missed goals are results (tools/run-bench judges them); only a failure to run fails here.
exit 0
