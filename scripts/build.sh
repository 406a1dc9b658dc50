#!/bin/sh
# Configures and builds the module, tools, fixtures and tests for both targets: build/x86 (i686,
# Wexlor.wcx) and build/x64 (x86-64, Wexlor.wcx64). Arguments, when given, are the only targets
# to build; WEXLOR_TARGETS (e.g. "x64") builds one of the two.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build="${WEXLOR_BUILD:-$root/build}"
for arch in ${WEXLOR_TARGETS:-x86 x64}; do
  case "$arch" in
    x86) toolchain="$root/cmake/mingw-i686.cmake" ;;
    x64) toolchain="$root/cmake/mingw-x86_64.cmake" ;;
    *) echo "build: unknown target $arch (x86 or x64)" >&2; exit 1 ;;
  esac
  cmake -S "$root" -B "$build/$arch" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build/$arch" -j "$(nproc)" ${1:+--target} "$@"
done
