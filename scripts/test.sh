#!/bin/sh
# Installs what is missing, builds, and runs every test under Wine and Xvfb in a fresh prefix.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build="${WEXLOR_BUILD:-$root/build}"
sh "$root/scripts/setup.sh"
sh "$root/scripts/build.sh"
export WEXLOR_WINEPREFIX="$build/wineprefix"
sh "$root/scripts/wine-prefix.sh" "$WEXLOR_WINEPREFIX"
# One wineserver for the whole run keeps each test process start cheap.
xvfb-run -a -s "-screen 0 1280x1024x24" sh -c '
  WINEPREFIX="$WEXLOR_WINEPREFIX" wineserver -p
  # Start the prefix services and desktop now, detached from ctest: processes Wine starts on
  # demand inherit the output pipe of the test that started them and keep ctest waiting.
  WINEPREFIX="$WEXLOR_WINEPREFIX" WINEDEBUG=-all wine wineboot >/dev/null 2>&1 </dev/null || true
  cd "$1" && ctest --output-on-failure -j 2; status=$?
  WINEPREFIX="$WEXLOR_WINEPREFIX" wineserver -k || true
  exit $status' sh "$build"
