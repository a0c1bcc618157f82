# Sourced by test.sh, run.sh and bench.sh, after wine-root.sh and inside a private mount
# namespace. A slot is what one Wine program and its helpers need to themselves: a
# Wine prefix with its own wineserver, an Xvfb display, the drives R: (a folder) and
# S: (a 4 MiB tmpfs) and a folder for screenshots. Two tests in two slots cannot take
# each other's focus, screen or server (Wine 10's server hangs when two 32-bit
# programs drive splits in one prefix at once).
#
# start_slots N WINE_DIR PROJECT   makes slots 0..N-1 under WINE_DIR
# stop_slots                       stops what start_slots started; safe to call twice

slot_xvfb_pids=()
slot_mounts=()
slot_dirs=()

slot_wine() {  # slot_wine DIR PROGRAM ARGS...: a Wine tool in that slot's prefix
  local dir=$1
  shift
  chroot "$wine_root" /usr/bin/env WINEPREFIX="$dir/prefix" WINEDEBUG=-all \
    WINEDLLOVERRIDES=mscoree,mshtml= DISPLAY="$(cat "$dir/display" 2>/dev/null)" "$@"
}

# Xvfb picks a free number itself and tells it through a pipe. With slot_host_display
# set, the slot uses that display (the user's own) instead.
start_slot_display() {
  local dir=$1 fifo display
  if [ -n "${slot_host_display:-}" ]; then
    echo "$slot_host_display" >"$dir/display"
    return 0
  fi
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  chroot "$wine_root" /usr/bin/Xvfb -displayfd 4 -screen 0 1024x768x24 -nolisten tcp \
    4>"$fifo" </dev/null >/dev/null 2>&1 &
  slot_xvfb_pids+=($!)
  if ! read -r -t 30 display <"$fifo"; then
    rm -f "$fifo"
    echo "slots: Xvfb did not start" >&2
    return 1
  fi
  rm -f "$fifo"
  echo ":$display" >"$dir/display"
}

# A prefix is made once and kept; a new root recipe makes it anew.
prepare_slot_prefix() {
  local dir=$1
  if [ "$(cat "$dir/prefix/.kestrand-ready" 2>/dev/null)" != "$wine_root_recipe" ]; then
    rm -rf "$dir/prefix"
  fi
  # A persistent server with its output on /dev/null: Wine's background services
  # must not hold a test's pipes open, or CTest waits for them forever.
  slot_wine "$dir" /usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
  if [ ! -f "$dir/prefix/.kestrand-ready" ]; then
    slot_wine "$dir" /usr/lib/wine/wine64 wineboot -u </dev/null >/dev/null 2>&1
    # Without a window manager every hide or destroy of a window stalls 2 s;
    # unmanaged windows do not.
    slot_wine "$dir" /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\X11 Driver' \
      /v Managed /d N /f </dev/null >/dev/null 2>&1 || return 1
    echo "$wine_root_recipe" >"$dir/prefix/.kestrand-ready"
  fi
  ln -sfn "$dir/drives/r" "$dir/prefix/dosdevices/r:"
  ln -sfn "$dir/drives/s" "$dir/prefix/dosdevices/s:"
  stop_slot_server "$dir"
}

start_slots() {
  local count=$1 s dir pids=() status=0
  export KESTRAND_WINE_DIR=$2
  local project=$3
  slot_project=$project
  for s in $(seq 0 $((count - 1))); do
    dir=$KESTRAND_WINE_DIR/slot$s
    slot_dirs+=("$dir")
    rm -rf "$dir/drives" "$dir/shots"
    mkdir -p "$dir/drives/r" "$dir/drives/s" "$dir/shots"
    mount -t tmpfs -o size=4m tmpfs "$dir/drives/s" || return 1
    slot_mounts+=("$dir/drives/s")
  done
  # After the drives, so that the root sees them.
  enter_wine_mounts "$project" || return 1
  for dir in "${slot_dirs[@]}"; do start_slot_display "$dir" || return 1; done
  for dir in "${slot_dirs[@]}"; do prepare_slot_prefix "$dir" & pids+=($!); done
  for s in "${pids[@]}"; do wait "$s" || status=1; done
  [ $status -eq 0 ] || echo "slots: a Wine prefix could not be prepared" >&2
  return $status
}

