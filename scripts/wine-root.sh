# Sourced by the scripts that run Wine. The shipped exe is 32-bit. It runs under
# Debian 13's Wine 10 with its 32-bit Linux loader (wine32:i386); where the kernel runs
# no 32-bit code, that loader's processes go through the root's qemu-i386. wineserver
# and the 64-bit Wine processes always run natively. Debian 12's own Wine and QEMU are
# too old for either way, so Wine lives in a Debian 13 (trixie) root of its own, made
# once with mmdebstrap from Debian's archive and remade when its recipe below changes.
#
# ensure_wine_root   makes the root when it is missing or stale (needs root)
# enter_wine_mounts  mounts what Wine needs inside the root and makes 32-bit code run;
#                    call it only inside a private mount namespace (in_private_mounts),
#                    so the kernel undoes every mount when the run ends, however it ends
# leave_wine_mounts  undoes both
# in_wine_root CMD   runs CMD inside the root, in the current folder

wine_root=${KESTRAND_WINE_ROOT:-/var/cache/kestrand/wine-root}
# Changing any of these remakes the root.
wine_root_recipe="mmdebstrap trixie amd64,i386 apt no-recommends wine wine32:i386 wine64 qemu-user xvfb"
wine_root_stamp=$wine_root/.kestrand-recipe

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

wine_root_current() {
  [ -f "$wine_root_stamp" ] && [ "$(cat "$wine_root_stamp")" = "$wine_root_recipe" ]
}

# A run holds the root shared for as long as it lasts: the lock's descriptor goes down
# to every process of the run. Remaking the root needs it alone. (A run's mounts are
# private, so refuse_if_mounted cannot see that another run is using the root.)
ensure_wine_root() {
  as_root mkdir -p "$(dirname "$wine_root")"
  as_root touch "$wine_root.lock"
  exec 7<"$wine_root.lock"
  if ! wine_root_current; then
    flock -x 7
    wine_root_current || make_wine_root || return 1
  fi
  flock -s 7
}

make_wine_root() {
  local new=$wine_root.new started
  started=$(date +%s)
  echo "wine-root: making the Wine 10 root in $wine_root (one to six minutes, 2 GB)"
  # A half-made root from an interrupted run is thrown away, never used.
  refuse_if_mounted "$new" && refuse_if_mounted "$wine_root" || return 1
  as_root rm -rf "$new"
  # No i386 PE DLLs may go into the 64-bit Wine: with them wine64 switches to its
  # WoW64 mode, which needs the kernel's 32-bit mode.
  as_root mmdebstrap --mode=root --variant=apt --architectures=amd64,i386 \
    --aptopt='APT::Install-Recommends "false"' --include=wine,wine32:i386,wine64,qemu-user,xvfb \
    trixie "$new" </dev/null >"$wine_root.log" 2>&1 || {
      echo "wine-root: mmdebstrap failed, see $(dirname "$wine_root")/mmdebstrap.log" >&2
      return 1
    }
  echo "$wine_root_recipe" | as_root tee "$new/.kestrand-recipe" >/dev/null
  as_root rm -rf "$wine_root"
  as_root mv "$new" "$wine_root"
  echo "wine-root: ready in $(( $(date +%s) - started )) s"
}

# Never delete a tree that has something mounted below it (a bound /dev above all).
refuse_if_mounted() {
  [ -e "$1" ] || return 0
  if findmnt -rn -o TARGET | grep -q "^$1\(/\|$\)"; then
    echo "wine-root: $1 has mounts below it; not touching it" >&2
    return 1
  fi
}

# Re-runs the calling script inside a private mount namespace, once.
in_private_mounts() {
  if [ -z "${KESTRAND_PRIVATE_MOUNTS:-}" ]; then
    export KESTRAND_PRIVATE_MOUNTS=1
    exec unshare --mount --propagation private "$@"
  fi
}

