#!/usr/bin/env bash
# openssl reads the PEM text of every test certificate back to the same DER.
# Usage: pem_interop.sh path/to/certpem.exe path/to/tests/fixtures/pki
set -euo pipefail
cli=$1
pki=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
run=$here/../../scripts/wine-run.sh
work=$(mktemp -d "${TMPDIR:-/tmp}"/tvl-cert-pem.XXXXXX)
trap 'rm -rf "$work"' EXIT

args=()
names=()
for der in "$pki"/certs/*.der "$pki"/ca/*.der; do
  name=$(basename "$(dirname "$der")")-$(basename "$der" .der)
  names+=("$name")
  cp "$der" "$work/$name.der"
  args+=("Z:$work/$name.der" "Z:$work/$name.pem")
done
"$run" "$cli" "${args[@]}" </dev/null >/dev/null 2>"$work/cli.log" || {
  cat "$work/cli.log" >&2; echo "certpem failed" >&2; exit 1; }

fail=0
for name in "${names[@]}"; do
  if openssl x509 -in "$work/$name.pem" -outform DER 2>/dev/null | cmp -s - "$work/$name.der"; then
    echo "ok   $name"
  else
    echo "FAIL $name"; fail=1
  fi
done
exit $fail
