#!/usr/bin/env bash
# `make run`: starts the shipped 32-bit Kestrand.exe under Wine 10 (in the project's
# Debian 13 root) on your display, with FILE as the command-line tail. Without a display
# it shows what the program does instead: a private Xvfb, a complete split of a sample
# file driven through the real window, the rejoin script run by Wine's cmd.exe, the
# result compared, and a screenshot of the window.
# Usage: run.sh [--picture] [BUILD_DIR]
#   --picture  the demonstration for the README's picture (screenshot.sh), always on a
#              private display, in a prefix of its own that has Windows' fonts and holds
#              the sample where a user keeps one: the window while the second piece is
#              copied, then Cancel
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/wine-root.sh"
. "$root/scripts/wine-slots.sh"
picture=""
if [ "${1:-}" = --picture ]; then picture=--picture; shift; fi
build=$(cd "${1:-$root/build/win32}" && pwd) || exit 1

if [ "$(id -u)" -ne 0 ]; then
  exec sudo --preserve-env=DISPLAY,XAUTHORITY,FILE,KESTRAND_WINE_ROOT,KESTRAND_I386,KESTRAND_FAST_SYSCALLS "$0" $picture "$build"
fi
if [ -z "${KESTRAND_PRIVATE_MOUNTS:-}" ]; then
  ensure_wine_root || exit 1
  in_private_mounts "$0" $picture "$build"
fi

# Its own prefix, so that it can run beside `make test`.
wine_dir=$build/wine/run
out=$root/build/run
if [ -n "$picture" ]; then
  wine_dir=$build/wine/picture
  out=$root/build/picture
  unset DISPLAY
fi
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

winout="Z:$(echo "$out" | tr / '\\')"
winexe="Z:$(echo "$exe" | tr / '\\')"
folder=$winout sample=sample.bin at_work=""
if [ -n "$picture" ]; then
  prefix=$wine_dir/slot0/prefix
  # Windows draws the labels and buttons in its System font, a narrow bitmap font, and the
  # fields in its bitmap MS Sans Serif. Wine has neither unless given its own (Debian's
  # fonts-wine), and stands in wider fonts: the labels would run into the figures. The
  # title bar's minimize, maximize and close buttons are glyphs of Marlett; without it
  # Wine writes them as the letters "0 1 r".
  mkdir -p "$prefix/drive_c/windows/Fonts"
  cp /usr/share/wine/fonts/vgasys.fon /usr/share/wine/fonts/sserife.fon /usr/share/wine/fonts/marlett.ttf \
    "$prefix/drive_c/windows/Fonts/" || exit 1
  # The sample where a user keeps a film, in a folder made for the picture.
  rm -rf "$prefix/drive_c/users/Ann"
  mkdir -p "$prefix/drive_c/users/Ann/Videos"
  folder='C:\Users\Ann\Videos' sample=holiday.avi at_work=at-work
  echo "run: the README's picture on a private display ($display)"
else
  echo "run: no display here, so a demonstration on a private one ($display)"
fi
"$root/scripts/wine-run.sh" "$build/tests/kestrand_demo.exe" "$winexe" "$folder" "$sample" $at_work </dev/null
status=$?
cp "$wine_dir/slot0/shots/kestrand.png" "$out/kestrand.png" 2>/dev/null
# The picture's piece is hundreds of megabytes cut short by Cancel: nothing to look at.
if [ -n "$picture" ]; then rm -rf "$prefix/drive_c/users/Ann"; fi
if [ $status -eq 0 ] && [ -z "$picture" ]; then
  echo "run: sample      $out/sample.bin"
  echo "run: pieces      $out/Separation/01 02 03"
  echo "run: script      $out/Separation/sample.bat"
  echo "run: joined      $out/received/sample.bin (the script run on copies of the pieces)"
  echo "run: screenshot  $out/kestrand.png"
fi
exit $status
