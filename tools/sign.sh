#!/usr/bin/env bash
# Signs FILE (a PE file or an MSI) in place with an Authenticode SHA-256 signature through
# osslsigncode: the certificate and key from the PKCS#12 file PFX, its password from
# KESTRUNE_SIGN_PASSWORD (never on a command line), a timestamp only when URL is given.
# Usage: sign.sh PFX FILE [URL]
set -euo pipefail
pfx=$1 file=$2 url=${3:-}
[ -n "${KESTRUNE_SIGN_PASSWORD+set}" ] || { echo "sign.sh: KESTRUNE_SIGN_PASSWORD is not set, so $file cannot be signed with $pfx" >&2; exit 1; }
arguments=(sign -pkcs12 "$pfx" -readpass /dev/stdin -h sha256 -n Kestrune -in "$file" -out "$file.signed")
[ -z "$url" ] || arguments+=(-ts "$url")
rm -f "$file.signed"
printf '%s' "$KESTRUNE_SIGN_PASSWORD" | osslsigncode "${arguments[@]}" >/dev/null || { echo "sign.sh: osslsigncode could not sign $file" >&2; exit 1; }
mv "$file.signed" "$file"
