#!/bin/sh
# Makes a wine prefix that programs can run in, unless a usable one is there
# already; every test and bench that runs wine gets its prefix from here.
#   wine_prefix.sh PREFIX
# WINE names the wine loader: wine64 by default, the 32-bit machine's wine
# (RUN32_WINE) there.  WINEARCH and WINEDLLOVERRIDES are passed on (Mono and
# Gecko are left out unless the caller says otherwise).  Call it before
# starting a wine server that persists: it waits for the server of wineboot
# to end.
set -u
prefix=${1:?usage: wine_prefix.sh PREFIX}
WINE=${WINE:-${RUN32_WINE:-/usr/lib/wine/wine64}}
WINESERVER=/usr/lib/wine/wineserver
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ ! -x "$WINE" ]; then
  echo "wine is not installed ($WINE); apt-get install wine64" >&2
  exit 1
fi
usable() {
  [ -f "$prefix/drive_c/windows/system32/kernel32.dll" ] && [ -f "$prefix/system.reg" ]
}
usable && exit 0
# A wineboot racing others on a freshly installed wine now and then leaves a
# prefix without its system DLLs ("could not load kernel32.dll"): such a
# prefix is thrown away and made once more.
for attempt in 1 2 3; do
  rm -rf "$prefix"
  mkdir -p "$prefix" || exit 1
  # Wine's helper processes, started by wineboot, live on for a while and
  # inherit its output: a file rather than the caller's pipe, which would
  # stay open until they end.
  "$WINE" wineboot --init </dev/null >"$prefix/wineboot.txt" 2>&1
  rc=$?
  # Until the server ends, the registry is not all on disk.
  "$WINESERVER" -w
  [ $rc -eq 0 ] && usable && exit 0
done
cat "$prefix/wineboot.txt" >&2
echo "wineboot made no usable prefix in $prefix (3 attempts, the last ended with $rc)" >&2
exit 1
