#!/bin/sh
# The main job: install what is missing, build, then under Wine list and extract the sample tar
# through Wexlor.wcx hosting the Tar plugin, and compare every extracted file with its original.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build="${WEXLOR_BUILD:-$root/build}"
sh "$root/scripts/setup.sh"
sh "$root/scripts/build.sh"

bin="$build/bin"
sample="$root/samples/tar/sample"
out="$build/main-out"
export WEXLOR_WINEPREFIX="${WEXLOR_WINEPREFIX:-$build/wineprefix}"
# A prefix is made once and reused; a half-made one (no system.reg) is made again.
if [ ! -f "$WEXLOR_WINEPREFIX/system.reg" ]; then
  sh "$root/scripts/wine-prefix.sh" "$WEXLOR_WINEPREFIX"
fi
rm -rf "$out"

fail() { echo "main: FAILED: $*" >&2; exit 1; }

# One wineserver and display for both runs of the host.
xvfb-run -a -s "-screen 0 1280x1024x24" sh -c '
  set -e
  export WINEPREFIX="$WEXLOR_WINEPREFIX"
  wineserver -p
  trap "wineserver -k 2>/dev/null || true" EXIT
  WINEDEBUG=-all wine wineboot >/dev/null 2>&1 </dev/null || true
  echo "== wcxhost list sample.tar"
  sh "$1/scripts/wine-run.sh" "$2/wcxhost.exe" list "$2/sample.tar"
  echo "== wcxhost extract sample.tar"
  sh "$1/scripts/wine-run.sh" "$2/wcxhost.exe" extract "$2/sample.tar" "$3"
' sh "$root" "$bin" "$out" || fail "wcxhost reported an error"

echo "== comparing with $sample"
list="$build/main-out.list"
(cd "$sample" && find . -type f | sed 's|^\./||') > "$list"
count=0
while IFS= read -r original; do
  extracted="$out/sample/$original"
  [ -f "$extracted" ] || fail "not extracted: $original"
  cmp "$sample/$original" "$extracted" || fail "differs: $original"
  count=$((count + 1))
done < "$list"
[ "$count" -gt 0 ] || fail "the sample folder is empty"
extra=$(cd "$out/sample" && find . -type f | wc -l)
[ "$extra" -eq "$count" ] || fail "extracted $extra files, the sample has $count"
echo "main: OK: $count files listed, extracted and identical to the originals"
