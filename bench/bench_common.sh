# Shared by the payload benchmarks (sourced): the build and the data folder.
#   BUILD      build folder (default build/bench): configured and built here,
#              only the targets the benchmarks need
#   BENCH_DIR  where the generated inputs go (default /tmp/satchel-bench);
#              kept between runs, made again when missing
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${BUILD:-$root/build/bench}
BENCH_DIR=${BENCH_DIR:-/tmp/satchel-bench}
mkdir -p "$BENCH_DIR"

for tool in hyperfine unzip zip python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "needs $tool (apt-get install hyperfine unzip zip python3 time)" >&2; exit 1; }
done

build_bench_targets() {
  if [ ! -f "$BUILD/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSATCHEL_TESTS=OFF >/dev/null
  fi
  cmake --build "$BUILD" -j 2 --target satchel index_bench make_bench_data >/dev/null
}

# A stand-in stub for the benchmarks that write bundles through the writer
# library, which takes any bytes: 20000 bytes of noise.  (The tool's pack
# takes only the real launcher: bench_launcher.)
bench_stub() {
  [ -f "$BENCH_DIR/stub.bin" ] || head -c 20000 /dev/urandom >"$BENCH_DIR/stub.bin"
  echo "$BENCH_DIR/stub.bin"
}

# The i686 installer launcher of the win32 build: pack takes no other stub.
bench_launcher() {
  local launcher=$root/build/win32/launcher/satchel-launcher.exe
  [ -f "$launcher" ] || { echo "needs $launcher: build the win32 preset first" >&2; return 1; }
  echo "$launcher"
}

# A Windows program of SIZE bytes for a bundle's exe (pack takes no other):
# the i686 ready bootstrap of the win32 build, then noise behind its last
# section.  Made once in BENCH_DIR.
bench_program() {  # SIZE
  local bootstrap=$root/build/win32/launcher/satchel-bootstrap.exe program=$BENCH_DIR/program-$1.exe
  [ -f "$bootstrap" ] || { echo "needs $bootstrap: build the win32 preset first" >&2; return 1; }
  [ -f "$program" ] || { cat "$bootstrap"; head -c "$(($1 - $(stat -c %s "$bootstrap")))" /dev/urandom; } >"$program"
  echo "$program"
}

# mean_of JSON NAME: the mean time in seconds of the hyperfine command NAME.
mean_of() {
  python3 -c 'import json,sys
for r in json.load(open(sys.argv[1]))["results"]:
    if r["command"] == sys.argv[2]: print(r["mean"])' "$1" "$2"
}

# ratio A B: A / B with two decimals.
ratio() { python3 -c 'import sys; print("%.2f" % (float(sys.argv[1]) / float(sys.argv[2])))' "$1" "$2"; }
