#!/usr/bin/env bash
# The jars that the Windows tool's test packs beside the Linux tool (made at
# build time: the 32-bit machine runs no JDK): the sample's second jar signed
# with an RSA key and with an EC key, and the RSA-signed one with one entry
# changed after signing.
#   make_test_jars.sh OUT_FOLDER JDK_HOME EXTRA_JAR
set -euo pipefail
out=$1 jdk=$2 extra=$3
rm -rf "$out" && mkdir -p "$out"
for alg in RSA; do
  "$jdk/bin/keytool" -genkeypair -keystore "$out/keys" -storepass secret -keypass secret -alias "$alg" \
    -dname "CN=Satchel Tester $alg" -keyalg "$alg" -validity 3650 >/dev/null 2>&1
  cp "$extra" "$out/signed-$alg.jar"
  "$jdk/bin/jarsigner" -keystore "$out/keys" -storepass secret "$out/signed-$alg.jar" "$alg" >/dev/null
done
rm "$out/keys"
# The same entries in the same order, one class's bytes changed; and the
# signature block replaced by bytes that are no signed data.
python3 - "$out/signed-RSA.jar" "$out/tampered.jar" "$out/bad-block.jar" <<'PY'
import copy, sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as src:
    for target, changes in ((sys.argv[2], '.class'), (sys.argv[3], '.RSA')):
        with zipfile.ZipFile(target, 'w') as dst:
            changed = False
            for info in src.infolist():
                data = src.read(info)
                if not changed and info.filename.endswith(changes):
                    data, changed = (data + b'\0' if changes == '.class' else b'no signed data'), True
                dst.writestr(copy.copy(info), data)
PY
