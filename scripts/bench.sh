#!/usr/bin/env bash
# `make bench`: the split of a 1 GiB file through the real window of Kestrand.exe against
# a bare loop doing the same work (the same two pieces, 512-byte ReadFile/WriteFile,
# flushed before close) under the same Wine, in the same folder, taking turns; once on
# disk and once in a tmpfs folder. The loop hashes each piece (SHA-1 through CryptoAPI) as
# the writer does and reads each piece back past the system's cache and checks it, as the
# writer does, and runs twice per turn: on a thread beside a window, as the split's writer
# does (the like-with-like baseline), and in a process that never starts a thread, which
# also times the kernel's two entries. A third loop on a thread does not read back: what
# the check costs; a fourth neither hashes nor reads back. Then whether an unbuffered read
# under this Wine reaches the disk or the page cache, and where the writer's time goes,
# from a profile of the real piece writer hosted in a process of its own. Writes the table
# into docs/benchmarks.md.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/wine-root.sh"
. "$root/scripts/wine-slots.sh"
build=$(cd "${1:-$root/build/win32}" && pwd) || exit 1
if [ "$(id -u)" -ne 0 ]; then exec sudo --preserve-env=RUNS,KESTRAND_WINE_ROOT,KESTRAND_I386,KESTRAND_FAST_SYSCALLS "$0" "$build"; fi
if [ -z "${KESTRAND_PRIVATE_MOUNTS:-}" ]; then
  ensure_wine_root || exit 1
  in_private_mounts "$0" "$build"
fi
runs=${RUNS:-5}
[ "$runs" -ge 3 ] || { echo "bench: RUNS must be at least 3" >&2; exit 1; }
out=$root/build/bench
disk=$out/disk
ram=$out/tmpfs
size=1073741824
first=999999999
second=$((size - first))

cleanup() {
  stop_slots
  rm -rf "$disk"
  umount "$ram" 2>/dev/null || umount -l "$ram" 2>/dev/null
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

rm -rf "$disk"
mkdir -p "$disk" "$ram"
# Before the slots: the Wine root sees only what is mounted below the project by then.
# The source, its pieces and the joined copy at the end: 3 GiB and the metadata.
mount -t tmpfs -o size=4g tmpfs "$ram" || exit 1
start_slots 1 "$build/wine/bench" "$root" || exit 1
what="the shipped 32-bit Kestrand.exe and a 32-bit bare loop, 32-bit code running $i386_how"
[ -n "$i386_fast" ] && what="$what, fast kernel entry $i386_fast"
echo "bench: measuring $what"

win() { echo "Z:$(echo "$1" | tr / '\\')"; }
wine=("$root/scripts/wine-run.sh")
results=$out/results.txt
: >"$results"
note() { echo "$*" >>"$results"; }

echo "bench: making a 1 GiB file of random bytes"
head -c $size /dev/urandom >"$disk/source.bin"
cp "$disk/source.bin" "$ram/source.bin"

# Every run starts alike: no pieces, nothing left to write back, the source cached.
fresh_start() {
  rm -rf "$1/Separation"
  cat "$1/source.bin" >/dev/null
  sync
}

# The pieces of a run, joined natively, must be the source again.
check_pieces() {
  local place=$1 dir=$2 tag=$3
  if cat "$dir/Separation/01" "$dir/Separation/02" 2>/dev/null | cmp -s - "$dir/source.bin"; then
    note "$place $tag pieces_identical 1"
  else
    note "$place $tag pieces_identical 0"
    echo "bench: the pieces of $place $tag differ from the source" >&2
  fi
}

run_split() {
  local place=$1 dir=$2 run=$3
  fresh_start "$dir"
  "${wine[@]}" "$build/tests/split_bench.exe" "$(win "$build/Kestrand.exe")" "$(win "$dir/source.bin")" $first \
    </dev/null | tr -d '\r' | sed "s/^/$place $run /" >>"$results"
  check_pieces "$place" "$dir" split
  [ -f "$dir/Separation/source.bat" ] && note "$place $run script_written 1" || note "$place $run script_written 0"
}

# MODE: threaded (on a thread beside a window), unchecked (the same, no read-back), bare
# (neither hashing nor read-back) or plain (never a thread).
run_loop() {
  local place=$1 dir=$2 run=$3 mode=$4
  fresh_start "$dir"
  "${wine[@]}" "$build/tests/copy_loop.exe" $mode "$(win "$dir/source.bin")" "$(win "$dir/Separation")" \
    $first $second </dev/null | tr -d '\r' | sed "s/^/$place $run /" >>"$results"
  check_pieces "$place" "$dir" "$mode"
}

run_one() {
  case $1 in
    split) run_split "$2" "$3" "$4" ;;
    *) run_loop "$2" "$3" "$4" "$1" ;;
  esac
}

