#!/usr/bin/env bash
# Builds the deployment's trust data from a config file:
#   res/authorities/<resid>.der   the embedded authority certificates (DER)
#   res/authorities/<resid>.z     the same, zlib-compressed (RFC 1950), as the library embeds them
#   res/authorities.rc            resource lines for them (type CERTIFICATE, Spanish 3082)
#   tools/hiddenstrings/entries.txt and app/HiddenStringsTable.cpp
#                                 accepted-signer texts, issuer lists, fingerprints, key byte
# Generated authorities get their keys in KEY_DIR (test material); existing keys are reused so
# that a rerun with the same config gives the same certificates. --new-keys makes fresh ones.
#
# Usage: tools/trustdata/mktrustdata.sh [--new-keys] [CONFIG]
#        (CONFIG defaults to tools/trustdata/ormavia-test.conf; run from anywhere)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cd "$root"

new_keys=0
config=tools/trustdata/ormavia-test.conf
for a in "$@"; do
  case "$a" in
    --new-keys) new_keys=1 ;;
    -h|--help) sed -n '2,13p' "$0"; exit 0 ;;
    *) config=$a ;;
  esac
done
[ -f "$config" ] || { echo "mktrustdata: no config file $config" >&2; exit 1; }
# shellcheck source=/dev/null
. "$config"

