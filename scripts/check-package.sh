#!/bin/sh
# Checks an install package as a file manager installs it: the name Wexlor-<version>.zip, the
# [plugininstall] section of its pluginst.inf, the files it lists (the module and its 64-bit
# sibling), readme.txt, the Tar plugin in Plugins32 and Plugins64, and the version against the
# version resources of both modules, read under Wine by VERINFO (verinfo.exe of the build).
# Usage: check-package.sh ZIP VERINFO
root=$(cd "$(dirname "$0")/.." && pwd)
zip=$(cd "$(dirname "$1")" 2>/dev/null && pwd)/$(basename "$1")
verinfo=$(cd "$(dirname "$2")" 2>/dev/null && pwd)/$(basename "$2")
fail() { echo "check-package: FAILED: $(basename "$zip"): $*" >&2; exit 1; }
[ -f "$zip" ] || fail "no such package"
[ -f "$verinfo" ] || fail "no verinfo program at $2"

version=$(basename "$zip" | sed -n 's/^Wexlor-\([0-9][0-9.]*[0-9]\)\.zip$/\1/p')
[ -n "$version" ] || fail "not named Wexlor-<version>.zip"

unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
unzip -qq "$zip" -d "$unpacked" || fail "unzip failed"
cd "$unpacked"

# The keys of [plugininstall] only, without Windows line ends.
[ -f pluginst.inf ] || fail "no pluginst.inf at the root"
keys=$(tr -d '\r' < pluginst.inf | awk '
  /^\[/ { section = $0; next }
  section == "[plugininstall]" && /=/ { print }')
key() { echo "$keys" | sed -n "s/^$1=//p" | head -n 1; }
description=$(key description) type=$(key type) file=$(key file) defaultdir=$(key defaultdir)
listed=$(key version)
[ -n "$description" ] || fail "pluginst.inf: no description in [plugininstall]"
[ "$type" = wcx ] || fail "pluginst.inf: type is '$type', not wcx"
[ "$file" = Wexlor.wcx ] || fail "pluginst.inf: file is '$file', not Wexlor.wcx"
[ "$defaultdir" = Wexlor ] || fail "pluginst.inf: defaultdir is '$defaultdir', not Wexlor"
[ "$listed" = "$version" ] || fail "pluginst.inf: version is '$listed', the package name says $version"

# The file listed and the one a 64-bit file manager takes in its place.
for present in "$file" "${file}64" readme.txt \
    Plugins32/Tar/Tar.dll Plugins32/Tar/TarEng.lng Plugins32/Tar/TarGer.lng \
    Plugins64/Tar/Tar.dll Plugins64/Tar/TarEng.lng Plugins64/Tar/TarGer.lng; do
  [ -s "$present" ] || fail "$present is missing or empty"
done

# The numbers of the resource have four parts, the version as many as the project gives.
numbers=$(echo "$version.0.0.0" | cut -d . -f 1-4)
resources=$(sh "$root/scripts/wine-run.sh" "$verinfo" "$file" "${file}64") || fail "a module has no version resource"
resources=$(echo "$resources" | tr -d '\r')
for module in "$file" "${file}64"; do
  line=$(echo "$resources" | awk -F '\t' -v m="$module" '$1 == m')
  [ -n "$line" ] || fail "$module: no version read"
  echo "$line" | awk -F '\t' -v n="$numbers" -v v="$version" '$2 == n && $3 == v && $4 == v { ok = 1 } END { exit !ok }' ||
    fail "$module: version resource $(echo "$line" | cut -f 2-4 | tr '\t' ' '), the package is $version"
done
echo "check-package: OK: $(basename "$zip"): pluginst.inf, $(unzip -Z1 "$zip" | wc -l) files, version $version in both modules"
