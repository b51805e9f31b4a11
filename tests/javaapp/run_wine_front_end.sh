#!/bin/bash
# The Windows front end under wine: where it looks for a Java runtime and what
# its warning box says when a step fails.  MACHINE says which build runs:
# x86_64 (the default) under wine64 here, or i686 under 32-bit wine in the
# 32-bit test machine, which brings its own wine (RUN32_WINE) and a prefix
# made already (RUN32_PREFIX).  There is no Windows JVM here, so a DLL
# without JNI_CreateJavaVM stands in for jvm.dll: "Could not get JVM entry
# point: PATH" shows that PATH was found and loaded.
# The cases run the desktop variant (pack-java --gui), which shows every
# message in a box; the console variant writes to standard error.
#
#   run_wine_front_end.sh setup|cases
#
# Environment: SATCHEL (native tool), WIN64 and WIN32 (x86_64 and i686 build
# folders), MACHINE, APP_JAR, WORK (scratch folder, its wine prefix inside).
# Message boxes are read from wine's relay trace of user32.MessageBoxW, which
# cuts a text after about 220 characters: cases whose text holds a path run
# from short folders of their own under /tmp, wherever the checkout lies.
set -u
WINE=${RUN32_WINE:-/usr/lib/wine/wine64}
WINESERVER=/usr/lib/wine/wineserver
export WINEPREFIX=${RUN32_PREFIX:-$WORK/wineprefix} WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
# JAVA_HOME only where a case sets it.
unset JAVA_HOME
# The build that runs, the build of the other machine (whose library is a
# foreign one here), and how the front end names both machines.
case ${MACHINE:-x86_64} in
  i686) build=$WIN32 other=$WIN64 own_name="x86 (32-bit)" other_name="x86-64" ;;
  *) build=$WIN64 other=$WIN32 own_name="x86-64" other_name="x86 (32-bit)" ;;
esac
front=$build/javahost/satchel-java.exe
no_entry=$build/tests/javahost_vm/satchel_no_entry_library.dll
no_entry_foreign=$other/tests/javahost_vm/satchel_no_entry_library.dll
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

if [ "$1" = setup ]; then
  [ -x "$WINE" ] || { echo "wine is not installed ($WINE)"; exit 1; }
  for needed in "$front" "$no_entry" "$no_entry_foreign"; do
    [ -f "$needed" ] || { echo "missing $needed: build the win64 and win32 presets first"; exit 1; }
  done
  rm -rf "$WORK"
  mkdir -p "$WORK"
  if [ -z "${RUN32_PREFIX:-}" ]; then
    WINE=$WINE sh "$(dirname "$0")/../wine_prefix.sh" "$WINEPREFIX" 2>&1 || exit 1
  fi
  # A server that outlives each program spares the cases wine's start-up.
  # It must not hold this test's output open, or the test lasts as long.
  WINEDEBUG=-all "$WINESERVER" -p30 </dev/null >/dev/null 2>&1
  WINEDEBUG=-all "$WINE" reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ \
    /d 'user32.MessageBoxA;user32.MessageBoxW;KERNEL32.AllocConsole;KERNEL32.AttachConsole' /f \
    >/dev/null 2>&1 || { echo "reg add failed"; exit 1; }
  "$SATCHEL" pack-java --stub "$front" -o "$WORK/app.exe" "$APP_JAR" || { echo "pack-java failed"; exit 1; }
  # The desktop variant: the same front end with the GUI subsystem.
  "$SATCHEL" pack-java --stub "$front" -o "$WORK/gui.exe" "$APP_JAR" --gui || { echo "pack-java --gui failed"; exit 1; }
  # The virtual machine looks for the system loader agent among the
  # executable's exports, by the plain name (on i686 after the stdcall one).
  x86_64-w64-mingw32-objdump -p "$front" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    grep -q '\] Agent_OnLoad_satchel$' || { echo "$front does not export Agent_OnLoad_satchel"; exit 1; }
  subsystem() { x86_64-w64-mingw32-objdump -p "$1" | awk '$1 == "Subsystem" { print $2 }'; }
  [ "$(subsystem "$WORK/app.exe")" = 00000003 ] || { echo "app.exe: $(subsystem "$WORK/app.exe")"; exit 1; }
  [ "$(subsystem "$WORK/gui.exe")" = 00000002 ] || { echo "gui.exe: $(subsystem "$WORK/gui.exe")"; exit 1; }
  "$SATCHEL" verify "$WORK/gui.exe" >/dev/null || { echo "satchel verify rejects gui.exe"; exit 1; }
  echo "setup: passed"
  exit 0
fi

