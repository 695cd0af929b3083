#!/bin/sh
# make_test_pki.sh DIR: a test CA (ca.pem) and the certificates it signs for localhost (its name and both
# loopback addresses), for other.test, for localhost expired, not yet valid and for TLS clients only; a
# self-signed one for localhost and that one's SHA-256 fingerprint (self.fp). Keys beside them.
set -e
cd "$1"
exec 2>/dev/null
key="-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
openssl req -x509 $key -days 2 -keyout ca.key -out ca.pem -subj "/CN=Tessaly Test CA"
printf '[ca]\ndefault_ca=d\n[d]\ndatabase=db\nnew_certs_dir=.\npolicy=p\ndefault_md=sha256\nrand_serial=1\n[p]\n' >ca.cnf
: >db
sign() {   # NAME SUBJECTALTNAME DATES [EXTENSION]: NAME.pem and NAME.key
  openssl req $key -keyout "$1.key" -out "$1.csr" -subj "/CN=${1%%-*}"
  printf 'subjectAltName=%s\n%s\n' "$2" "$4" >"$1.ext"
  openssl ca -batch -notext -config ca.cnf -cert ca.pem -keyfile ca.key -in "$1.csr" -out "$1.pem" -extfile "$1.ext" $3
}
sign localhost DNS:localhost,IP:127.0.0.1,IP:::1 "-days 2"
sign other.test DNS:other.test "-days 2"
sign localhost-expired DNS:localhost "-startdate 20200101000000Z -enddate 20200102000000Z"
sign localhost-future DNS:localhost "-startdate 20990101000000Z -enddate 20990102000000Z"
sign localhost-client DNS:localhost "-days 2" extendedKeyUsage=clientAuth
openssl req -x509 $key -days 2 -keyout self.key -out self.pem -subj /CN=localhost -addext subjectAltName=DNS:localhost
openssl x509 -in self.pem -noout -fingerprint -sha256 | cut -d= -f2 > self.fp
