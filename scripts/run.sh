#!/usr/bin/env bash
# `make run`: starts Kestrand under Wine on your display, with FILE as the command-line
# tail. Without a display it shows what the program does instead: a private Xvfb, a
# complete split of a sample file driven through the real window, the rejoin script run
# by Wine's cmd.exe, the result compared, and a screenshot of the window.
set -u
. "$(dirname "$0")/private-display.sh"
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/win64}
exe=$build/Kestrand.exe
export WINEPREFIX=${WINEPREFIX:-$root/build/wineprefix}
export WINEDEBUG=-all

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  # Wine maps / to Z:, so a Unix path becomes Z:\ with backslashes.
  tail=""
  if [ -n "${FILE:-}" ]; then
    tail="Z:$(realpath -m "$FILE" | tr / '\\')"
  fi
  set -f  # the tail goes in word by word, so Wine joins it back with blanks, unquoted
  "$root/scripts/wine-run.sh" "$exe" $tail
  status=$?
  wineserver -w
  exit $status
fi

out=$root/build/run
rm -rf "$out"
mkdir -p "$out"
xvfb_pid=""
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  stop_private_display
  if [ -n "${shooter_pid:-}" ]; then kill "$shooter_pid" 2>/dev/null; wait "$shooter_pid" 2>/dev/null; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

start_private_display || exit 1
echo "run: no display here, so a demonstration on a private one ($DISPLAY)"

# The demo asks for its screenshot through a file, since it runs inside Wine.
(
  for _ in $(seq 1 600); do
    if [ -f "$out/shoot" ]; then
      import -window root -crop "$(head -n 1 "$out/shoot")" +repage "$out/kestrand.png" 2>/dev/null
      touch "$out/shot"
      exit 0
    fi
    sleep 0.1
  done
) &
shooter_pid=$!

winout="Z:$(echo "$out" | tr / '\\')"
winexe="Z:$(echo "$exe" | tr / '\\')"
"$root/scripts/wine-run.sh" "$build/tests/kestrand_demo.exe" "$winexe" "$winout" sample.bin </dev/null
status=$?
wait "$shooter_pid" 2>/dev/null
shooter_pid=""
rm -f "$out/shoot" "$out/shot"
if [ $status -eq 0 ]; then
  echo "run: sample      $out/sample.bin"
  echo "run: pieces      $out/Separation/01 02 03"
  echo "run: script      $out/Separation/sample.bat"
  echo "run: joined      $out/received/sample.bin (the script run on copies of the pieces)"
  echo "run: screenshot  $out/kestrand.png"
fi
exit $status
