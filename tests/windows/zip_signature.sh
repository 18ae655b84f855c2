#!/usr/bin/env bash
# Every program and DLL in the zip carries an Authenticode signature that
# osslsigncode verifies against the certificate in TAVRIN_SIGNING_PKCS12
# (self-signed in tests: it is its own root).
# Usage: zip_signature.sh ZIP
set -euo pipefail
zip=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
openssl pkcs12 -in "$TAVRIN_SIGNING_PKCS12" -passin "file:$TAVRIN_SIGNING_PASSWORD_FILE" -nokeys -clcerts \
    -out "$work/cert.pem" 2> /dev/null
(cd "$work" && mkdir zip && cd zip && cmake -E tar xf "$zip")
count=0
while IFS= read -r -d '' file; do
    osslsigncode verify -CAfile "$work/cert.pem" -in "$file" > "$work/verify.log" 2>&1 ||
        { cat "$work/verify.log"; echo "FAIL: ${file#"$work/zip/"} is unsigned or its signature does not verify"; exit 1; }
    count=$((count + 1))
done < <(find "$work/zip" -iname '*.exe' -print0 -o -iname '*.dll' -print0)
[ "$count" -gt 0 ] || { echo "FAIL: no program in $zip"; exit 1; }
echo "PASS: the $count programs and DLLs in $(basename "$zip") are signed and verify"
