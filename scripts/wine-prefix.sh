#!/bin/sh
# Creates a fresh Wine prefix for one run: no installer prompts, a virtual desktop so that
# top-level windows close at once without a window manager. An optional second argument sets the
# prefix's DPI (LogPixels), e.g. 144.
set -e
prefix="$1"
dpi="$2"
rm -rf "$prefix"
mkdir -p "$prefix"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineboot -i >/dev/null 2>&1 || true
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1280x1024 /f >/dev/null 2>&1
if [ -n "$dpi" ]; then
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
fi
wineserver -w
