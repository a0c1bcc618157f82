#!/usr/bin/env bash
# Runs a program of the 64-bit test build under wine64 in the project's own prefix.
# A persistent wineserver with its output on /dev/null keeps Wine's background
# services from holding the caller's pipes open (CTest would wait on them forever).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$root/build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko install dialogs in a fresh prefix.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
wine64=/usr/lib/wine/wine64

mkdir -p "$(dirname "$WINEPREFIX")"
(
  flock 9
  wineserver -p </dev/null >/dev/null 2>&1 9>&- || true
  if [ ! -f "$WINEPREFIX/.kestrand-ready" ]; then
    "$wine64" wineboot -u </dev/null >/dev/null 2>&1 9>&- || true
    # Without a window manager every hide or destroy of a window stalls; unmanaged
    # windows do not.
    "$wine64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1 9>&-
    touch "$WINEPREFIX/.kestrand-ready"
  fi
) 9>"$WINEPREFIX.lock"

exec "$wine64" "$@"
