#!/usr/bin/env bash
# Runs every test under wine64 on a private Xvfb display, with the project's own Wine
# prefix and two drive letters of its own: R: (a plain folder) and S: (a small tmpfs,
# when this user may mount). Everything started here is stopped on the way out.
set -u
. "$(dirname "$0")/private-display.sh"
root=$(cd "$(dirname "$0")/.." && pwd)
# Absolute, since the drive letters are symlinks that Wine resolves from its own folder.
build=$(cd "${1:-$root/build/win64}" && pwd)
export WINEPREFIX=${WINEPREFIX:-$root/build/wineprefix}
export WINEDEBUG=-all
drives=$build/drives
xvfb_pid=""
mounted=""
shooter_pid=""

cleanup() {
  if [ -n "$shooter_pid" ]; then kill "$shooter_pid" 2>/dev/null; wait "$shooter_pid" 2>/dev/null; fi
  wineserver -k >/dev/null 2>&1 || true
  stop_private_display
  if [ -n "$mounted" ]; then umount "$mounted" 2>/dev/null || umount -l "$mounted" 2>/dev/null; fi
  rm -f "$WINEPREFIX/dosdevices/r:" "$WINEPREFIX/dosdevices/s:"
  rm -rf "$drives"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

start_private_display || exit 1

# Prepare the prefix once (the wrapper does it under a lock) before drives go into it.
"$root/scripts/wine-run.sh" cmd /c exit </dev/null >/dev/null 2>&1 || true

mkdir -p "$drives/r" "$drives/s"
ln -sfn "$drives/r" "$WINEPREFIX/dosdevices/r:"
if mount -t tmpfs -o size=4m tmpfs "$drives/s" 2>/dev/null; then
  mounted="$drives/s"
  ln -sfn "$drives/s" "$WINEPREFIX/dosdevices/s:"
  export KESTRAND_SMALL_DRIVE=S:
else
  echo "test: cannot mount a tmpfs here; small-drive tests will be skipped"
fi

# Screenshots for the acceptance suite: a test inside Wine writes NAME.req with the
# window's geometry; ImageMagick shoots the display into NAME.png and NAME.bmp and
# answers with NAME.done. The last run's pictures stay in the build folder.
shots=$(cd "$build" && pwd)/screenshots
rm -rf "$shots"
mkdir -p "$shots"
(
  while true; do
    for req in "$shots"/*.req; do
      [ -e "$req" ] || continue
      base=${req%.req}
      import -window root -crop "$(head -n 1 "$req")" +repage "$base.png" 2>/dev/null
      convert "$base.png" -type TrueColor "BMP3:$base.bmp" 2>/dev/null
      rm -f "$req"
      touch "$base.done"
    done
    sleep 0.05
  done
) &
shooter_pid=$!
export KESTRAND_SCREENSHOTS="Z:$(echo "$shots" | tr / '\\')"

start=$(date +%s)
ctest --test-dir "$build" --output-on-failure -j "${TEST_JOBS:-2}"
status=$?
echo "test: the suite took $(( $(date +%s) - start )) s"
exit $status
