#!/bin/sh
# Writes the install package DIST/Wexlor-<version>.zip from built trees: pluginst.inf, readme.txt,
# Wexlor.wcx with Plugins32 from BIN32 and Wexlor.wcx64 with Plugins64 from BIN64 (each the bin
# folder of a build tree). The version is the build's (version.txt beside each bin folder).
# Usage: package.sh DIST BIN32 BIN64
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
dist="$1" bin32="$2" bin64="$3"
fail() { echo "package: FAILED: $*" >&2; exit 1; }
[ -n "$dist" ] && [ -n "$bin32" ] && [ -n "$bin64" ] || fail "usage: package.sh DIST BIN32 BIN64"

version=$(cat "$bin32/../version.txt") || fail "no version.txt beside $bin32"
version64=$(cat "$bin64/../version.txt") || fail "no version.txt beside $bin64"
[ "$version" = "$version64" ] || fail "the two builds have versions $version and $version64"

name="Wexlor-$version"
stage="$dist/$name"
rm -rf "$stage" "$dist/$name.zip"
mkdir -p "$stage"
# The two text files in Windows line ends: users open them with Windows tools.
for text in pluginst.inf readme.txt; do
  sed -e "s/@VERSION@/$version/g" -e 's/$/\r/' "$root/package/$text" > "$stage/$text"
done
cp "$bin32/Wexlor.wcx" "$bin64/Wexlor.wcx64" "$stage/" || fail "a module is missing"
cp -R "$bin32/Plugins32" "$bin64/Plugins64" "$stage/" || fail "a plugins folder is missing"
# Users get the code without the debugging information the build keeps. Files in a fixed order,
# stamped (and their PE headers) with the time of the last commit: the same build gives the same
# bytes.
stamp=$(git -C "$root" log -1 --format=%ct 2>/dev/null || date +%s)
export SOURCE_DATE_EPOCH="$stamp"
i686-w64-mingw32-strip --strip-debug "$stage/Wexlor.wcx" "$stage"/Plugins32/*/*.dll
x86_64-w64-mingw32-strip --strip-debug "$stage/Wexlor.wcx64" "$stage"/Plugins64/*/*.dll
find "$stage" -type f -exec touch -d "@$stamp" {} +
(cd "$stage" && find . -type f | LC_ALL=C sort | sed 's|^\./||' | TZ=UTC zip -X -q "../$name.zip" -@)
rm -rf "$stage"
echo "package: $dist/$name.zip"
