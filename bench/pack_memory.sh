#!/usr/bin/env bash
# Packing a large installer: wall time, processor time and peak memory (max
# RSS) of `satchel pack` for msi files of mixed data (make_bench_data mixed:
# a quarter noise, the rest text-like; deflate takes it to 41%) with a small
# exe, on one thread and on more.  Every run must write the same bytes.
# Target: peak memory below 64 MiB plus 1 MiB per thread, whatever the
# msi's size.
#   JOBS        the thread counts to run (default "1 2")
#   SIZES       msi sizes in MiB (default "16 300")
#   RUNS        runs per thread count and size, in turn (default 3; the mean
#               times and the largest peak are shown)
#   BUILD, BENCH_DIR as in bench_common.sh
set -euo pipefail
source "$(dirname "$0")/bench_common.sh"
build_bench_targets

JOBS=${JOBS:-1 2}
SIZES=${SIZES:-16 300}
RUNS=${RUNS:-3}
d=$BENCH_DIR/pack
mkdir -p "$d"
tool=$BUILD/tools/satchel

setup=$(bench_program 400000)
echo "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "| pack, msi of mixed data | threads | wall | cpu (user + system) | peak (max RSS) | target |"
echo "|---|---|---|---|---|---|"
for mib in $SIZES; do
  msi=$d/mixed$mib.msi
  [ -f "$msi" ] || "$BUILD/bench/make_bench_data" mixed "$msi" "$mib"
  declare -A wall=() cpu=() peak=()
  for jobs in $JOBS; do wall[$jobs]=0 cpu[$jobs]=0 peak[$jobs]=0; done
  for ((run = 0; run < RUNS; run++)); do
    for jobs in $JOBS; do
      # Elapsed seconds, user and system seconds, largest resident set in KiB.
      /usr/bin/time -o "$d/time.txt" -f '%e %U %S %M' "$tool" pack --stub "$(bench_launcher)" \
        -o "$d/j$jobs.exe" --msi "$msi" --exe "$setup" -j "$jobs" --quiet
      read -r elapsed user system kib <"$d/time.txt"
      wall[$jobs]=$(python3 -c "print(${wall[$jobs]} + $elapsed / $RUNS)")
      cpu[$jobs]=$(python3 -c "print(${cpu[$jobs]} + ($user + $system) / $RUNS)")
      [ "$kib" -gt "${peak[$jobs]}" ] && peak[$jobs]=$kib
    done
  done
  first=
  for jobs in $JOBS; do
    if [ -z "$first" ]; then first=$jobs; else
      cmp "$d/j$first.exe" "$d/j$jobs.exe" || { echo "-j $first and -j $jobs packed different bytes" >&2; exit 1; }
    fi
    bound=$(((64 + jobs) << 10))
    met=$([ "${peak[$jobs]}" -lt $bound ] && echo met || echo "NOT met")
    echo "| $mib MiB | $jobs | $(python3 -c "print('%.2f s' % ${wall[$jobs]})") |" \
      "$(python3 -c "print('%.2f s' % ${cpu[$jobs]})") | $(python3 -c "print('%.1f MiB' % (${peak[$jobs]} / 1024))") |" \
      "< $((64 + jobs)) MiB: $met |"
  done
  rm -f "$d"/j*.exe "$d/time.txt"
done
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
