#!/usr/bin/env bash
# `make bench`: split throughput through the real window against a bare 512-byte copy
# loop under the same Wine, dd bs=512 and cat natively; rejoin throughput; the window's
# answer time while copying. Medians of RUNS runs, all in this one run of the script.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/wine-root.sh"
. "$root/scripts/wine-slots.sh"
build=$(cd "${1:-$root/build/win32}" && pwd) || exit 1
if [ "$(id -u)" -ne 0 ]; then exec sudo --preserve-env=RUNS,KESTRAND_WINE_ROOT "$0" "$build"; fi
if [ -z "${KESTRAND_PRIVATE_MOUNTS:-}" ]; then
  ensure_wine_root || exit 1
  in_private_mounts "$0" "$build"
fi
runs=${RUNS:-3}
out=$root/build/bench
cleanup() {
  stop_slots
  rm -rf "$out/work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

start_slots 1 "$build/wine/bench" "$root" || exit 1
build=$(runnable_build "$build" "$root") || exit 1

win() { echo "Z:$(echo "$1" | tr / '\\')"; }
seconds() { date +%s.%N; }
wine=("$root/scripts/wine-run.sh")

work=$out/work
rm -rf "$work"
mkdir -p "$work"
size=1073741824
first=999999999
echo "bench: making a 1 GiB file of random bytes"
head -c $size /dev/urandom >"$work/source.bin"

results=$out/results.txt
: >"$results"
for run in $(seq 1 "$runs"); do
  echo "bench: run $run of $runs"
  rm -rf "$work/Separation" "$work/copy" "$work/dd" "$work/cat" "$work/joined"
  "${wine[@]}" "$build/tests/split_bench.exe" "$(win "$build/Kestrand.exe")" "$(win "$work/source.bin")" $first \
    </dev/null | tr -d '\r' | sed "s/^/run$run /" >>"$results"
  "${wine[@]}" "$build/tests/copy_loop.exe" "$(win "$work/source.bin")" "$(win "$work/copy")" $size \
    </dev/null | tr -d '\r' | sed "s/^/run$run /" >>"$results"
  rm -f "$work/copy"
  t0=$(seconds); dd if="$work/source.bin" of="$work/dd" bs=512 status=none; t1=$(seconds)
  echo "run$run dd_seconds $(echo "$t1 - $t0" | bc -l)" >>"$results"
  rm -f "$work/dd"
  t0=$(seconds); cat "$work/source.bin" >"$work/cat"; t1=$(seconds)
  echo "run$run cat_seconds $(echo "$t1 - $t0" | bc -l)" >>"$results"
  rm -f "$work/cat"
  t0=$(seconds); cat "$work/Separation/01" "$work/Separation/02" >"$work/joined"; t1=$(seconds)
  echo "run$run catjoin_seconds $(echo "$t1 - $t0" | bc -l)" >>"$results"
  rm -f "$work/joined"
  t0=$(seconds)
  (cd "$work/Separation" && printf 'exit\r\n' | "${wine[@]}" cmd /c source.bat >/dev/null 2>&1)
  t1=$(seconds)
  echo "run$run rejoin_seconds $(echo "$t1 - $t0" | bc -l)" >>"$results"
  if cmp -s "$work/source.bin" "$work/Separation/source.bin"; then
    echo "run$run rejoin_identical 1" >>"$results"
  else
    echo "run$run rejoin_identical 0" >>"$results"
  fi
done

wine_version=$(in_wine_root /usr/lib/wine/wine64 --version 2>/dev/null)
python3 "$root/scripts/bench_report.py" "$results" "$size" "$(nproc)" \
  "$(free -g | awk '/^Mem:/ {print $2}') GiB" "$wine_version" "$root/docs/benchmarks.md"
