#!/bin/sh
# Runs a Windows program of the build under Wine with the test prefix (made by scripts/test.sh).
# A 64-bit program runs with the 64-bit loader in WEXLOR_WINEPREFIX64, a 32-bit one with the
# 32-bit loader in WEXLOR_WINEPREFIX; the program's PE header decides.
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ "$(sh "$(dirname "$0")/pe-machine.sh" "$1")" = x64 ]; then
  export WINEPREFIX="${WEXLOR_WINEPREFIX64:-${HOME}/.wine-wexlor64}"
  exec /usr/lib/wine/wine64 "$@"
fi
export WINEPREFIX="${WEXLOR_WINEPREFIX:-${HOME}/.wine-wexlor}"
exec wine "$@"
