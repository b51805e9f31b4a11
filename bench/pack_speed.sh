#!/usr/bin/env bash
# Packing speed: `satchel pack` of an msi of mixed data (make_bench_data
# mixed: a quarter noise, the rest text-like) at level 9, on one thread and
# on every core, against the tool of an earlier commit (one stream per entry
# on one core), `pigz -9` with as many threads and `zip -9`, side by side in
# one hyperfine run.  Targets: on 2 cores at least 1.8x the earlier tool's
# throughput and at most 1.1x pigz's time; the bundle within 1% of the
# earlier tool's size.
#   BEFORE      the commit to compare with (default f451cb6, the last whose
#               pack compressed each entry as one stream on one core)
#   BEFORE_DIR  where that tool is built (default $BENCH_DIR/pack-before-speed)
#   SIZES       msi sizes in MiB (default "256 1024")
#   RUNS        hyperfine runs per command (default 3)
#   SINGLE_UP_TO  sizes up to this many MiB also run `pack -j 1` and zip
#               (default 256)
#   BUILD, BENCH_DIR as in bench_common.sh
set -euo pipefail
# The references this benchmark alone needs.
for tool in pigz hyperfine zip; do
  command -v "$tool" >/dev/null || apt-get install -y pigz hyperfine zip >&2
done
source "$(dirname "$0")/bench_common.sh"
build_bench_targets

BEFORE=${BEFORE:-f451cb6}
BEFORE_DIR=${BEFORE_DIR:-$BENCH_DIR/pack-before-speed}
SIZES=${SIZES:-256 1024}
RUNS=${RUNS:-3}
SINGLE_UP_TO=${SINGLE_UP_TO:-256}
cores=$(nproc)
d=$BENCH_DIR/speed
mkdir -p "$d"

before_tool=$BEFORE_DIR/build/tools/satchel
if [ ! -x "$before_tool" ] || [ "$(cat "$BEFORE_DIR/commit" 2>/dev/null)" != "$BEFORE" ]; then
  echo "building the tool of $BEFORE in $BEFORE_DIR" >&2
  rm -rf "$BEFORE_DIR" && mkdir -p "$BEFORE_DIR/src"
  git -C "$root" archive "$BEFORE" | tar -x -C "$BEFORE_DIR/src"
  cmake -S "$BEFORE_DIR/src" -B "$BEFORE_DIR/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DSATCHEL_TESTS=OFF >/dev/null
  cmake --build "$BEFORE_DIR/build" -j 2 --target satchel >/dev/null
  echo "$BEFORE" >"$BEFORE_DIR/commit"
fi
after_tool=$BUILD/tools/satchel
launcher=$(bench_launcher)
setup=$(bench_program 400000)

echo "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg), $cores cores"
echo
echo "| msi of mixed data, level 9 | command | mean time | throughput | output bytes | throughput vs before | time vs pigz | time vs zip |"
echo "|---|---|---|---|---|---|---|---|"
for mib in $SIZES; do
  msi=$d/mixed$mib.bin
  [ -f "$msi" ] || "$BUILD/bench/make_bench_data" mixed "$msi" "$mib"
  pack="--stub $launcher --msi $msi --exe $setup"
  commands=(-n before "$before_tool pack $pack -o $d/before.exe"
            -n "pack -j $cores" "$after_tool pack $pack -j $cores -o $d/after.exe"
            -n "pigz -9 -p $cores" "pigz -9 -p $cores -c $msi > $d/out.gz")
  if [ "$mib" -le "$SINGLE_UP_TO" ]; then
    commands+=(-n "pack -j 1" "$after_tool pack $pack -j 1 -o $d/after1.exe"
               -n "zip -9" "rm -f $d/out.zip && zip -9 -q $d/out.zip $msi")
  fi
  hyperfine --runs "$RUNS" --export-json "$d/speed$mib.json" "${commands[@]}" >&2
  [ ! -f "$d/after1.exe" ] || cmp "$d/after.exe" "$d/after1.exe" ||
    { echo "pack -j 1 and -j $cores packed different bytes" >&2; exit 1; }
  "$after_tool" verify "$d/after.exe" >/dev/null
  python3 - "$d/speed$mib.json" "$mib" "$d" "$cores" <<'PY'
import json, os, sys
path, mib, d, cores = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
runs = {r["command"]: r["mean"] for r in json.load(open(path))["results"]}
files = {"before": "before.exe", "pack -j " + cores: "after.exe", "pack -j 1": "after1.exe",
         "pigz -9 -p " + cores: "out.gz", "zip -9": "out.zip"}
pigz, zip_ = runs.get("pigz -9 -p " + cores), runs.get("zip -9")
for name, seconds in runs.items():
    size = os.path.getsize(os.path.join(d, files[name]))
    print("| %d MiB | %s | %.2f s | %.1f MiB/s | %s | %.2fx | %.2fx | %s |" % (
        mib, name, seconds, mib / seconds, format(size, ","), runs["before"] / seconds,
        seconds / pigz, "%.2fx" % (seconds / zip_) if zip_ else "-"))
before = os.path.getsize(os.path.join(d, "before.exe"))
after = os.path.getsize(os.path.join(d, "after.exe"))
print("| %d MiB | bundle size, after over before | | | | %.4fx | | |" % (mib, after / before))
PY
  rm -f "$d/before.exe" "$d/after.exe" "$d/after1.exe" "$d/out.gz" "$d/out.zip"
done
echo
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
