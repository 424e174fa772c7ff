#!/usr/bin/env bash
# Throughput and peak RSS of the PKCS#7 writer and reader built natively (-O2,
# MD5, RSA-2048 from OpenSSL): bench/pkcs7_native.sh [MB ...] (default 1 100 1024).
set -euo pipefail
cd "$(dirname "$0")/.."
out=build-bench
mkdir -p "$out"
bin="$out/pkcs7_native_bench"
srcs=(bench/pkcs7_native_bench.cpp tests/native/COpenSslTestCrypto.cpp tests/native/CMd2Digest.cpp
      cert/pkcs7/*.cpp)
if [ ! -x "$bin" ] || [ -n "$(find "${srcs[@]}" cert/pkcs7/*.h -newer "$bin")" ]; then
  g++ -std=c++17 -O2 -I. -Itests/native "${srcs[@]}" -lcrypto -o "$bin"
fi
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$tmp/key.pem" -out "$tmp/cert.pem" \
  -subj "/CN=Bench Signer" -days 30 >/dev/null 2>&1
openssl x509 -in "$tmp/cert.pem" -outform DER -out "$tmp/cert.der"
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1 100 1024)
for mb in "${sizes[@]}"; do
  "$bin" "$mb" "$tmp/cert.der" "$tmp/key.pem"
done
