#!/usr/bin/env bash
# Signs one PE file in place with Authenticode (osslsigncode, SHA-256), for
# the release command and the setup program's makensis run (!finalize,
# !uninstfinalize), then checks the signature:
#
#   SL_CODESIGN_CERT=CERT.pem SL_CODESIGN_KEY=KEY.pem [SL_TIMESTAMP_URL=URL] tools/codesign.sh FILE
#
# CERT.pem holds the code-signing certificate and the certificates up to its
# root; KEY.pem its private key (PEM, unencrypted). With SL_TIMESTAMP_URL the
# signature gets an RFC 3161 time stamp from that server. The check trusts the
# system's CA bundle and the certificates of CERT.pem.
set -euo pipefail

file=${1:?usage: codesign.sh FILE}
: "${SL_CODESIGN_CERT:?SL_CODESIGN_CERT: the code-signing certificate chain (PEM)}"
: "${SL_CODESIGN_KEY:?SL_CODESIGN_KEY: its private key (PEM)}"

signed="$file.signing"
trust="$file.trust"
trap 'rm -f "$signed" "$trust"' EXIT
cat /etc/ssl/certs/ca-certificates.crt "$SL_CODESIGN_CERT" >"$trust" 2>/dev/null ||
  cat "$SL_CODESIGN_CERT" >"$trust"

stamp=() check=()
if [ -n "${SL_TIMESTAMP_URL:-}" ]; then
  stamp=(-ts "$SL_TIMESTAMP_URL")
  check=(-TSA-CAfile "$trust")
fi
# The description is the program name of the elevation prompt. osslsigncode
# writes it as an ASCII string, which Windows reads in the ANSI code page:
# the product name in Latin letters, so that no Windows shows it garbled.
osslsigncode sign -certs "$SL_CODESIGN_CERT" -key "$SL_CODESIGN_KEY" -h sha256 \
  -n "Solberio Windows Tool" "${stamp[@]}" -in "$file" -out "$signed" >/dev/null ||
  { echo "codesign.sh: signing $file failed" >&2; exit 1; }
osslsigncode verify -CAfile "$trust" "${check[@]}" -in "$signed" >/dev/null ||
  { echo "codesign.sh: the signature of $file does not verify" >&2; exit 1; }
# Keeps the file's time: the setup program records the programs' times.
touch -r "$file" "$signed"
mv "$signed" "$file"
