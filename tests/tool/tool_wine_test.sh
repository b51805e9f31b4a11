#!/usr/bin/env bash
# The Windows build of satchel under wine (the x86_64 build under wine64 here,
# the i686 build under the 32-bit wine of the 32-bit test machine): it packs the same bytes as the
# native build, reads back what it packed, handles non-ASCII paths, replaces
# an existing output, and refuses msi and exe names equal when case is
# ignored (also beyond ASCII) and a stub that is no launcher.  With
# LARGE_MIB, it also packs an msi of that many MiB (sparse: zeros between two
# pieces of noise, so that the bundle stays small) and verifies the bundle:
# the tool streams its inputs, so an msi larger than a 32-bit process could
# hold packs all the same.  pack-java, with the tool's own zip reader and the
# system's CryptoAPI, packs the same bytes as the native build (libzip and
# OpenSSL) for the jars of JARS (make_test_jars.sh's and the sample's) and a
# Debian application's, and refuses a signed jar changed after signing.
#   tool_wine_test.sh WINDOWS_SATCHEL_EXE NATIVE_SATCHEL WINEPREFIX SCRATCH JARS [LARGE_MIB]
set -euo pipefail
win=$(realpath -m "$1") native=$(realpath -m "$2") prefix=$(realpath -m "$3") scratch=$(realpath -m "$4")
jars=$(realpath -m "$5")
large_mib=${6:-}
WINE=${RUN32_WINE:-/usr/lib/wine/wine64}
[ -x "$WINE" ] || { echo "wine is not installed ($WINE)" >&2; exit 1; }
[ -f "$win" ] || { echo "missing $win: build the Windows build first" >&2; exit 1; }
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

rm -rf "$scratch" && mkdir -p "$scratch/dist"
cd "$scratch"
fail() { echo "FAIL: $*" >&2; exit 1; }
winpath() { local p=$scratch/$1; echo "Z:${p//\//\\}"; }
winabs() { local p=$1; echo "Z:${p//\//\\}"; }
wsatchel() { "$WINE" "$win" "$@"; }

# The i686 launcher of the native build's data folder: pack takes nothing else.
data=$(dirname "$native")/../share/satchel
cp "$data/satchel-launcher.exe" stub.exe
head -c 70000 /dev/urandom >"dist/Prodükt.msi"
# A program (the ready bootstrap) with text behind its last section.
{ cat "$data/satchel-bootstrap.exe"; seq 1 30000; } >dist/setup.exe
seq 1 100 >dist/notes.txt

wsatchel pack --stub "$(winpath stub.exe)" -o "$(winpath wine.exe)" \
  --msi "$(winpath dist/Prodükt.msi)" --exe "$(winpath dist/setup.exe)" --property Version=1 \
  || fail "pack under wine"
"$native" pack --stub stub.exe -o native.exe --msi "dist/Prodükt.msi" --exe dist/setup.exe \
  --property Version=1 || fail "native pack"
cmp wine.exe native.exe || fail "the Windows and the native build packed different bytes"
# setup.exe spans two compression blocks: one thread or three, the same bytes.
for threads in 1 3; do
  wsatchel pack --stub "$(winpath stub.exe)" -o "$(winpath wine-j$threads.exe)" -j $threads \
    --msi "$(winpath dist/Prodükt.msi)" --exe "$(winpath dist/setup.exe)" --property Version=1 \
    || fail "pack -j $threads under wine"
  cmp wine-j$threads.exe native.exe || fail "pack -j $threads under wine packed other bytes"
done

out=$(wsatchel verify "$(winpath wine.exe)") || fail "verify under wine: $out"
case $out in *"OK (2 entries, 4 properties"*) ;; *) fail "verify said: $out" ;; esac
out=$(wsatchel list "$(winpath wine.exe)") || fail "list under wine"
case $out in *'msi = "Prodükt.msi"'*) ;; *) fail "list said: $out" ;; esac

