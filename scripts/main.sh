#!/bin/sh
# The main job: install what is missing, build, then load Wexlor.wcx under Wine.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build="${WEXLOR_BUILD:-$root/build}"
sh "$root/scripts/setup.sh"
sh "$root/scripts/build.sh"
echo "Built $build/bin/Wexlor.wcx"
