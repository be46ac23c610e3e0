#!/usr/bin/env bash
# kvxpack with an icon, a splash picture and a version record on a 256 MiB archive: wall time
# against `cp` of the same bytes (median of several runs) and peak memory. Goals: within 1.3x
# of cp, under 64 MiB. Also prints the sizes of the Windows stubs (goal: at most 128 KiB each).
#   bench/kvxpack_resources_bench.sh [RUNS]      (KVXPACK=path/to/kvxpack to measure another build)
# KVX_BENCH_QUICK=1: one run over a small archive, goals printed but not held, to show that
# the benchmark works.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kvxpack=${KVXPACK:-$root/build/host/kvxpack}
runs=${1:-7}
quick=${KVX_BENCH_QUICK:-}
[ -z "$quick" ] || runs=1
[ -x "$kvxpack" ] || { echo "kvxpack_resources_bench: $kvxpack is not built" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "kvxpack_resources_bench: /usr/bin/time is missing" >&2; exit 1; }
status=0

echo "stub sizes (goal <= 131072 bytes each):"
for stub in win32/kvx.exe win32/kvxc.exe win64/kvx.exe win64/kvxc.exe; do
  path=$root/build/$stub
  [ -f "$path" ] || { echo "kvxpack_resources_bench: $stub is not built" >&2; exit 1; }
  size=$(stat -c %s "$path")
  mark=""
  verdict=pass
  [ "$size" -le 131072 ] || { mark="  GOAL MISSED"; status=1; verdict=fail; }
  printf '  %-16s %7d bytes (%d KiB)%s\n' "$stub" "$size" $(( (size + 1023) / 1024 )) "$mark"
  echo "bench-result: launcher size, $stub | $size bytes | <= 131072 bytes | $verdict"
done
stub=$root/build/win64/kvx.exe
[ -f "$stub" ] || { echo "kvxpack_resources_bench: $stub is not built" >&2; exit 1; }

work=$(mktemp -d "$root/build/kvxpack-res-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 - "$work" "$root/tests" "$quick" <<'PY'
import os, sys, zipfile
work = sys.argv[1]
sys.path[:0] = [sys.argv[2] + "/kvxpack", sys.argv[2] + "/shared"]
import resource_files as rf
from kvx_support import standard_icon
part = (64 << 10) if sys.argv[3] else (4 << 20)
with zipfile.ZipFile(os.path.join(work, "app.jar"), "w", zipfile.ZIP_STORED) as archive:
    for i in range(64):
        archive.writestr(f"lib/part{i:02}.bin", os.urandom(part))
open(os.path.join(work, "app.ico"), "wb").write(standard_icon())
open(os.path.join(work, "splash.bmp"), "wb").write(rf.bmp_file(640, 400))
PY
args=(--stub "$stub" --jar "$work/app.jar" --main app.Main --icon "$work/app.ico" --splash "$work/splash.bmp"
      --version FileVersion=1.2.3.4 --version ProductName=Bench -o "$work/out.exe")

now_ns() { date +%s%N; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
cp_times=() pack_times=()
for _ in $(seq "$runs"); do
  rm -f "$work/copy" "$work/out.exe"
  start=$(now_ns); cp "$work/app.jar" "$work/copy"; end=$(now_ns)
  cp_times+=($(( (end - start) / 1000 )))
  start=$(now_ns); "$kvxpack" "${args[@]}"; end=$(now_ns)
  pack_times+=($(( (end - start) / 1000 )))
done
cp_us=$(printf '%s\n' "${cp_times[@]}" | median)
pack_us=$(printf '%s\n' "${pack_times[@]}" | median)
rm -f "$work/out.exe"
pack_kib=$(/usr/bin/time -f %M "$kvxpack" "${args[@]}" 2>&1 >/dev/null | tail -1)
ratio=$(awk -v p="$pack_us" -v c="$cp_us" 'BEGIN { printf "%.2f", p / c }')
echo "kvxpack with icon, splash and version record: archive $(( $(stat -c %s "$work/app.jar") / 1024 )) KiB, median of $runs runs"
echo "  cp       $(awk -v t="$cp_us" 'BEGIN { printf "%8.1f ms", t / 1000 }')"
echo "  kvxpack  $(awk -v t="$pack_us" 'BEGIN { printf "%8.1f ms", t / 1000 }')   max RSS ${pack_kib} KiB"
echo "  time ratio kvxpack/cp = $ratio (goal <= 1.30)"
echo "  peak memory = $(( pack_kib / 1024 )) MiB (goal < 64 MiB)"
time_verdict=pass memory_verdict=pass
awk -v r="$ratio" 'BEGIN { exit !(r <= 1.3) }' || { echo "  GOAL MISSED: time"; status=1; time_verdict=fail; }
[ "$pack_kib" -lt $(( 64 * 1024 )) ] || { echo "  GOAL MISSED: memory"; status=1; memory_verdict=fail; }
size_mib=$(( $(stat -c %s "$work/app.jar") >> 20 ))
echo "bench-result: kvxpack time vs cp, icon + splash + version, $size_mib MiB | ${ratio}x | <= 1.30x | $time_verdict"
echo "bench-result: kvxpack peak memory, icon + splash + version, $size_mib MiB | $(( pack_kib / 1024 )) MiB | < 64 MiB | $memory_verdict"
if [ -n "$quick" ]; then echo "  (a quick run: too small to hold the goals)"; elif [ $status -eq 0 ]; then echo "  goals met"; fi
# Missed goals are results (tools/run-bench judges them); only a failure to run fails here.
exit 0
