#!/usr/bin/env bash
# A large installer: a 1 GiB msi entry of mixed data (make_bench_data mixed),
# extracted by the x86_64 launcher under wine64, against `satchel extract` of
# the same bundle natively and `unzip -p` of the same data (zip -9).  All
# three write a file of the same bytes; the launcher then starts a program
# that exits at once and deletes the file.  The launcher's fixed cost (wine,
# folder, program, clean-up) is measured with a bundle of a 1 KiB msi and
# taken off, which leaves its extraction time.  Target: the launcher's
# extraction rate at least 80% of the native tool's.  Also the stripped
# sizes of the i686 stubs (launcher at most 48 KiB, bootstrap at most 24 KiB).
#   WIN32_BUILD, WIN64_BUILD, NATIVE_BUILD  build folders (build/win32,
#                 build/win64, build/native), built here as far as needed
#   BENCH_DIR     where the inputs and the wine prefix go (/tmp/satchel-bench)
#   MIB           size of the msi entry in MiB (default 1024)
#   RUNS          runs per command (default 3)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
WIN32_BUILD=$(realpath "${WIN32_BUILD:-$root/build/win32}")
WIN64_BUILD=$(realpath "${WIN64_BUILD:-$root/build/win64}")
NATIVE_BUILD=$(realpath "${NATIVE_BUILD:-$root/build/native}")
BENCH_DIR=${BENCH_DIR:-/tmp/satchel-bench}
MIB=${MIB:-1024}
RUNS=${RUNS:-3}
for tool in hyperfine python3 zip unzip /usr/lib/wine/wine64; do
  command -v "$tool" >/dev/null || { echo "needs $tool (apt-get install hyperfine zip unzip wine64)" >&2; exit 1; }
done
cmake --build "$WIN32_BUILD" -j 2 --target satchel-launcher satchel-bootstrap >/dev/null
cmake --build "$WIN64_BUILD" -j 2 --target satchel-launcher satchel-probe satchel-sleeper >/dev/null
cmake --build "$NATIVE_BUILD" -j 2 --target satchel make_bench_data >/dev/null
tool=$NATIVE_BUILD/tools/satchel
launcher=$WIN64_BUILD/launcher/satchel-launcher.exe
probe=$WIN64_BUILD/tests/programs/satchel-probe.exe
work=$BENCH_DIR/large
mkdir -p "$work/in/small" "$work/in/big"

echo "| stub (i686, stripped) | bytes | target |"
echo "|---|---|---|"
for stub in launcher:49152 bootstrap:24576; do
  name=${stub%%:*} target=${stub##*:}
  stripped=$work/satchel-$name.exe
  i686-w64-mingw32-strip -o "$stripped" "$WIN32_BUILD/launcher/satchel-$name.exe"
  size=$(stat -c %s "$stripped")
  echo "| satchel-$name | $size | <= $target: $([ "$size" -le "$target" ] && echo met || echo "NOT met") |"
done
echo

if [ ! -f "$work/in/big/Setup.msi" ] || [ "$(stat -c %s "$work/in/big/Setup.msi")" != $((MIB << 20)) ]; then
  echo "making $MIB MiB of mixed data and its zip (level 9)" >&2
  "$NATIVE_BUILD/bench/make_bench_data" mixed "$work/in/big/Setup.msi" "$MIB"
  rm -f "$work/big.zip"
  (cd "$work/in/big" && zip -9 -q "$work/big.zip" Setup.msi)
fi
head -c 1024 /dev/urandom >"$work/in/small/Setup.msi"
for size in small big; do
  cp "$probe" "$work/in/$size/Setup.exe"
  "$tool" pack --stub "$launcher" -o "$work/$size.exe" --msi "$work/in/$size/Setup.msi" \
    --exe "$work/in/$size/Setup.exe" >/dev/null
done

# The same wine set-up as the end-to-end tests: no desktop process, a server
# and services kept up while we measure.
export WINEPREFIX=$work/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;explorer.exe=d"
unset DISPLAY WAYLAND_DISPLAY
"$root/tests/wine_prefix.sh" "$WINEPREFIX"
/usr/lib/wine/wineserver -p60 || true  # fails when a server already runs
setsid /usr/lib/wine/wine64 "$WIN64_BUILD/tests/programs/satchel-sleeper.exe" 1200000 NUL \
  </dev/null >/dev/null 2>&1 &
trap '/usr/lib/wine/wineserver -k; rm -f "$work/out-satchel.bin" "$work/out-unzip.bin"' EXIT

wine=/usr/lib/wine/wine64
hyperfine --warmup 1 --runs "$RUNS" --export-json "$work/large.json" \
  -n launcher-small "$wine $work/small.exe" \
  -n launcher-big "$wine $work/big.exe" \
  -n satchel-extract "$tool extract $work/big.exe msi -o - > $work/out-satchel.bin" \
  -n unzip "unzip -p $work/big.zip > $work/out-unzip.bin" >&2
cmp "$work/out-satchel.bin" "$work/in/big/Setup.msi"
cmp "$work/out-unzip.bin" "$work/in/big/Setup.msi"
# The launcher left nothing behind in wine's temporary folder.
left=$(find "$WINEPREFIX/drive_c/users" -path '*Temp/{*' 2>/dev/null | head -n 1)
[ -z "$left" ] || { echo "the launcher left $left" >&2; exit 1; }

python3 - "$work/large.json" "$((MIB << 20))" <<'PY'
import json, sys
runs = {r["command"]: r["mean"] for r in json.load(open(sys.argv[1]))["results"]}
size = int(sys.argv[2])
launcher = runs["launcher-big"] - runs["launcher-small"]
rate = lambda seconds: size / seconds / 2**20
print("| %d MiB msi entry, mixed data | time | rate | launcher's rate over this one | target |" % (size >> 20))
print("|---|---|---|---|---|")
print("| launcher under wine64 (whole run %.2f s, less %.2f s fixed cost) | %.2f s | %.0f MiB/s | 1.00x | |"
      % (runs["launcher-big"], runs["launcher-small"], launcher, rate(launcher)))
print("| `satchel extract -o - > file`, native | %.2f s | %.0f MiB/s | %.2fx | >= 0.80x |"
      % (runs["satchel-extract"], rate(runs["satchel-extract"]), runs["satchel-extract"] / launcher))
print("| `unzip -p > file`, native | %.2f s | %.0f MiB/s | %.2fx | |"
      % (runs["unzip"], rate(runs["unzip"]), runs["unzip"] / launcher))
PY
