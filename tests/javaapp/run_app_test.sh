#!/bin/bash
# One case of the sample application's end-to-end test; see CMakeLists.txt
# for the environment (SATCHEL, SATCHEL_JAVA, APP_JAR, EXTRA_JAR, LIBJVM,
# JDK_HOME, WORK).  The "pack" case makes the bundles in $WORK that the
# other cases run.  Every run of a bundle goes with -JXcheck:jni, and any
# warning of the JVM fails the case.
set -u
case_name=$1
java=$JDK_HOME/bin/java
bundle=$WORK/app-bundle
# What this case's runs print; cases may run at the same time.
results=$WORK/results/$case_name
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# run_bundle NAME EXECUTABLE ARGS...: runs it with output in $results/NAME.out,
# .err and .code.
run_bundle() {
  local name=$1
  shift
  "$@" >"$results/$name.out" 2>"$results/$name.err"
  echo $? >"$results/$name.code"
}

# run_java NAME JAVA-ARGS...: the reference run with the JDK's own launcher.
run_java() {
  local name=$1
  shift
  "$java" "$@" >"$results/$name.out" 2>"$results/$name.err"
  echo $? >"$results/$name.code"
}

# same_as EXPECTED ACTUAL: byte-for-byte standard output and the exit code.
same_as() {
  if ! cmp -s "$results/$1.out" "$results/$2.out"; then
    fail "standard output of $2 differs from $1:"
    diff "$results/$1.out" "$results/$2.out" | head -40
  fi
  if [ "$(cat "$results/$1.code")" != "$(cat "$results/$2.code")" ]; then
    fail "exit code of $2 is $(cat "$results/$2.code"), $1 gave $(cat "$results/$1.code")"
  fi
}

# no_warnings NAME: nothing of the JVM's checks in either stream.
no_warnings() {
  if grep -q -i -E 'warning|jni' "$results/$1.out" "$results/$1.err"; then
    fail "the JVM warned during $1:"
    grep -i -E -A3 'warning|jni' "$results/$1.out" "$results/$1.err" | head -20
  fi
}

# quiet NAME: nothing on standard error at all.
quiet() {
  if [ -s "$results/$1.err" ]; then
    fail "$1 wrote to standard error:"
    head -20 "$results/$1.err"
  fi
}

# expect_code NAME CODE
expect_code() {
  if [ "$(cat "$results/$1.code")" != "$2" ]; then
    fail "$1 ended with $(cat "$results/$1.code"), expected $2"
  fi
}

# expect_error NAME TEXT: standard error holds the text (fixed string).
expect_error() {
  if ! grep -q -F -- "$2" "$results/$1.err"; then
    fail "standard error of $1 lacks '$2'; it is:"
    head -20 "$results/$1.err"
  fi
}

# A copy of the bundle alone in a new folder; prints its path.
lone_copy() {
  local folder=$WORK/$1
  rm -rf "$folder"
  mkdir -p "$folder"
  cp "$bundle" "$folder/app"
  echo "$folder/app"
}

# Plain, with a space, empty, option-like, non-ASCII (a supplementary
# character among them) and not valid UTF-8.
arguments=(alpha "two words" "" "-x" "caf$(printf '\xc3\xa9') $(printf '\xf0\x9f\x99\x82')" "$(printf 'a\xffb\xc3')")

[ "$case_name" != pack ] && rm -rf "$results" && mkdir -p "$results"

