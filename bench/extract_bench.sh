#!/usr/bin/env bash
# Extraction: `satchel extract` of a 256 MiB entry of mixed data against
# `unzip -p` of the same data in a deflate zip (target at most 1.1x wall
# time), and satchel's peak memory for entries of 16 and 256 MiB (target
# below 8 MiB, independent of the entry's size).
set -euo pipefail
source "$(dirname "$0")/bench_common.sh"
build_bench_targets

d=$BENCH_DIR
satchel=$BUILD/tools/satchel
launcher=$(bench_launcher)
for mib in 16 256; do
  if [ ! -f "$d/mixed$mib.exe" ] || [ ! -f "$d/mixed$mib.zip" ]; then
    echo "making $mib MiB of mixed data, its bundle and its zip (level 9 both)" >&2
    "$BUILD/bench/make_bench_data" mixed "$d/mixed$mib.bin" "$mib"
    # The data as the msi of an installer bundle; the launcher itself stands in as its exe.
    "$satchel" pack --stub "$launcher" -o "$d/mixed$mib.exe" --msi "$d/mixed$mib.bin" \
      --exe "$launcher"
    rm -f "$d/mixed$mib.zip"
    (cd "$d" && zip -9 -q "mixed$mib.zip" "mixed$mib.bin")
  fi
done

# Both to a file (satchel through its temporary file and rename), and both
# to a pipe that hyperfine discards.
ours_file="$satchel extract $d/mixed256.exe msi -o $d/out-satchel.bin"
theirs_file="unzip -p $d/mixed256.zip > $d/out-unzip.bin"
ours_pipe="$satchel extract $d/mixed256.exe msi -o -"
theirs_pipe="unzip -p $d/mixed256.zip"
hyperfine --warmup 1 --runs ${RUNS:-5} --export-json "$d/extract.json" \
  "$ours_file" "$theirs_file" "$ours_pipe" "$theirs_pipe" >&2
cmp "$d/out-satchel.bin" "$d/mixed256.bin"
cmp "$d/out-unzip.bin" "$d/mixed256.bin"
rm -f "$d/out-satchel.bin" "$d/out-unzip.bin"

row() {  # label ours theirs
  local a b
  a=$(mean_of "$d/extract.json" "$2")
  b=$(mean_of "$d/extract.json" "$3")
  echo "| $1 | $(printf '%.2f' "$a") s | $(printf '%.2f' "$b") s | $(ratio "$a" "$b")x | <= 1.1x |"
}
row "extract 256 MiB to a file vs unzip -p > file" "$ours_file" "$theirs_file"
row "extract 256 MiB to a pipe vs unzip -p" "$ours_pipe" "$theirs_pipe"

for mib in 16 256; do
  rss=$(/usr/bin/time -f '%M' "$satchel" extract "$d/mixed$mib.exe" msi -o - 2>&1 >/dev/null | tail -n 1)
  unz=$(/usr/bin/time -f '%M' unzip -p "$d/mixed$mib.zip" 2>&1 >/dev/null | tail -n 1)
  echo "| peak memory, $mib MiB entry (max RSS) | $(python3 -c "print('%.1f' % ($rss/1024))") MiB | $(python3 -c "print('%.1f' % ($unz/1024))") MiB | | < 8 MiB |"
done
