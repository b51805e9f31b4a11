#!/usr/bin/env bash
# Packing a large installer: wall time, processor time and peak memory (max
# RSS) of `satchel pack` for msi files of mixed data (make_bench_data mixed:
# a quarter noise, the rest text-like; deflate takes it to 41%) with a small
# exe, on one thread and on more.  Every run must write the same bytes.
# Target: peak memory below 64 MiB plus 1 MiB per thread, whatever the
# msi's size.
# Then `satchel pack-java` of a small jar that holds two large entries of
# zeros (the i686 front end of the win32 build as its stub).  Target: below
# 256 MiB, whatever the entries' size.
#   JOBS        the thread counts to run (default "1 2")
#   SIZES       msi sizes in MiB (default "16 300")
#   RUNS        runs per thread count and size, in turn (default 3; the mean
#               times and the largest peak are shown)
#   JAR_ENTRY_MB  the size of each of the jar's two entries of zeros, in MB
#               (default 700)
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

JAR_ENTRY_MB=${JAR_ENTRY_MB:-700}
front_end=$root/build/win32/javahost/satchel-java.exe
[ -f "$front_end" ] || { echo "needs $front_end: build the win32 preset first" >&2; exit 1; }
jar=$d/zeros$JAR_ENTRY_MB.jar
[ -f "$jar" ] || python3 - "$jar" "$JAR_ENTRY_MB" <<'PY'
import sys, zipfile
path, mb = sys.argv[1], int(sys.argv[2])
with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as jar:
    jar.writestr("META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\nMain-Class: app.Main\r\n\r\n")
    jar.writestr("app/Main.class", bytes.fromhex("cafebabe00000034"))
    zeros = bytes(1 << 20)
    for name in ("data/zeros1.bin", "data/zeros2.bin"):
        with jar.open(name, "w") as entry:
            for _ in range(mb * 1000000 // len(zeros)):
                entry.write(zeros)
            entry.write(bytes(mb * 1000000 % len(zeros)))
PY
echo
echo "| pack-java, $(du -k "$jar" | cut -f1) KiB jar of two $JAR_ENTRY_MB MB entries of zeros | threads | wall | peak (max RSS) | target |"
echo "|---|---|---|---|---|"
for jobs in $JOBS; do
  /usr/bin/time -o "$d/time.txt" -f '%e %M' "$tool" pack-java --stub "$front_end" -o "$d/java$jobs.exe" \
    "$jar" -j "$jobs" --quiet
  read -r elapsed kib <"$d/time.txt"
  met=$([ "$kib" -lt $((256 << 10)) ] && echo met || echo "NOT met")
  echo "| | $jobs | $elapsed s | $(python3 -c "print('%.1f MiB' % ($kib / 1024))") | < 256 MiB: $met |"
done
"$tool" verify "$d/java${JOBS%% *}.exe" >/dev/null || { echo "the pack-java bundle does not verify" >&2; exit 1; }
rm -f "$d"/java*.exe "$d/time.txt"
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
