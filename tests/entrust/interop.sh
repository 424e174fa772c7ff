#!/usr/bin/env bash
# OpenSSL reads what the profile back-end writes:
#  - files signed through an Entrust session (our own profiles and ones OpenSSL
#    made) verify with `openssl cms -verify` against the test authorities,
#    content byte-identical;
#  - PKCS#12 exports open with `openssl pkcs12` and the password the session
#    returned, and hold exactly the selected certificates with their keys;
#    they use only triple DES and a SHA-1 MAC (what every Windows imports), so
#    OpenSSL 3 opens them without its legacy provider.
set -euo pipefail
cli=$1
fixtures=$2
pki=$3
here=$(cd "$(dirname "$0")" && pwd)
run="$here/../../scripts/wine-run.sh"
work=$(mktemp -d "$(dirname "$cli")/epf-interop.XXXXXX")
trap 'rm -rf "$work"' EXIT
winpath() { printf 'Z:%s' "$1" | tr '/' '\\'; }
cat "$pki/authorities/1039.pem" "$pki/authorities/1041.pem" > "$work/ca.pem"
fail=0
ok() { echo "ok: $*"; }
bad() { echo "FAIL: $*"; fail=1; }
cli_run() { "$run" "$cli" "$@" </dev/null 2>&1 | tr -d '\r' || true; }
fingerprint() { openssl x509 -inform "$2" -in "$1" -noout -fingerprint -sha1 | cut -d= -f2; }

for p in user single legacy; do
  cp "$fixtures/$p.epf" "$fixtures/$p.pch" "$work/"
done

# 1. Signed through the session, verified by OpenSSL.
for p in user single legacy; do
  for alg in SHA1 MD5WITHRSA SSHA256WITHRSA sha1; do
    for size in 0 1 65536 1048577; do
      f="$work/d-$p-$alg-$size"
      head -c "$size" /dev/urandom > "$f"
      out=$(cli_run sign "$(winpath "$work/$p.epf")" Prueba1234 "$alg" "$(winpath "$f")" "$(winpath "$f.p7")")
      if [ "$(head -1 <<<"$out")" != signed ]; then bad "$p $alg $size: $out"; continue; fi
      if ! openssl cms -verify -inform DER -binary -CAfile "$work/ca.pem" -in "$f.p7" \
          -out "$f.out" 2>"$f.err"; then
        bad "$p $alg $size: openssl rejects: $(head -c 300 "$f.err")"; continue
      fi
      cmp -s "$f" "$f.out" || { bad "$p $alg $size: content differs"; continue; }
      rm -f "$f" "$f.p7" "$f.out" "$f.err"
    done
    ok "$p $alg: openssl verifies 0, 1, 65536 and 1048577 bytes, content identical"
  done
done

# 2. PKCS#12 exports opened by OpenSSL with the returned password.
declare -A expected=([1]="user-enc" [2]="user-sign" [3]="user-sign user-enc")
for sel in 1 2 3; do
  for given in "" "cualquiera"; do
    out=$(cli_run export "$(winpath "$work/user.epf")" Prueba1234 "$sel" "$(winpath "$work/e.pfx")" $given)
    pw=$(sed -n 's/^password=//p' <<<"$out")
    if [ -z "$pw" ]; then bad "export $sel: $out"; continue; fi
    if [ -n "$given" ] && [ "$pw" != Prueba1234 ]; then bad "export $sel: password $pw, not the profile's"; fi
    if [ -z "$given" ] && ! grep -qE '^[0-9][a-z][A-Z][0-9A-Za-z]{5}$' <<<"$pw"; then bad "export $sel: password '$pw'"; fi
    if ! openssl pkcs12 -in "$work/e.pfx" -passin "pass:$pw" -nodes -out "$work/e.pem" 2>"$work/e.err"; then
      bad "export $sel: openssl cannot open it: $(head -c 300 "$work/e.err")"; continue
    fi
    info=$(openssl pkcs12 -in "$work/e.pfx" -passin "pass:$pw" -info -noout 2>&1 || true)
    algs=$(grep -E '^(MAC|PKCS7 Encrypted data|Shrouded Keybag):' <<<"$info" | sort -u | tr '\n' ';')
    want_algs="MAC: sha1, Iteration 2000;PKCS7 Encrypted data: pbeWithSHA1And3-KeyTripleDES-CBC, Iteration 2000;Shrouded Keybag: pbeWithSHA1And3-KeyTripleDES-CBC, Iteration 2000;"
    [ "$algs" = "$want_algs" ] || bad "export $sel: algorithms '$algs', want '$want_algs'"
    if openssl pkcs12 -in "$work/e.pfx" -passin "pass:${pw}x" -nodes -out /dev/null 2>/dev/null; then
      bad "export $sel: opens with a wrong password"
    fi
    certs=$(grep -c 'BEGIN CERTIFICATE' "$work/e.pem" || true)
    keys=$(grep -c 'BEGIN PRIVATE KEY' "$work/e.pem" || true)
    want=$(wc -w <<<"${expected[$sel]}")
    [ "$certs" -eq "$want" ] && [ "$keys" -eq "$want" ] || { bad "export $sel: $certs certificates, $keys keys, want $want"; continue; }
    # The certificates are the selected ones, each key belongs to one of them.
    allfp=$(for name in ${expected[$sel]}; do fingerprint "$fixtures/$name.der" DER; done | sort)
    moduli_c=$(for name in ${expected[$sel]}; do openssl x509 -inform DER -in "$fixtures/$name.der" -noout -modulus; done | sort)
    moduli_k=$(awk '/BEGIN PRIVATE KEY/,/END PRIVATE KEY/' "$work/e.pem" | csplit -s -z -f "$work/key-part" - '/BEGIN PRIVATE KEY/' '{*}' && \
               for k in "$work"/key-part*; do openssl rsa -in "$k" -noout -modulus 2>/dev/null; done | sort)
    rm -f "$work"/key-part*
    [ "$moduli_c" = "$moduli_k" ] || { bad "export $sel: keys are not the certificates' keys"; continue; }
    certfps=$(awk '/BEGIN CERTIFICATE/,/END CERTIFICATE/' "$work/e.pem" | csplit -s -z -f "$work/cert-part" - '/BEGIN CERTIFICATE/' '{*}' && \
              for c in "$work"/cert-part*; do openssl x509 -in "$c" -noout -fingerprint -sha1 | cut -d= -f2; done | sort)
    rm -f "$work"/cert-part*
    [ "$certfps" = "$allfp" ] || { bad "export $sel: certificates $certfps, want $allfp"; continue; }
    ok "export selection $sel${given:+ (password given)}: openssl opens it with '$pw', $want certificate(s) with their keys"
  done
done
exit $fail
