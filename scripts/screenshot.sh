#!/usr/bin/env bash
# `make screenshot`: retakes docs/kestrand.png, the README's picture of the window in
# the middle of a split. It is the screenshot of `make run`'s demonstration (the shipped
# Kestrand.exe on a private Xvfb, at the second piece's size), made without a display
# even where there is one, so that every retake shows the same thing.
# Usage: screenshot.sh [BUILD_DIR]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/win32}
env -u DISPLAY -u XAUTHORITY "$root/scripts/run.sh" "$build"
# Without its time stamps, the picture changes only when the window does.
convert "$root/build/run/kestrand.png" -strip "$root/docs/kestrand.png"
echo "screenshot: docs/kestrand.png ($(identify -format '%wx%h' "$root/docs/kestrand.png"))"
