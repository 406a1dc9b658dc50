#!/bin/sh
# Creates a fresh Wine prefix for one run: no installer prompts, a virtual desktop so that
# top-level windows close at once without a window manager. The second argument is the prefix's
# kind: x86 (a 32-bit prefix, WINEARCH=win32) or x64 (a 64-bit one, which runs both kinds of
# program); an optional third sets its DPI (LogPixels), e.g. 144.
set -e
prefix="$1"
arch="${2:-x86}"
dpi="$3"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ "$arch" = x64 ]; then export WINEARCH=win64; else export WINEARCH=win32; fi
wine=$(sh "$(dirname "$0")/wine-loader.sh" "$arch")
# Now and then a first boot ends part way (a registry of a few KB, and every later program fails):
# the prefix is made again from nothing, a few times at most.
make_prefix() {
  rm -rf "$prefix"
  mkdir -p "$prefix"
  $wine wineboot -i >/dev/null 2>&1 || true
  $wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1 &&
  $wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1280x1024 /f >/dev/null 2>&1 &&
  if [ -n "$dpi" ]; then
    $wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
  fi &&
  wineserver -w &&
  # The registry is written out once the server has ended; a whole one is megabytes.
  [ "$(wc -c <"$prefix/system.reg" 2>/dev/null || echo 0)" -gt 500000 ]
}
for attempt in 1 2 3; do
  if make_prefix; then exit 0; fi
  echo "wine-prefix: $prefix could not be made (attempt $attempt); making it again" >&2
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
done
exit 1
