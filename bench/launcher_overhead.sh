#!/usr/bin/env bash
# What the launcher costs under wine64 (x86_64 build):
#   1. a bundle whose packaged program exits at once, against running that
#      program directly (both under wine, same prefix): the ratio;
#   2. the extraction rate of a 100 MiB "msi" entry (mixed data): 100 MiB over
#      the extra time that bundle takes against the small one.
#   WIN64_BUILD   the x86_64 build folder (default build/win64) with the
#                 launcher and the test programs built
#   NATIVE_BUILD  the native build folder with the bundle tool (default build/native)
#   BENCH_DIR     where the inputs and the wine prefix go (default /tmp/satchel-bench)
#   RUNS          runs per command (default 20)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
WIN64_BUILD=$(realpath "${WIN64_BUILD:-$root/build/win64}")
NATIVE_BUILD=$(realpath "${NATIVE_BUILD:-$root/build/native}")
BENCH_DIR=${BENCH_DIR:-/tmp/satchel-bench}
RUNS=${RUNS:-20}
for tool in hyperfine python3 /usr/lib/wine/wine64; do
  command -v "$tool" >/dev/null || { echo "needs $tool (apt-get install hyperfine wine64 python3)" >&2; exit 1; }
done
cmake --build "$WIN64_BUILD" -j 2 --target satchel-launcher satchel-probe satchel-sleeper >/dev/null
cmake --build "$NATIVE_BUILD" -j 2 --target satchel >/dev/null
launcher=$WIN64_BUILD/launcher/satchel-launcher.exe
probe=$WIN64_BUILD/tests/programs/satchel-probe.exe
sleeper=$WIN64_BUILD/tests/programs/satchel-sleeper.exe
tool=$NATIVE_BUILD/tools/satchel
work=$BENCH_DIR/launcher
mkdir -p "$work/in"

# The same wine set-up as the end-to-end tests: no desktop process, a server
# and services kept up while we measure.
export WINEPREFIX=$work/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;explorer.exe=d"
unset DISPLAY WAYLAND_DISPLAY
"$root/tests/wine_prefix.sh" "$WINEPREFIX"
/usr/lib/wine/wineserver -p60 || true  # fails when a server already runs
setsid /usr/lib/wine/wine64 "$sleeper" 1200000 NUL </dev/null >/dev/null 2>&1 &
trap '/usr/lib/wine/wineserver -k' EXIT

cp "$probe" "$work/in/Setup.exe"
head -c 1024 /dev/urandom >"$work/in/Setup.msi"
"$tool" pack --stub "$launcher" -o "$work/quick.exe" --msi "$work/in/Setup.msi" --exe "$work/in/Setup.exe" >/dev/null
if [ ! -f "$work/in/big/Setup.msi" ]; then
  mkdir -p "$work/in/big"
  # 100 MiB: per MiB a quarter noise and three quarters text-like words.
  python3 - "$work/in/big/Setup.msi" <<'PY'
import os, random, sys
random.seed(7)
words = [("%x" % random.getrandbits(random.randint(8, 40))).encode() for _ in range(5000)]
with open(sys.argv[1], "wb") as f:
    for _ in range(100):
        text = b" ".join(random.choices(words, k=120000))[:768 * 1024]
        f.write(os.urandom(256 * 1024) + text.ljust(768 * 1024, b"."))
PY
fi
cp "$probe" "$work/in/big/Setup.exe"
"$tool" pack --stub "$launcher" -o "$work/big.exe" --msi "$work/in/big/Setup.msi" --exe "$work/in/big/Setup.exe" >/dev/null

wine=/usr/lib/wine/wine64
hyperfine -N --warmup 3 --runs "$RUNS" --export-json "$work/quick.json" \
  -n bundle "$wine $work/quick.exe" -n direct "$wine $work/in/Setup.exe" >&2
hyperfine -N --warmup 1 --runs 5 --export-json "$work/big.json" \
  -n big "$wine $work/big.exe" >&2
python3 - "$work/quick.json" "$work/big.json" "$(stat -c %s "$work/in/big/Setup.msi")" <<'PY'
import json, sys
quick = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
big = json.load(open(sys.argv[2]))["results"][0]
size = int(sys.argv[3])
bundle, direct = quick["bundle"]["mean"], quick["direct"]["mean"]
extra = big["mean"] - bundle
print("| benchmark | satchel | reference | ratio | target |")
print("|---|---|---|---|---|")
print("| bundle (program exits at once) vs the program run directly, under wine | %.0f ms | %.0f ms | %.2fx | - |"
      % (bundle * 1000, direct * 1000, bundle / direct))
print("| extraction of a 100 MiB msi entry (mixed data) | %.2f s more than the small bundle | - | %.0f MB/s (%.0f MiB/s) | - |"
      % (extra, size / extra / 1e6, size / extra / 2**20))
PY
