#!/bin/sh
# The main job: install what is missing, build both targets, then under Wine list and extract the
# sample tar with each target's wcxhost: the 32-bit one through Wexlor.wcx hosting the 32-bit Tar
# plugin, the 64-bit one through Wexlor.wcx64 hosting the 64-bit Tar plugin, and compare every
# extracted file with its original both times. Each then adds the sample folder to a copy of the
# sample tar and deletes one entry from it, and the system's tar checks the copy's entries and
# bytes. Last, write the install package from both builds and check it.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build="${WEXLOR_BUILD:-$root/build}"
export WEXLOR_TARGETS="x86 x64"
sh "$root/scripts/setup.sh"
sh "$root/scripts/build.sh"

sample="$root/samples/tar/sample"
# The entry the delete run takes out of the packed copy, as tar and as the file manager name it.
deleted=sample/data/numbers.csv
deleted_name='sample\data\numbers.csv'
fail() { echo "main: FAILED: $*" >&2; exit 1; }

for arch in $WEXLOR_TARGETS; do
  # A prefix is made once and reused; a half-made one (no system.reg) is made again.
  if [ ! -f "$build/$arch/wineprefix/system.reg" ]; then
    sh "$root/scripts/wine-prefix.sh" "$build/$arch/wineprefix" "$arch"
  fi
  rm -rf "$build/$arch/main-out" "$build/$arch/main-pack-out"
done

# One display for all runs of the host, one wineserver per prefix.
xvfb-run -a -s "-screen 0 1280x1024x24" sh -c '
  set -e
  for arch in $WEXLOR_TARGETS; do
    export WEXLOR_WINEPREFIX="$2/$arch/wineprefix"
    WINEPREFIX="$WEXLOR_WINEPREFIX" wineserver -p
    WINEPREFIX="$WEXLOR_WINEPREFIX" WINEDEBUG=-all $(sh "$1/scripts/wine-loader.sh" "$arch") wineboot \
      >/dev/null 2>&1 </dev/null || true
  done
  trap "for arch in \$WEXLOR_TARGETS; do WINEPREFIX=\"$2/\$arch/wineprefix\" wineserver -k 2>/dev/null || true; done" EXIT
  for arch in $WEXLOR_TARGETS; do
    export WEXLOR_WINEPREFIX="$2/$arch/wineprefix"
    bin="$2/$arch/bin"
    module=$(ls "$bin" | grep "^Wexlor\.wcx")
    echo "== $arch: wcxhost list sample.tar (through $module)"
    sh "$1/scripts/wine-run.sh" "$bin/wcxhost.exe" list "$bin/sample.tar"
    echo "== $arch: wcxhost extract sample.tar"
    sh "$1/scripts/wine-run.sh" "$bin/wcxhost.exe" extract "$bin/sample.tar" "$2/$arch/main-out"
    # Below a folder the archive does not have yet, so that every added entry is new.
    packed="$2/$arch/main-pack.tar"
    cp "$bin/sample.tar" "$packed"
    echo "== $arch: wcxhost pack --sub added main-pack.tar (a copy of sample.tar) sample"
    sh "$1/scripts/wine-run.sh" "$bin/wcxhost.exe" --wcx "$bin/$module" pack --sub added "$packed" \
      "$1/samples/tar" sample
    printf "== %s: wcxhost delete main-pack.tar %s\n" "$arch" "$3"
    sh "$1/scripts/wine-run.sh" "$bin/wcxhost.exe" --wcx "$bin/$module" delete "$packed" "$3"
  done
' sh "$root" "$build" "$deleted_name" || fail "wcxhost reported an error"

list="$build/main-out.list"
(cd "$sample" && find . -type f | sed 's|^\./||') > "$list"
for arch in $WEXLOR_TARGETS; do
  out="$build/$arch/main-out"
  echo "== $arch: comparing with $sample"
  count=0
  while IFS= read -r original; do
    extracted="$out/sample/$original"
    [ -f "$extracted" ] || fail "$arch: not extracted: $original"
    cmp "$sample/$original" "$extracted" || fail "$arch: differs: $original"
    count=$((count + 1))
  done < "$list"
  [ "$count" -gt 0 ] || fail "the sample folder is empty"
  extra=$(cd "$out/sample" && find . -type f | wc -l)
  [ "$extra" -eq "$count" ] || fail "$arch: extracted $extra files, the sample has $count"
  echo "main: $arch: $count files listed, extracted and identical to the originals"
done

# The packed copies as the system's tar reads them: the sample's entries less the deleted one, the
# whole sample again below added/, and every file's bytes those of its original.
for arch in $WEXLOR_TARGETS; do
  packed="$build/$arch/main-pack.tar"
  out="$build/$arch/main-pack-out"
  echo "== $arch: checking main-pack.tar with tar"
  {
    tar --quoting-style=literal -tf "$build/$arch/bin/sample.tar" | grep -vxF "$deleted"
    echo added/
    (cd "$sample/.." && find sample -type d -printf 'added/%p/\n' -o -type f -printf 'added/%p\n')
  } | LC_ALL=C sort > "$build/$arch/main-pack.expected"
  tar --quoting-style=literal -tf "$packed" > "$build/$arch/main-pack.listed" ||
    fail "$arch: tar cannot list main-pack.tar"
  LC_ALL=C sort -o "$build/$arch/main-pack.listed" "$build/$arch/main-pack.listed"
  if ! cmp -s "$build/$arch/main-pack.expected" "$build/$arch/main-pack.listed"; then
    diff -u "$build/$arch/main-pack.expected" "$build/$arch/main-pack.listed" >&2 || true
    fail "$arch: main-pack.tar does not hold the expected entries (- expected, + listed)"
  fi
  mkdir -p "$out"
  tar -xf "$packed" -C "$out" || fail "$arch: tar cannot extract main-pack.tar"
  while IFS= read -r original; do
    cmp "$sample/$original" "$out/added/sample/$original" || fail "$arch: added entry differs: added/sample/$original"
    [ "sample/$original" = "$deleted" ] && continue
    cmp "$sample/$original" "$out/sample/$original" || fail "$arch: kept entry differs: sample/$original"
  done < "$list"
  [ ! -e "$out/$deleted" ] || fail "$arch: the deleted entry is still there: $deleted"
  echo "main: $arch: the sample added and $deleted deleted through the module; tar reads both"
done

# The install package from both builds, then checked as a file manager installs it.
dist="$build/dist"
rm -rf "$dist"
sh "$root/scripts/package.sh" "$dist" "$build/x86/bin" "$build/x64/bin" || fail "the install package was not made"
WEXLOR_WINEPREFIX="$build/x86/wineprefix" sh "$root/scripts/check-package.sh" "$dist"/Wexlor-*.zip "$build/x86/bin/verinfo.exe" ||
  fail "the install package"
echo "main: OK: both targets, and the install package"
