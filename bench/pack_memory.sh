#!/usr/bin/env bash
# Packing a large installer: wall time and peak memory (max RSS) of
# `satchel pack` for msi files of mixed data (make_bench_data mixed: a quarter
# noise, the rest text-like; deflate takes it to 41%) with a small exe, the
# tool of this tree against the tool of an earlier commit, built once in a
# folder of its own.  Both must write the same bytes.  Target: peak memory
# below 64 MiB whatever the msi's size.
#   BEFORE      the commit to compare with (default cd1a2b7, the last whose
#               pack held every input and every compressed copy in memory)
#   BEFORE_DIR  where that tool is built (default $BENCH_DIR/pack-before)
#   SIZES       msi sizes in MiB (default "16 300")
#   RUNS        runs per tool and size, in turn (default 3; the mean times
#               and the largest peak are shown).  On a busy machine the wall
#               time follows the load; the processor time (user + system)
#               is the steadier figure, and the ratio is taken of it.
#   BUILD, BENCH_DIR as in bench_common.sh
set -euo pipefail
source "$(dirname "$0")/bench_common.sh"
build_bench_targets

BEFORE=${BEFORE:-cd1a2b7}
BEFORE_DIR=${BEFORE_DIR:-$BENCH_DIR/pack-before}
SIZES=${SIZES:-16 300}
RUNS=${RUNS:-3}
d=$BENCH_DIR/pack
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

[ -f "$d/setup.exe" ] || head -c 400000 /dev/urandom >"$d/setup.exe"
echo "| pack, msi of mixed data | before ($BEFORE): wall, cpu | peak | after: wall, cpu | peak | cpu ratio | peak ratio | target |"
echo "|---|---|---|---|---|---|---|---|"
for mib in $SIZES; do
  msi=$d/mixed$mib.msi
  [ -f "$msi" ] || "$BUILD/bench/make_bench_data" mixed "$msi" "$mib"
  declare -A wall=() cpu=() peak=()
  for which in before after; do wall[$which]=0 cpu[$which]=0 peak[$which]=0; done
  for ((run = 0; run < RUNS; run++)); do
    for which in before after; do
      tool=${which}_tool
      # Elapsed seconds, user and system seconds, largest resident set in KiB.
      /usr/bin/time -o "$d/time.txt" -f '%e %U %S %M' "${!tool}" pack --stub "$(bench_stub)" \
        -o "$d/$which.exe" --msi "$msi" --exe "$d/setup.exe"
      read -r elapsed user system kib <"$d/time.txt"
      wall[$which]=$(python3 -c "print(${wall[$which]} + $elapsed / $RUNS)")
      cpu[$which]=$(python3 -c "print(${cpu[$which]} + ($user + $system) / $RUNS)")
      [ "$kib" -gt "${peak[$which]}" ] && peak[$which]=$kib
    done
  done
  cmp "$d/before.exe" "$d/after.exe" || { echo "the two tools packed different bytes" >&2; exit 1; }
  s() { python3 -c "print('%.2f s' % $1)"; }
  mibs() { python3 -c "print('%.1f MiB' % ($1 / 1024))"; }
  met=$([ "${peak[after]}" -lt $((64 << 10)) ] && echo met || echo "NOT met")
  echo "| $mib MiB | $(s "${wall[before]}"), $(s "${cpu[before]}") | $(mibs "${peak[before]}") |" \
    "$(s "${wall[after]}"), $(s "${cpu[after]}") | $(mibs "${peak[after]}") |" \
    "$(ratio "${cpu[after]}" "${cpu[before]}")x | $(ratio "${peak[after]}" "${peak[before]}")x |" \
    "< 64 MiB: $met |"
  rm -f "$d/before.exe" "$d/after.exe" "$d/time.txt"
done