case $case_name in
pack)
  rm -rf "$WORK"
  mkdir -p "$WORK"
  "$SATCHEL" pack-java --stub "$SATCHEL_JAVA" -o "$bundle" "$APP_JAR" || fail "pack-java of app.jar failed"
  "$SATCHEL" pack-java --stub "$SATCHEL_JAVA" -o "$WORK/two-jars" "$APP_JAR" "$EXTRA_JAR" ||
    fail "pack-java of app.jar and extra.jar failed"
  "$SATCHEL" pack-java --stub "$SATCHEL_JAVA" -o "$WORK/alt" "$APP_JAR" --main-class sample.Alt ||
    fail "pack-java with --main-class failed"
  # A Main-Class that the jar tool writes over two manifest lines.
  "$JDK_HOME/bin/jar" --create --file "$WORK/long.jar" --main-class "$LONG_MAIN" -C "$CLASS_DIR" . ||
    fail "jar failed"
  "$SATCHEL" pack-java --stub "$SATCHEL_JAVA" -o "$WORK/long" "$WORK/long.jar" ||
    fail "pack-java of long.jar failed"
  # Packed on one thread and on eight: the same bytes.  The bundle's
  # sample/data/big.bin (300,000 bytes) spans three compression blocks, which
  # the same_output case reads back through the payload class loader.
  for threads in 1 8; do
    "$SATCHEL" pack-java --stub "$SATCHEL_JAVA" -o "$WORK/app-j$threads" -j "$threads" "$APP_JAR" ||
      fail "pack-java -j $threads failed"
    cmp -s "$bundle" "$WORK/app-j$threads" || fail "pack-java -j $threads made another bundle"
  done
  # Without --stub: the front end of the build tree's data folder, the same bytes.
  "$SATCHEL" pack-java -o "$WORK/default-stub" "$APP_JAR" || fail "pack-java without --stub failed"
  cmp -s "$bundle" "$WORK/default-stub" || fail "pack-java without --stub made another bundle"
  # extra.jar signed with a key of our own (without its classes of packages
  # that app.jar has too: a package's classes must all have one signer).
  "$JDK_HOME/bin/keytool" -genkeypair -keystore "$WORK/keys" -storepass secret -keypass secret -alias tester \
    -dname "CN=Satchel Tester" -keyalg RSA -validity 3650 >/dev/null 2>&1 || fail "keytool failed"
  cp "$EXTRA_JAR" "$WORK/extra-signed.jar"
  zip -q -d "$WORK/extra-signed.jar" 'sample/shapes/*' sample/Main.class 'META-INF/services/*' ||
    fail "zip -d failed"
  "$JDK_HOME/bin/jarsigner" -keystore "$WORK/keys" -storepass secret "$WORK/extra-signed.jar" tester \
    >/dev/null 2>&1 || fail "jarsigner failed"
  "$SATCHEL" pack-java --stub "$SATCHEL_JAVA" -o "$WORK/probe" "$APP_JAR" "$WORK/extra-signed.jar" \
    --main-class sample.ClassPathProbe || fail "pack-java of the class-path probe failed"
  for made in "$bundle" "$WORK/two-jars" "$WORK/alt" "$WORK/long" "$WORK/probe"; do
    "$SATCHEL" verify "$made" >/dev/null || fail "satchel verify rejects $made"
  done
  # What the front end is told: the release that the newest class file needs
  # (the sample is compiled for 17), or the one given; embedded options in
  # their order.
  "$SATCHEL" list "$bundle" >"$WORK/list.txt"
  grep -q -F 'Java-Min-Version = "17"' "$WORK/list.txt" || fail "app.jar does not ask for Java 17"
  grep -q -F 'Java-Options' "$WORK/list.txt" && fail "options that nobody gave are embedded"
  "$SATCHEL" pack-java --stub "$SATCHEL_JAVA" -o "$WORK/options" "$APP_JAR" --min-java 1.8 \
    --java-option -Dsample.order=embedded --java-option=-Xmx300m --java-option -Dsample.kept=yes ||
    fail "pack-java with --java-option failed"
  "$SATCHEL" list "$WORK/options" >"$WORK/list.txt"
  grep -q -F 'Java-Min-Version = "8"' "$WORK/list.txt" || fail "--min-java 1.8 is not Java 8"
  grep -q -F 'Java-Options = "-Dsample.order=embedded\x0a-Xmx300m\x0a-Dsample.kept=yes"' "$WORK/list.txt" ||
    fail "the embedded options are not as given: $(grep Java-Options "$WORK/list.txt")"
  ;;

same_output)
  # All classes, resources, services, threads, and a non-daemon thread that
  # outlives main.
  run_java reference -jar "$APP_JAR" "${arguments[@]}"
  run_bundle bundle "$bundle" -jvm "$LIBJVM" -JXcheck:jni "${arguments[@]}"
  expect_code reference 0
  same_as reference bundle
  no_warnings bundle
  quiet bundle
  # -J options and "-jvm" may stand anywhere; they are not the application's.
  run_bundle mixed "$bundle" alpha -JXcheck:jni "two words" -jvm "$LIBJVM" "" -JXmx256m -x \
    "${arguments[4]}" "${arguments[5]}"
  same_as reference mixed
  no_warnings mixed
  # Arguments are decoded as the locale says, as the JDK's launcher does:
  # in the C locale every byte above 0x7F is a character of its own.
  for locale in C C.UTF-8; do
    LC_ALL=$locale run_java reference-$locale -jar "$APP_JAR" shapes "${arguments[@]}"
    LC_ALL=$locale run_bundle bundle-$locale "$bundle" -jvm "$LIBJVM" -JXcheck:jni shapes "${arguments[@]}"
    same_as reference-$locale bundle-$locale
    no_warnings bundle-$locale
  done
  ;;

exit_code)
  for code in 0 3 42 255; do
    run_java reference-$code -jar "$APP_JAR" exit $code
    run_bundle bundle-$code "$bundle" -jvm "$LIBJVM" -JXcheck:jni exit $code
    expect_code reference-$code $code
    same_as reference-$code bundle-$code
    no_warnings bundle-$code
  done
  ;;

exception)
  run_java reference -jar "$APP_JAR" throw
  run_bundle bundle "$bundle" -jvm "$LIBJVM" -JXcheck:jni throw
  expect_code reference 1
  same_as reference bundle
  no_warnings bundle
  expect_error bundle "Terminating due to Java exception: java.lang.IllegalStateException: requested failure"
  expect_error bundle "at sample.Main.fail(Main.java:"
  expect_error bundle "Caused by: java.lang.ArithmeticException: inner cause"
  if [ "$(head -c 35 "$results/bundle.err")" != "Terminating due to Java exception: " ]; then
    fail "the report does not open standard error"
  fi
  grep -q "worker: finished" "$results/bundle.out" || fail "the exception cut the worker thread off"
  # The application's own handler takes the exception; no report then.
  run_java reference-handled -jar "$APP_JAR" handled
  run_bundle bundle-handled "$bundle" -jvm "$LIBJVM" -JXcheck:jni handled
  expect_code reference-handled 1
  same_as reference-handled bundle-handled
  quiet bundle-handled
  # A stack overflow is an exception like any other, not a crash, also with
  # a small stack.
  for stack in "" -JXss512k; do
    run_java reference-recurse${stack:+-small} ${stack:+-Xss512k} -jar "$APP_JAR" recurse
    run_bundle bundle-recurse${stack:+-small} "$bundle" -jvm "$LIBJVM" $stack recurse
    expect_code reference-recurse${stack:+-small} 0
    same_as reference-recurse${stack:+-small} bundle-recurse${stack:+-small}
  done
  ;;

