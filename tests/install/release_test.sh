#!/usr/bin/env bash
# A release: a copy of the tree at another path builds the same bytes as this build; the copy,
# given a throwaway certificate, signs the DLL, the elevated helper, the try host and the MSI so that each verifies
# against the certificate's authority, the DLL and the helper packed in the MSI too; unsigned files do not.
# Usage: release_test.sh SOURCE_DIR BUILD_DIR WORK_DIR
set -euo pipefail
source_dir=$1 build=$2 work=$3
fail() { echo "FAILED: $*" >&2; exit 1; }
rm -rf "$work"
copy="$work/a/longer/path/than/the/tree/kestrune"
mkdir -p "$copy"
(cd "$source_dir" && git ls-files -z --cached --others --exclude-standard | xargs -0 cp --parents -t "$copy")
export SOURCE_DATE_EPOCH=$(cat "$build/source-date-epoch")

echo "== the copy, built elsewhere, is the same bytes"
out=$("$copy/tools/build.sh" product 2>&1) || { echo "$out"; fail "the copy's build"; }
grep -qx "nothing is signed (.*)" <<<"$out" || fail "the build did not say that nothing is signed"
shipped=$(cd "$build" && ls Kestrune.dll Kestrune.dll.debug kestrune-elevated.exe kestrune-try.exe ./*.chm Kestrune-*-x64.msi)
for file in $shipped; do
  cmp "$build/$file" "$copy/build/$file" || fail "$file differs between the two builds"
done
echo "same bytes: $(echo $shipped)"

echo "== signed with a throwaway certificate"
cd "$work"
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj "/CN=Kestrune test authority" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr -subj "/CN=Kestrune test signer" 2>/dev/null
printf 'extendedKeyUsage=codeSigning\nkeyUsage=digitalSignature\n' >signer.ext
openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile signer.ext -out signer.pem 2>/dev/null
openssl pkcs12 -export -inkey signer.key -in signer.pem -passout pass:throwaway -out signer.pfx
verify() { osslsigncode verify -CAfile "$work/ca.pem" -in "$1" >verify.log 2>&1; }
verify "$copy/build/Kestrune.dll" && fail "an unsigned DLL verifies"
out=$(KESTRUNE_SIGN_PFX=$work/signer.pfx KESTRUNE_SIGN_PASSWORD=throwaway "$copy/tools/build.sh" product 2>&1) || { echo "$out"; fail "the signed build"; }
grep -q "^signing Kestrune.dll, kestrune-elevated.exe, kestrune-try.exe and the MSI with" <<<"$out" || fail "the build did not say it signs"
msiextract -C packed "$copy"/build/Kestrune-*-x64.msi >/dev/null
for file in "$copy"/build/{Kestrune.dll,kestrune-elevated.exe,kestrune-try.exe} "$copy"/build/Kestrune-*-x64.msi \
    "$(find packed -name Kestrune.dll)" "$(find packed -name kestrune-elevated.exe)"; do
  verify "$file" || { cat verify.log; fail "$file does not verify"; }
  echo "verified: $file"
done
echo "release: all checks passed"
