#!/usr/bin/env bash
# Makes the throw-away test PKI in DIR (once; later calls reuse it, so the CA
# already trusted by the Wine prefix stays the one that signed the servers):
#   ca.crt/ca.der       the test CA, trusted inside the Wine prefix only
#   server.crt/.key     localhost + 127.0.0.1, signed by the CA
#   otherhost.crt/.key  other.invalid only, signed by the CA
#   untrusted.crt/.key  localhost + 127.0.0.1, self-signed, trusted nowhere
set -euo pipefail
dir=$1
mkdir -p "$dir"
cd "$dir"
[ -f .ready ] && exit 0

ossl() { openssl "$@" >/dev/null 2>&1; }
days=3650
ossl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.crt -days $days \
     -subj "/CN=Zerandis Patcher Test CA $(date +%s)" \
     -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"
openssl x509 -in ca.crt -outform DER -out ca.der

leaf() {  # leaf NAME SAN
  ossl req -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "/CN=$3"
  printf 'subjectAltName=%s\nbasicConstraints=CA:FALSE\nkeyUsage=digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\n' "$2" >"$1.ext"
  ossl x509 -req -in "$1.csr" -CA ca.crt -CAkey ca.key -CAcreateserial -out "$1.crt" -days $days -extfile "$1.ext"
}
leaf server "DNS:localhost,IP:127.0.0.1" localhost
leaf otherhost "DNS:other.invalid" other.invalid

ossl req -x509 -newkey rsa:2048 -nodes -keyout untrusted.key -out untrusted.crt -days $days \
     -subj "/CN=localhost" -addext "subjectAltName=DNS:localhost,IP:127.0.0.1" \
     -addext "extendedKeyUsage=serverAuth"
touch .ready
