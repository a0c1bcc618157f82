#!/usr/bin/env bash
# Packs the shipped program: the 32-bit Release Kestrand.exe (linked stripped: the very
# file that the tests run), checked, with the README and the user guide as Windows
# text files, into
# OUT/Kestrand-<version>-win32.zip. The version is the project's, from CMakeLists.txt.
# Usage: dist.sh BUILD_DIR OUT_DIR   (make dist passes build/win32 and dist)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: dist.sh BUILD_DIR OUT_DIR}
out=${2:?usage: dist.sh BUILD_DIR OUT_DIR}

version=$("$root/scripts/project-version.sh")
exe=$build/Kestrand.exe
if [ ! -f "$exe" ]; then
  echo "dist: $exe does not exist: build the 32-bit Release first" >&2
  exit 1
fi

name=Kestrand-$version-win32
stage=$build/$name
rm -rf "$stage"
mkdir -p "$stage" "$out"
trap 'rm -rf "$stage"' EXIT

# The same build gives the same zip: the exe carries no time stamp of its own, and the
# commit's time stands for every time stamp in the zip.
stamp=$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 946684800)
cp "$exe" "$stage/Kestrand.exe"
"$root/scripts/check-pe.sh" --stripped i386 "$stage/Kestrand.exe"

# Notepad on older Windows shows only CR LF line ends.
to_windows_text() { sed 's/\r*$/\r/' "$1" >"$2"; }
to_windows_text "$root/README.md" "$stage/README.txt"
to_windows_text "$root/docs/user-guide.md" "$stage/USER-GUIDE.txt"

touch -d "@$stamp" "$stage" "$stage"/*
zip_path=$(cd "$out" && pwd)/$name.zip
rm -f "$zip_path"
(cd "$build" && TZ=UTC zip -q -X "$zip_path" "$name/" "$name/Kestrand.exe" \
  "$name/README.txt" "$name/USER-GUIDE.txt")

echo "dist: $zip_path ($(stat -c %s "$zip_path") bytes)"
