#!/usr/bin/env bash
# What an icon, version information and a manifest cost when packing: `satchel
# pack` of the 1 GiB msi of bench/large_installer.sh (make_bench_data mixed)
# with --icon, --version-info and --manifest, side by side with the same pack
# without them, and the same two with a 1 KiB msi (the fixed cost of
# rewriting the stub's resource section).  The options read nothing of the
# payload: the stub is rewritten in memory before any entry is compressed,
# and the bundle's PE checksum is summed from the bytes as they are written.
# Both packs use --level 1 so that compression, the same in both, leaves the
# difference visible.
#   NATIVE_BUILD  build folder of the tool (build/native), built here as needed
#   BENCH_DIR     where the inputs go (/tmp/satchel-bench; the msi is shared
#                 with large_installer.sh)
#   MIB           size of the msi in MiB (default 1024)
#   RUNS          runs per command (default 3)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
NATIVE_BUILD=$(realpath "${NATIVE_BUILD:-$root/build/native}")
BENCH_DIR=${BENCH_DIR:-/tmp/satchel-bench}
MIB=${MIB:-1024}
RUNS=${RUNS:-3}
for tool in python3; do
  command -v "$tool" >/dev/null || { echo "needs $tool (apt-get install python3)" >&2; exit 1; }
done
cmake --build "$NATIVE_BUILD" -j 2 --target satchel make_bench_data satchel_data_folder >/dev/null
tool=$NATIVE_BUILD/tools/satchel
work=$BENCH_DIR/large
mkdir -p "$work/in/big" "$work/identity"
if [ ! -f "$work/in/big/Setup.msi" ] || [ "$(stat -c %s "$work/in/big/Setup.msi")" != $((MIB << 20)) ]; then
  echo "making $MIB MiB of mixed data" >&2
  "$NATIVE_BUILD/bench/make_bench_data" mixed "$work/in/big/Setup.msi" "$MIB"
fi
head -c 1024 /dev/urandom >"$work/identity/Small.msi"
python3 "$root/resources/make_icon.py" "$work/identity/app.ico" 16 32 48
trap 'rm -f "$work"/identity/*.exe' EXIT

identity=(--icon "$work/identity/app.ico" --manifest asInvoker
  --version-info ProductName=Bench --version-info ProductVersion=1.2.3
  --version-info CompanyName=Example --version-info FileDescription=Setup)
# The two packs run in turn, RUNS rounds, so that what the shared machine's
# disk and other work do falls on both alike (one after the other, runs of
# the same command took 26 to 36 s where turns gave 24 to 28 s for both).
python3 - "$tool" "$work" "$RUNS" "${identity[@]}" <<'PY'
import os, resource, statistics, subprocess, sys, time
tool, work, runs, identity = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4:]
msis = {"small": work + "/identity/Small.msi", "big": work + "/in/big/Setup.msi"}

def pack(size, options):
    out = "%s/identity/%s-%s.exe" % (work, size, "identity" if options else "plain")
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    started = time.monotonic()
    subprocess.run([tool, "pack", "--level", "1", "-o", out, "--msi", msis[size]] + options,
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wall = time.monotonic() - started
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return wall, after.ru_utime - before.ru_utime

def payload(path):
    with open(path, "rb") as f:
        data = f.read()
    at = next(i for i in range(0, len(data), 512) if data[i:i + 16] == b"_kestrel_Header_")
    return data[at:]

print("| satchel pack --level 1, median of %d turns | without the options | with --icon, --version-info, --manifest | difference | ratio |" % runs)
print("|---|---|---|---|---|")
for size, label in (("small", "1 KiB msi"),
                    ("big", "%d MiB msi, mixed data" % (os.path.getsize(msis["big"]) >> 20))):
    times = {False: [], True: []}
    for _ in range(runs):
        for given in (False, True):
            times[given].append(pack(size, identity if given else []))
    # The payload is the same bytes behind either front.
    assert payload("%s/identity/%s-plain.exe" % (work, size)) == \
        payload("%s/identity/%s-identity.exe" % (work, size)), "the payloads differ"
    plain = [statistics.median(t[i] for t in times[False]) for i in (0, 1)]
    given = [statistics.median(t[i] for t in times[True]) for i in (0, 1)]
    print("| %s | %.3f s (user %.2f s) | %.3f s (user %.2f s) | %+.3f s | %.3fx |" % (
        label, plain[0], plain[1], given[0], given[1], given[0] - plain[0], given[0] / plain[0]))
PY
