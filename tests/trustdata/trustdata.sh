#!/usr/bin/env bash
# tools/trustdata/mktrustdata.sh against configurations made here from the test
# deployment's: what it writes for a good one, and the refusal, with its reason,
# of each authority put in a role it cannot have.
# Usage: trustdata.sh SOURCE_ROOT
set -uo pipefail
root=$1
tool=$root/tools/trustdata/mktrustdata.sh
pki=$root/tests/fixtures/pki
work=$(mktemp -d "${TMPDIR:-/tmp}"/tvl-trustdata.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail=0
ok() { echo "ok: $*"; }
bad() { echo "FAIL: $*"; fail=1; }

ids=(1036 1039 1041 1038 1035 1037 1034)
# config NAME ID0..ID6 FILE0..FILE6: the test deployment with these authorities.
config() {
  local name=$1; shift
  {
    echo ". '$root/tools/trustdata/ormavia-test.conf'"
    echo "AUTHORITIES=("
    for i in 0 1 2 3 4 5 6; do
      eval "local id=\${$((i + 1))} file=\${$((i + 8))}"
      echo "  \"$id|authority $i|file|$file\""
    done
    echo ")"
    for n in 1 9 10 11 12 13; do
      echo "ISSUERS_$n=(\"\${ISSUERS_$n[@]/#/$root/tools/trustdata/}\")"
    done
  } > "$work/$name.conf"
}
files=()
for id in "${ids[@]}"; do files+=("$pki/authorities/$id.pem"); done

# 1. Renumbered: the ids it writes are the configuration's, in table order.
config renumbered 2001 2002 2003 2004 2005 2006 2007 "${files[@]}"
if bash "$tool" --out "$work/renumbered" --depfile "$work/renumbered.d" \
    "$work/renumbered.conf" >"$work/log" 2>&1; then
  grep -q '{$' "$work/renumbered/AuthorityTable.cpp" &&
  grep -q '^    2001, 2002, 2003, 2004, 2005, 2006, 2007};$' "$work/renumbered/AuthorityTable.cpp" &&
  [ "$(grep -c '^200[1-7] CERTIFICATE ' "$work/renumbered/authorities.rc")" = 7 ] &&
  [ "$(ls "$work/renumbered/authorities" | wc -l)" = 14 ] &&
    ok "renumbered authorities: ids 2001-2007 in the table and the resources" ||
    bad "renumbered: $(cat "$work/renumbered/AuthorityTable.cpp")"
  # Every file read is a dependency of the build.
  for f in "$work/renumbered.conf" "${files[@]}" "$pki/ca/ext-comun.pem" "$pki/ca/nc-ca.pem"; do
    grep -qF " $f" "$work/renumbered.d" || bad "depfile lacks $f"
  done
else
  bad "renumbered config refused: $(cat "$work/log")"
fi

# 2. The issuer lists hold the names the platform writes for the signers' issuers
#    (index.txt: the texts CryptoAPI gives, checked under Wine by the fixture tests).
for pair in "1 sectorial" "9 fallback-prod" "10 fallback-preprod" "11 fallback-integ" \
            "12 fallback-comun" "13 untrusted"; do
  read -r entry name <<<"$pair"
  want=$(awk -F'\t' -v n="$name" '$1 == n { print $19 }' "$pki/index.txt")
  have=$(awk -F'\t' -v e="$entry" '$1 == e { print $2 }' "$work/renumbered/entries.txt")
  [ -n "$want" ] && [ "$have" = "$want" ] && ok "list $entry: $have" ||
    bad "list $entry is '$have', the issuer of $name is '$want'"
done
# ... and the name text is the platform's for every test certificate, subject and issuer.
# (fields: 1 name, 17 subject, 19 issuer; awk keeps the empty ones)
# One interpreter for all of them: a start each took most of the time.
compare_names='
import sys
sys.path.insert(0, sys.argv[1])
from x500name import certificate_name
for line in sys.stdin:
    name, subject, issuer = line.rstrip("\n").split("\x1f")
    path = "%s/%s.der" % (sys.argv[2], name)
    s = certificate_name(path, separator="; ")
    i = certificate_name(path, issuer=True)
    if s != subject or i != issuer:
        print("names of %s: %r / %r" % (name, s, i))
'
mismatches=$(awk -F'\t' '!/^#/ && NF { printf "%s\x1f%s\x1f%s\n", $1, $17, $19 }' "$pki/index.txt" |
  python3 -c "$compare_names" "$root/tools/trustdata" "$pki/certs" 2>&1) ||
  mismatches="x500name.py failed: $mismatches"
if [ -z "$mismatches" ]; then
  ok "subject and issuer texts of every test certificate"
else
  bad "$mismatches"
fi

# 3. Trust whose keys are in this repository is marked test trust: the test
#    authorities as files (renumbered) as much as made from KEY_DIR; the stand-in
#    deployment, whose keys nobody has, is not.
kind() { sed -n 's/^#define TVL_TEST_TRUST //p' "$1/TrustKind.h"; }
[ "$(kind "$work/renumbered")" = 1 ] &&
  grep -q 's_bTestTrust = true;' "$work/renumbered/AuthorityTable.cpp" &&
  ok "test authorities as files: test trust" || bad "test authorities as files: not test trust"
if bash "$tool" --no-generate --out "$work/test" "$root/tools/trustdata/ormavia-test.conf" \
    >"$work/log" 2>&1; then
  [ "$(kind "$work/test")" = 1 ] && grep -q '^TEST TRUST: ' "$work/log" &&
    ok "test configuration: test trust, said when made" || bad "test configuration: $(kind "$work/test")"
else
  bad "test configuration refused: $(cat "$work/log")"
fi
if bash "$tool" --out "$work/standin" "$root/tests/fixtures/deployment/standin.conf" \
    >"$work/log" 2>&1; then
  [ "$(kind "$work/standin")" = 0 ] &&
    grep -q 's_bTestTrust = false;' "$work/standin/AuthorityTable.cpp" &&
    ! grep -q '^TEST TRUST' "$work/log" &&
    ok "stand-in deployment: no test trust" || bad "stand-in deployment: test trust"
else
  bad "stand-in deployment refused: $(cat "$work/log")"
fi

# 4. Authorities in roles they cannot have: refused, saying why.
expect_refusal() {
  local what=$1 reason=$2
  if bash "$tool" --out "$work/out" "$work/$what.conf" >"$work/log" 2>&1; then
    bad "$what: accepted"
  elif grep -qF "$reason" "$work/log"; then
    ok "$what: refused ($(tail -1 "$work/log"))"
  else
    bad "$what: refused for another reason: $(tail -1 "$work/log")"
  fi
}
swap() {  # swap NAME INDEX FILE
  local f=("${files[@]}"); f[$2]=$3
  config "$1" "${ids[@]}" "${f[@]}"
}
swap not-a-ca 0 "$pki/certs/soft-ds.pem";        expect_refusal not-a-ca "not a CA certificate"
swap root-not-self 0 "$pki/authorities/1041.pem"; expect_refusal root-not-self "not a self-signed root"
swap sub-other-root 2 "$pki/ca/ext-prod.pem";     expect_refusal sub-other-root "not issued by the production root"
swap sub-self 2 "$pki/authorities/1039.pem";      expect_refusal sub-self "not issued by the production root"
swap key-size 0 "$pki/authorities/1039.pem";      expect_refusal key-size "RSA 4096, the role needs 1024"
swap small-key 1 "$pki/ca/ext-root.pem";          expect_refusal small-key "RSA 2048, the role needs 4096"
config same-id 2001 2001 2003 2004 2005 2006 2007 "${files[@]}"
expect_refusal same-id "resource id 2001 used twice"
config bad-id 2001 2002 2003 2004 2005 2006 70000 "${files[@]}"
expect_refusal bad-id "resource id '70000'"
{ cat "$work/renumbered.conf"; echo "ISSUERS_9=('$pki/certs/soft-ds-nr.pem')"; } > "$work/no-list-file.conf"
sed -i "s|soft-ds-nr.pem|no-such-file.pem|" "$work/no-list-file.conf"
expect_refusal no-list-file "issuer list 9: no file"
exit $fail
