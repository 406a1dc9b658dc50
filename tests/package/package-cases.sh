#!/bin/sh
# Makes an install package with scripts/package.sh from stand-in build trees, checks that
# scripts/check-package.sh passes it, then that it fails each package below with the reason
# given. Arguments: source root, bin folder of the 32-bit build, a scratch folder.
root="$1" bin="$2" work="$3"
check="$root/scripts/check-package.sh"
verinfo="$bin/verinfo.exe"
failures=0
fail() { echo "package-cases: FAILED: $*" >&2; failures=$((failures + 1)); }

rm -rf "$work"
# Two stand-in trees with a version of their own: the modules of the 32-bit build, the second
# one named and placed as the 64-bit build's.
stand_in() {  # folder version
  mkdir -p "$1/bin"
  echo "$2" > "$1/version.txt"
  cp "$bin/Wexlor.wcx" "$1/bin/Wexlor.wcx"
  cp "$bin/Wexlor.wcx" "$1/bin/Wexlor.wcx64"
  cp -R "$bin/Plugins32" "$1/bin/Plugins32"
  cp -R "$bin/Plugins32" "$1/bin/Plugins64"
}
version=$(cat "$bin/../version.txt")
# The resources show four parts; the project states them all.
[ "$(echo "$version" | tr -cd . | wc -c)" -eq 3 ] || { echo "package-cases: FAILED: version $version has not four parts" >&2; exit 1; }
stand_in "$work/tree" "$version"
sh "$root/scripts/package.sh" "$work/dist" "$work/tree/bin" "$work/tree/bin" >/dev/null ||
  { echo "package-cases: FAILED: package.sh" >&2; exit 1; }
good="$work/dist/Wexlor-$version.zip"
out=$(sh "$check" "$good" "$verinfo" 2>&1) || fail "the good package: $out"
echo "$out"

# A fault: a name, a change made to the unpacked good package, the reason the check must give.
# The package is zipped again as Wexlor-$version.zip unless the change names another file.
case_count=0
expect_failure() {  # name reason change...
  name="$1" reason="$2"
  shift 2
  case_count=$((case_count + 1))
  dir="$work/case$case_count"
  mkdir -p "$dir/files"
  unzip -qq "$good" -d "$dir/files"
  zip_name="Wexlor-$version.zip"
  (cd "$dir/files" && eval "$@")
  [ -f "$dir/zip-name" ] && zip_name=$(cat "$dir/zip-name")
  (cd "$dir/files" && zip -q -r "../$zip_name" .)
  if out=$(sh "$check" "$dir/$zip_name" "$verinfo" 2>&1); then
    fail "$name: passed"
  elif ! echo "$out" | grep -q -- "$reason"; then
    fail "$name: '$out', expected '$reason'"
  else
    echo "$name: $out"
  fi
}
inf() { sed -i "$1" pluginst.inf; }
expect_failure "version in pluginst.inf" "version is '9.9.9', the package name says $version" "inf 's/^version=.*/version=9.9.9\r/'"
expect_failure "package name" "the package name says 1.2.3" "echo Wexlor-1.2.3.zip > ../zip-name"
expect_failure "no section" "no description in \[plugininstall\]" "inf 's/^\[plugininstall\]/[install]/'"
expect_failure "key of another section" "type is '', not wcx" "inf 's/^type=.*//'; printf '[other]\r\ntype=wcx\r\n' >> pluginst.inf"
expect_failure "type" "type is 'wlx', not wcx" "inf 's/^type=.*/type=wlx\r/'"
expect_failure "file" "file is 'Other.wcx', not Wexlor.wcx" "inf 's/^file=.*/file=Other.wcx\r/'"
expect_failure "defaultdir" "defaultdir is 'Wex', not Wexlor" "inf 's/^defaultdir=.*/defaultdir=Wex\r/'"
expect_failure "no pluginst.inf" "no pluginst.inf at the root" "mkdir sub && mv pluginst.inf sub/"
expect_failure "no 64-bit module" "Wexlor.wcx64 is missing" "rm Wexlor.wcx64"
expect_failure "no readme" "readme.txt is missing" "rm readme.txt"
expect_failure "no language file" "Plugins64/Tar/TarGer.lng is missing" "rm Plugins64/Tar/TarGer.lng"
expect_failure "plugin outside its folder" "Plugins32/Tar/Tar.dll is missing" "mv Plugins32/Tar/Tar.dll Plugins32/"
expect_failure "module without version resource" "no version resource" "cp Plugins64/Tar/Tar.dll Wexlor.wcx64"

# The package of a build whose version is not the modules': named and listed alike, so only the
# resources tell.
stand_in "$work/other" 9.8.7
sh "$root/scripts/package.sh" "$work/dist" "$work/other/bin" "$work/other/bin" >/dev/null || fail "package.sh 9.8.7"
if out=$(sh "$check" "$work/dist/Wexlor-9.8.7.zip" "$verinfo" 2>&1); then
  fail "resources of another version: passed"
elif ! echo "$out" | grep -q "Wexlor.wcx: version resource $version $version $version, the package is 9.8.7"; then
  fail "resources of another version: '$out'"
else
  echo "resources of another version: $out"
fi

[ "$failures" -eq 0 ] || exit 1
echo "package-cases: OK: the good package passes, $((case_count + 1)) faulty ones fail with their reason"
