#!/bin/sh
# Runs a Windows test program under wine in the given wine prefix: wine64 here,
# or the 32-bit wine of the 32-bit test machine when run there (RUN32_WINE).
#   run_wine.sh PREFIX --prepare        makes the prefix if it is not there yet
#                                       and keeps its wine server up between
#                                       the tests (until 30 s after the last)
#   run_wine.sh PREFIX PROGRAM ARGS...  runs PROGRAM with ARGS
set -u
WINE=${RUN32_WINE:-/usr/lib/wine/wine64}
WINESERVER=/usr/lib/wine/wineserver
prefix=$1
shift
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -x "$WINE" ]; then
  echo "wine is not installed ($WINE); apt-get install wine64" >&2
  exit 1
fi
if [ "$1" = "--prepare" ]; then
  WINE=$WINE sh "$(dirname "$0")/../wine_prefix.sh" "$prefix" || exit 1
  # A server that outlives each test spares every test the start-up of wine.
  "$WINESERVER" -p30 </dev/null >/dev/null 2>&1 || true
  echo "wine prefix $prefix is ready"
  exit 0
fi
if [ ! -f "$1" ]; then
  echo "missing $1: build the Windows build first (SATCHEL_WIN64_DIR, SATCHEL_WIN32_DIR)" >&2
  exit 1
fi
# Wine's own helper processes, started with the first program, live on for a
# while and inherit its standard error: give them a file rather than the
# test's pipe, which would stay open until they end.
log="$prefix/stderr-$$.txt"
"$WINE" "$@" 2>"$log"
rc=$?
cat "$log" >&2
rm -f "$log"
exit $rc
