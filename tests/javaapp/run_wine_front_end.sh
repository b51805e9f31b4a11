#!/bin/bash
# The Windows front end (x86_64 build) under wine64: where it looks for a Java
# runtime and what its warning box says when a step fails.  There is no
# Windows JVM here, so a DLL without JNI_CreateJavaVM stands in for jvm.dll:
# "Could not get JVM entry point: PATH" shows that PATH was found and loaded.
#
#   run_wine_front_end.sh setup|cases
#
# Environment: SATCHEL (native tool), WIN64 (x86_64 build folder), APP_JAR,
# WORK (scratch folder, its wine prefix inside).  Message boxes are read from
# wine's relay trace of user32.MessageBoxA.
set -u
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
export WINEPREFIX=$WORK/wineprefix WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
# JAVA_HOME only where a case sets it.
unset JAVA_HOME
front=$WIN64/javahost/satchel-java.exe
no_entry=$WIN64/tests/javahost_vm/satchel_no_entry_library.dll
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

if [ "$1" = setup ]; then
  [ -x "$WINE" ] || { echo "wine64 is not installed ($WINE)"; exit 1; }
  for needed in "$front" "$no_entry"; do
    [ -f "$needed" ] || { echo "missing $needed: build the win64 preset first"; exit 1; }
  done
  rm -rf "$WORK"
  mkdir -p "$WORK"
  WINEDEBUG=-all "$WINE" wineboot -i >/dev/null 2>&1 || { echo "wineboot failed"; exit 1; }
  # A server that outlives each program spares the cases wine's start-up.
  WINEDEBUG=-all "$WINESERVER" -p30
  WINEDEBUG=-all "$WINE" reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ \
    /d user32.MessageBoxA /f >/dev/null 2>&1 || { echo "reg add failed"; exit 1; }
  "$SATCHEL" pack-java --stub "$front" -o "$WORK/app.exe" "$APP_JAR" || { echo "pack-java failed"; exit 1; }
  # The desktop variant: the same front end with the GUI subsystem.
  "$SATCHEL" pack-java --stub "$front" -o "$WORK/gui.exe" "$APP_JAR" --gui || { echo "pack-java --gui failed"; exit 1; }
  subsystem() { x86_64-w64-mingw32-objdump -p "$1" | awk '$1 == "Subsystem" { print $2 }'; }
  [ "$(subsystem "$WORK/app.exe")" = 00000003 ] || { echo "app.exe: $(subsystem "$WORK/app.exe")"; exit 1; }
  [ "$(subsystem "$WORK/gui.exe")" = 00000002 ] || { echo "gui.exe: $(subsystem "$WORK/gui.exe")"; exit 1; }
  "$SATCHEL" verify "$WORK/gui.exe" >/dev/null || { echo "satchel verify rejects gui.exe"; exit 1; }
  echo "setup: passed"
  exit 0
fi

# run NAME PROGRAM ARGS...: exit code to $WORK/NAME.code, the boxes' calls to
# $WORK/NAME.boxes.
run() {
  local name=$1
  shift
  WINEDEBUG=+relay "$WINE" "$@" 2>"$WORK/$name.trace" >/dev/null
  echo $? >"$WORK/$name.code"
  grep -a 'Call user32.MessageBoxA' "$WORK/$name.trace" >"$WORK/$name.boxes"
}

# expect_box NAME TEXT: one warning box (style 0x30, no caption) whose text,
# as the trace writes it (backslashes doubled, newlines as \n), holds TEXT;
# exit code 1.
expect_box() {
  local name=$1 text=$2
  [ "$(cat "$WORK/$name.code")" = 1 ] || fail "$name ended with $(cat "$WORK/$name.code"), expected 1"
  [ "$(wc -l <"$WORK/$name.boxes")" = 1 ] || fail "$name showed $(wc -l <"$WORK/$name.boxes") boxes, expected 1"
  grep -q -F ',00000000,00000030)' "$WORK/$name.boxes" || fail "$name: not a warning box without caption"
  if ! grep -q -F -- "$text" "$WORK/$name.boxes"; then
    fail "$name: the box lacks '$text':"
    cat "$WORK/$name.boxes"
  fi
}

