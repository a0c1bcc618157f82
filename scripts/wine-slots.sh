# Sourced by test.sh, run.sh and bench.sh, after wine-root.sh and inside a private mount
# namespace. A slot is what one Wine program and its helpers need to themselves: a
# Wine prefix with its own wineserver, an Xvfb display, the drives R: (a folder),
# S: (a 4 MiB tmpfs) and F: (a disk that fakes its size: it claims 64 MiB, keeps 2 MiB
# and gives back other bytes past that; tests/fake_disk/fake_disk.py) and a folder for
# screenshots. Two tests in two slots cannot take each other's focus, screen or server
# (Wine 10's server hangs when two 32-bit programs drive splits in one prefix at once).
#
# start_slots N WINE_DIR PROJECT   makes slots 0..N-1 under WINE_DIR, with a watcher
#                                  that takes the screenshots asked for in them
# stop_slots                       stops what start_slots started; safe to call twice

slot_xvfb_pids=()
slot_mounts=()
slot_dirs=()
shooter_pid=""
fake_drive_pids=()
fake_drive_mounts=()
fake_drive_keeps=$((2 * 1024 * 1024))
fake_drive_claims=$((64 * 1024 * 1024))

# The fake disk's daemon runs on the host's own Python (Debian's python3-fusepy) and ends
# when the shell that started it does. allow_other: the Wine programs may run in a user
# namespace of their own (in_own_binfmt).
start_fake_drive() {
  local mnt=$1 python=/usr/bin/python3
  "$python" "$slot_project/tests/fake_disk/fake_disk.py" "$mnt" "$fake_drive_keeps" "$fake_drive_claims" \
    </dev/null >"$mnt.log" 2>&1 &
  fake_drive_pids+=($!)
  fake_drive_mounts+=("$mnt")
  for _ in $(seq 1 100); do
    # Mounted, and answering with its own figures.
    case $(findmnt -rn -o FSTYPE -M "$mnt" 2>/dev/null) in
      fuse*) [ "$(timeout 10 stat -f -c %b "$mnt")" = $((fake_drive_claims / 4096)) ] && return 0 ;;
    esac
    kill -0 "${fake_drive_pids[-1]}" 2>/dev/null || break
    sleep 0.1
  done
  echo "slots: the fake disk did not mount at $mnt:" >&2
  cat "$mnt.log" >&2
  return 1
}

