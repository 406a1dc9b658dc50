#!/bin/sh
# 32-bit Linux programs (the 32-bit Wine loader among them) on this kernel.
#   i386.sh setup — where the kernel runs them itself, nothing; where it refuses them, installs
#                   qemu-i386 from Debian's packages and registers it for i386 ELF files (again
#                   after a reboot, which clears the registration). Safe to run twice.
#   i386.sh mode  — prints "native" or "emulated".
set -e
entry=/proc/sys/fs/binfmt_misc/wexlor-i386
emulator=/usr/local/lib/wexlor/qemu-i386

# A 93-byte i386 ELF program that only calls exit(0).
probe_program() {
  printf '\177\105\114\106\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\135\000\000\000\135\000\000\000\005\000\000\000\000\020\000\000\270\001\000\000\000\061\333\315\200' >"$1"
  chmod 755 "$1"
}

# Tries the probe with our registration switched off, so that the answer is the kernel's own.
runs_natively() {
  probe=$(mktemp)
  probe_program "$probe"
  [ -e "$entry" ] && echo 0 >"$entry"
  status=0
  "$probe" >/dev/null 2>&1 || status=1
  [ -e "$entry" ] && echo 1 >"$entry"
  rm -f "$probe"
  return $status
}

emulated() {
  [ -e "$entry" ] && [ "$(head -n 1 "$entry")" = enabled ]
}

# qemu-user of Debian trixie: its qemu-i386 is static and runs Wine (bookworm's 7.2 hangs in
# wineboot). apt reads the trixie index into a folder of its own, on the mirror this machine uses,
# so the system's sources and packages stay as they are; only that one file is taken from the package.
install_emulator() {
  [ -x "$emulator" ] && return 0
  mirror=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources 2>/dev/null |
    grep -E '^[[:space:]]*(deb|URIs:)' | grep -o 'https\?://[^ ]*/debian/\?' | grep -v security | head -n 1)
  if [ -z "$mirror" ]; then
    echo "i386.sh: this kernel runs no 32-bit programs, and the apt sources of this machine name no Debian mirror to fetch qemu-user from; add one to /etc/apt/sources.list and run again." >&2
    return 1
  fi
  work=$(mktemp -d)
  cat >"$work/trixie.sources" <<EOF
Types: deb
URIs: $mirror
Suites: trixie
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  mkdir -p "$work/lists/partial" "$work/cache/archives/partial"
  set -- -o Dir::Etc::SourceList="$work/trixie.sources" -o Dir::Etc::SourceParts=/nonexistent \
    -o Dir::State::Lists="$work/lists" -o Dir::Cache="$work/cache" -o APT::Architectures::=amd64 \
    -o APT::Sandbox::User=root -qq
  apt-get "$@" update
  (cd "$work" && apt-get "$@" download qemu-user)
  mkdir -p "$(dirname "$emulator")"
  dpkg-deb --fsys-tarfile "$work"/qemu-user_*.deb | tar -xO ./usr/bin/qemu-i386 >"$emulator.new"
  chmod 755 "$emulator.new"
  mv "$emulator.new" "$emulator"
  rm -rf "$work"
}

register_emulator() {
  mountpoint -q /proc/sys/fs/binfmt_misc || mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  [ -e "$entry" ] && echo -1 >"$entry"
  # Flag F opens the emulator now, so it serves every later exec whatever its mount namespace.
  printf '%s' ':wexlor-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$emulator"':F' \
    >/proc/sys/fs/binfmt_misc/register
}

case "$1" in
  setup)
    if runs_natively; then
      # A registration left from an earlier kernel would hide the native one.
      [ -e "$entry" ] && echo -1 >"$entry"
      exit 0
    fi
    install_emulator
    emulated || register_emulator
    probe=$(mktemp)
    probe_program "$probe"
    "$probe" || { rm -f "$probe"; echo "i386: the emulator does not run 32-bit programs" >&2; exit 1; }
    rm -f "$probe"
    echo "This kernel runs no 32-bit programs: the 32-bit half (Wine's 32-bit loader, Wexlor.wcx and its tests) runs under qemu-i386 user-mode emulation."
    ;;
  mode)
    if emulated; then echo emulated; else echo native; fi
    ;;
  *)
    echo "usage: i386.sh setup|mode" >&2
    exit 2
    ;;
esac