java_home)
  copy=$(lone_copy java-home)
  run_java reference -jar "$APP_JAR" "${arguments[@]}"
  JAVA_HOME=$JDK_HOME run_bundle bundle "$copy" -JXcheck:jni "${arguments[@]}"
  same_as reference bundle
  no_warnings bundle
  # A trailing separator changes nothing.
  JAVA_HOME=$JDK_HOME/ run_bundle slash "$copy" -JXcheck:jni "${arguments[@]}"
  same_as reference slash
  # The layouts of a Java 8 runtime and development kit (a JVM library
  # finds its own home from its real path, so a link stands in for one).
  if [ "$(uname -m)" = x86_64 ]; then
    for layout in lib/amd64/server jre/lib/amd64/server; do
      rm -rf "$WORK/java8"
      mkdir -p "$WORK/java8/$layout"
      ln -s "$LIBJVM" "$WORK/java8/$layout/libjvm.so"
      JAVA_HOME=$WORK/java8 run_bundle java8 "$copy" "${arguments[@]}"
      same_as reference java8
    done
  fi
  ;;

bundled_runtime | bundled_jre)
  folder=runtime
  [ "$case_name" = bundled_jre ] && folder=jre
  copy=$(lone_copy "$case_name")
  ln -s "$JDK_HOME" "$WORK/$case_name/$folder"
  run_java reference -jar "$APP_JAR" "${arguments[@]}"
  # The runtime beside the executable comes before JAVA_HOME.
  JAVA_HOME=/nonexistent/java run_bundle bundle "$copy" -JXcheck:jni "${arguments[@]}"
  same_as reference bundle
  no_warnings bundle
  # Started through a symbolic link from elsewhere: the folder is the real
  # executable's.
  rm -f "$WORK/$case_name-link"
  ln -s "$copy" "$WORK/$case_name-link"
  env -u JAVA_HOME "$WORK/$case_name-link" "${arguments[@]}" >"$results/link.out" 2>"$results/link.err"
  echo $? >"$results/link.code"
  same_as reference link
  ;;

no_runtime)
  copy=$(lone_copy no-runtime)
  env -u JAVA_HOME PATH=/nonexistent "$copy" a b >"$results/unset.out" 2>"$results/unset.err"
  echo $? >"$results/unset.code"
  expect_code unset 1
  expect_error unset "Could not locate Java runtime envorinment"
  expect_error unset "Looked for lib/server/libjvm.so"
  expect_error unset " in: $WORK/no-runtime/jre, $WORK/no-runtime/runtime, JAVA_HOME (not set), java on the PATH (none)."
  [ -s "$results/unset.out" ] && fail "standard output is not empty after a failure"
  JAVA_HOME=$WORK/no-runtime/nothing PATH=/nonexistent run_bundle bad-home "$copy"
  expect_code bad-home 1
  expect_error bad-home ", JAVA_HOME ($WORK/no-runtime/nothing), java on the PATH (none)."
  # "-jvm" as the last argument gives no path; no search happens then.
  JAVA_HOME=$JDK_HOME run_bundle jvm-last "$copy" -jvm
  expect_code jvm-last 1
  expect_error jvm-last "Could not locate Java runtime envorinment"
  ;;

bad_jvm_path)
  run_bundle missing "$bundle" -jvm "$WORK/no/such/libjvm.so" a
  expect_code missing 1
  expect_error missing "Could not load JVM library: $WORK/no/such/libjvm.so: not found"
  # A runtime found whose library does not load: the library and the reason,
  # the machine from the ELF header when it is another's.
  mkdir -p "$WORK/broken/lib/server" "$WORK/foreign/lib/server"
  head -c 4096 /dev/zero | tr '\0' x >"$WORK/broken/lib/server/libjvm.so"
  JAVA_HOME=$WORK/broken run_bundle broken "$(lone_copy broken-exe)" a
  expect_code broken 1
  expect_error broken "Could not load JVM library: $WORK/broken/lib/server/libjvm.so: "
  expect_error broken "invalid ELF header"
  cp /lib/x86_64-linux-gnu/libz.so.1 "$WORK/foreign/lib/server/libjvm.so"
  printf '\xb7\x00' | dd of="$WORK/foreign/lib/server/libjvm.so" bs=1 seek=18 conv=notrunc status=none
  JAVA_HOME=$WORK/foreign run_bundle foreign "$(lone_copy foreign-exe)" a
  expect_code foreign 1
  expect_error foreign "Could not load JVM library: $WORK/foreign/lib/server/libjvm.so: built for ARM64, but this program runs as x86-64"
  # A library that is no JVM: the front end itself.
  run_bundle not-jvm "$bundle" -jvm /lib/x86_64-linux-gnu/libz.so.1 a
  expect_code not-jvm 1
  expect_error not-jvm "Could not get JVM entry point: /lib/x86_64-linux-gnu/libz.so.1"
  # An option that the JVM does not know.
  run_bundle bad-option "$bundle" -jvm "$LIBJVM" -JXno-such-option a
  expect_code bad-option 1
  expect_error bad-option "Can't create Java VM"
  ;;