# Wine needs /proc, /dev and /sys; the project folder is bound at its own path, so a Z: path
# names the same file inside the root and out. The root's /tmp is its own.
enter_wine_mounts() {
  local project=$1
  [ -n "${KESTRAND_PRIVATE_MOUNTS:-}" ] || { echo "wine-root: not in a private mount namespace" >&2; return 1; }
  mount -t proc proc "$wine_root/proc"
  mount --rbind /dev "$wine_root/dev"
  mount --rbind /sys "$wine_root/sys"
  bind_into_root "$project" && enable_i386
}

# Where the kernel runs no i386 program (dmesg: "IA-32 emulation off"), this run hands
# them to the root's qemu-i386 through a binfmt_misc entry of its own, named after its
# process, so that runs side by side each remove only their own. The F flag opens the
# interpreter now, so the entry also serves inside the root. binfmt_misc is mounted, if
# need be, in this run's private mount namespace only.
binfmt=/proc/sys/fs/binfmt_misc
i386_magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
i386_mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
i386_entry=""
i386_how=""  # "natively" or "through qemu-i386", once enable_i386 has run
i386_fast=""  # "in force" or "off" on the native road, once enable_i386 has run

i386_runs() { chroot "$wine_root" /lib/ld-linux.so.2 --version >/dev/null 2>&1; }

