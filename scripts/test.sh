#!/usr/bin/env bash
# `make test`: every suite of the 32-bit build, run under Wine 10 in the project's
# Debian 13 root. CTest runs TEST_JOBS tests at once (2 by default), each in a slot of
# its own (wine-slots.sh). All mounts live in a private mount namespace, so they end
# with the run however it ends; what this script starts it also stops.
# Usage: test.sh [BUILD_DIR [CTEST ARGUMENTS...]]
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/wine-root.sh"
. "$root/scripts/wine-slots.sh"
build=$(cd "${1:-$root/build/win32}" && pwd) || exit 1
[ $# -gt 0 ] && shift
jobs=${TEST_JOBS:-2}

if [ "$(id -u)" -ne 0 ]; then
  exec sudo --preserve-env=TEST_JOBS,KESTRAND_WINE_ROOT,KESTRAND_I386,KESTRAND_FAST_SYSCALLS "$0" "$build" "$@"
fi
if [ -z "${KESTRAND_PRIVATE_MOUNTS:-}" ]; then
  ensure_wine_root || exit 1
  in_private_mounts "$0" "$build" "$@"
fi

ctest_pid=""
cleanup() {
  # Never wait here for CTest: a test that Wine froze would hold it forever.
  [ -n "$ctest_pid" ] && kill -9 "$ctest_pid" 2>/dev/null
  ctest_pid=""
  stop_slots
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

start=$(date +%s)
start_slots "$jobs" "$build/wine" "$root" || exit 1
echo "test: $jobs slots ready in $(( $(date +%s) - start )) s"

export KESTRAND_SMALL_DRIVE=S:
# The disk that fakes its size, and its figures in bytes (wine-slots.sh).
export KESTRAND_FAKE_DRIVE=F: KESTRAND_FAKE_DRIVE_KEEPS=$fake_drive_keeps KESTRAND_FAKE_DRIVE_CLAIMS=$fake_drive_claims

# One slot per test: CTest hands them out and the Wine wrapper reads which it got.
resources=$KESTRAND_WINE_DIR/slots.json
{
  printf '{"version": {"major": 1, "minor": 0}, "local": [{"wine": ['
  for s in $(seq 0 $((jobs - 1))); do
    [ "$s" -gt 0 ] && printf ', '
    printf '{"id": "%s", "slots": 1}' "$s"
  done
  printf ']}]}\n'
} >"$resources"

start=$(date +%s)
# In the background, so that an interrupt is handled at once, not after CTest.
ctest --test-dir "$build" --output-on-failure -j "$jobs" --resource-spec-file "$resources" "$@" &
ctest_pid=$!
wait "$ctest_pid"
status=$?
ctest_pid=""
echo "test: the suite took $(( $(date +%s) - start )) s"
exit $status