no_main_method)
  "$SATCHEL" pack-java --stub "$SATCHEL_JAVA" -o "$results/no-main" "$APP_JAR" --main-class sample.spi.Shape ||
    fail "pack-java failed"
  run_bundle no-main "$results/no-main" -jvm "$LIBJVM" -JXcheck:jni a
  expect_code no-main 1
  expect_error no-main "Main method not found in class sample.spi.Shape"
  no_warnings no-main
  ;;

main_class_option)
  run_java reference -cp "$APP_JAR" sample.Alt one two
  run_bundle bundle "$WORK/alt" -jvm "$LIBJVM" -JXcheck:jni one two
  same_as reference bundle
  no_warnings bundle
  # The manifest's continuation line is part of the name.
  (cd "$results" && "$JDK_HOME/bin/jar" --extract --file "$WORK/long.jar" META-INF/MANIFEST.MF)
  grep -q '^ ' "$results/META-INF/MANIFEST.MF" || fail "long.jar's manifest has no continuation line"
  run_java reference-long -jar "$WORK/long.jar" one
  run_bundle bundle-long "$WORK/long" -jvm "$LIBJVM" -JXcheck:jni one
  expect_code reference-long 0
  same_as reference-long bundle-long
  ;;

two_jars)
  # The first jar's sample.Main wins; both jars' Shape providers are found.
  run_java reference -cp "$APP_JAR:$EXTRA_JAR" sample.Main shapes
  run_bundle bundle "$WORK/two-jars" -jvm "$LIBJVM" -JXcheck:jni shapes
  same_as reference bundle
  no_warnings bundle
  grep -q "shape hexagon" "$results/bundle.out" || fail "the second jar's provider is missing"
  grep -q "shadowed" "$results/bundle.out" && fail "the second jar's sample.Main ran"
  ;;

class_path)
  # The jars that the manifest's Class-Path names are packed behind it, as
  # java -jar finds them: relative URLs from the jar's folder, path-absolute
  # ones and file: URLs as they stand, entries split at any white space; one
  # that is missing is named and left out, one of another scheme is named and
  # ignored (as java ignores it), one named twice is packed once.
  folder=$WORK/class-path
  rm -rf "$folder" && mkdir -p "$folder/lib" "$folder/abs/services/META-INF/services"
  cp "$APP_JAR" "$folder/app.jar"
  cp "$EXTRA_JAR" "$folder/lib/extra%.jar"
  # Two jars that add a service file each, found only through absolute entries.
  echo sample.shapes.Hexagon >"$folder/abs/services/META-INF/services/sample.spi.Shape"
  for name in second third; do
    (cd "$folder/abs/services" && zip -q -r "$folder/abs/$name.jar" META-INF) || fail "zip failed"
  done
  printf 'Class-Path: lib/extra%%25.jar lib/missing.jar ./lib/extra%%25.jar %s\n  file:%s\thttp://example.invalid/x.jar\n' \
    "$folder/abs/second.jar" "$folder/abs/third.jar" >"$folder/add.mf"
  "$JDK_HOME/bin/jar" --update --file "$folder/app.jar" --manifest "$folder/add.mf" || fail "jar failed"
  "$SATCHEL" pack-java --stub "$SATCHEL_JAVA" -o "$folder/app" "$folder/app.jar" \
    >"$results/pack.out" 2>"$results/pack.err" || fail "pack-java failed: $(cat "$results/pack.err")"
  expect_error pack "warning: $folder/app.jar: Class-Path entry lib/missing.jar left out: not found"
  expect_error pack "warning: $folder/app.jar: Class-Path entry http://example.invalid/x.jar left out: not a file URL"
  [ "$(grep -c warning "$results/pack.err")" = 2 ] || fail "not two warnings: $(cat "$results/pack.err")"
  [ "$("$SATCHEL" list "$folder/app" | grep -c 'sample/shapes/Hexagon.class')" = 1 ] ||
    fail "extra.jar is not packed once"
  run_java reference -jar "$folder/app.jar" shapes
  run_bundle bundle "$folder/app" -jvm "$LIBJVM" -JXcheck:jni shapes
  same_as reference bundle
  grep -q "shape hexagon" "$results/bundle.out" || fail "the provider of the Class-Path jar is missing"
  run_java reference-all -jar "$folder/app.jar"
  run_bundle bundle-all "$folder/app" -jvm "$LIBJVM" -JXcheck:jni
  same_as reference-all bundle-all
  grep -q "service files: 4" "$results/bundle-all.out" || fail "the absolute entries' jars are missing"
  ;;

class_path_probe)
  # Resources as text URLs, every jar's resource of a name, folders, times,
  # sizes, code source, package metadata, multi-release entries, signers,
  # properties.
  parallelism=-Djava.util.concurrent.ForkJoinPool.common.parallelism=3
  run_java reference "$parallelism" -cp "$APP_JAR:$WORK/extra-signed.jar" sample.ClassPathProbe
  run_bundle bundle "$WORK/probe" -jvm "$LIBJVM" -JXcheck:jni "-J${parallelism#-}"
  expect_code reference 0
  same_as reference bundle
  no_warnings bundle
  quiet bundle
  ;;