# run NAME PROGRAM ARGS...: exit code to $WORK/NAME.code, the boxes' calls to
# $WORK/NAME.boxes, calls that would give the process a console to
# $WORK/NAME.consoles, standard error (behind wine's own lines) in the trace.
run() {
  local name=$1
  shift
  WINEDEBUG=+relay "$WINE" "$@" 2>"$WORK/$name.trace" >/dev/null
  echo $? >"$WORK/$name.code"
  grep -a 'Call user32.MessageBox[AW]' "$WORK/$name.trace" >"$WORK/$name.boxes"
  grep -a -i -E 'Call kernel32.(AllocConsole|AttachConsole)' "$WORK/$name.trace" >"$WORK/$name.consoles"
}

# expect_box NAME TEXT: one warning box (style 0x30, no caption) whose UTF-16
# text, as the trace writes it (backslashes doubled, newlines as \n, other
# characters beyond ASCII as \XXXX), holds TEXT; no console asked for; exit
# code 1.
expect_box() {
  local name=$1 text=$2
  [ "$(cat "$WORK/$name.code")" = 1 ] || fail "$name ended with $(cat "$WORK/$name.code"), expected 1"
  [ "$(wc -l <"$WORK/$name.boxes")" = 1 ] || fail "$name showed $(wc -l <"$WORK/$name.boxes") boxes, expected 1"
  grep -q -F 'Call user32.MessageBoxW(' "$WORK/$name.boxes" || fail "$name: not a box of UTF-16 text"
  grep -q -F ',00000000,00000030)' "$WORK/$name.boxes" || fail "$name: not a warning box without caption"
  if ! grep -q -F -- "$text" "$WORK/$name.boxes"; then
    fail "$name: the box lacks '$text':"
    cat "$WORK/$name.boxes"
  fi
  [ -s "$WORK/$name.consoles" ] && fail "$name asked for a console: $(cat "$WORK/$name.consoles")"
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
  cp "$WORK/gui.exe" "$1/app.exe"
  cp "${3:-$no_entry}" "$1/$2"
}

# short: a new folder under /tmp with a short name.
short() {
  mktemp -d /tmp/sj.XXXXXX
}

# No payload: the front end alone, which has a console: the message goes to
# standard error, and no box shows.
run no-payload "$front" a
[ "$(cat "$WORK/no-payload.code")" = 1 ] || fail "no-payload ended with $(cat "$WORK/no-payload.code")"
[ -s "$WORK/no-payload.boxes" ] && fail "the console variant showed a box: $(cat "$WORK/no-payload.boxes")"

# No runtime anywhere: the places looked at, in order; the rest of the text,
# ", JAVA_HOME (not set); then in the registry.", stays out of the trace's
# sight.
none=$(short)
cp "$WORK/gui.exe" "$none/app.exe"
run none "$none/app.exe" a
expect_box none "Could not locate Java runtime envorinment\\nNo Java runtime was found.  Looked for bin\\\\server\\\\jvm.dll or bin\\\\client\\\\jvm.dll (or the same under jre) in: $(traced "$none/jre"), $(traced "$none/runtime")"
# The console variant says the same on standard error, and shows no box.
cp "$WORK/app.exe" "$none/console.exe"
run console "$none/console.exe" a
[ "$(cat "$WORK/console.code")" = 1 ] || fail "console ended with $(cat "$WORK/console.code")"
[ -s "$WORK/console.boxes" ] && fail "the console variant showed a box: $(cat "$WORK/console.boxes")"
grep -q -a -F "No Java runtime was found.  Looked for bin\\server\\jvm.dll" "$WORK/console.trace" ||
  fail "the console variant did not write the message to standard error"
rm -rf "$none"

# A runtime beside the executable: jre, then runtime; server, then client.
place "$WORK/jre" jre/bin/server/jvm.dll
run jre "$WORK/jre/app.exe" a
expect_box jre "Could not get JVM entry point: $(traced "$WORK/jre/jre/bin/server/jvm.dll")"
place "$WORK/client" runtime/bin/client/jvm.dll
run client "$WORK/client/app.exe" a
expect_box client "Could not get JVM entry point: $(traced "$WORK/client/runtime/bin/client/jvm.dll")"

# The desktop variant with an icon, version information and a manifest (its
# resource section added behind the image, per-monitor DPI awareness) runs
# the same road.
place "$WORK/identity" jre/bin/server/jvm.dll
"$SATCHEL" pack-java --stub "$front" -o "$WORK/identity/app.exe" "$APP_JAR" --gui \
  --icon "$(dirname "$0")/../../resources/satchel.ico" --manifest asInvoker \
  --version-info ProductName=Satchel --version-info FileVersion=1.2 >/dev/null ||
  fail "pack-java with --icon, --version-info and --manifest failed"
