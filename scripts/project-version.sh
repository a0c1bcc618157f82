#!/usr/bin/env bash
# Prints the project's version: the VERSION of project() in CMakeLists.txt, the one
# place it is kept.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
version=$(sed -n 's/^project(Kestrand VERSION \([0-9][0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
if [ -z "$version" ]; then
  echo "project-version: no project VERSION found in CMakeLists.txt" >&2
  exit 1
fi
echo "$version"
