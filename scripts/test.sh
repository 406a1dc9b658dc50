#!/bin/sh
# Installs what is missing, builds, and runs every test under Wine and Xvfb in a fresh prefix.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build="${WEXLOR_BUILD:-$root/build}"
sh "$root/scripts/setup.sh"
sh "$root/scripts/build.sh"
export WEXLOR_WINEPREFIX="$build/wineprefix"
sh "$root/scripts/wine-prefix.sh" "$WEXLOR_WINEPREFIX"
# A second prefix at 144 DPI for the UI tests that CTest runs in it (WEXLOR_WINEPREFIX per test).
export WEXLOR_WINEPREFIX144="$build/wineprefix144"
sh "$root/scripts/wine-prefix.sh" "$WEXLOR_WINEPREFIX144" 144
mkdir -p "$build/artifacts"
# One wineserver for the whole run keeps each test process start cheap.
xvfb-run -a -s "-screen 0 1280x1024x24" sh -c '
  WINEPREFIX="$WEXLOR_WINEPREFIX" wineserver -p
  WINEPREFIX="$WEXLOR_WINEPREFIX144" wineserver -p
  cd "$1" && ctest --output-on-failure -j 2; status=$?
  WINEPREFIX="$WEXLOR_WINEPREFIX" wineserver -k || true
  WINEPREFIX="$WEXLOR_WINEPREFIX144" wineserver -k || true
  exit $status' sh "$build"
