# Sourced by the scripts that run Wine. The shipped exe is 32-bit; this machine's kernel
# runs it only through Wine 10's WoW64 mode, which Debian 12 does not have. So Wine
# lives in a Debian 13 (trixie) root of its own, made once with mmdebstrap from
# Debian's archive and remade when its recipe below changes.
#
# ensure_wine_root   makes the root when it is missing or stale (needs root)
# enter_wine_mounts  mounts what Wine needs inside the root; call it only inside a
#                    private mount namespace (see in_private_mounts), so the kernel
#                    undoes every mount when the run ends, however it ends
# in_wine_root CMD   runs CMD inside the root, in the current folder

wine_root=${KESTRAND_WINE_ROOT:-/var/cache/kestrand/wine-root}
# Changing any of these remakes the root.
wine_root_recipe="mmdebstrap trixie amd64,i386 apt no-recommends wine wine64 libwine xvfb
+ i386-windows PE DLLs of libwine:i386 into the amd64 wine"
wine_root_stamp=$wine_root/.kestrand-recipe

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

wine_root_current() {
  [ -f "$wine_root_stamp" ] && [ "$(cat "$wine_root_stamp")" = "$wine_root_recipe" ]
}

ensure_wine_root() {
  wine_root_current && return 0
  local new=$wine_root.new started
  started=$(date +%s)
  echo "wine-root: making the Wine 10 root in $wine_root (about a minute, 2 GB)"
  as_root mkdir -p "$(dirname "$wine_root")"
  # A half-made root from an interrupted run is thrown away, never used.
  refuse_if_mounted "$new" && refuse_if_mounted "$wine_root" || return 1
  as_root rm -rf "$new"
  # WoW64 needs the 32-bit PE DLLs beside the 64-bit ones (WINEDLLPATH is not enough);
  # taken from libwine:i386 without installing its 32-bit Linux half.
  as_root mmdebstrap --mode=root --variant=apt --architectures=amd64,i386 \
    --aptopt='APT::Install-Recommends "false"' --include=wine,wine64,libwine,xvfb \
    --customize-hook='chroot "$1" sh -ec "cd /tmp && apt-get download -q libwine:i386 &&
      dpkg-deb -x libwine_*_i386.deb lw &&
      cp -a lw/usr/lib/i386-linux-gnu/wine/i386-windows/. /usr/lib/x86_64-linux-gnu/wine/i386-windows/ &&
      rm -rf lw libwine_*_i386.deb"' \
    trixie "$new" </dev/null >"$(dirname "$wine_root")/mmdebstrap.log" 2>&1 || {
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
  bind_into_root "$project"
}

# A host folder seen inside the root at its own path.
bind_into_root() {
  [ "$1" != / ] || return 1
  [ -d "$wine_root$1" ] && findmnt -rn "$wine_root$1" >/dev/null && return 0
  mkdir -p "$wine_root$1" && mount --rbind "$1" "$wine_root$1"
}

# The kernel would undo these with the namespace; undoing them here keeps a run that
# is still tidying up from leaving anything behind.
leave_wine_mounts() {
  local project=$1
  umount -R "$wine_root$project" 2>/dev/null || umount -R -l "$wine_root$project" 2>/dev/null
  umount -R "$wine_root/dev" 2>/dev/null || umount -R -l "$wine_root/dev" 2>/dev/null
  umount -R "$wine_root/sys" 2>/dev/null || umount -R -l "$wine_root/sys" 2>/dev/null
  umount "$wine_root/proc" 2>/dev/null || umount -l "$wine_root/proc" 2>/dev/null
  return 0
}

in_wine_root() {
  chroot "$wine_root" /bin/sh -c 'cd "$1" && shift && exec "$@"' sh "$PWD" "$@"
}
