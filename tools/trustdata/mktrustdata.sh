#!/usr/bin/env bash
# Builds a deployment's trust data from a configuration file into OUT (the build
# runs it: CMake option TVL_TRUST_CONFIG for the library, the test configuration
# for the tests):
#   OUT/authorities/<resid>.der, .z   the seven authority certificates (DER, and
#                                     zlib-compressed as the library embeds them)
#   OUT/authorities.rc                their resources (type CERTIFICATE, Spanish)
#   OUT/AuthorityTable.cpp            their resource ids, in table order
#   OUT/entries.txt, OUT/HiddenStringsTable.cpp
#                                     the scrambled table: accepted-signer texts,
#                                     issuer lists, fingerprints
#   OUT/TrustKind.h                   TVL_TEST_TRUST 1 when any authority was made
#                                     here (its private key lies in KEY_DIR) or has the
#                                     key of a test authority of this repository, so
#                                     anyone with the sources can sign as it; else 0
# Each authority is either a certificate file or, for test deployments, made here
# with a key in KEY_DIR (kept, so that a rerun gives the same certificate).
# Either way its role is checked: a CA certificate with an RSA key of the size the
# role needs, self-signed, except index 2, which the production root (index 1)
# must have issued. Issuer-list names are read from the listed certificate files
# in the platform's name format. Paths in the configuration are relative to it.
#
# Usage: mktrustdata.sh [--new-keys] [--no-generate] [--depfile FILE] --out DIR CONFIG
#   --no-generate  take described authorities from KEY_DIR as earlier runs left them
#   --new-keys     fresh keys for described authorities
#   --depfile      write the files read, for the build's dependencies
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
die() { echo "mktrustdata: $*" >&2; exit 1; }
usage() { sed -n '2,24p' "${BASH_SOURCE[0]}"; exit "${1:-0}"; }

new_keys=0
generate=1
out=
depfile=
config=
while [ $# -gt 0 ]; do
  case "$1" in
    --new-keys) new_keys=1 ;;
    --no-generate) generate=0 ;;
    --out) out=$2; shift ;;
    --depfile) depfile=$2; shift ;;
    -h|--help) usage ;;
    -*) die "unknown option $1" ;;
    *) config=$1 ;;
  esac
  shift
done
[ -n "$out" ] && [ -n "$config" ] || usage 1 >&2
[ -f "$config" ] || die "no config file $config"
config=$(cd "$(dirname "$config")" && pwd)/$(basename "$config")
confdir=$(dirname "$config")
mkdir -p "$out/authorities"
out=$(cd "$out" && pwd)