# Another entry (a run beside this one, or the host's own qemu) may be what runs i386
# code; it can go at any moment, so this run then relies on an entry of its own.
foreign_i386_entry() { grep -q -s -x 'magic 7f454c4601010100000000000000000002000300' "$binfmt"/*; }

# binfmt_misc entries are host-wide, but a user namespace can mount an instance of its own
# (Linux 6.7 on), and its programs then see only that one. On the native road every Wine
# program of the run is started this way, in an empty instance: an entry that another
# run registers for qemu-i386 would otherwise take this run's i386 processes from then on.
in_own_binfmt() {
  unshare --user --map-root-user --mount --propagation private /bin/sh -c \
    'mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null && exec "$@"' sh "$@"
}

enable_i386() {
  if [ ! -e "$binfmt/register" ]; then
    mount -t binfmt_misc binfmt_misc "$binfmt" || { echo "wine-root: cannot mount binfmt_misc" >&2; return 1; }
  fi
  export KESTRAND_WINE_PRELOAD="" KESTRAND_OWN_BINFMT=""
  # KESTRAND_I386=qemu takes the qemu road even where the kernel could do without.
  if [ "${KESTRAND_I386:-}" != qemu ]; then
    if in_own_binfmt chroot "$wine_root" /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
      KESTRAND_OWN_BINFMT=1
      enable_native_i386
      return
    fi
    if ! foreign_i386_entry && i386_runs; then
      enable_native_i386
      return
    fi
  fi
  i386_entry=kestrand-i386-$$
  printf ':%s:M::%s:%s:%s:F' "$i386_entry" "$i386_magic" "$i386_mask" "$wine_root/usr/bin/qemu-i386" \
    >"$binfmt/register" || { i386_entry=""; echo "wine-root: cannot register qemu-i386 for i386 programs" >&2; return 1; }
  if ! i386_runs; then
    echo "wine-root: i386 programs do not run even through qemu-i386" >&2
    return 1
  fi
  i386_how="through qemu-i386"
  echo "wine-root: 32-bit code runs through qemu-i386 (this kernel runs none itself, or was told not to)"
}

# The preload of scripts/fast-syscalls.c, built on the host into the root (so every run
# of every worktree finds it there, like the prefix) and built again when its source
# changes or the root is remade. Runs side by side build it one at a time; a library is
# replaced by a rename, so a process that has the old one mapped keeps it.
fast_syscalls_source=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/fast-syscalls.c
fast_syscalls_dir=/var/lib/kestrand/fast-syscalls  # as seen inside the root
fast_syscalls_name=libkestrand-fast-syscalls.so

ensure_fast_syscalls() {
  local dir=$wine_root$fast_syscalls_dir stamp status=0 bits lib
  stamp=$(sha256sum <"$fast_syscalls_source" | cut -d' ' -f1)
  mkdir -p "$dir"
  exec 9>"$dir.lock"
  flock 9
  if [ "$(cat "$dir/source.sha256" 2>/dev/null)" != "$stamp" ]; then
    for bits in 32:i386 64:x86_64; do
      lib=$dir/lib/${bits#*:}-linux-gnu
      mkdir -p "$lib"
      gcc -m"${bits%%:*}" -O2 -fPIC -shared -nostdlib -Wall -Wextra -Werror \
        -o "$lib/$fast_syscalls_name.new" "$fast_syscalls_source" &&
        mv -f "$lib/$fast_syscalls_name.new" "$lib/$fast_syscalls_name" || status=1
    done
    [ $status -eq 0 ] && echo "$stamp" >"$dir/source.sha256"
  fi
  exec 9>&-
  [ $status -eq 0 ] || echo "wine-root: cannot build the fast kernel entry ($fast_syscalls_source)" >&2
  return $status
}

enable_native_i386() {
  i386_how=natively
  if [ "${KESTRAND_FAST_SYSCALLS:-1}" = 0 ]; then
    i386_fast=off
    echo "wine-root: 32-bit code runs natively on this kernel; fast kernel entry off" \
      "(KESTRAND_FAST_SYSCALLS=0): after a first thread every read and write takes int \$0x80"
    return 0
  fi
  ensure_fast_syscalls || return 1
  i386_fast="in force"
  # ld.so puts lib/i386-linux-gnu or lib/x86_64-linux-gnu for $LIB, so each process
  # loads the twin of its own word size.
  KESTRAND_WINE_PRELOAD=$fast_syscalls_dir/'$LIB'/$fast_syscalls_name
  echo "wine-root: 32-bit code runs natively on this kernel; fast kernel entry in force" \
    "(scripts/fast-syscalls.c preloaded; KESTRAND_FAST_SYSCALLS=0 turns it off)"
}

disable_i386() {
  [ -n "$i386_entry" ] && [ -e "$binfmt/$i386_entry" ] && echo -1 >"$binfmt/$i386_entry"
  i386_entry=""
}

# A host folder seen inside the root at its own path.
bind_into_root() {
  [ -d "$wine_root$1" ] && findmnt -rn "$wine_root$1" >/dev/null && return 0
  mkdir -p "$wine_root$1" && mount --rbind "$1" "$wine_root$1"
}

# Prints where the host folder $1 is seen inside the root, binding it there: at its
# own path, except for a folder that the root needs for itself (Wine keeps its
# server in /tmp), which goes under /mnt/host.
host_folder_in_root() {
  local inside=$1
  case $1 in
    /|/tmp|/var|/usr|/etc|/bin|/lib|/lib64|/sbin|/opt|/srv|/mnt|/proc|/dev|/sys|/run|/root|/boot) inside=/mnt/host$1 ;;
  esac
  inside=${inside%/}
  [ -d "$wine_root$inside" ] && findmnt -rn "$wine_root$inside" >/dev/null && { echo "$inside"; return 0; }
  mkdir -p "$wine_root$inside" && mount --rbind "$1" "$wine_root$inside" && echo "$inside"
}

# The kernel would undo these with the namespace; undoing them here keeps a run that
# is still tidying up from leaving anything behind.
leave_wine_mounts() {
  local project=$1
  disable_i386
  umount -R "$wine_root$project" 2>/dev/null || umount -R -l "$wine_root$project" 2>/dev/null
  umount -R "$wine_root/dev" 2>/dev/null || umount -R -l "$wine_root/dev" 2>/dev/null
  umount -R "$wine_root/sys" 2>/dev/null || umount -R -l "$wine_root/sys" 2>/dev/null
  umount "$wine_root/proc" 2>/dev/null || umount -l "$wine_root/proc" 2>/dev/null
  return 0
}

in_wine_root() {
  chroot "$wine_root" /bin/sh -c 'cd "$1" && shift && exec "$@"' sh "$PWD" "$@"
}
