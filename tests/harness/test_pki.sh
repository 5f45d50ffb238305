#!/usr/bin/env bash
# Throw-away keys for test releases, made with openssl and gpg in DIR (outside
# the repository: the release command refuses keys inside it):
#
#   tests/harness/test_pki.sh DIR
#
#   DIR/ca.pem            a root CA (self-signed)
#   DIR/codesign.pem      a code-signing certificate it issued, then the CA
#   DIR/codesign.key      its private key
#   DIR/tsa.pem, tsa.key  a time-stamping certificate it issued, its key
#   DIR/other-ca.pem      another root CA, which issued nothing here
#   DIR/apt.asc           an OpenPGP secret key for the apt repository
#   DIR/other-apt.asc     another one
set -euo pipefail

dir=${1:?usage: test_pki.sh DIR}
mkdir -p "$dir"
cd "$dir"
umask 077
subj() { printf '/O=Solberio Test/CN=%s' "$1"; }
for ca in ca other-ca; do
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$ca.key" -out "$ca.pem" -days 30 \
    -subj "$(subj "$ca")" -addext basicConstraints=critical,CA:TRUE \
    -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
done
openssl req -newkey rsa:2048 -nodes -keyout codesign.key -out codesign.csr \
  -subj "$(subj 'Solberio code signing')" 2>/dev/null
printf '%s\n' basicConstraints=CA:FALSE keyUsage=critical,digitalSignature \
  extendedKeyUsage=codeSigning >codesign.ext
openssl x509 -req -in codesign.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 30 \
  -extfile codesign.ext -out codesign.crt 2>/dev/null
cat codesign.crt ca.pem >codesign.pem
# A time-stamping authority's certificate from the same CA.
openssl req -newkey rsa:2048 -nodes -keyout tsa.key -out tsa.csr \
  -subj "$(subj 'Solberio time stamps')" 2>/dev/null
printf '%s\n' basicConstraints=CA:FALSE keyUsage=critical,digitalSignature \
  extendedKeyUsage=critical,timeStamping >tsa.ext
openssl x509 -req -in tsa.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 30 \
  -extfile tsa.ext -out tsa.pem 2>/dev/null
rm -f codesign.csr codesign.ext codesign.crt tsa.csr tsa.ext ca.srl

# OpenPGP keys for the apt repository: apt.asc signs, other-apt.asc does not
# belong to the release.
export GNUPGHOME
GNUPGHOME=$(mktemp -d /tmp/slpki.XXXXXX)
trap 'gpgconf --kill gpg-agent 2>/dev/null; rm -rf "$GNUPGHOME"' EXIT
for name in apt other-apt; do
  gpg --batch --quiet --passphrase '' --quick-gen-key "Solberio Test ($name) <$name@solberio.example>" ed25519 sign 30d
  gpg --batch --armor --export-secret-keys "$name@solberio.example" >"$name.asc"
done
