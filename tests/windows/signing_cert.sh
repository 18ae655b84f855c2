#!/usr/bin/env bash
# Makes a throwaway self-signed code-signing certificate for signing the zips
# in tests: FOLDER/signing.p12, its password in FOLDER/password and the
# certificate alone in FOLDER/signing.pem.
# Usage: signing_cert.sh FOLDER
set -euo pipefail
dir=$(realpath "$1")
bash "$(dirname "$0")/../../scripts/setup.sh" openssl >&2
openssl rand -hex 16 > "$dir/password"
openssl req -x509 -newkey rsa:3072 -nodes -days 7 -subj "/CN=Tavrin test signing (throwaway)" \
    -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
    -keyout "$dir/key.pem" -out "$dir/signing.pem" 2> /dev/null
openssl pkcs12 -export -inkey "$dir/key.pem" -in "$dir/signing.pem" -out "$dir/signing.p12" \
    -passout "file:$dir/password"
rm "$dir/key.pem"
