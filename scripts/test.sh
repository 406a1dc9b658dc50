#!/bin/sh
# Installs what is missing, builds both targets, and runs every test of each under Wine and Xvfb
# in fresh prefixes: the i686 suite (CTest label x86) in a 32-bit prefix, the x86-64 suite (label
# x64) in a 64-bit one. WEXLOR_CTEST_ARGS (e.g. "-R dialogs") narrows the run while working on
# one part; WEXLOR_TARGETS (e.g. "x64") runs one target.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build="${WEXLOR_BUILD:-$root/build}"
export WEXLOR_TARGETS="${WEXLOR_TARGETS:-x86 x64}"
sh "$root/scripts/setup.sh"
sh "$root/scripts/build.sh"
# Per target: a prefix, and a second one at 144 DPI for the UI tests that CTest runs in it
# (WEXLOR_WINEPREFIX per test).
for arch in $WEXLOR_TARGETS; do
  sh "$root/scripts/wine-prefix.sh" "$build/$arch/wineprefix" "$arch"
  sh "$root/scripts/wine-prefix.sh" "$build/$arch/wineprefix144" "$arch" 144
  mkdir -p "$build/$arch/artifacts"
done
# The 144 DPI prefix gets an X display of its own: two Wine virtual desktops on one screen cover
# each other, and the UI tests read the screen.
rm -f "$build/xvfb144.display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$build/xvfb144.display" >/dev/null 2>&1 &
xvfb144=$!
trap 'kill $xvfb144 2>/dev/null || true' EXIT
for i in $(seq 100); do [ -s "$build/xvfb144.display" ] && break; sleep 0.1; done
export WEXLOR_DISPLAY144=":$(cat "$build/xvfb144.display")"
# The targets one after the other, each with one wineserver per prefix for its whole run (keeps
# each test process start cheap); stopping them closes that target's desktops before the next.
xvfb-run -a -s "-screen 0 1280x1024x24" sh -c '
  status=0
  for arch in $WEXLOR_TARGETS; do
    prefix="$2/$arch/wineprefix"
    prefix144="$2/$arch/wineprefix144"
    wine=$(sh "$1/scripts/wine-loader.sh" "$arch")
    WINEPREFIX="$prefix" wineserver -p
    WINEPREFIX="$prefix144" wineserver -p
    # Start the prefix services and desktop now, detached from ctest: processes Wine starts on
    # demand inherit the output pipe of the test that started them and keep ctest waiting.
    WINEPREFIX="$prefix" WINEDEBUG=-all $wine wineboot >/dev/null 2>&1 </dev/null || true
    DISPLAY="$WEXLOR_DISPLAY144" WINEPREFIX="$prefix144" WINEDEBUG=-all $wine wineboot >/dev/null 2>&1 </dev/null || true
    echo "== $arch: tests of $2/$arch"
    # Under user-mode emulation a fault reaches Wine as another exception code, and a stack
    # overflow ends the process: the tests of how the processor reports faults run natively only.
    exclude=""
    if [ "$arch" = x86 ] && [ "$(sh "$1/scripts/i386.sh" mode)" = emulated ]; then
      exclude="-LE native_faults"
      left=$(cd "$2/$arch" && ctest -N -L native_faults $WEXLOR_CTEST_ARGS | sed -n "s/^ *Test *#[0-9]*: //p" | paste -s -d " " -)
      echo "== x86: left out, as this kernel runs 32-bit programs under qemu user-mode emulation, which does not deliver processor faults as the hardware does: ${left:-none}"
    fi
    # One test at a time: tests read dialog pixels from the screen, and a window or warning box of
    # another test on the same desktop would cover them.
    (cd "$2/$arch" && WEXLOR_WINEPREFIX="$prefix" ctest --output-on-failure -j 1 $exclude $WEXLOR_CTEST_ARGS) || status=1
    WINEPREFIX="$prefix" wineserver -k || true
    WINEPREFIX="$prefix144" wineserver -k || true
  done
  exit $status' sh "$root" "$build"