run identity "$WORK/identity/app.exe" a
expect_box identity "Could not get JVM entry point: $(traced "$WORK/identity/jre/bin/server/jvm.dll")"

# A folder whose name is not ASCII, a character beyond the BMP among them:
# its UTF-8 path reaches the box whole.
folder=$(short)
place "$folder/Gr$(printf '\xc3\xbc\xc3\x9f')e$(printf '\xf0\x9f\x99\x82')" runtime/bin/server/jvm.dll
run unicode "$folder/Gr$(printf '\xc3\xbc\xc3\x9f')e$(printf '\xf0\x9f\x99\x82')/app.exe" a
expect_box unicode "Could not get JVM entry point: $(traced "$folder")\\\\Gr\\00fc\\00dfe\\d83d\\de42\\\\runtime\\\\bin"
rm -rf "$folder"

# A runtime built for another machine: the other build's library beside the
# front end, named with the machine from its header.
folder=$(short)
place "$folder" runtime/bin/server/jvm.dll "$no_entry_foreign"
run foreign "$folder/app.exe" a
expect_box foreign "Could not load JVM library: $(traced "$folder/runtime/bin/server/jvm.dll"): built for $other_name, but this program runs as $own_name"
# One that is no library at all: the system's reason.
head -c 4096 /dev/zero | tr '\0' x >"$folder/runtime/bin/server/jvm.dll"
run broken "$folder/app.exe" a
expect_box broken "Could not load JVM library: $(traced "$folder/runtime/bin/server/jvm.dll"): "
grep -q -E 'jvm.dll: [^"]{8}' "$WORK/broken.boxes" || fail "broken: the box gives no reason: $(cat "$WORK/broken.boxes")"
rm -rf "$folder"

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
expect_box explicit 'Could not load JVM library: C:\\nowhere\\jvm.dll: not found'

# The keys that current installers write, in the registry view of the front
# end's own bitness: JDK with its CurrentVersion; JRE without one, where the
# highest version present counts (by number: 21.0.1 above 9.0.4).  The
# runtime that a key names is passed over when older than the bundle asks for.
registry() {
  # wine's reg.exe now and then fails once on a busy machine (seen once in
  # a full test run, with nothing else wrong): a second try, and what it said
  # when both fail.
  local said
  said=$(WINEDEBUG=-all "$WINE" reg "$@" 2>&1) && return
  said=$(WINEDEBUG=-all "$WINE" reg "$@" 2>&1) || fail "reg $*: $said"
}
windows() {
  traced "$1" | sed 's|\\\\|\\|g'
}
folder=$(short)
place "$folder" jdk/bin/server/jvm.dll
mkdir -p "$folder/old/bin/server" "$folder/new/bin/server"
cp "$no_entry" "$folder/old/bin/server/jvm.dll"
cp "$no_entry" "$folder/new/bin/server/jvm.dll"
registry add 'HKLM\SOFTWARE\JavaSoft\JDK' /v CurrentVersion /d 21 /f
registry add 'HKLM\SOFTWARE\JavaSoft\JDK\21' /v JavaHome /d "$(windows "$folder/jdk")" /f
registry add 'HKLM\SOFTWARE\JavaSoft\JDK\25' /v JavaHome /d "$(windows "$folder/new")" /f
run jdk-key "$folder/app.exe" a
expect_box jdk-key "Could not get JVM entry point: $(traced "$folder/jdk/bin/server/jvm.dll")"
registry delete 'HKLM\SOFTWARE\JavaSoft\JDK' /f
registry add 'HKLM\SOFTWARE\JavaSoft\JRE\9.0.4' /v JavaHome /d "$(windows "$folder/old")" /f
registry add 'HKLM\SOFTWARE\JavaSoft\JRE\21.0.1' /v JavaHome /d "$(windows "$folder/new")" /f
run jre-key "$folder/app.exe" a
expect_box jre-key "Could not get JVM entry point: $(traced "$folder/new/bin/server/jvm.dll")"
"$SATCHEL" pack-java --stub "$front" -o "$folder/app.exe" "$APP_JAR" --gui --min-java 22 || fail "pack-java failed"
run too-old "$folder/app.exe" a
expect_box too-old "This program needs Java 22 or later.  Passed over as too old: JRE 21.0.1 ($(traced "$folder/new"))"
registry delete 'HKLM\SOFTWARE\JavaSoft' /f
rm -rf "$folder"

if [ $failures -ne 0 ]; then
  echo "cases: $failures failed"
  exit 1
fi
echo "cases: passed"