die() { echo "mktrustdata: $*" >&2; exit 1; }
[ ${#AUTHORITIES[@]} -eq 7 ] || die "need exactly 7 authorities, config has ${#AUTHORITIES[@]}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat > "$work/ca.cnf" <<CNF
[ca]
default_ca = ca_default
[ca_default]
database = $work/db.txt
new_certs_dir = $work/new
serial = $work/serial
default_md = ${DIGEST:-sha256}
policy = policy_any
unique_subject = no
email_in_dn = no
copy_extensions = none
[policy_any]
countryName = optional
[req]
distinguished_name = req_dn
# PrintableString where the text allows it: Wine 8 wrongly quotes some UTF8String values
# that contain a blank when it writes a name as text.
string_mask = pkix
utf8 = yes
prompt = no
[req_dn]
CN = unused
[root_ext]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[sub_ext]
basicConstraints = critical, CA:TRUE, pathlen:0
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid:always
CNF
mkdir -p "$work/new"

# issue SUBJECT SERIAL KEY OUT(PEM) EXT [ISSUER_CERT ISSUER_KEY]; self-signed without issuer
issue() {
  local subj=$1 serial=$2 key=$3 out=$4 ext=$5 icert=${6:-} ikey=${7:-}
  : > "$work/db.txt"
  echo "$serial" > "$work/serial"
  openssl req -new -config "$work/ca.cnf" -utf8 -key "$key" -subj "$subj" -out "$work/req.csr"
  if [ -z "$icert" ]; then
    openssl ca -config "$work/ca.cnf" -batch -notext -preserveDN -utf8 -selfsign \
      -keyfile "$key" -in "$work/req.csr" -out "$out" -extensions "$ext" \
      -startdate "$NOT_BEFORE" -enddate "$NOT_AFTER" 2>"$work/ca.log" \
      || { cat "$work/ca.log" >&2; die "could not issue $subj"; }
  else
    openssl ca -config "$work/ca.cnf" -batch -notext -preserveDN -utf8 \
      -cert "$icert" -keyfile "$ikey" -in "$work/req.csr" -out "$out" -extensions "$ext" \
      -startdate "$NOT_BEFORE" -enddate "$NOT_AFTER" 2>"$work/ca.log" \
      || { cat "$work/ca.log" >&2; die "could not issue $subj"; }
  fi
}

mkdir -p res/authorities "$KEY_DIR"
resids=()
fingerprints=()
for i in "${!AUTHORITIES[@]}"; do
  IFS='|' read -r resid role f3 f4 f5 f6 <<< "${AUTHORITIES[$i]}"
  resids+=("$resid")
  der=res/authorities/$resid.der
  if [ "$f3" = file ]; then
    [ -f "$f4" ] || die "authority $i: no file $f4"
    if openssl x509 -inform DER -in "$f4" -noout 2>/dev/null; then
      cp "$f4" "$der"
    else
      openssl x509 -in "$f4" -outform DER -out "$der" || die "authority $i: $f4 is not a certificate"
    fi
    echo "authority $i ($resid, $role): from $f4"
  else
    bits=$f3 issuer=$f4 subj=$f5 serial=$f6
    key=$KEY_DIR/$resid.key.pem
    pem=$KEY_DIR/$resid.pem
    if [ $new_keys = 1 ] || [ ! -f "$key" ]; then
      openssl genpkey -algorithm RSA -pkeyopt "rsa_keygen_bits:$bits" -out "$key" 2>/dev/null
    fi
    have=$(openssl pkey -in "$key" -noout -text | sed -n 's/.*Private-Key: (\([0-9]*\) bit.*/\1/p')
    [ "$have" = "$bits" ] || die "authority $i: $key has $have bits, config says $bits (use --new-keys)"
    if [ "$issuer" = self ]; then
      issue "$subj" "$serial" "$key" "$pem" root_ext
    else
      [ "$issuer" -lt "$i" ] 2>/dev/null || die "authority $i: issuer must be an earlier index"
      IFS='|' read -r iresid _ <<< "${AUTHORITIES[$issuer]}"
      [ -f "$KEY_DIR/$iresid.key.pem" ] || die "authority $i: issuer $issuer has no key here"
      issue "$subj" "$serial" "$key" "$pem" sub_ext "$KEY_DIR/$iresid.pem" "$KEY_DIR/$iresid.key.pem"
    fi
    openssl x509 -in "$pem" -outform DER -out "$der"
    echo "authority $i ($resid, $role): $subj, RSA $bits"
  fi
  # zlib stream as the library unpacks it; it reserves four times the stream size.
  python3 - "$der" "res/authorities/$resid.z" <<'PY'
import sys, zlib
der = open(sys.argv[1], "rb").read()
z = zlib.compress(der, 9)
if zlib.decompress(z) != der or len(der) >= 4 * len(z):
    sys.exit("mktrustdata: %s does not round-trip within 4x" % sys.argv[1])
open(sys.argv[2], "wb").write(z)
PY
  fp=$(openssl x509 -inform DER -in "$der" -noout -fingerprint -sha1 | sed 's/^[^=]*=//')
  fingerprints+=("$fp")
done

# Drop leftovers of an earlier config.
for f in res/authorities/*.der res/authorities/*.z; do
  [ -e "$f" ] || continue
  b=$(basename "$f"); b=${b%.*}
  case " ${resids[*]} " in *" $b "*) ;; *) rm -f "$f" ;; esac
done

{
  echo "// Generated by tools/trustdata/mktrustdata.sh $config; do not edit."
  echo "// Embedded certificate authorities: zlib-compressed DER, type CERTIFICATE, Spanish."
  echo "#include <winresrc.h>"
  echo "LANGUAGE LANG_SPANISH, SUBLANG_SPANISH_MODERN"
  for r in "${resids[@]}"; do
    echo "$r CERTIFICATE \"authorities/$r.z\""
  done
} > res/authorities.rc

join_list() {
  local out="" n
  for n in "$@"; do
    if [ -z "$out" ]; then out=$n; else out="$out$ISSUER_SEPARATOR$n"; fi
  done
  printf '%s' "$out"
}

entries=tools/hiddenstrings/entries.txt
{
  echo "# Generated by tools/trustdata/mktrustdata.sh $config; do not edit."
  echo "# Input of tools/hiddenstrings/mkhidden.py: entry number, TAB, text (UTF-8)."
  printf '0\t%s\n' "$SIGNER_TEXT_0"
  printf '1\t%s\n' "$(join_list "${ISSUERS_1[@]}")"
  for i in 0 1 2 3 4 5 6; do
    printf '%d\t%s\n' $((i + 2)) "${fingerprints[$i]}"
  done
  printf '9\t%s\n' "$(join_list "${ISSUERS_9[@]}")"
  printf '10\t%s\n' "$(join_list "${ISSUERS_10[@]}")"
  printf '11\t%s\n' "$(join_list "${ISSUERS_11[@]}")"
  printf '12\t%s\n' "$(join_list "${ISSUERS_12[@]}")"
  printf '13\t%s\n' "$(join_list "${ISSUERS_13[@]}")"
  printf '14\t%s\n' "$SIGNER_TEXT_14"
} > "$entries"

python3 tools/hiddenstrings/mkhidden.py --key "$KEY_BYTE" --out app/HiddenStringsTable.cpp "$entries"
echo "wrote res/authorities/, res/authorities.rc, $entries, app/HiddenStringsTable.cpp"