# The Windows form of a path below $WORK, as the trace shows it.
traced() {
  echo "Z:$1" | sed 's|/|\\\\|g'
}

# place FOLDER FILE: a copy of the bundle in FOLDER and the stand-in DLL at
# FOLDER/FILE.
place() {
  rm -rf "$1"
  mkdir -p "$1/$(dirname "$2")"
  cp "$WORK/app.exe" "$1/app.exe"
  cp "$no_entry" "$1/$2"
}

# No payload: the front end alone.
run no-payload "$front" a
[ "$(cat "$WORK/no-payload.code")" = 1 ] || fail "no-payload ended with $(cat "$WORK/no-payload.code")"
[ "$(wc -l <"$WORK/no-payload.boxes")" = 1 ] || fail "no-payload showed no box"

# No runtime anywhere: the places looked at, in order.  The trace cuts a text
# after about 220 characters, so this case runs from a short folder of its own
# wherever the checkout lies; the rest of the text, ", JAVA_HOME (not set);
# then in the registry.", stays out of sight.
none=$(mktemp -d /tmp/sj.XXXXXX)
cp "$WORK/app.exe" "$none/app.exe"
run none "$none/app.exe" a
expect_box none "Could not locate Java runtime envorinment\\nNo Java runtime was found.  Looked for bin\\\\server\\\\jvm.dll or bin\\\\client\\\\jvm.dll (or the same under jre) in: $(traced "$none/jre"), $(traced "$none/runtime")"
rm -rf "$none"

# A runtime beside the executable: jre, then runtime; server, then client.
place "$WORK/jre" jre/bin/server/jvm.dll
run jre "$WORK/jre/app.exe" a
expect_box jre "Could not get JVM entry point: $(traced "$WORK/jre/jre/bin/server/jvm.dll")"
place "$WORK/client" runtime/bin/client/jvm.dll
run client "$WORK/client/app.exe" a
expect_box client "Could not get JVM entry point: $(traced "$WORK/client/runtime/bin/client/jvm.dll")"

# A folder whose name is not ASCII.
place "$WORK/Gr$(printf '\xc3\xbc\xc3\x9f')e" runtime/bin/server/jvm.dll
run unicode "$WORK/Gr$(printf '\xc3\xbc\xc3\x9f')e/app.exe" a
expect_box unicode "Could not get JVM entry point: "

# JAVA_HOME, when nothing is beside the executable.
place "$WORK/home" java/bin/server/jvm.dll
rm -rf "$WORK/home-exe" && mkdir "$WORK/home-exe" && mv "$WORK/home/app.exe" "$WORK/home-exe/app.exe"
JAVA_HOME="$(traced "$WORK/home/java" | sed 's|\\\\|\\|g')" run java-home "$WORK/home-exe/app.exe" a
expect_box java-home "Could not get JVM entry point: $(traced "$WORK/home/java/bin/server/jvm.dll")"

# The layout of a Java 8 development kit: its runtime in its jre folder.
place "$WORK/jdk8" jdk/jre/bin/server/jvm.dll
rm -rf "$WORK/jdk8-exe" && mkdir "$WORK/jdk8-exe" && mv "$WORK/jdk8/app.exe" "$WORK/jdk8-exe/app.exe"
JAVA_HOME="$(traced "$WORK/jdk8/jdk" | sed 's|\\\\|\\|g')" run jdk8 "$WORK/jdk8-exe/app.exe" a
expect_box jdk8 "Could not get JVM entry point: $(traced "$WORK/jdk8/jdk/jre/bin/server/jvm.dll")"

# An explicit -jvm is taken as it is, even with a runtime beside.
run explicit "$WORK/jre/app.exe" -jvm 'C:\nowhere\jvm.dll' a
expect_box explicit 'Could not load JVM library: C:\\nowhere\\jvm.dll'

if [ $failures -ne 0 ]; then
  echo "cases: $failures failed"
  exit 1
fi
echo "cases: passed"
