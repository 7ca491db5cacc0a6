#!/usr/bin/env bash
# The release as scripts/package makes it: what the zip holds, its checksums, the same
# bytes from a second run (the MSI aside, which wixl stamps anew), the MSI's own tables
# and executable, and signatures by a throwaway certificate that verify until one byte
# of the signed file changes.
# Usage: package_check.sh SCRATCH_DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(realpath -m "$1")
fail() { echo "FAIL: $*" >&2; exit 1; }
rm -rf "$work"
mkdir -p "$work"
cd "$work"

"$root/scripts/package" --dist "$work/a" >/dev/null
"$root/scripts/package" --dist "$work/b" >/dev/null
for f in a/*; do
  case $f in
    *.msi) ;;
    a/SHA256SUMS) [ "$(grep -v '\.msi$' "$f")" = "$(grep -v '\.msi$' b/SHA256SUMS)" ] \
      || fail "two runs made different sums" ;;
    *) cmp "$f" "b/${f#a/}" || fail "two runs made different ${f#a/}" ;;
  esac
done
zip=$(echo a/voranexmg-*-win64.zip)
[ "$(unzip -Z1 "$zip" | sort | tr '\n' ' ')" = "README.txt voranexmg.exe " ] \
  || fail "the zip holds: $(unzip -Z1 "$zip" | tr '\n' ' ')"
(cd a && unzip -q "${zip#a/}" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not check"
cmp a/voranexmg.exe "$root/build/mingw/bin/voranexmg.exe" || fail "the zip holds another executable"
size=$(stat -c %s a/voranexmg.exe)
[ "$size" -le $((1536 * 1024)) ] || fail "voranexmg.exe has $size bytes"
imports=$(x86_64-w64-mingw32-objdump -p a/voranexmg.exe | sed -n 's/^[[:space:]]*DLL Name: //p' | sort | tr '\n' ' ')
[ "$imports" = "ADVAPI32.dll IPHLPAPI.DLL KERNEL32.dll msvcrt.dll " ] || fail "imports $imports"
# Exactly one manifest: ours, as the runtime brings none of its own.
[ "$(x86_64-w64-mingw32-windres -i a/voranexmg.exe -O rc | grep -c 'RT_MANIFEST')" = 1 ] \
  || fail "not exactly one manifest"

# The MSI installs the zip's executable, and carries what wixl cannot write: the failure
# actions, the action that applies them, and the expandable message file.
msi=$(echo a/voranexmg-*-x64.msi)
msiextract -C msi "$msi" >/dev/null
cmp a/voranexmg.exe msi/VORANEX/Voranexmg/voranexmg.exe || fail "the MSI holds another executable"
table() { msiinfo export "$msi" "$1" | tr -d '\r'; }
table MsiServiceConfigFailureActions \
  | grep -qxF "$(printf 'VoranexmgRestarts\tVoranexmg\t1\t86400\t\t\t1[~]1[~]1\t5000[~]15000[~]60000\tService')" \
  || fail "no failure actions in the MSI"
table InstallExecuteSequence | grep -q '^MsiConfigureServices' \
  || fail "the MSI does not apply its failure actions"
table Registry | grep -qF "$(printf 'EventMessageFile\t#%%[#voranexmg.exe]')" \
  || fail "the MSI's event source has no expandable message file"

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=VORANEX test signing" \
  -keyout key.pem -out cert.pem 2>/dev/null
openssl pkcs12 -export -inkey key.pem -in cert.pem -passout pass:throwaway -out cert.pfx
VORANEX_SIGN_PASSWORD=throwaway "$root/scripts/package" --dist "$work/signed" --sign cert.pfx >/dev/null
(cd signed && unzip -q voranexmg-*-win64.zip voranexmg.exe && sha256sum --quiet -c SHA256SUMS) \
  || fail "the signed release's SHA256SUMS does not check"
osslsigncode verify -CAfile cert.pem -in signed/voranexmg.exe >verify.txt || { cat verify.txt; fail "the signature does not verify"; }
osslsigncode verify -CAfile cert.pem -in signed/voranexmg-*-x64.msi >verify.txt || { cat verify.txt; fail "the MSI's signature does not verify"; }
msiextract -C signed/msi signed/voranexmg-*-x64.msi >/dev/null
cmp signed/voranexmg.exe signed/msi/VORANEX/Voranexmg/voranexmg.exe || fail "the signed MSI holds another executable"
# One byte of the code, changed: the signature must no longer hold.
cp signed/voranexmg.exe tampered.exe
byte=$(od -An -tu1 -j 4096 -N1 tampered.exe | tr -d ' ')
printf "\\$(printf %o $((byte ^ 1)))" | dd of=tampered.exe bs=1 seek=4096 conv=notrunc status=none
if osslsigncode verify -CAfile cert.pem -in tampered.exe >verify.txt 2>&1; then
  fail "a changed file still verifies"
fi
echo "package: $(basename "$zip") and $(basename "$msi"), voranexmg.exe $size bytes, imports $imports; signed and verified, a changed byte rejected"
