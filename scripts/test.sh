#!/bin/sh
# Installs what is missing, builds, and runs every test under Wine and Xvfb in a fresh prefix.
# WEXLOR_CTEST_ARGS (e.g. "-R dialogs") narrows the run while working on one part.
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
# The 144 DPI prefix gets an X display of its own: two Wine virtual desktops on one screen cover
# each other, and the UI tests read the screen.
rm -f "$build/xvfb144.display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$build/xvfb144.display" >/dev/null 2>&1 &
xvfb144=$!
trap 'kill $xvfb144 2>/dev/null || true' EXIT
for i in $(seq 100); do [ -s "$build/xvfb144.display" ] && break; sleep 0.1; done
export WEXLOR_DISPLAY144=":$(cat "$build/xvfb144.display")"
# One wineserver for the whole run keeps each test process start cheap.
xvfb-run -a -s "-screen 0 1280x1024x24" sh -c '
  WINEPREFIX="$WEXLOR_WINEPREFIX" wineserver -p
  WINEPREFIX="$WEXLOR_WINEPREFIX144" wineserver -p
  # Start the prefix services and desktop now, detached from ctest: processes Wine starts on
  # demand inherit the output pipe of the test that started them and keep ctest waiting.
  WINEPREFIX="$WEXLOR_WINEPREFIX" WINEDEBUG=-all wine wineboot >/dev/null 2>&1 </dev/null || true
  DISPLAY="$WEXLOR_DISPLAY144" WINEPREFIX="$WEXLOR_WINEPREFIX144" WINEDEBUG=-all wine wineboot >/dev/null 2>&1 </dev/null || true
  # One test at a time: tests read dialog pixels from the screen, and a window or warning box of another
  # test on the same desktop would cover them.
  cd "$1" && ctest --output-on-failure -j 1 $WEXLOR_CTEST_ARGS; status=$?
  WINEPREFIX="$WEXLOR_WINEPREFIX" wineserver -k || true
  WINEPREFIX="$WEXLOR_WINEPREFIX144" wineserver -k || true
  exit $status' sh "$build"