AUTHORITIES=() ISSUERS_1=() ISSUERS_9=() ISSUERS_10=() ISSUERS_11=() ISSUERS_12=() ISSUERS_13=()
# shellcheck source=/dev/null
. "$config"
[ ${#AUTHORITIES[@]} -eq 7 ] || die "need exactly 7 authorities, config has ${#AUTHORITIES[@]}"
for v in SIGNER_TEXT_0 SIGNER_TEXT_14 KEY_BYTE; do
  [ -n "${!v:-}" ] || die "config sets no $v"
done

# A path of the configuration, made absolute.
conf_path() { case "$1" in /*) realpath -m "$1" ;; *) realpath -m "$confdir/$1" ;; esac; }
inputs=("$config")

# Key size and role of each index.
ROLE_BITS=(1024 4096 4096 1024 1024 1024 1024)
ROLE_TEXT=("production root, first generation" "production root, second generation"
           "production subordinate of index 1" "pre-production root, newer generation"
           "pre-production root, older generation" "development root, newer generation"
           "development root, older generation")

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
  local subj=$1 serial=$2 key=$3 pem=$4 ext=$5 icert=${6:-} ikey=${7:-}
  local sign=(-selfsign -keyfile "$key")
  [ -z "$icert" ] || sign=(-cert "$icert" -keyfile "$ikey")
  : > "$work/db.txt"
  echo "$serial" > "$work/serial"
  openssl req -new -config "$work/ca.cnf" -utf8 -key "$key" -subj "$subj" -out "$work/req.csr"
  openssl ca -config "$work/ca.cnf" -batch -notext -preserveDN -utf8 "${sign[@]}" \
    -in "$work/req.csr" -out "$pem" -extensions "$ext" \
    -startdate "$NOT_BEFORE" -enddate "$NOT_AFTER" 2>"$work/ca.log" \
    || { cat "$work/ca.log" >&2; die "could not issue $subj"; }
}

# The seven certificates, as DER under $work/<index>.der.
resids=()
test_trust=0
for i in "${!AUTHORITIES[@]}"; do
  IFS='|' read -r resid role f3 f4 f5 f6 <<< "${AUTHORITIES[$i]}"
  [[ "$resid" =~ ^[0-9]+$ ]] && [ "$resid" -ge 1 ] && [ "$resid" -le 65535 ] ||
    die "authority $i: resource id '$resid' is not a number from 1 to 65535"
  case " ${resids[*]} " in *" $resid "*) die "authority $i: resource id $resid used twice" ;; esac
  resids+=("$resid")
  der=$work/$i.der
  if [ "$f3" = file ]; then
    src=$(conf_path "$f4")
    [ -f "$src" ] || die "authority $i: no file $src"
    inputs+=("$src")
    openssl x509 -inform DER -in "$src" -outform DER -out "$der" 2>/dev/null ||
      openssl x509 -in "$src" -outform DER -out "$der" 2>/dev/null ||
      die "authority $i: $src is not a certificate"
    echo "authority $i ($resid, $role): from $src"
  else
    bits=$f3 issuer=$f4 subj=$f5 serial=$f6
    test_trust=1
    keydir=$(conf_path "$KEY_DIR")
    key=$keydir/$resid.key.pem
    pem=$keydir/$resid.pem
    [ "$bits" = "${ROLE_BITS[$i]}" ] ||
      die "authority $i: config says RSA $bits, the ${ROLE_TEXT[$i]} needs ${ROLE_BITS[$i]}"
    if [ $generate = 1 ]; then
      mkdir -p "$keydir"
      if [ $new_keys = 1 ] || [ ! -f "$key" ]; then
        openssl genpkey -algorithm RSA -pkeyopt "rsa_keygen_bits:$bits" -out "$key" 2>/dev/null
      fi
      if [ "$issuer" = self ]; then
        issue "$subj" "$serial" "$key" "$pem" root_ext
      else
        [ "$issuer" -lt "$i" ] 2>/dev/null || die "authority $i: issuer must be an earlier index"
        IFS='|' read -r iresid _ <<< "${AUTHORITIES[$issuer]}"
        issue "$subj" "$serial" "$key" "$pem" sub_ext "$keydir/$iresid.pem" "$keydir/$iresid.key.pem"
      fi
      echo "authority $i ($resid, $role): $subj, RSA $bits"
    else
      [ -f "$pem" ] || die "authority $i: no $pem (run without --no-generate once)"
      inputs+=("$pem")
      echo "authority $i ($resid, $role): from $pem"
    fi
    openssl x509 -in "$pem" -outform DER -out "$der"
  fi
  openssl x509 -inform DER -in "$der" -out "$work/$i.pem"
done

# Roles: the same checks for certificates made here and for files.
name_of() { openssl x509 -in "$1" -noout "-$2" -nameopt RFC2253 | sed 's/^[a-z]*=//'; }
for i in 0 1 2 3 4 5 6; do
  pem=$work/$i.pem
  what="authority $i (${ROLE_TEXT[$i]})"
  text=$(openssl x509 -in "$pem" -noout -text)
  grep -q 'Public Key Algorithm: rsaEncryption' <<< "$text" || die "$what: the key is not RSA"
  bits=$(sed -n 's/.*Public-Key: (\([0-9]*\) bit).*/\1/p' <<< "$text")
  grep -q 'CA:TRUE' <<< "$(openssl x509 -in "$pem" -noout -ext basicConstraints 2>/dev/null)" ||
    die "$what: not a CA certificate"
  grep -q 'Certificate Sign' <<< "$(openssl x509 -in "$pem" -noout -ext keyUsage 2>/dev/null)" ||
    die "$what: its key usage does not allow signing certificates"
  if [ "$i" = 2 ]; then
    [ "$(name_of "$pem" issuer)" != "$(name_of "$pem" subject)" ] &&
      [ "$(name_of "$pem" issuer)" = "$(name_of "$work/1.pem" subject)" ] &&
      openssl verify -no_check_time -partial_chain -CAfile "$work/1.pem" "$pem" >/dev/null 2>&1 ||
      die "$what: not issued by the production root (index 1)"
  else
    [ "$(name_of "$pem" issuer)" = "$(name_of "$pem" subject)" ] &&
      openssl verify -no_check_time -CAfile "$pem" "$pem" >/dev/null 2>&1 ||
      die "$what: not a self-signed root"
  fi
  [ "$bits" = "${ROLE_BITS[$i]}" ] || die "$what: RSA $bits, the role needs ${ROLE_BITS[$i]}"
done

# Test trust: any authority whose private key is one of this repository's.
# (each public key as one line of Base64; not needed when one was made here)
if [ $test_trust = 0 ]; then
  for k in "$root"/tests/fixtures/pki/authorities/*.key.pem; do
    [ -f "$k" ] && openssl pkey -in "$k" -pubout 2>/dev/null | grep -v '^-----' | tr -d '\n' && echo
  done > "$work/repo-keys.txt"
  for i in 0 1 2 3 4 5 6; do
    pub=$(openssl x509 -in "$work/$i.pem" -noout -pubkey | grep -v '^-----' | tr -d '\n')
    ! grep -qxF "$pub" "$work/repo-keys.txt" || test_trust=1
  done
fi

# Resources, fingerprints, the resource-id table.
rm -f "$out"/authorities/*.der "$out"/authorities/*.z
fingerprints=()
for i in "${!resids[@]}"; do
  r=${resids[$i]}
  cp "$work/$i.der" "$out/authorities/$r.der"
  # zlib stream as the library unpacks it; it reserves four times the stream size.
  python3 - "$out/authorities/$r.der" "$out/authorities/$r.z" <<'PY'
import sys, zlib
der = open(sys.argv[1], "rb").read()
z = zlib.compress(der, 9)
if zlib.decompress(z) != der or len(der) >= 4 * len(z):
    sys.exit("mktrustdata: %s does not round-trip within 4x" % sys.argv[1])
open(sys.argv[2], "wb").write(z)
PY
  fingerprints+=("$(openssl x509 -inform DER -in "$work/$i.der" -noout -fingerprint -sha1 | sed 's/^[^=]*=//')")
done
{
  echo "// Generated by tools/trustdata/mktrustdata.sh from $config; do not edit."
  echo "// Embedded certificate authorities: zlib-compressed DER, type CERTIFICATE, Spanish."
  echo "#include <winresrc.h>"
  echo "LANGUAGE LANG_SPANISH, SUBLANG_SPANISH_MODERN"
  for r in "${resids[@]}"; do
    echo "$r CERTIFICATE \"$out/authorities/$r.z\""
  done
} > "$out/authorities.rc"
{
  echo "// Generated by tools/trustdata/mktrustdata.sh from $config; do not edit."
  echo "#include \"cert/wincrypt/CAuthorityStore.h\""
  echo ""
  echo "// Resource ids of the embedded authorities, in table order."
  echo "const int CAuthorityStore::s_anResourceIds[CAuthorityStore::AUTHORITY_COUNT] = {"
  echo "    $(IFS=,; echo "${resids[*]}" | sed 's/,/, /g')};"
  echo ""
  echo "// Authorities whose private keys lie beside their configuration: test trust."
  echo "const bool CAuthorityStore::s_bTestTrust = $([ $test_trust = 1 ] && echo true || echo false);"
} > "$out/AuthorityTable.cpp"
{
  echo "// Generated by tools/trustdata/mktrustdata.sh from $config; do not edit."
  echo "#define TVL_TEST_TRUST $test_trust"
} > "$out/TrustKind.h"
[ $test_trust = 0 ] || echo "TEST TRUST: the private keys of generated authorities are in $(conf_path "$KEY_DIR")"

# Issuer lists: each certificate's name as the platform writes an issuer.
SEPARATOR=" | "
issuer_list() {
  local n=$1 list="" name path
  local -n files="ISSUERS_$n"
  for path in "${files[@]}"; do
    path=$(conf_path "$path")
    [ -f "$path" ] || die "issuer list $n: no file $path"
    name=$(python3 "$here/x500name.py" "$path") || die "issuer list $n: no name from $path"
    case "$name" in *"|"*) die "issuer list $n: the name of $path contains '|'" ;; esac
    list=${list:+$list$SEPARATOR}$name
  done
  printf '%s' "$list"
}
declare -A lists
for n in 1 9 10 11 12 13; do
  lists[$n]=$(issuer_list "$n")
  declare -n files="ISSUERS_$n"
  for path in "${files[@]}"; do inputs+=("$(conf_path "$path")"); done
  unset -n files
done
entries=$out/entries.txt
{
  echo "# Generated by tools/trustdata/mktrustdata.sh from $config; do not edit."
  echo "# Input of tools/hiddenstrings/mkhidden.py: entry number, TAB, text (UTF-8)."
  printf '0\t%s\n' "$SIGNER_TEXT_0"
  printf '1\t%s\n' "${lists[1]}"
  for i in 0 1 2 3 4 5 6; do
    printf '%d\t%s\n' $((i + 2)) "${fingerprints[$i]}"
  done
  for n in 9 10 11 12 13; do
    printf '%d\t%s\n' "$n" "${lists[$n]}"
  done
  printf '14\t%s\n' "$SIGNER_TEXT_14"
} > "$entries"
python3 "$root/tools/hiddenstrings/mkhidden.py" --key "$KEY_BYTE" --out "$out/HiddenStringsTable.cpp" "$entries"

if [ -n "$depfile" ]; then
  {
    printf '%s:' "$out/AuthorityTable.cpp" | sed 's/ /\\ /g'
    for f in "${inputs[@]}"; do printf ' %s' "$(printf '%s' "$f" | sed 's/ /\\ /g')"; done
    echo
  } > "$depfile"
fi
echo "wrote $out"
