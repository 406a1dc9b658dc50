#!/bin/sh
# Installs what building and testing need, when missing. Safe to run again.
set -e
if [ "$(id -u)" != 0 ]; then echo "run as root" >&2; exit 1; fi
missing=""
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  missing="update"
fi
for package in cmake make g++-mingw-w64-i686 g++-mingw-w64-x86-64-posix wine wine32:i386 wine64 xvfb xauth \
    googletest tar locales zip unzip; do
  dpkg -s "$package" >/dev/null 2>&1 || missing="$missing $package"
done
if [ -n "$missing" ]; then
  apt-get update -qq
  packages=$(echo "$missing" | sed 's/update//')
  if [ -n "$(echo "$packages" | tr -d ' ')" ]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $packages
  fi
fi
# The 32-bit Wine loader needs a kernel that runs 32-bit programs, or an emulator in its place.
sh "$(dirname "$0")/i386.sh" setup
