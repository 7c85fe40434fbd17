#!/bin/sh
# make-test-certs.sh DIR: writes throw-away TLS files for the https tests into DIR. A CA (ca.pem)
# and three server certificates it signs, each NAME.pem with its key NAME.key: "good" for
# 127.0.0.1, "other" for another host name, and "expired" for 127.0.0.1, expired a day ago.
set -eu
cd "$1"

key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:prime256v1 -out "$1.key"; }

# issue NAME SUBJECT_ALT_NAME DAYS: a server certificate signed by the CA.
issue() {
  key "$1"
  printf 'subjectAltName=%s\nextendedKeyUsage=serverAuth\n' "$2" >"$1.ext"
  openssl req -new -key "$1.key" -subj "/CN=$1" -out "$1.csr"
  openssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -days "$3" -extfile "$1.ext" \
    -out "$1.pem" 2>/dev/null
}

key ca
openssl req -x509 -key ca.key -subj "/CN=orvex test CA" -days 30 -out ca.pem \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"
issue good IP:127.0.0.1 30
issue other DNS:other.invalid 30
issue expired IP:127.0.0.1 -1
