#!/usr/bin/env bash
# Makes test certificates for the TLS port with the openssl command-line tool:
#   scripts/test-certs.sh DIR
# DIR/ca.pem                      a test CA (its key: ca.key)
# DIR/server.pem, server.key      the server's certificate for localhost and
#                                 127.0.0.1, signed by the CA
# DIR/client.pem, client.key      a client certificate, CN=switch-test-01
# DIR/other-ca.pem, other-client.pem, other-client.key
#                                 a second CA and a client certificate of it,
#                                 which a server trusting ca.pem refuses
# Keys are ECDSA P-256, unencrypted, readable by the owner only. For tests,
# never for production.
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 DIR" >&2
  exit 2
fi
dir=$1
mkdir -p "$dir"
cd "$dir"
umask 077
days=825

new_key() {
  openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1" 2>/dev/null
}

# new_ca NAME CN
new_ca() {
  new_key "$1.key"
  openssl req -x509 -new -key "$1.key" -sha256 -days "$days" -subj "/CN=$2" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
    -out "$1.pem"
}

# new_leaf NAME CA CN EXTENSIONS
new_leaf() {
  new_key "$1.key"
  openssl req -new -key "$1.key" -subj "/CN=$3" -out "$1.csr"
  printf '%s\n' "$4" >"$1.ext"
  openssl x509 -req -in "$1.csr" -CA "$2.pem" -CAkey "$2.key" -CAcreateserial -sha256 \
    -days "$days" -extfile "$1.ext" -out "$1.pem" 2>/dev/null
  rm -f "$1.csr" "$1.ext"
}

new_ca ca "Palisim Test CA"
new_leaf server ca localhost "basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=serverAuth
subjectAltName=DNS:localhost,IP:127.0.0.1"
new_leaf client ca switch-test-01 "basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=clientAuth"
new_ca other-ca "Another Test CA"
new_leaf other-client other-ca switch-test-02 "basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=clientAuth"
rm -f ./*.srl
chmod 644 ./*.pem
echo "Test certificates in $(pwd): ca.pem, server.pem + server.key, client.pem + client.key," \
  "other-ca.pem, other-client.pem + other-client.key"