native_thread)
  # JNI FindClass on a thread that native code attached finds the
  # application's classes, through the system class loader.
  "$SATCHEL" pack-java --stub "$SATCHEL_JAVA" -o "$results/native" "$APP_JAR" --main-class sample.NativeProbe ||
    fail "pack-java failed"
  run_java reference -cp "$APP_JAR" sample.NativeProbe "$NATIVE_PROBE"
  run_bundle bundle "$results/native" -jvm "$LIBJVM" -JXcheck:jni "$NATIVE_PROBE"
  expect_code reference 0
  same_as reference bundle
  no_warnings bundle
  grep -q "finds sample.gen.p1.Node1: true" "$results/bundle.out" || fail "the native thread finds no class"
  ;;

debian_apps)
  # Applications from Debian's archive, packed and run beside `java -cp` on
  # the same jars and JVM, each in a folder of its own: the same exit code,
  # standard output and error, and files written.
  here=$(cd "$(dirname "$0")" && pwd)/debian
  java_dir=/usr/share/java
  groovy_dir=/usr/share/groovy/lib
  "$JDK_HOME/bin/javac" -d "$WORK/logapp" -cp "$java_dir/log4j-api.jar" "$here/LogApp.java" &&
    cp "$here/log4j2.xml" "$WORK/logapp/" &&
    "$JDK_HOME/bin/jar" --create --file "$WORK/logapp.jar" -C "$WORK/logapp" . || fail "building logapp.jar failed"
  groovy_script='println java.nio.file.Paths.get(args[0]).text.trim(); println groovy.json.JsonOutput.toJson([a: [1, 2]]); println new groovy.xml.MarkupBuilder().with { it.b("c"); "" }; println new groovy.text.SimpleTemplateEngine().createTemplate("t ${x}").make([x: 3])'
  clojure_script='(require (quote clojure.pprint)) (clojure.pprint/pprint {:sum (reduce + (range 10)) :v (clojure-version)}) (println (try (clojure.core/eval (quote (/ 1 0))) (catch ArithmeticException e (.getMessage e))))'
  # name|main class|jars (in /usr/share/java unless absolute)|VM option|arguments (one per line)
  apps=(
    "antlr4|org.antlr.v4.Tool|stringtemplate4 antlr4 antlr4-runtime antlr3-runtime treelayout||-o
out
-visitor
$here/Expr.g4"
    "checkstyle|com.puppycrawl.tools.checkstyle.Main|antlr antlr4-runtime commons-lang3 commons-beanutils commons-collections3 guava commons-cli commons-logging picocli Saxon-HE reflections ant checkstyle||-c
/sun_checks.xml
$here/Sample.java"
    "checkstyle-version|com.puppycrawl.tools.checkstyle.Main|antlr antlr4-runtime commons-lang3 commons-beanutils commons-collections3 guava commons-cli commons-logging picocli Saxon-HE reflections ant checkstyle||--version"
    "groovy|groovy.ui.GroovyMain|$(echo $groovy_dir/groovy-2*.jar) $groovy_dir/groovy-nio.jar $groovy_dir/groovy-json.jar $groovy_dir/groovy-xml.jar $groovy_dir/groovy-templates.jar $groovy_dir/antlr.jar $groovy_dir/asm.jar $groovy_dir/asm-commons.jar $groovy_dir/asm-tree.jar $groovy_dir/asm-util.jar $groovy_dir/asm-analysis.jar $groovy_dir/commons-cli.jar||-e
$groovy_script
$here/note.txt"
    "batik|org.apache.batik.apps.rasterizer.Main|batik-rasterizer batik-all xmlgraphics-commons xml-apis-ext commons-io commons-logging|-Djava.awt.headless=true|-scriptSecurityOff
-d
out
$here/picture.svg"
    "clojure|clojure.main|clojure-1.11.1 spec.alpha core.specs.alpha||-e
$clojure_script"
    "clojure-alone|clojure.main|clojure-1.11.1||-e
$clojure_script"
    "log4j2|LogApp|$WORK/logapp.jar log4j-api log4j-core||"
    "ecj|org.eclipse.jdt.internal.compiler.batch.Main|eclipse-jdt-core||-proc:none
-d
out
-17
$here/Warned.java
$here/Sample.java"
  )
  for row in "${apps[@]}"; do
    IFS='|' read -r name main jar_names vm_option arguments <<<"${row%%$'\n'*}"
    # The arguments run to the end of the row, one per line.
    arguments=${row#*|*|*|*|}
    mapfile -t args <<<"$arguments"
    [ -z "$arguments" ] && args=()
    jars=()
    for jar in $jar_names; do
      case $jar in /*) jars+=("$jar") ;; *) jars+=("$java_dir/$jar.jar") ;; esac
    done
    class_path=$(IFS=:; echo "${jars[*]}")
    "$SATCHEL" pack-java --stub "$SATCHEL_JAVA" -o "$WORK/$name" --main-class "$main" "${jars[@]}" ||
      fail "pack-java of $name failed"
    rm -rf "$results/$name-java" "$results/$name-bundle"
    mkdir -p "$results/$name-java" "$results/$name-bundle"
    (cd "$results/$name-java" && run_java reference-$name $vm_option -cp "$class_path" "$main" "${args[@]}")
    (cd "$results/$name-bundle" &&
      run_bundle bundle-$name "$WORK/$name" -jvm "$LIBJVM" ${vm_option:+-J${vm_option#-}} "${args[@]}")
    same_as reference-$name bundle-$name
    if ! cmp -s "$results/reference-$name.err" "$results/bundle-$name.err"; then
      fail "standard error of $name differs:"
      diff "$results/reference-$name.err" "$results/bundle-$name.err" | head -20
    fi
    if ! diff -r "$results/$name-java" "$results/$name-bundle" >/dev/null; then
      fail "$name wrote other files:"
      diff -r "$results/$name-java" "$results/$name-bundle" | head -10
    fi
    [ -s "$results/reference-$name.out" ] || [ -n "$(ls -A "$results/$name-java")" ] ||
      fail "$name did nothing to compare"
  done
  ;;

jedit)
  # A Swing editor from Debian's archive on a virtual X server: the windows
  # that it opens, by title, as under `java -cp`.  jEdit finds its home
  # folder through java.class.path, which names no jar here; the packager
  # names the folder with a VM option (see the README).
  home=/usr/share/jedit
  "$SATCHEL" pack-java --stub "$SATCHEL_JAVA" -o "$WORK/jedit" --main-class org.gjt.sp.jedit.jEdit \
    --java-option -Djedit.home=$home $home/jedit.jar || fail "pack-java of jEdit failed"
  echo "a note" >"$results/note.txt"
  # window_titles NAME COMMAND...: runs jEdit on a display of its own until
  # its editor window shows, then lists the top-level windows' titles in
  # $results/NAME.titles.
  window_titles() {
    local name=$1
    shift
    Xvfb -displayfd 3 -screen 0 1024x768x24 3>"$results/$name.display" >/dev/null 2>&1 &
    local server=$!
    for _ in $(seq 100); do [ -s "$results/$name.display" ] && break; sleep 0.1; done
    local display=:$(head -1 "$results/$name.display")
    (cd "$results" && DISPLAY=$display exec "$@" -noserver -nosplash -settings="$results/$name-settings" note.txt \
      >"$results/$name.out" 2>"$results/$name.err") &
    local app=$!
    for _ in $(seq 180); do
      DISPLAY=$display xwininfo -root -tree 2>/dev/null | grep -q '"jEdit - note.txt"' && break
      sleep 0.5
    done
    # The help window of a first start follows the editor's: the list counts
    # once it stayed the same for three seconds.
    local same=0 previous= titles
    for _ in $(seq 120); do
      titles=$(DISPLAY=$display xwininfo -root -tree | sed -n 's/^     0x[0-9a-f]* "\(.*\)": (.*/\1/p' | sort)
      if [ "$titles" = "$previous" ]; then same=$((same + 1)); else same=0; fi
      previous=$titles
      [ $same -ge 6 ] && break
      sleep 0.5
    done
    echo "$titles" >"$results/$name.titles"
    kill "$app" "$server"
    wait "$app" "$server" 2>/dev/null
  }
  window_titles reference "$java" -cp $home/jedit.jar org.gjt.sp.jedit.jEdit
  window_titles bundle "$WORK/jedit" -jvm "$LIBJVM"
  grep -q -x "jEdit - note.txt" "$results/reference.titles" ||
    fail "jEdit showed no editor under java: $(cat "$results/reference.titles" "$results/reference.err")"
  if ! cmp -s "$results/reference.titles" "$results/bundle.titles"; then
    fail "the bundle's windows differ:"
    diff "$results/reference.titles" "$results/bundle.titles"
    head -5 "$results/bundle.err"
  fi
  ;;

