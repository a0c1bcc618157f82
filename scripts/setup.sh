#!/usr/bin/env bash
# Installs, from Debian's packages, everything the build and the tests need; with
# the argument "wine", also the Debian 13 root that holds Wine 10 (wine-root.sh).
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

# The x86-64 binutils make the release checks' example of a program for the wrong machine;
# the host's gcc builds the preload of scripts/fast-syscalls.c (-m32 -nostdlib needs no
# 32-bit libraries). python3-pefile reads the version resource and the manifest for the
# release checks; fonts-wine holds Wine's bitmap System font, which the README's picture
# is taken with (screenshot.sh). python3-fusepy (with libfuse2) and fuse3 run the tests'
# disk that fakes its size (tests/fake_disk/fake_disk.py).
packages=(cmake make g++-mingw-w64-i686 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
          mmdebstrap googletest imagemagick zip x11-utils python3 python3-pefile xxd bc gcc
          fonts-wine python3-fusepy fuse3)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -ne 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null
fi

if [ "${1:-}" = wine ]; then
  . "$(dirname "$0")/wine-root.sh"
  ensure_wine_root
fi
