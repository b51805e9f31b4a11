#!/usr/bin/env bash
# cmake --install of the native build, as a packager does it, then the tree
# moved elsewhere: bin/satchel finds its stubs in share/satchel/ relative to
# itself and packs an msi with the default launcher and the ready bootstrap.
#   install_test.sh BUILD_DIR SCRATCH
set -euo pipefail
build=$1 scratch=$2
fail() { echo "FAILED: $*" >&2; exit 1; }
rm -rf "$scratch" && mkdir -p "$scratch"
cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
mv "$scratch/prefix" "$scratch/moved"
tool=$scratch/moved/bin/satchel
data=$scratch/moved/share/satchel
for file in satchel-launcher.exe satchel-bootstrap.exe x86_64/satchel-launcher.exe \
            x86_64/satchel-bootstrap.exe satchel-java; do
  [ -f "$data/$file" ] || fail "share/satchel/$file was not installed"
done
"$tool" --version | grep -q '^satchel [0-9]' || fail "satchel --version"
# The Windows tool, an i686 PE, beside the Linux one.
[ -f "$scratch/moved/bin/satchel.exe" ] || fail "bin/satchel.exe was not installed"
[ "$(head -c 2 "$scratch/moved/bin/satchel.exe")" = MZ ] || fail "bin/satchel.exe is no Windows program"
printf 'an msi' > "$scratch/Product.msi"
"$tool" pack -o "$scratch/Setup.exe" --msi "$scratch/Product.msi" || fail "pack without --stub"
cmp -s -n "$(stat -c %s "$data/satchel-launcher.exe")" "$data/satchel-launcher.exe" \
  "$scratch/Setup.exe" || fail "the bundle does not start with the installed launcher"
"$tool" extract "$scratch/Setup.exe" exe -o "$scratch/exe.out"
cmp -s "$scratch/exe.out" "$data/satchel-bootstrap.exe" || fail "the exe is not the installed bootstrap"
"$tool" list "$scratch/Setup.exe" | grep -q 'pass-arguments = "1"' || fail "argument passing is off"
echo ok