wsatchel extract "$(winpath wine.exe)" msi -o "$(winpath Prodükt-out.msi)" || fail "extract msi"
cmp "Prodükt-out.msi" "dist/Prodükt.msi" || fail "extracted msi differs"
# Over an existing file: replaced whole.
echo old >setup-out.exe
wsatchel extract "$(winpath wine.exe)" exe -o "$(winpath setup-out.exe)" || fail "extract exe"
cmp setup-out.exe dist/setup.exe || fail "extracted exe differs"
wsatchel pack --stub "$(winpath stub.exe)" -o "$(winpath wine.exe)" \
  --msi "$(winpath dist/Prodükt.msi)" --exe "$(winpath dist/setup.exe)" --property Version=1 \
  || fail "pack over an existing bundle"
cmp wine.exe native.exe || fail "pack over an existing bundle gave other bytes"

cp "dist/Prodükt.msi" "dist/PRODÜKT.EXE"
if out=$(wsatchel pack --stub "$(winpath stub.exe)" -o "$(winpath refused.exe)" \
    --msi "$(winpath dist/Prodükt.msi)" --file "exe=$(winpath dist/PRODÜKT.EXE)" \
    --property "exe=prodÜkt.MSI" 2>&1); then
  fail "names equal ignoring case were packed"
fi
case $out in *"where case is ignored: they are one file"*) ;; *) fail "refusal said: $out" ;; esac
[ ! -e refused.exe ] || fail "a refused bundle was written"
ls | grep -qE '\.(tmp|scratch)' && fail "a temporary file was left behind: $(ls)"

# A stub that is no launcher is refused, naming what it is.
if out=$(wsatchel pack --stub "$(winpath dist/notes.txt)" -o "$(winpath refused.exe)" \
    --msi "$(winpath dist/Prodükt.msi)" --exe "$(winpath stub.exe)" 2>&1); then
  fail "a text file was packed as the stub"
fi
case $out in *"the stub is a text file; pack needs the installer launcher stub"*) ;; *) fail "refusal said: $out" ;; esac
[ ! -e refused.exe ] || fail "a refused bundle was written"

