#!/bin/sh
# Runs a Windows program of the build under Wine with the test prefix (made by scripts/test.sh).
export WINEPREFIX="${WEXLOR_WINEPREFIX:-${HOME}/.wine-wexlor}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
exec wine "$@"
