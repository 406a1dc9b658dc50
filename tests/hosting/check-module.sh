#!/bin/sh
# Checks a built module from outside, as a file manager's loader sees it: the plain export names
# (the packer interface's and the plugin list for wcxhost), imports from system DLLs only, the
# manifest and the version resource naming the file. Arguments: objdump, windres and the module
# file of the target.
objdump="$1"
windres="$2"
module="$3"
name=$(basename "$module")
fail() { echo "check-module: $name: $*" >&2; exit 1; }

exports=$("$objdump" -p "$module" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | tr '\n' ' ')
expected="CanYouHandleThisFile CanYouHandleThisFileW CloseArchive ConfigurePacker DeleteFiles DeleteFilesW GetBackgroundFlags GetPackerCaps \
ListHostedPluginsW OpenArchive OpenArchiveW PackFiles PackFilesW PackSetDefaultParams ProcessFile ProcessFileW ReadHeader ReadHeaderEx \
ReadHeaderExW SetChangeVolProc SetChangeVolProcW SetProcessDataProc SetProcessDataProcW "
[ "$exports" = "$expected" ] || fail "exports '$exports'"

imports=$("$objdump" -p "$module" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort | tr '\n' ' ')
[ -n "$imports" ] || fail "no import table read"
for dll in $imports; do
  case "$dll" in
    kernel32.dll | user32.dll | gdi32.dll | msvcrt.dll | ole32.dll | oleaut32.dll | comctl32.dll | \
    shell32.dll | advapi32.dll | uxtheme.dll | version.dll | shlwapi.dll) ;;
    *) fail "imports $dll, not a system DLL" ;;
  esac
done

resources=$("$windres" -i "$module" -O rc) || fail "resources unreadable"
echo "$resources" | grep -q '^1 VERSIONINFO' || fail "no version resource"
echo "$resources" | grep -q "VALUE \"OriginalFilename\", \"$name\"" || fail "version resource names another file"
echo "$resources" | grep -q '^2 24' || fail "no manifest (resource 2 of type 24)"
echo "check-module: $name: 19 plain exports; imports $imports; manifest and version resource"
