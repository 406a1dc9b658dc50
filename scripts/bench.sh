#!/bin/sh
# Builds every benchmark (tools/bench_*) and runs each under Wine, printing its figures. The
# figures are ratios against baselines measured in the same run, best of several rounds; on a
# busy machine run it again. BENCH_ARGS, when set, is passed to every benchmark (e.g. rounds).
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build="${WEXLOR_BUILD:-$root/build}"
benches=$(cd "$root/tools" && for dir in bench_*; do [ -f "$dir/CMakeLists.txt" ] && echo "$dir"; done)
sh "$root/scripts/setup.sh"
sh "$root/scripts/build.sh" $benches

export WEXLOR_WINEPREFIX="${WEXLOR_WINEPREFIX:-$build/wineprefix}"
if [ ! -f "$WEXLOR_WINEPREFIX/system.reg" ]; then
  sh "$root/scripts/wine-prefix.sh" "$WEXLOR_WINEPREFIX"
fi
# One wineserver for all of them; every benchmark runs even when one fails.
xvfb-run -a -s "-screen 0 1280x1024x24" sh -c '
  export WINEPREFIX="$WEXLOR_WINEPREFIX"
  wineserver -p
  trap "wineserver -k 2>/dev/null || true" EXIT
  WINEDEBUG=-all wine wineboot >/dev/null 2>&1 </dev/null || true
  root="$1" bin="$2"
  shift 2
  failed=""
  for bench in "$@"; do
    echo "== $bench"
    sh "$root/scripts/wine-run.sh" "$bin/$bench.exe" $BENCH_ARGS </dev/null || failed="$failed $bench"
  done
  if [ -n "$failed" ]; then echo "bench: FAILED:$failed" >&2; exit 1; fi
' sh "$root" "$build/bin" $benches
