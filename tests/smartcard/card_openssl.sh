#!/usr/bin/env bash
# OpenSSL accepts what the library signs with keys that live on the bench's
# cards: runs the card test that signs a file on each card (it keeps copies when
# TVL_CARD_INTEROP_DIR names a folder), then `openssl cms -verify` against each
# card certificate's authorities: content byte-identical, signer as expected.
#   card_openssl.sh CARD_TESTS_EXE PKI_DIR      (exit 77: bench not running)
set -euo pipefail
exe=$1
pki=$2
here=$(cd "$(dirname "$0")" && pwd)
run="$here/../../scripts/wine-run.sh"
work=$(mktemp -d "$(dirname "$exe")/cardssl.XXXXXX")
trap 'rm -rf "$work"' EXIT
winpath() { printf 'Z:%s' "$1" | tr '/' '\\'; }

cd "$(dirname "$exe")"
if ! TVL_CARD_INTEROP_DIR=$(winpath "$work") "$run" "$exe" \
    --gtest_filter=SigningCardTest.FilesSignedOnTheCardsAreAccepted </dev/null >"$work/run.log" 2>&1; then
  tr -d '\r' <"$work/run.log" | grep -av '^\s*[0-9a-f]\{8\} ' | tail -40
  echo "FAIL: the card test failed"
  exit 1
fi
if [ ! -f "$work/doc.txt" ]; then
  if [ -z "${TVL_PCSC_REQUIRED:-}" ] && grep -aq SKIPPED "$work/run.log"; then
    echo "skipped: PC/SC bench not running"
    exit 77
  fi
  echo "FAIL: the card test kept no signed files"
  exit 1
fi

cat "$pki/authorities/1039.pem" "$pki/authorities/1041.pem" >"$work/ca-ormavia.pem"
cat "$pki/ca/dnie-root.pem" "$pki/ca/dnie-ca.pem" >"$work/ca-dnie.pem"
fail=0
for spec in "card-temd ormavia" "card-dni-sign dnie"; do
  read -r signer ca <<<"$spec"
  f="$work/$signer.p7"
  if ! openssl cms -verify -inform DER -binary -CAfile "$work/ca-$ca.pem" -in "$f" \
      -out "$f.out" -signer "$f.signer.pem" 2>"$f.err"; then
    echo "FAIL: $signer: openssl rejects: $(head -c 300 "$f.err")"; fail=1; continue
  fi
  if ! cmp -s "$work/doc.txt" "$f.out"; then
    echo "FAIL: $signer: content differs"; fail=1; continue
  fi
  got=$(openssl x509 -in "$f.signer.pem" -noout -fingerprint -sha1)
  want=$(openssl x509 -in "$pki/certs/$signer.pem" -noout -fingerprint -sha1)
  if [ "$got" != "$want" ]; then
    echo "FAIL: $signer: signed by $got"; fail=1; continue
  fi
  echo "ok: $signer: openssl verifies the card's signature, content identical"
done
exit $fail
