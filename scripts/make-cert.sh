#!/usr/bin/env bash
# Makes a self-signed certificate and key for a gateway on this machine
# (localhost and 127.0.0.1) as DIR/gateway-cert.pem and DIR/gateway-key.pem,
# unless both are already there. Usage: make-cert.sh DIR [DAYS]
set -euo pipefail

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 DIR [DAYS]" >&2
  exit 2
fi
dir=$1
days=${2:-825}
cert="$dir/gateway-cert.pem"
key="$dir/gateway-key.pem"

if [ -s "$cert" ] && [ -s "$key" ]; then
  exit 0
fi
if ! command -v openssl >/dev/null; then
  echo "make-cert.sh: the openssl command is missing (Debian package openssl)" >&2
  exit 1
fi

mkdir -p "$dir"
# Written beside the final names first, so an interrupted run leaves no half pair.
trap 'rm -f "$key.tmp" "$cert.tmp"' EXIT
umask 077
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
  -days "$days" -subj "/CN=localhost" \
  -addext "subjectAltName=DNS:localhost,IP:127.0.0.1,IP:::1" \
  -addext "basicConstraints=critical,CA:FALSE" \
  -addext "keyUsage=critical,digitalSignature" \
  -addext "extendedKeyUsage=serverAuth" \
  -keyout "$key.tmp" -out "$cert.tmp" 2>"$dir/make-cert.log" || {
  echo "make-cert.sh: openssl failed:" >&2
  cat "$dir/make-cert.log" >&2
  exit 1
}
rm -f "$dir/make-cert.log"
chmod 644 "$cert.tmp"
mv "$key.tmp" "$key"
mv "$cert.tmp" "$cert"
echo "make-cert.sh: made $cert and $key"
