#!/usr/bin/env bash
# `make run`: starts the shipped 32-bit Kestrand.exe under Wine 10 (in the project's
# Debian 13 root) on your display, with FILE as the command-line tail. Without a display
# it shows what the program does instead: a private Xvfb, a complete split of a sample
# file driven through the real window, the rejoin script run by Wine's cmd.exe, the
# result compared, and a screenshot of the window.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/wine-root.sh"
. "$root/scripts/wine-slots.sh"
build=$(cd "${1:-$root/build/win32}" && pwd) || exit 1

if [ "$(id -u)" -ne 0 ]; then
  exec sudo --preserve-env=DISPLAY,XAUTHORITY,FILE,KESTRAND_WINE_ROOT,KESTRAND_I386,KESTRAND_FAST_SYSCALLS "$0" "$build"
fi
if [ -z "${KESTRAND_PRIVATE_MOUNTS:-}" ]; then
  ensure_wine_root || exit 1
  in_private_mounts "$0" "$build"
fi

# Its own prefix, so that it can run beside `make test`.
wine_dir=$build/wine/run
out=$root/build/run
trap stop_slots EXIT
trap 'exit 130' INT TERM HUP
mkdir -p "$wine_dir"

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  slot_host_display=$DISPLAY
  # Wine inside the root reaches the X server through its abstract socket; the
  # cookie has to be where the root can read it.
  if [ -n "${XAUTHORITY:-}" ] && [ -f "$XAUTHORITY" ]; then
    cp "$XAUTHORITY" "$wine_dir/xauthority"
    export XAUTHORITY=$wine_dir/xauthority
  fi
  start_slots 1 "$wine_dir" "$root" || exit 1
  # Wine maps / to Z:, so a Unix path becomes Z:\ with backslashes.
  tail=""
  if [ -n "${FILE:-}" ]; then
    file=$(realpath -m "$FILE")
    folder=$(host_folder_in_root "$(dirname "$file")") || exit 1
    tail="Z:$(echo "$folder/$(basename "$file")" | tr / '\\')"
  fi
  set -f  # the tail goes in word by word, so Wine joins it back with blanks, unquoted
  "$root/scripts/wine-run.sh" "$build/Kestrand.exe" $tail
  exit $?
fi

rm -rf "$out"
mkdir -p "$out"
start_slots 1 "$wine_dir" "$root" || exit 1
exe=$build/Kestrand.exe
display=$(cat "$wine_dir/slot0/display")
echo "run: no display here, so a demonstration on a private one ($display)"

winout="Z:$(echo "$out" | tr / '\\')"
winexe="Z:$(echo "$exe" | tr / '\\')"
"$root/scripts/wine-run.sh" "$build/tests/kestrand_demo.exe" "$winexe" "$winout" sample.bin </dev/null
status=$?
cp "$wine_dir/slot0/shots/kestrand.png" "$out/kestrand.png" 2>/dev/null
if [ $status -eq 0 ]; then
  echo "run: sample      $out/sample.bin"
  echo "run: pieces      $out/Separation/01 02 03"
  echo "run: script      $out/Separation/sample.bat"
  echo "run: joined      $out/received/sample.bin (the script run on copies of the pieces)"
  echo "run: screenshot  $out/kestrand.png"
fi
exit $status