manifest_options)
  # What the manifest asks of the virtual machine, as java -jar honours it;
  # without those attributes, neither has it.
  folder=$WORK/manifest-options
  rm -rf "$folder" && mkdir -p "$folder"
  cp "$APP_JAR" "$folder/app.jar"
  printf '%s\n' 'Add-Opens: java.base/java.lang java.base/java.util' 'Add-Exports: java.base/sun.nio.ch' \
    'Enable-Native-Access: ALL-UNNAMED' 'Launcher-Agent-Class: sample.Agent' >"$folder/add.mf"
  "$JDK_HOME/bin/jar" --update --file "$folder/app.jar" --manifest "$folder/add.mf" || fail "jar failed"
  "$SATCHEL" pack-java --stub "$SATCHEL_JAVA" -o "$folder/app" "$folder/app.jar" || fail "pack-java failed"
  for jar in plain manifest; do
    source=$APP_JAR executable=$bundle
    [ $jar = manifest ] && source=$folder/app.jar executable=$folder/app
    run_java reference-$jar -jar "$source" launch
    run_bundle bundle-$jar "$executable" -jvm "$LIBJVM" -JXcheck:jni launch
    same_as reference-$jar bundle-$jar
    no_warnings bundle-$jar
  done
  grep -q "java.lang open: true" "$results/bundle-manifest.out" || fail "Add-Opens was not honoured"
  grep -q "sun.nio.ch exported: true" "$results/bundle-manifest.out" || fail "Add-Exports was not honoured"
  grep -q "agent: started" "$results/bundle-manifest.out" || fail "the launcher agent did not start"
  grep -q "java.lang open: false" "$results/bundle-plain.out" || fail "java.lang is open without Add-Opens"
  # A runtime whose release file says Java 8 does not know the module options,
  # which java -jar there ignores: it does not get them (the JVM behind it is
  # the same, so its answers show what it got).
  mkdir -p "$folder/old/jre/lib/server"
  ln -s "$LIBJVM" "$folder/old/jre/lib/server/libjvm.so"
  echo 'JAVA_VERSION="1.8.0_292"' >"$folder/old/jre/release"
  "$SATCHEL" pack-java --stub "$SATCHEL_JAVA" -o "$folder/old/app" "$folder/app.jar" --min-java 8 ||
    fail "pack-java failed"
  run_bundle java8 "$folder/old/app" launch
  expect_code java8 0
  grep -q "java.lang open: false" "$results/java8.out" || fail "a Java 8 runtime got --add-opens"
  grep -q "agent: started" "$results/java8.out" || fail "the launcher agent did not start under Java 8"
  ;;

