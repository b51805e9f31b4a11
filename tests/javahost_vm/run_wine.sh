#!/bin/sh
# Runs a Windows test program under wine64 in the given wine prefix.
#   run_wine.sh PREFIX --prepare        makes the prefix once (wineboot)
#   run_wine.sh PREFIX PROGRAM ARGS...  runs PROGRAM with ARGS
set -u
WINE=/usr/lib/wine/wine64
prefix=$1
shift
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -x "$WINE" ]; then
  echo "wine64 is not installed ($WINE); apt-get install wine64" >&2
  exit 1
fi
if [ "$1" = "--prepare" ]; then
  if [ -f "$prefix/system.reg" ]; then
    echo "wine prefix $prefix is ready"
    exit 0
  fi
  mkdir -p "$prefix"
  "$WINE" wineboot --init || exit 1
  /usr/lib/wine/wineserver -w
  [ -f "$prefix/system.reg" ] || { echo "wineboot made no prefix in $prefix" >&2; exit 1; }
  exit 0
fi
if [ ! -f "$1" ]; then
  echo "missing $1: build the x86_64 Windows build first (SATCHEL_WIN64_DIR)" >&2
  exit 1
fi
exec "$WINE" "$@"
