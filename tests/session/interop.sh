#!/usr/bin/env bash
# OpenSSL and the library read each other's signed files:
#  - every file the session signs is accepted by `openssl cms -verify` with the
#    test authorities as CA, content byte-identical, signing time = now (UTC);
#  - the library decodes what `openssl cms -sign` writes (definite and streamed,
#    two signers, SHA-1, SHA-256), content byte-identical;
#  - a changed content byte, signature byte or signing time is rejected.
set -euo pipefail
cli=$1
pki=$2
here=$(cd "$(dirname "$0")" && pwd)
run="$here/../../scripts/wine-run.sh"
work=$(mktemp -d "$(dirname "$cli")/interop.XXXXXX")
trap 'rm -rf "$work"' EXIT
winpath() { printf 'Z:%s' "$1" | tr '/' '\\'; }
cat "$pki/authorities/1039.pem" "$pki/authorities/1041.pem" > "$work/ca.pem"
fail=0
ok() { echo "ok: $*"; }
bad() { echo "FAIL: $*"; fail=1; }

cli_run() { "$run" "$cli" "$@" </dev/null 2>&1 | tr -d '\r' || true; }

# 1. The library signs, OpenSSL verifies.
for spec in "file dni-sign MD5WITHRSA" "c2 soft-ds MD5WITHRSA" "baner soft-ds MD5WITHRSA"; do
  read -r variant signer alg <<<"$spec"
  for size in 0 1 4095 4096 8192 5242880; do
    [ "$variant" = c2 ] || [ "$size" -le 8192 ] || continue
    f="$work/d-$variant-$size"
    head -c "$size" /dev/urandom > "$f"
    before=$(date -u +%s)
    out=$(cli_run sign "$variant" "$signer" dni-auth "$alg" "$(winpath "$f")" "$(winpath "$f.p7")")
    after=$(date -u +%s)
    if [ "$(head -1 <<<"$out")" != signed ]; then bad "$variant $size: $out"; continue; fi
    if ! openssl cms -verify -inform DER -binary -CAfile "$work/ca.pem" -in "$f.p7" \
        -out "$f.out" 2>"$f.err"; then
      bad "$variant $size: openssl rejects: $(head -c 300 "$f.err")"; continue
    fi
    cmp -s "$f" "$f.out" || { bad "$variant $size: content differs"; continue; }
    t=$(openssl cms -cmsout -print -inform DER -in "$f.p7" | grep -A2 'signingTime' |
        sed -n 's/.*UTCTIME:\(.*\)$/\1/p' | head -1)
    ts=$(date -u -d "$t" +%s 2>/dev/null || echo 0)
    if [ "$ts" -lt $((before - 1)) ] || [ "$ts" -gt $((after + 1)) ]; then
      bad "$variant $size: signing time '$t' not between $before and $after"; continue
    fi
    ok "$variant $alg $size bytes: openssl verifies, content identical, signing time $t"
  done
done

# 2. OpenSSL signs, the library reads.
data="$work/data"
head -c 100000 /dev/urandom > "$data"
key() { echo "-signer $pki/certs/$1.pem -inkey $pki/keys/$1.key.pem"; }
declare -A variants=(
  [md5-definite]="-md md5 $(key dni-sign)"
  [md5-stream]="-md md5 -stream $(key dni-sign)"
  [two-signers]="-md md5 $(key dni-sign) $(key soft-ds)"
  [sha1]="-md sha1 $(key soft-ds)"
  [sha256-stream]="-md sha256 -stream $(key soft-ds)"
)
declare -A signers=([md5-definite]=1 [md5-stream]=1 [two-signers]=2 [sha1]=1 [sha256-stream]=1)
for name in "${!variants[@]}"; do
  f="$work/o-$name"
  # shellcheck disable=SC2086
  openssl cms -sign -binary -nodetach -outform DER ${variants[$name]} -in "$data" -out "$f.p7"
  out=$(cli_run check "$(winpath "$f.p7")" "$(winpath "$f.out")")
  if ! grep -q "^signers=${signers[$name]}$" <<<"$out"; then bad "$name: $out"; continue; fi
  if grep -q 'trusted=0' <<<"$out"; then bad "$name: untrusted signer: $out"; continue; fi
  cmp -s "$data" "$f.out" || { bad "$name: content differs"; continue; }
  ok "openssl $name: read, ${signers[$name]} signer(s) verified, content identical"
done

# The report names every signer in order.
out=$(cli_run check "$(winpath "$work/o-two-signers.p7")" "$(winpath "$work/two.out")" \
  "$(winpath "$work/two.log")")
if grep -qa ' - Firma 1:'$'\r' "$work/two.log" && grep -qa ' - Firma 2:'$'\r' "$work/two.log" &&
   grep -qa ' - N'$'\xfa''mero de firmas: 2'$'\r' "$work/two.log"; then
  ok "two signers reported as Firma 1 and Firma 2"
else bad "two-signer report: $(tr -d '\r' < "$work/two.log" | head -c 600)"; fi

# A signer without signing time is refused.
# shellcheck disable=SC2086
openssl cms -sign -binary -nodetach -outform DER -noattr $(key soft-ds) -in "$data" -out "$work/noattr.p7"
out=$(cli_run check "$(winpath "$work/noattr.p7")" "$(winpath "$work/noattr.out")" \
  "$(winpath "$work/noattr.log")")
if grep -q '^error -1010 ' <<<"$out" &&
   grep -qa 'No existe informaci'$'\xf3''n sobre la fecha de la firma' "$work/noattr.log"; then
  ok "signer without signing time refused (-1010)"
else bad "no signing time: $out"; fi

# 3. Tampering is rejected.
src="$work/o-md5-definite.p7"
python3 - "$src" "$work" <<'PY'
import sys
data = open(sys.argv[1], 'rb').read()
work = sys.argv[2]
def save(name, b):
    open(f"{work}/t-{name}.p7", 'wb').write(b)
# Content: a byte in the middle of the 100000 content bytes.
b = bytearray(data); b[len(b) // 2] ^= 1; save("content", b)
# Signature: the last byte of the file is the signature's last byte (definite DER).
b = bytearray(data); b[-1] ^= 1; save("signature", b)
# Signing time: the UTCTime after the signingTime OID.
oid = bytes.fromhex("06092a864886f70d010905")
i = data.find(oid)
j = data.find(b"\x17\x0d", i)
b = bytearray(data); b[j + 2 + 11] ^= 1; save("time", b)
PY
for t in content signature time; do
  out=$(cli_run check "$(winpath "$work/t-$t.p7")" "$(winpath "$work/t-$t.out")")
  if grep -q '^error ' <<<"$out"; then ok "changed $t rejected: ${out#error }"
  else bad "changed $t accepted: $out"; fi
done
exit $fail
