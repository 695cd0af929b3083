#!/bin/sh
# make_test_pki.sh DIR: a test CA (ca.pem), certificates it signs for localhost (its name and loopback addresses),
# expired or not yet valid, a self-signed one with its fingerprint (self.fp); keys beside them.
set -e; cd "$1"; exec 2>/dev/null
key="-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
openssl req -x509 $key -days 2 -keyout ca.key -out ca.pem -subj "/CN=Tessaly Test CA"
printf '[ca]\ndefault_ca=d\n[d]\ndatabase=db\nnew_certs_dir=.\npolicy=p\ndefault_md=sha256\nrand_serial=1\n[p]\n' >cnf
: >db
sign() {   # NAME SUBJECTALTNAME DATES: NAME.pem and NAME.key
  openssl req $key -keyout "$1.key" -out "$1.csr" -subj "/CN=${1%%-*}"
  echo "subjectAltName=$2" >"$1.ext"
  openssl ca -batch -notext -config cnf -cert ca.pem -keyfile ca.key -in "$1.csr" -out "$1.pem" -extfile "$1.ext" $3
}
sign localhost DNS:localhost,IP:127.0.0.1,IP:::1 "-days 2"
sign localhost-expired DNS:localhost "-startdate 20200101000000Z -enddate 20200102000000Z"
sign localhost-future DNS:localhost "-startdate 20990101000000Z -enddate 20990102000000Z"
openssl req -x509 $key -days 2 -keyout self.key -out self.pem -subj /CN=localhost -addext subjectAltName=DNS:localhost
openssl x509 -in self.pem -noout -fingerprint -sha256 | cut -d= -f2 > self.fp