# Every process of this run shares its private mount namespace, and no other process
# does: whatever is left of the run (a hung wineserver, a test it froze) is ended by
# its process id.
end_rest_of_run() {
  local ns pid
  ns=$(readlink /proc/$$/ns/mnt)
  [ -n "$ns" ] && [ "$ns" != "$(readlink /proc/1/ns/mnt)" ] || return 0
  for pid in $(ls /proc); do
    case $pid in *[!0-9]*) continue ;; esac
    [ "$pid" = $$ ] || [ "$pid" = "$BASHPID" ] && continue
    [ "$(readlink "/proc/$pid/ns/mnt" 2>/dev/null)" = "$ns" ] && kill -9 "$pid" 2>/dev/null
  done
  return 0
}

# The slot's wineserver, found by its working folder: the server folder that the
# prefix names. Prints nothing when none runs.
slot_server_pid() {
  local name proc
  name=$(cat "$1/prefix/wineserver" 2>/dev/null) || return 0
  [ -n "$name" ] || return 0
  for proc in /proc/[0-9]*; do
    case $(readlink "$proc/cwd" 2>/dev/null) in
      "$wine_root/tmp/$name"/server-*) echo "${proc#/proc/}" ;;
    esac
  done
}

# Ends the slot's server and with it every Wine process of the slot; a frozen server
# does not answer -k and is ended by its process id.
stop_slot_server() {
  local dir=$1 pid
  pid=$(slot_server_pid "$dir")
  [ -n "$pid" ] || return 0
  timeout 10 chroot "$wine_root" /usr/bin/env WINEPREFIX="$dir/prefix" \
    /usr/lib/wine/wineserver -k </dev/null >/dev/null 2>&1 || true
  if kill -0 "$pid" 2>/dev/null; then
    kill -9 "$pid" 2>/dev/null
    for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  fi
}

stop_slots() {
  local dir pid m
  for dir in "${slot_dirs[@]}"; do stop_slot_server "$dir"; done
  for pid in "${slot_xvfb_pids[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
  end_rest_of_run
  [ -n "${slot_project:-}" ] && leave_wine_mounts "$slot_project"
  for m in "${slot_mounts[@]}"; do umount "$m" 2>/dev/null || umount -l "$m" 2>/dev/null; done
  for dir in "${slot_dirs[@]}"; do rm -rf "$dir/drives"; done
  slot_xvfb_pids=()
  slot_mounts=()
  slot_dirs=()
}

# runnable_build BUILD32 PROJECT: prints the build whose programs run here. Wine's own
# 32-bit cmd.exe tells whether this kernel runs 32-bit code at all; some hosts switch
# that off. There the same sources are built for x86-64 (build/win64) and run instead,
# and the shipped 32-bit exe can only be checked from its file. Needs slot 0.
runnable_build() {
  local build32=$1 project=$2 win64 log
  if KESTRAND_SLOT=0 "$project/scripts/wine-run.sh" \
       /usr/lib/x86_64-linux-gnu/wine/i386-windows/cmd.exe /c echo 32-bit </dev/null 2>/dev/null \
       | grep -q 32-bit; then
    echo "$build32"
    return 0
  fi
  {
    echo "slots: THIS KERNEL DOES NOT RUN 32-BIT CODE, so the shipped Kestrand.exe cannot run here."
    dmesg 2>/dev/null | grep -i -m 1 'ia-\?32' | sed 's/^/slots: the kernel says: /'
    echo "slots: running the same sources built for x86-64 instead ($project/build/win64)."
  } >&2
  win64=$project/build/win64
  log=$win64.log
  cmake -S "$project" -B "$win64" -DCMAKE_TOOLCHAIN_FILE="$project/cmake/toolchain-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DKESTRAND_TESTS=ON -DKESTRAND_WIN32_EXE="$build32/Kestrand.exe" \
    >"$log" 2>&1 && cmake --build "$win64" -j "$(nproc)" >>"$log" 2>&1 || { cat "$log" >&2; return 1; }
  if grep -q -i 'warning' "$log"; then grep -i 'warning' "$log" >&2; return 1; fi
  echo "$win64"
}