java_options)
  # Options embedded with --java-option come before the user's own -J
  # options, so that the user's win, as with java -D... -D... on one line.
  names=(sample.order sample.kept)
  embedded=(-Dsample.order=embedded -Xmx300m -Dsample.kept=yes)
  run_java reference "${embedded[@]}" -jar "$APP_JAR" launch "${names[@]}"
  run_bundle bundle "$WORK/options" -jvm "$LIBJVM" -JXcheck:jni launch "${names[@]}"
  same_as reference bundle
  no_warnings bundle
  grep -q "sample.order=embedded" "$results/bundle.out" || fail "the embedded option is missing"
  run_java reference-user "${embedded[@]}" -Dsample.order=user -Xmx200m -jar "$APP_JAR" launch "${names[@]}"
  run_bundle bundle-user "$WORK/options" -JDsample.order=user -jvm "$LIBJVM" launch -JXmx200m "${names[@]}"
  same_as reference-user bundle-user
  grep -q "sample.order=user" "$results/bundle-user.out" || fail "the user's option does not win"
  ;;

path_java)
  # The java on the PATH, through links, when nothing else is there.
  folder=$WORK/path-java
  copy=$(lone_copy path-java)
  mkdir -p "$folder/bin" "$folder/links"
  ln -s "$JDK_HOME/bin/java" "$folder/links/java"
  ln -s "$folder/links/java" "$folder/bin/java"
  run_java reference -jar "$APP_JAR" "${arguments[@]}"
  env -u JAVA_HOME PATH="$folder/nothing::$folder/bin" "$copy" "${arguments[@]}" >"$results/path.out" 2>"$results/path.err"
  echo $? >"$results/path.code"
  same_as reference path
  ;;

min_java)
  # A runtime older than the bundle asks for is passed over for the next.
  folder=$WORK/min-java
  copy=$(lone_copy min-java)
  mkdir -p "$folder/jre/lib/server"
  ln -s "$LIBJVM" "$folder/jre/lib/server/libjvm.so"
  echo 'JAVA_VERSION="11.0.2"' >"$folder/jre/release"
  run_java reference -jar "$APP_JAR" "${arguments[@]}"
  JAVA_HOME=$JDK_HOME run_bundle newer "$copy" "${arguments[@]}"
  same_as reference newer
  # None recent enough: which were found and why they were passed over.
  "$SATCHEL" pack-java --stub "$SATCHEL_JAVA" -o "$folder/app" "$APP_JAR" --min-java 99 || fail "pack-java failed"
  JAVA_HOME=$JDK_HOME PATH=/nonexistent run_bundle old "$folder/app"
  expect_code old 1
  expect_error old "This program needs Java 99 or later.  Passed over as too old: $folder/jre (Java 11), JAVA_HOME ($JDK_HOME) (Java 17)."
  expect_error old "Also looked for lib/server/libjvm.so"
  grep -q "No Java runtime was found" "$results/old.err" && fail "runtimes were found, yet none is said to be"
  ;;

