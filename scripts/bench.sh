#!/bin/sh
# Builds every benchmark (tools/bench_*) and mutation loop (tools/fuzz_*, tools/tar_mutate) for
# both targets and runs each under Wine in its target's prefix, printing its figures. Benchmark
# figures are ratios against baselines measured in the same run, best of several rounds; on a
# busy machine run it again. BENCH_ARGS, when set, is passed to every benchmark (e.g. rounds);
# the mutation loops run with their defaults. WEXLOR_TARGETS (e.g. "x64") runs one target.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build="${WEXLOR_BUILD:-$root/build}"
export WEXLOR_TARGETS="${WEXLOR_TARGETS:-x86 x64}"
benches=$(cd "$root/tools" && for dir in bench_*; do [ -f "$dir/CMakeLists.txt" ] && echo "$dir"; done)
loops=$(cd "$root/tools" && for dir in fuzz_* tar_mutate; do [ -f "$dir/CMakeLists.txt" ] && echo "$dir"; done)
sh "$root/scripts/setup.sh"
sh "$root/scripts/build.sh" $benches $loops wcxhost

for arch in $WEXLOR_TARGETS; do
  if [ ! -f "$build/$arch/wineprefix/system.reg" ]; then
    sh "$root/scripts/wine-prefix.sh" "$build/$arch/wineprefix" "$arch"
  fi
done
# One wineserver per target while its programs run; every program runs even when one fails.
export WEXLOR_BENCHES="$benches" WEXLOR_LOOPS="$loops"
xvfb-run -a -s "-screen 0 1280x1024x24" sh -c '
  failed=""
  for arch in $WEXLOR_TARGETS; do
    export WEXLOR_WINEPREFIX="$2/$arch/wineprefix"
    WINEPREFIX="$WEXLOR_WINEPREFIX" wineserver -p
    WINEPREFIX="$WEXLOR_WINEPREFIX" WINEDEBUG=-all $(sh "$1/scripts/wine-loader.sh" "$arch") wineboot \
      >/dev/null 2>&1 </dev/null || true
    bin="$2/$arch/bin"
    for program in $WEXLOR_BENCHES; do
      echo "== $arch: $program"
      (cd "$bin" && sh "$1/scripts/wine-run.sh" "$bin/$program.exe" $BENCH_ARGS </dev/null) || failed="$failed $arch:$program"
    done
    for program in $WEXLOR_LOOPS; do
      echo "== $arch: $program"
      (cd "$bin" && sh "$1/scripts/wine-run.sh" "$bin/$program.exe" </dev/null) || failed="$failed $arch:$program"
    done
    WINEPREFIX="$WEXLOR_WINEPREFIX" wineserver -k 2>/dev/null || true
  done
  if [ -n "$failed" ]; then echo "bench: FAILED:$failed" >&2; exit 1; fi
' sh "$root" "$build"
