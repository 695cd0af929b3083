#!/bin/sh
# make_test_pki.sh DIR: a test CA (ca.pem), certificates it signs for localhost
# (its name and both loopback addresses) and for other.test, a self-signed one
# for localhost, and that one's SHA-256 fingerprint (self.fp). Keys beside them.
set -e
cd "$1"
exec 2>/dev/null
key="-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2"
openssl req -x509 $key -keyout ca.key -out ca.pem -subj "/CN=Tessaly Test CA"
for pair in "localhost DNS:localhost,IP:127.0.0.1,IP:::1" "other.test DNS:other.test"; do
  set -- $pair
  openssl req $key -keyout "$1.key" -out "$1.csr" -subj "/CN=$1"
  echo "subjectAltName=$2" > "$1.ext"
  openssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile "$1.ext" -out "$1.pem"
done
openssl req -x509 $key -keyout self.key -out self.pem -subj /CN=localhost -addext subjectAltName=DNS:localhost
openssl x509 -in self.pem -noout -fingerprint -sha256 | cut -d= -f2 > self.fp
