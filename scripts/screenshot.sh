#!/usr/bin/env bash
# `make screenshot`: retakes docs/kestrand.png, the README's picture of the window at
# work: the shipped Kestrand.exe copying the second piece of a film in a user's Videos
# folder, its flask partly filled, on a private display, in a prefix that has Windows'
# fonts (run.sh --picture). A picture whose labels reach their figures, or a shot the copy
# outran, is refused, and docs/kestrand.png stays as it was.
# Usage: screenshot.sh [BUILD_DIR]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/win32}
"$root/scripts/run.sh" --picture "$build"
"$root/tests/release/picture-labels.py" "$root/build/picture/kestrand.png"
# Without its time stamps, the picture changes only when the window does.
convert "$root/build/picture/kestrand.png" -strip "$root/docs/kestrand.png"
echo "screenshot: docs/kestrand.png ($(identify -format '%wx%h' "$root/docs/kestrand.png"))"
