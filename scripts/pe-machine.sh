#!/bin/sh
# Prints x86 or x64: the machine a PE file (program or DLL) is built for.
offset=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
machine=$(od -An -tx2 -j$((offset + 4)) -N2 "$1" | tr -d ' ')
case "$machine" in
  8664) echo x64 ;;
  014c) echo x86 ;;
  *) echo "pe-machine: not a PE file of a known machine: $1" >&2; exit 1 ;;
esac