# Unmounts the fake disks (lazily when busy) and ends their daemons by their ids.
stop_fake_drives() {
  local m pid
  for m in "${fake_drive_mounts[@]}"; do umount "$m" 2>/dev/null || umount -l "$m" 2>/dev/null; done
  for pid in "${fake_drive_pids[@]}"; do
    kill "$pid" 2>/dev/null
    for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  fake_drive_pids=()
  fake_drive_mounts=()
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

# The Wine prefix is made once per root and kept in it (half a minute, 1.4 GB); each
# slot works on a copy of its own, remade when the kept one is. Runs side by side make
# it one at a time.
kept_prefix=/var/lib/kestrand/prefix  # as seen inside the root

ensure_kept_prefix() {
  local dir=$wine_root$kept_prefix started
  mkdir -p "$(dirname "$dir")"
  exec 8>"$dir.lock"
  flock 8
  if [ "$(cat "$dir/.kestrand-ready" 2>/dev/null | head -n 1)" != "$wine_root_recipe" ]; then
    started=$(date +%s)
    echo "slots: making the Wine prefix in $dir (once per root; minutes)"
    rm -rf "$dir"
    kept_wine /usr/lib/wine/wine64 wineboot -u </dev/null >/dev/null 2>&1
    # Without a window manager every hide or destroy of a window stalls 2 s;
    # unmanaged windows do not.
    kept_wine /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\X11 Driver' \
      /v Managed /d N /f </dev/null >/dev/null 2>&1
    local status=$?
    # The registry reaches its files when the server ends of itself.
    timeout 300 chroot "$wine_root" /usr/bin/env WINEPREFIX="$kept_prefix" /usr/lib/wine/wineserver -w \
      </dev/null >/dev/null 2>&1 || status=1
    if [ $status -ne 0 ] || [ ! -f "$dir/system.reg" ]; then
      echo "slots: the Wine prefix could not be made" >&2
      exec 8>&-
      return 1
    fi
    # The second line tells the slots' copies which making they come from.
    printf '%s\n%s\n' "$wine_root_recipe" "$(date +%s)" >"$dir/.kestrand-ready"
    echo "slots: Wine prefix made in $(( $(date +%s) - started )) s"
  fi
  exec 8>&-
}

kept_wine() {
  chroot "$wine_root" /usr/bin/env WINEPREFIX="$kept_prefix" WINEDEBUG=-all \
    WINEDLLOVERRIDES=mscoree,mshtml= "$@"
}

prepare_slot_prefix() {
  local dir=$1 kept=$wine_root$kept_prefix
  if ! cmp -s "$kept/.kestrand-ready" "$dir/prefix/.kestrand-ready"; then
    rm -rf "$dir/prefix"
    cp -a "$kept" "$dir/prefix" || return 1
    # Wine names its server folder here; two copies sharing it would share a server.
    rm -f "$dir/prefix/wineserver"
  fi
  ln -sfn "$dir/drives/r" "$dir/prefix/dosdevices/r:"
  ln -sfn "$dir/drives/s" "$dir/prefix/dosdevices/s:"
  ln -sfn "$dir/drives/f" "$dir/prefix/dosdevices/f:"
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
    mkdir -p "$dir/drives/r" "$dir/drives/s" "$dir/drives/f" "$dir/shots"
    mount -t tmpfs -o size=4m tmpfs "$dir/drives/s" || return 1
    slot_mounts+=("$dir/drives/s")
    start_fake_drive "$dir/drives/f" || return 1
  done
  # After the drives, so that the root sees them.
  enter_wine_mounts "$project" || return 1
  for dir in "${slot_dirs[@]}"; do start_slot_display "$dir" || return 1; done
  ensure_kept_prefix || return 1
  for dir in "${slot_dirs[@]}"; do prepare_slot_prefix "$dir" & pids+=($!); done
  for s in "${pids[@]}"; do wait "$s" || status=1; done
  [ $status -eq 0 ] || { echo "slots: a Wine prefix could not be copied" >&2; return 1; }
  start_shooter
}

# A program inside Wine asks for a screenshot by writing NAME.req into its slot's shots
# folder (KESTRAND_SCREENSHOTS), holding the geometry WxH+X+Y; ImageMagick shoots that
# slot's display into NAME.png and NAME.bmp and answers with NAME.done.
start_shooter() {
  (
    while true; do
      for req in "$KESTRAND_WINE_DIR"/slot*/shots/*.req; do
        [ -e "$req" ] || continue
        base=${req%.req}
        display=$(cat "${req%/shots/*}/display")
        DISPLAY=$display import -window root -crop "$(head -n 1 "$req")" +repage "$base.png" 2>/dev/null
        convert "$base.png" -type TrueColor "BMP3:$base.bmp" 2>/dev/null
        rm -f "$req"
        touch "$base.done"
      done
      sleep 0.05
    done
  ) &
  shooter_pid=$!
  disown "$shooter_pid"  # ended by its id in stop_slots; no job notice then
}

# Every process of this run shares its private mount namespace, and no other process
# does, but for the Wine programs in a binfmt_misc of their own (in_own_binfmt), whose
# namespaces are their own and which carry this run's KESTRAND_WINE_DIR: whatever is left
# of the run (a hung wineserver, a test it froze) is ended by its process id.
end_rest_of_run() {
  local ns pid mark=KESTRAND_WINE_DIR=${KESTRAND_WINE_DIR:-}
  ns=$(readlink /proc/$$/ns/mnt)
  [ -n "$ns" ] && [ "$ns" != "$(readlink /proc/1/ns/mnt)" ] || return 0
  for pid in $(ls /proc); do
    case $pid in *[!0-9]*) continue ;; esac
    [ "$pid" = $$ ] || [ "$pid" = "$BASHPID" ] && continue
    if [ "$(readlink "/proc/$pid/ns/mnt" 2>/dev/null)" = "$ns" ] ||
       { [ -n "${KESTRAND_OWN_BINFMT:-}" ] && [ "$mark" != KESTRAND_WINE_DIR= ] &&
         tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qxF "$mark"; }; then
      kill -9 "$pid" 2>/dev/null
    fi
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
  [ -n "$shooter_pid" ] && kill -9 "$shooter_pid" 2>/dev/null
  shooter_pid=""
  for dir in "${slot_dirs[@]}"; do stop_slot_server "$dir"; done
  for pid in "${slot_xvfb_pids[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
  stop_fake_drives
  end_rest_of_run
  [ -n "${slot_project:-}" ] && leave_wine_mounts "$slot_project"
  for m in "${slot_mounts[@]}"; do umount "$m" 2>/dev/null || umount -l "$m" 2>/dev/null; done
  for dir in "${slot_dirs[@]}"; do rm -rf "$dir/drives"; done
  slot_xvfb_pids=()
  slot_mounts=()
  slot_dirs=()
}