note "- load_before $(cut -d' ' -f1-3 /proc/loadavg | tr ' ' '/')"
# The split and the two loops take turns, and which of them goes first turns too, so a
# drift of the machine's load or of the disk's write-back falls on all alike.
# On a native road without a binfmt_misc of its own (in_own_binfmt), another run's entry
# would put the turn on qemu-i386: each turn waits up to ten minutes for the host to be
# free of one, and says if it was not.
order=(split threaded plain unchecked bare)
for place in disk tmpfs; do
  dir=$disk
  [ $place = tmpfs ] && dir=$ram
  for run in $(seq 1 "$runs"); do
    echo "bench: $place, run $run of $runs"
    for k in 0 1 2 3 4; do
      turn=${order[$(( (run - 1 + k) % 5 ))]}
      shared=""
      [ "$i386_how" = natively ] && [ -z "$KESTRAND_OWN_BINFMT" ] && shared=1
      if [ -n "$shared" ]; then
        for _ in $(seq 1 600); do foreign_i386_entry || break; sleep 1; done
        foreign_i386_entry && note "$place $run foreign_entry_$turn 1"
      fi
      run_one "$turn" $place "$dir" "$run"
      note "$place $run order_$turn $k"
      [ -n "$shared" ] && foreign_i386_entry && note "$place $run foreign_entry_$turn 1"
    done
  done
done

# The joining script of the last split, once, under Wine's cmd.exe.
fresh_start "$ram"
"${wine[@]}" "$build/tests/split_bench.exe" "$(win "$build/Kestrand.exe")" "$(win "$ram/source.bin")" $first \
  </dev/null >/dev/null 2>&1
(cd "$ram/Separation" && printf 'exit\r\n' | "${wine[@]}" cmd /c source.bat >"$out/rejoin.log" 2>&1)
if cmp -s "$ram/source.bin" "$ram/Separation/source.bin"; then
  note "tmpfs - rejoin_identical 1"
else
  note "tmpfs - rejoin_identical 0"
  echo "bench: the joining script did not rebuild the source, see $out/rejoin.log" >&2
fi

# Whether Wine passes FILE_FLAG_NO_BUFFERING on to Linux on the bench's disk: a file
# dropped from the page cache is read unbuffered, then buffered, and its cached bytes
# counted after each (fincore). An unbuffered read that leaves the file uncached went to
# the disk, as Windows' does.
probe=$disk/probe.bin
head -c 67108864 /dev/urandom >"$probe"
sync
cached() { fincore --bytes --noheadings --output RES "$probe" 2>/dev/null | tr -d ' '; }
evict() { /usr/bin/python3 -c 'import os,sys; f=os.open(sys.argv[1],os.O_RDONLY); os.posix_fadvise(f,0,0,os.POSIX_FADV_DONTNEED)' "$probe"; }
evict
note "disk - probe_cached_before $(cached)"
"${wine[@]}" "$build/tests/copy_loop.exe" unbuffered "$(win "$probe")" </dev/null | tr -d '\r' |
  sed "s/^/disk unbuffered /" >>"$results"
note "disk - probe_cached_after_unbuffered $(cached)"
evict
"${wine[@]}" "$build/tests/copy_loop.exe" buffered "$(win "$probe")" </dev/null | tr -d '\r' |
  sed "s/^/disk buffered /" >>"$results"
note "disk - probe_cached_after_buffered $(cached)"
rm -f "$probe"

# Where the writer's time goes, in both places.
for place in disk tmpfs; do
  dir=$disk
  [ $place = tmpfs ] && dir=$ram
  echo "bench: profile of the piece writer, $place"
  fresh_start "$dir"
  "${wine[@]}" "$build/tests/writer_profile.exe" "$(win "$dir/source.bin")" "$(win "$dir/Separation")" $first \
    </dev/null | tr -d '\r' | sed "s/^/$place profile /" >>"$results"
done
note "- load_after $(cut -d' ' -f1-3 /proc/loadavg | tr ' ' '/')"

wine_version=$(in_wine_root /usr/lib/wine/wine64 --version 2>/dev/null)
python3 "$root/scripts/bench_report.py" "$results" "$size" "$(nproc)" \
  "$(free -g | awk '/^Mem:/ {print $2}') GiB" "$wine_version" "$i386_how" "${i386_fast:-none}" \
  "$root/docs/benchmarks.md"
