#!/usr/bin/env bash
# tools/trustdata/x500name.py writes a certificate's name as the platform does:
# names made here by OpenSSL with values that need quoting, with T61 strings and
# with BMP strings, each compared (as cp1252 bytes, the library's text) with what
# CertNameToStrA gives the library under Wine: the subject with "; ", the issuer
# with ", ", both most specific part first.
# Usage: x500name_platform.sh path/to/certname.exe SOURCE_ROOT
set -uo pipefail
cli=$1
root=$2
run=$root/scripts/wine-run.sh
tool=$root/tools/trustdata/x500name.py
work=$(mktemp -d "${TMPDIR:-/tmp}"/tvl-x500name.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail=0

openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$work/key.pem" 2>/dev/null

# make NAME MASK: a self-signed certificate whose name is the [dn] lines read
# from stdin (OpenSSL's configuration syntax: "#" and '"' escaped, a value in
# quotes keeps its blanks), strings chosen by the OpenSSL string mask MASK.
make() {
  local name=$1 mask=$2
  { printf '[req]\ndistinguished_name = dn\nprompt = no\nutf8 = yes\nstring_mask = %s\n[dn]\n' "$mask"
    cat; } > "$work/$name.cnf"
  openssl req -new -x509 -config "$work/$name.cnf" -key "$work/key.pem" -days 30 \
    -outform DER -out "$work/$name.der" 2>"$work/$name.err" ||
    { echo "FAIL: openssl cannot make $name: $(cat "$work/$name.err")"; fail=1; }
}
make quoting pkix <<'DN'
C = ES
O = "García, Ana y Cía"
0.OU = a+b
1.OU = x=y
L = Dice \"hola\"
ST = uno;dos
street = "  con blancos  "
CN = \#1 <Firma> Automatizada
DN
make t61 nombstr <<'DN'
C = ES
O = Ormavia Servicios, S.L.
OU = Administración
CN = José Ñúñez Güell
DN
make bmp MASK:0x800 <<'DN'
C = ES
O = Unión \"Sur\" €
CN = Oficina Ñandú; Sección 2
DN
# The strings really are of those types.
types() { openssl asn1parse -inform DER -in "$work/$1.der" | grep -c "$2"; }
[ "$(types t61 T61STRING)" -ge 4 ] || { echo "FAIL: t61: not T61 strings"; fail=1; }
[ "$(types bmp BMPSTRING)" -ge 3 ] || { echo "FAIL: bmp: not BMP strings"; fail=1; }

names=(quoting t61 bmp)
args=()
for n in "${names[@]}"; do args+=("Z:$work/$n.der"); done
"$run" "$cli" "${args[@]}" </dev/null >"$work/platform.txt" 2>"$work/cli.log" ||
  { cat "$work/cli.log" >&2; echo "FAIL: certname.exe"; exit 1; }

line=1
for n in "${names[@]}"; do
  for what in subject issuer; do
    if [ $what = subject ]; then
      ours=$(python3 "$tool" --separator '; ' "$work/$n.der" | iconv -f UTF-8 -t CP1252)
    else
      ours=$(python3 "$tool" --issuer "$work/$n.der" | iconv -f UTF-8 -t CP1252)
    fi
    theirs=$(sed -n "${line}p" "$work/platform.txt" | tr -d '\r')
    line=$((line + 1))
    shown=$(printf '%s' "$theirs" | iconv -f CP1252 -t UTF-8)
    if [ -n "$ours" ] && [ "$ours" = "$theirs" ]; then
      echo "ok: $n $what: $shown"
    else
      echo "FAIL: $n $what: x500name.py '$(printf '%s' "$ours" | iconv -f CP1252 -t UTF-8)', platform '$shown'"
      fail=1
    fi
  done
done
exit $fail
