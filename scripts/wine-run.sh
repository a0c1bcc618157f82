#!/usr/bin/env bash
# Runs a program of the 32-bit build under Wine 10 inside the project's Debian 13 root,
# in the Wine prefix and on the display of its slot. CTest gives each test one slot
# (a resource group), so two tests never share a wineserver, a focus or a screen.
# Outside CTest the slot is KESTRAND_SLOT, else 0. The caller (test.sh, run.sh,
# bench.sh) has made the mounts, the prefixes and the displays.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/wine-root.sh"
. "$root/scripts/wine-slots.sh"

slot=${KESTRAND_SLOT:-0}
if [ -n "${CTEST_RESOURCE_GROUP_0_WINE:-}" ]; then
  # For example "id:1,slots:1".
  slot=${CTEST_RESOURCE_GROUP_0_WINE#id:}
  slot=${slot%%,*}
fi
slot_dir=${KESTRAND_WINE_DIR:?run me through scripts/test.sh, run.sh or bench.sh}/slot$slot
if [ ! -f "$slot_dir/display" ]; then
  echo "wine-run: slot $slot is not prepared ($slot_dir)" >&2
  exit 1
fi
export WINEPREFIX=$slot_dir/prefix
export DISPLAY
DISPLAY=$(cat "$slot_dir/display")
export WINEDEBUG=${WINEDEBUG:--all}
export KESTRAND_SCREENSHOTS
KESTRAND_SCREENSHOTS="Z:$(echo "$slot_dir/shots" | tr / '\\')"

# On the native road the program gets a binfmt_misc of its own (in_own_binfmt), where the
# kernel allows one. The preload (enable_i386) is named inside the root only: its path
# means nothing to the host's own programs.
wine() {
  local own=()
  [ -n "${KESTRAND_OWN_BINFMT:-}" ] && own=(in_own_binfmt)
  "${own[@]}" chroot "$wine_root" /usr/bin/env ${KESTRAND_WINE_PRELOAD:+"LD_PRELOAD=$KESTRAND_WINE_PRELOAD"} \
    /bin/sh -c 'cd "$1" && shift && exec "$@"' sh "$PWD" /usr/lib/wine/wine64 "$@"
}

# Wine 10.0's server can freeze for good (all its processes stuck, the server at 100 %
# CPU). Every program here gets a server of its own, started before and ended after
# it, so that a freeze takes only that program with it.
stop_slot_server "$slot_dir"
chroot "$wine_root" /usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
# Wine's background services start here, away from the caller's pipes: CTest would
# wait for them for ever.
wine cmd /c exit </dev/null >/dev/null 2>&1 || true
# The program's output goes through a file: Wine processes that outlive a killed test
# would otherwise hold the caller's pipe, and CTest would wait for them for ever.
out=$(mktemp "$slot_dir/output.XXXXXX")
trap 'rm -f "$out"' EXIT
status=0
wine "$@" >"$out" 2>&1 || status=$?
stop_slot_server "$slot_dir"
cat "$out"
exit $status