# pack-java: with the i686 Java front end, the same bytes as the native
# build for the same jars: a plain jar (under a name beyond ASCII), a
# multi-release jar, that one signed (RSA, as jarsigner signs by default;
# wine's CryptoAPI checks no EC or DSA signature), and a Debian application
# whose Class-Path names jars by absolute paths.  Arguments that start with
# / are jars, handed to wine as Windows paths.
cp "$(dirname "$native")/../share/satchel/satchel-java.exe" java-stub.exe
cp "$jars/app.jar" "dist/Äpp.jar"
pack_java_both() {
  local name=$1 arg
  shift
  local wargs=()
  for arg in "$@"; do
    case $arg in /*) wargs+=("$(winabs "$arg")") ;; *) wargs+=("$arg") ;; esac
  done
  wsatchel pack-java --quiet --stub "$(winpath java-stub.exe)" -o "$(winpath "$name-wine.exe")" "${wargs[@]}" \
    2>"$name-wine.err" || fail "pack-java of $name under wine: $(cat "$name-wine.err")"
  "$native" pack-java --quiet --stub java-stub.exe -o "$name-native.exe" "$@" 2>"$name-native.err" \
    || fail "native pack-java of $name: $(cat "$name-native.err")"
  cmp "$name-wine.exe" "$name-native.exe" || fail "pack-java of $name: the Windows and the native build differ"
  out=$(wsatchel verify "$(winpath "$name-wine.exe")") || fail "verify of $name under wine: $out"
  rm -f "$name-wine.exe" "$name-native.exe"
}
pack_java_both plain "$scratch/dist/Äpp.jar"
pack_java_both multi-release "$jars/extra.jar" --main-class sample.Main
pack_java_both signed-rsa "$jars/signed-RSA.jar" --main-class sample.Main
# Clojure and its Class-Path are 9 MB of classes: at level 1, which costs the
# 32-bit machine's emulated processor less.
[ -f /usr/share/java/clojure.jar ] || fail "Debian's clojure is not installed (apt-get install clojure)"
pack_java_both debian-clojure /usr/share/java/clojure.jar --level 1
# Refused by both: a signed jar changed after signing, and one whose
# signature block is no signed data.
for refused in tampered bad-block; do
  if out=$(wsatchel pack-java --stub "$(winpath java-stub.exe)" -o "$(winpath refused.exe)" \
      --main-class sample.Main "$(winabs "$jars/$refused.jar")" 2>&1); then
    fail "$refused.jar was packed"
  fi
  case $out in *"$refused.jar: "*"(the jar was changed after signing)"*) ;; *) fail "pack-java said: $out" ;; esac
  [ ! -e refused.exe ] || fail "a refused bundle was written"
  if "$native" pack-java --quiet --stub java-stub.exe -o refused.exe --main-class sample.Main "$jars/$refused.jar" \
      2>/dev/null; then
    fail "the native tool packed $refused.jar"
  fi
done

# An installed tree (bin/satchel.exe beside share/satchel/, as cmake --install
# lays it out): without --stub and --exe the tool takes the default launcher
# and the ready bootstrap found relative to itself.
mkdir -p tree/bin tree/share
cp "$win" tree/bin/satchel.exe
cp -r "$(dirname "$native")/../share/satchel" tree/share/satchel
"$WINE" "$scratch/tree/bin/satchel.exe" pack -o "$(winpath installed.exe)" --msi "$(winpath dist/Prodükt.msi)" \
  || fail "the installed tool did not pack without --stub and --exe"
"$native" extract installed.exe exe -o installed-exe.out
cmp -s installed-exe.out tree/share/satchel/satchel-bootstrap.exe || fail "the installed tool packed another bootstrap"
cmp -s -n "$(stat -c %s tree/share/satchel/satchel-launcher.exe)" tree/share/satchel/satchel-launcher.exe installed.exe \
  || fail "the installed tool packed another launcher"
# ... and pack-java without --stub the i686 Java front end.
"$WINE" "$scratch/tree/bin/satchel.exe" pack-java --quiet -o "$(winpath installed-java.exe)" "$(winpath "dist/Äpp.jar")" \
  || fail "the installed tool did not pack-java without --stub"
"$native" pack-java --quiet --stub tree/share/satchel/satchel-java.exe -o installed-java-native.exe "dist/Äpp.jar"
cmp -s installed-java.exe installed-java-native.exe || fail "the installed tool's pack-java took another front end"
rm -rf tree installed.exe installed-exe.out installed-java.exe installed-java-native.exe

if [ -n "$large_mib" ]; then
  head -c 65536 /dev/urandom >large.msi
  truncate -s "$((large_mib << 20))" large.msi
  head -c 65536 /dev/urandom >>large.msi
  started=$SECONDS
  wsatchel pack --stub "$(winpath stub.exe)" -o "$(winpath large.exe)" \
    --msi "$(winpath large.msi)" --exe "$(winpath dist/setup.exe)" || fail "pack of a $large_mib MiB msi"
  echo "packed a $large_mib MiB msi into $(stat -c %s large.exe) bytes in $((SECONDS - started)) s"
  out=$(wsatchel verify "$(winpath large.exe)") || fail "verify of the $large_mib MiB bundle: $out"
  case $out in *"OK (2 entries, 3 properties"*"CRC-32 matches"*) ;; *) fail "verify said: $out" ;; esac
  out=$(wsatchel list "$(winpath large.exe)") || fail "list of the $large_mib MiB bundle"
  case $out in *"$((large_mib * 1048576 + 65536))  msi"*) ;; *) fail "list said: $out" ;; esac
  ls | grep -qE '\.(tmp|scratch)' && fail "a temporary file was left behind: $(ls)"
  rm -f large.msi large.exe
fi
echo "PASS"
