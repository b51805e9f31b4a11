#!/bin/bash
# Java start-up benchmark: an application run through satchel-java (its
# classes served from the bundle) against the same jar run by the JDK's own
# launcher with `java -cp`, with the same JVM, side by side in one run; then
# the cost per class defined and where it goes (bench/java_class_cost.cpp).
#
#   bench/java_startup.sh [BUILD_DIR] [RUNS]
#
# BUILD_DIR is a native build (default build/native); RUNS per command
# (default 20).  Four applications:
#   - a one-class program that prints a line (the fixed cost of start-up);
#   - the sample application of tests/javaapp (about 600 classes, resources,
#     services, threads), argument "bench";
#   - the Eclipse Java compiler from Debian's ecj package (eclipse-jdt-core.jar,
#     about 2,100 classes) compiling the sample application's 400 generated
#     sources (-d none: everything but writing the class files);
#   - Clojure from Debian's clojure package (clojure.jar with spec.alpha and
#     core.specs.alpha) evaluating one expression: its start loads the
#     compiled clojure.core namespace, if the class files' times say so.
# Needs hyperfine, jq, unzip (Debian packages of those names), ecj and clojure;
# it installs the missing ones with apt-get when run as root.  Prints a Markdown section
# for bench/RESULTS.md.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build/native}
runs=${2:-20}

