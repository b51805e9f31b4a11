#!/usr/bin/env bash
# Index: open a bundle of 100,000 entries with 40-byte names and look up
# every name (bench/index_bench.cpp), against `unzip -l` of a zip that holds
# the same names.  Target: at most 1.0x.
set -euo pipefail
source "$(dirname "$0")/bench_common.sh"
build_bench_targets

d=$BENCH_DIR
if [ ! -f "$d/index.bundle" ] || [ ! -f "$d/index.zip" ]; then
  echo "making a bundle and a zip of 100000 names" >&2
  "$BUILD/bench/make_bench_data" index "$(bench_stub)" "$d/index.bundle" "$d/index-names.txt" 100000
  python3 - "$d/index-names.txt" "$d/index.zip" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[2], "w", zipfile.ZIP_DEFLATED) as z:
    for name in open(sys.argv[1]).read().split():
        z.writestr(name, b"")
PY
fi

ours="$BUILD/bench/index_bench $d/index.bundle"
theirs="unzip -l $d/index.zip"
hyperfine -N --warmup 2 --runs ${RUNS:-20} --export-json "$d/index.json" "$ours" "$theirs" >&2
a=$(mean_of "$d/index.json" "$ours")
b=$(mean_of "$d/index.json" "$theirs")
echo "| index: open + look up 100,000 names vs unzip -l | $(printf '%.1f' "$(python3 -c "print($a*1000)")") ms | $(printf '%.1f' "$(python3 -c "print($b*1000)")") ms | $(ratio "$a" "$b")x | <= 1.0x |"
