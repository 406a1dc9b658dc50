#!/bin/sh
# Creates a fresh Wine prefix for one run: no installer prompts, a virtual desktop so that
# top-level windows close at once without a window manager. The second argument is the prefix's
# kind: x86 (a 32-bit prefix, WINEARCH=win32) or x64 (a 64-bit one, which runs both kinds of
# program); an optional third sets its DPI (LogPixels), e.g. 144.
set -e
prefix="$1"
arch="${2:-x86}"
dpi="$3"
rm -rf "$prefix"
mkdir -p "$prefix"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ "$arch" = x64 ]; then export WINEARCH=win64; else export WINEARCH=win32; fi
wine=$(sh "$(dirname "$0")/wine-loader.sh" "$arch")
$wine wineboot -i >/dev/null 2>&1 || true
$wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
$wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1280x1024 /f >/dev/null 2>&1
if [ -n "$dpi" ]; then
  $wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
fi
wineserver -w
