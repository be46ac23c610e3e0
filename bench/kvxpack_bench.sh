#!/usr/bin/env bash
# kvxpack on a 256 MiB archive: wall time against `cp` of the same bytes (median of several
# runs) and peak memory (maximum resident set). Goals: within 2x of cp, under 64 MiB.
#   bench/kvxpack_bench.sh [RUNS]      (KVXPACK=path/to/kvxpack to measure another build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kvxpack=${KVXPACK:-$root/build/host/kvxpack}
runs=${1:-7}
[ -x "$kvxpack" ] || { echo "kvxpack_bench: $kvxpack is not built" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "kvxpack_bench: /usr/bin/time is missing" >&2; exit 1; }

work=$(mktemp -d "$root/build/kvxpack-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

# 64 stored entries of 4 MiB random bytes: a jar-like archive of 256 MiB that does not compress.
/usr/bin/python3 - "$work/app.jar" <<'PY'
import os, sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_STORED) as archive:
    for i in range(64):
        archive.writestr(f"lib/part{i:02}.bin", os.urandom(4 << 20))
PY
# A stand-in Linux launcher (copied as it is): the ELF magic, then random bytes.
{ printf '\177ELF'; head -c 300000 /dev/urandom; } > "$work/stub"
jar_mib=$(( $(stat -c %s "$work/app.jar") / 1048576 ))

now_ns() { date +%s%N; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

cp_times=() pack_times=()
for _ in $(seq "$runs"); do
  rm -f "$work/copy" "$work/out"
  start=$(now_ns); cp "$work/app.jar" "$work/copy"; end=$(now_ns)
  cp_times+=($(( (end - start) / 1000 )))
  start=$(now_ns)
  "$kvxpack" --stub "$work/stub" --jar "$work/app.jar" --main app.Main -o "$work/out"
  end=$(now_ns)
  pack_times+=($(( (end - start) / 1000 )))
done
cp_us=$(printf '%s\n' "${cp_times[@]}" | median)
pack_us=$(printf '%s\n' "${pack_times[@]}" | median)

rm -f "$work/out" "$work/copy"
pack_kib=$(/usr/bin/time -f %M "$kvxpack" --stub "$work/stub" --jar "$work/app.jar" --main app.Main -o "$work/out" 2>&1 >/dev/null | tail -1)
cp_kib=$(/usr/bin/time -f %M cp "$work/app.jar" "$work/copy" 2>&1 >/dev/null | tail -1)

ratio=$(awk -v p="$pack_us" -v c="$cp_us" 'BEGIN { printf "%.2f", p / c }')
echo "kvxpack_bench: archive ${jar_mib} MiB, median of $runs runs"
echo "  cp       $(awk -v t="$cp_us" 'BEGIN { printf "%8.1f ms", t / 1000 }')   max RSS ${cp_kib} KiB"
echo "  kvxpack  $(awk -v t="$pack_us" 'BEGIN { printf "%8.1f ms", t / 1000 }')   max RSS ${pack_kib} KiB"
echo "  time ratio kvxpack/cp = $ratio (goal <= 2.00)"
echo "  peak memory = $(( pack_kib / 1024 )) MiB (goal < 64 MiB)"
status=0
awk -v r="$ratio" 'BEGIN { exit !(r <= 2.0) }' || { echo "  GOAL MISSED: time"; status=1; }
[ "$pack_kib" -lt $(( 64 * 1024 )) ] || { echo "  GOAL MISSED: memory"; status=1; }
[ $status -eq 0 ] && echo "  goals met"
exit $status