pack_errors)
  out=$WORK/errors/out
  mkdir -p "$WORK/errors"
  # expect_pack_error NAME TEXT ARGS...: fails, says TEXT, leaves nothing.
  expect_pack_error() {
    local name=$1 text=$2
    shift 2
    "$SATCHEL" pack-java "$@" >"$results/$name.out" 2>"$results/$name.err"
    echo $? >"$results/$name.code"
    [ "$(cat "$results/$name.code")" = 0 ] && fail "$name: pack-java succeeded"
    expect_error "$name" "$text"
    [ -e "$out" ] && fail "$name: pack-java left $out behind"
    rm -f "$out"
  }
  expect_pack_error no-jar "$WORK/errors/none.jar" --stub "$SATCHEL_JAVA" -o "$out" "$WORK/errors/none.jar"
  echo "not a zip" >"$WORK/errors/text.jar"
  expect_pack_error not-zip "$WORK/errors/text.jar" --stub "$SATCHEL_JAVA" -o "$out" "$WORK/errors/text.jar"
  expect_pack_error no-main "satchel: pack-java: $EXTRA_JAR: its manifest names no Main-Class" --stub "$SATCHEL_JAVA" -o "$out" "$EXTRA_JAR"
  expect_pack_error bad-main "sample/Nothing.class" --stub "$SATCHEL_JAVA" -o "$out" "$APP_JAR" \
    --main-class sample.Nothing
  expect_pack_error no-stub "$WORK/errors/no-stub" --stub "$WORK/errors/no-stub" -o "$out" "$APP_JAR"
  expect_pack_error stub-with-payload "already carries a payload" --stub "$bundle" -o "$out" "$APP_JAR"
  expect_pack_error no-output "-o OUT" --stub "$SATCHEL_JAVA" "$APP_JAR"
  expect_pack_error empty-main "--main-class needs a value" --stub "$SATCHEL_JAVA" -o "$out" "$APP_JAR" \
    --main-class ""
  # A damaged jar: one byte of compressed class data changed.
  cp "$APP_JAR" "$WORK/errors/damaged.jar"
  offset=$(grep -a -b -o 'sample/gen/p5/Node205.class' "$WORK/errors/damaged.jar" | head -1 | cut -d: -f1)
  printf '\x00\x00\x00\x00\x00\x00\x00\x00' | dd of="$WORK/errors/damaged.jar" bs=1 seek=$((offset + 60)) conv=notrunc status=none
  expect_pack_error damaged "$WORK/errors/damaged.jar" --stub "$SATCHEL_JAVA" -o "$out" "$WORK/errors/damaged.jar"
  expect_pack_error min-java "--min-java 0x11: not a Java release" --stub "$SATCHEL_JAVA" -o "$out" \
    "$APP_JAR" --min-java 0x11
  expect_pack_error option-lines "an option cannot span lines" --stub "$SATCHEL_JAVA" -o "$out" \
    "$APP_JAR" --java-option "$(printf -- '-Da=1\n-Db=2')"
  expect_pack_error option-dash "--java-option Xmx1g: a virtual machine option begins with -" \
    --stub "$SATCHEL_JAVA" -o "$out" "$APP_JAR" --java-option Xmx1g
  expect_pack_error gui-elf "not a Windows executable" --stub "$SATCHEL_JAVA" -o "$out" "$APP_JAR" --gui
  # A signed jar changed after signing: refused (java -cp refuses to read
  # the changed entry).
  cp "$WORK/extra-signed.jar" "$WORK/errors/tampered.jar"
  mkdir -p "$WORK/errors/changed/sample/shared"
  echo "changed after signing" >"$WORK/errors/changed/sample/shared/note.txt"
  (cd "$WORK/errors/changed" && zip -q "$WORK/errors/tampered.jar" sample/shared/note.txt)
  expect_pack_error tampered "sample/shared/note.txt: its digest does not match" --stub "$SATCHEL_JAVA" -o "$out" \
    "$APP_JAR" "$WORK/errors/tampered.jar"
  # A signed jar with an entry too large to be held in memory: its digest is
  # taken as it streams by, and a change to it is found as well.
  mkdir -p "$WORK/errors/large/sample/data"
  head -c 3000000 /dev/zero | tr '\0' a >"$WORK/errors/large/sample/data/large.bin"
  cp "$WORK/extra-signed.jar" "$WORK/errors/large-signed.jar"
  (cd "$WORK/errors/large" && zip -q "$WORK/errors/large-signed.jar" sample/data/large.bin)
  "$JDK_HOME/bin/jarsigner" -keystore "$WORK/keys" -storepass secret "$WORK/errors/large-signed.jar" tester \
    >/dev/null 2>&1 || fail "jarsigner failed"
  "$SATCHEL" pack-java --stub "$SATCHEL_JAVA" -o "$out" "$APP_JAR" "$WORK/errors/large-signed.jar" ||
    fail "pack-java of a signed jar with a large entry failed"
  rm -f "$out"
  head -c 3000000 /dev/zero | tr '\0' b >"$WORK/errors/large/sample/data/large.bin"
  (cd "$WORK/errors/large" && zip -q "$WORK/errors/large-signed.jar" sample/data/large.bin)
  expect_pack_error large-tampered "sample/data/large.bin: its digest does not match" --stub "$SATCHEL_JAVA" \
    -o "$out" "$APP_JAR" "$WORK/errors/large-signed.jar"
  # A signature file changed after signing.
  cp "$WORK/extra-signed.jar" "$WORK/errors/resigned.jar"
  mkdir -p "$WORK/errors/sf/META-INF"
  unzip -p "$WORK/extra-signed.jar" META-INF/TESTER.SF | sed 's/^Created-By: .*/Created-By: someone else/' \
    >"$WORK/errors/sf/META-INF/TESTER.SF"
  (cd "$WORK/errors/sf" && zip -q "$WORK/errors/resigned.jar" META-INF/TESTER.SF)
  expect_pack_error bad-signature "TESTER.RSA does not hold" --stub "$SATCHEL_JAVA" -o "$out" \
    "$WORK/errors/resigned.jar" --main-class sample.mr.Versioned
  # The --main-class value overrides an absent manifest entry.
  "$SATCHEL" pack-java --stub "$SATCHEL_JAVA" -o "$out" "$EXTRA_JAR" "$APP_JAR" --main-class=sample.Alt ||
    fail "pack-java --main-class=NAME failed"
  rm -f "$out"
  ;;

*)
  echo "unknown case $case_name"
  exit 2
  ;;
esac

if [ $failures -ne 0 ]; then
  echo "$case_name: $failures failed"
  exit 1
fi
echo "$case_name: passed"
