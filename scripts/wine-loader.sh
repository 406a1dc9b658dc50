#!/bin/sh
# Prints the Wine loader for a target: x64 programs and prefixes need the 64-bit one.
if [ "$1" = x64 ]; then echo /usr/lib/wine/wine64; else echo wine; fi
