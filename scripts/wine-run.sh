#!/bin/sh
# Runs a Windows program of the build under Wine with the test prefix (made by scripts/test.sh):
# a 64-bit program with the 64-bit loader, a 32-bit one with the 32-bit loader, as its PE header
# says. The prefix must suit the program: a 32-bit prefix runs 32-bit programs only.
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ "$(sh "$(dirname "$0")/pe-machine.sh" "$1")" = x64 ]; then
  export WINEPREFIX="${WEXLOR_WINEPREFIX:-${HOME}/.wine-wexlor64}"
  exec /usr/lib/wine/wine64 "$@"
fi
export WINEPREFIX="${WEXLOR_WINEPREFIX:-${HOME}/.wine-wexlor}"
exec wine "$@"