missing=()
command -v hyperfine >/dev/null || missing+=(hyperfine)
command -v jq >/dev/null || missing+=(jq)
command -v unzip >/dev/null || missing+=(unzip)
[ -f /usr/share/java/eclipse-jdt-core.jar ] || missing+=(ecj)
[ -f /usr/share/java/spec.alpha.jar ] || missing+=(clojure)
if [ ${#missing[@]} -gt 0 ]; then
  apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null
fi

jdk=$(sed -n 's/^SATCHEL_JDK_HOME:PATH=//p' "$build/CMakeCache.txt")
libjvm=$(sed -n 's/^JAVA_JVM_LIBRARY:FILEPATH=//p' "$build/CMakeCache.txt")
cmake --build "$build" --target satchel satchel-java javaapp_jars java_class_cost >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
satchel=$build/tools/satchel
front=$build/javahost/satchel-java
# Copies, so that a rebuild during the run changes nothing.
cp "$build/tests/javaapp/app.jar" "$work/app.jar"
app_jar=$work/app.jar
ecj_jar=$(readlink -f /usr/share/java/eclipse-jdt-core.jar)
cp -r "$build/tests/javaapp/generated/src" "$work/src"
find "$work/src" -name '*.java' | sort >"$work/sources.txt"
sources=$work/sources.txt

pack_seconds() {
  local start end
  start=$(date +%s%N)
  "$satchel" pack-java --stub "$front" -o "$1" "$2"
  end=$(date +%s%N)
  local ms=$(((end - start) / 1000000))
  printf '%d.%02d' $((ms / 1000)) $((ms % 1000 / 10))
}
app_pack=$(pack_seconds "$work/app" "$app_jar")
ecj_pack=$(pack_seconds "$work/ecj" "$ecj_jar")
# The one-class program.
mkdir -p "$work/hello-src"
printf 'public class Hello {\n  public static void main(String[] args) {\n    System.out.println("hello");\n  }\n}\n' \
  >"$work/hello-src/Hello.java"
"$jdk/bin/javac" -d "$work/hello-src" "$work/hello-src/Hello.java"
"$jdk/bin/jar" --create --file "$work/hello.jar" -C "$work/hello-src" Hello.class
"$satchel" pack-java --stub "$front" -o "$work/hello" --main-class Hello "$work/hello.jar"
# Clojure and its two libraries.
clojure_jars=(/usr/share/java/clojure-1.11.1.jar /usr/share/java/spec.alpha.jar /usr/share/java/core.specs.alpha.jar)
clojure_cp=$(IFS=:; echo "${clojure_jars[*]}")
"$satchel" pack-java --stub "$front" -o "$work/clojure" --main-class clojure.main "${clojure_jars[@]}"
clojure_args="-e (+,1,2)"  # commas are blanks to Clojure, so this stays one word

# The outputs must agree before their times mean anything.
"$work/app" -jvm "$libjvm" bench >"$work/app.out"
"$jdk/bin/java" -cp "$app_jar" sample.Main bench >"$work/java.out"
cmp -s "$work/app.out" "$work/java.out" || { echo "the sample application's outputs differ" >&2; exit 1; }
[ "$("$work/hello" -jvm "$libjvm")" = hello ] || { echo "the one-class program failed" >&2; exit 1; }
[ "$("$work/clojure" -jvm "$libjvm" $clojure_args)" = "$("$jdk/bin/java" -cp "$clojure_cp" clojure.main $clojure_args)" ] ||
  { echo "Clojure's outputs differ" >&2; exit 1; }
ecj_args=(-17 -proc:none -nowarn -d none "@$sources")

hyperfine -N --warmup 3 --runs "$runs" --export-json "$work/app.json" \
  -n "satchel-java" "$work/app -jvm $libjvm bench" \
  -n "java -cp" "$jdk/bin/java -cp $app_jar sample.Main bench" >&2
hyperfine -N --warmup 2 --runs "$runs" --export-json "$work/ecj.json" \
  -n "satchel-java" "$work/ecj -jvm $libjvm ${ecj_args[*]}" \
  -n "java -cp" "$jdk/bin/java -cp $ecj_jar org.eclipse.jdt.internal.compiler.batch.Main ${ecj_args[*]}" >&2

# hyperfine runs all of one command, then all of the other; on a shared
# machine whose load drifts that favours whichever runs later.  So the same
# pairs once more, interleaved (A B, B A, A B, ...), each pair compared by
# itself: $work/NAME.pairs gets "a|b REAL USER SYS" lines.
paired() {
  local name=$1 first=$2 second=$3 round which command times
  : >"$work/$name.pairs"
  TIMEFORMAT='%R %U %S'
  for ((round = 0; round < runs; round++)); do
    for which in $( ((round % 2 == 0)) && echo a b || echo b a); do
      [ "$which" = a ] && command=$first || command=$second
      times=$( { time $command >/dev/null 2>&1; } 2>&1)
      echo "$which $times" >>"$work/$name.pairs"
    done
  done
}
median() {
  sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
# One Markdown row from the interleaved pairs.
paired_row() {
  local pairs=$work/$1.pairs
  local a_real b_real ratio a_cpu b_cpu
  a_real=$(awk '$1 == "a" { print $2 }' "$pairs" | median)
  b_real=$(awk '$1 == "b" { print $2 }' "$pairs" | median)
  ratio=$(paste <(awk '$1 == "a" { print $2 }' "$pairs") <(awk '$1 == "b" { print $2 }' "$pairs") |
    awk '{ print $1 / $2 }' | median)
  a_cpu=$(awk '$1 == "a" { print $3 + $4 }' "$pairs" | median)
  b_cpu=$(awk '$1 == "b" { print $3 + $4 }' "$pairs" | median)
  awk -v name="$2" -v ar="$a_real" -v br="$b_real" -v r="$ratio" -v ac="$a_cpu" -v bc="$b_cpu" 'BEGIN {
    printf "| %s | %d ms | %d ms | %.2fx | %d ms vs %d ms: %.2fx |\n", name, ar * 1000, br * 1000, r, ac * 1000, bc * 1000, ac / bc }'
}
paired hello "$work/hello -jvm $libjvm" "$jdk/bin/java -cp $work/hello.jar Hello"
paired app "$work/app -jvm $libjvm bench" "$jdk/bin/java -cp $app_jar sample.Main bench"
paired ecj "$work/ecj -jvm $libjvm ${ecj_args[*]}" \
  "$jdk/bin/java -cp $ecj_jar org.eclipse.jdt.internal.compiler.batch.Main ${ecj_args[*]}"
paired clojure "$work/clojure -jvm $libjvm $clojure_args" "$jdk/bin/java -cp $clojure_cp clojure.main $clojure_args"

# One Markdown row from hyperfine's figures: mean/median wall time and CPU
# time of both commands and the ratios.
row() {
  jq -r --arg name "$2" '
    def ms: . * 1000 | floor;
    .results as $r
    | ($r[0].mean) as $am | ($r[1].mean) as $bm
    | ($r[0].median) as $ad | ($r[1].median) as $bd
    | ($r[0].user + $r[0].system) as $ac | ($r[1].user + $r[1].system) as $bc
    | "| \($name) | \($am|ms) ms (median \($ad|ms)) | \($bm|ms) ms (median \($bd|ms)) | \(($am/$bm)*100|floor/100)x (median \(($ad/$bd)*100|floor/100)x) | \($ac|ms) ms vs \($bc|ms) ms: \(($ac/$bc)*100|floor/100)x |"
  ' "$1"
}

echo "## Java start-up: satchel-java against java -cp"
echo
echo "Measured $(date -u +%Y-%m-%d) with bench/java_startup.sh ($runs runs each, hyperfine, same JVM:"
echo "$("$jdk/bin/java" -version 2>&1 | head -1); machine load average at the start: $(cut -d' ' -f1-3 /proc/loadavg))."
echo
app_name="sample application, $(unzip -l "$app_jar" | grep -c '\.class$') classes"
ecj_name="Eclipse compiler, $(unzip -l "$ecj_jar" | grep -c '\.class$') classes, compiling 400 files"
echo "Interleaved pairs (satchel-java and java -cp alternately, each pair compared by itself; medians):"
echo
echo "| application | satchel-java | java -cp | wall-time ratio (median of pairs) | CPU time (user+sys) |"
echo "|---|---|---|---|---|"
paired_row hello "one-class program"
paired_row app "$app_name"
paired_row ecj "$ecj_name"
paired_row clojure "Clojure 1.11, evaluating an expression"
echo
echo "hyperfine (all runs of one command, then all of the other):"
echo
echo "| application | satchel-java (mean) | java -cp (mean) | wall-time ratio | CPU time (user+sys) |"
echo "|---|---|---|---|---|"
row "$work/app.json" "$app_name"
row "$work/ecj.json" "$ecj_name"
echo
echo "Packing time (satchel pack-java): sample application ${app_pack}s, Eclipse compiler ${ecj_pack}s;"
echo "sizes: $(stat -c %s "$app_jar") B jar -> $(stat -c %s "$work/app") B executable, $(stat -c %s "$ecj_jar") B jar -> $(stat -c %s "$work/ecj") B executable."
echo
echo "### Cost per class defined (bench/java_class_cost)"
for bundle in app ecj; do
  echo
  echo '```'
  "$build/bench/java_class_cost" "$work/$bundle" "$libjvm" | sed "s|$work/||"
  echo '```'
done
