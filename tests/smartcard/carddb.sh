#!/usr/bin/env bash
# Registers the test card types in the Windows smart-card database of the test
# prefix (CTest fixture "pcsc"), and, given the bench's card key provider
# (tvlcardcsp.dll), that provider under the names the signing cards' types and
# certificates use. The table matches CardTestData.h.
#   carddb.sh [CSP_DLL]
set -euo pipefail
csp_dll=${1:-}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
wine_run=$here/../../scripts/wine-run.sh
key='HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Cryptography\Calais\SmartCards'

# name | ATR | ATRMask | Crypto Provider
cards=(
  # these two both match the ATR 3B7F380000006A54564C53454C01020304059000:
  # enumerated first, "Tarvosel Prueba 1" must win; its mask ignores five bytes
  "Tarvosel Prueba 1|3B7F380000006A54564C53454C00000000009000|FFFFFFFFFFFFFFFFFFFFFFFFFF0000000000FFFF|Tarvosel CSP Uno"
  "Tarvosel Prueba 2|3B7F380000006A54564C53454C01020304059000|FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF|Tarvosel CSP Dos"
  # matches only its own ATR
  "Tarvosel Otra|3B7F380000006A4F5452414A4F4B455200009000|FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF|Tarvosel CSP Otra"
  # an 8-byte mask: the first 8 bytes of 3B0854564C434F525441 match, its length does not
  "Tarvosel Corta|3B0854564C434F52|FFFFFFFFFFFFFFFF|Tarvosel CSP Corta"
  # the signing cards of vcard.py, served by the bench's key provider
  "Tarvosel DNIe Prueba|3B8F800154564C20444E49452050525545424157|FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF|Tarvosel DNIe Prueba CSP"
  "Tarvosel TEMD Prueba|3B8F800154564C2054454D442050525545424149|FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF|TEMD_CSP"
)
# provider names the bench's key provider is registered under (type 1, PROV_RSA_FULL)
providers=("Tarvosel DNIe Prueba CSP" "TEMD_CSP")
prov_key='HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Cryptography\Defaults\Provider'

hex2reg() { echo "$1" | tr 'A-F' 'a-f' | sed 's/../&,/g; s/,$//'; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
{
  printf 'Windows Registry Editor Version 5.00\r\n\r\n'
  for c in "${cards[@]}"; do
    IFS='|' read -r name atr mask csp <<<"$c"
    printf '[%s\\%s]\r\n' "$key" "$name"
    printf '"ATR"=hex:%s\r\n' "$(hex2reg "$atr")"
    printf '"ATRMask"=hex:%s\r\n' "$(hex2reg "$mask")"
    printf '"Crypto Provider"="%s"\r\n\r\n' "$csp"
  done
  if [ -n "$csp_dll" ]; then
    image=$(printf 'Z:%s' "$csp_dll" | sed 's|/|\\\\|g')
    for p in "${providers[@]}"; do
      printf '[%s\\%s]\r\n' "$prov_key" "$p"
      printf '"Image Path"="%s"\r\n' "$image"
      printf '"Type"=dword:00000001\r\n'
      printf '"SigInFile"=dword:00000000\r\n\r\n'
    done
  fi
} >"$tmp/cards.reg"

"$wine_run" reg import "Z:${tmp//\//\\}\\cards.reg" </dev/null
"$wine_run" reg query "$key\\Tarvosel Prueba 1" /v ATRMask </dev/null | grep -qi ATRMask
echo "card database: ${#cards[@]} card types registered"
if [ -n "$csp_dll" ]; then
  [ -f "$csp_dll" ] || { echo "carddb: no key provider at $csp_dll" >&2; exit 1; }
  "$wine_run" reg query "$prov_key\\TEMD_CSP" /v "Image Path" </dev/null | grep -qi tvlcardcsp
  echo "card key provider: registered as ${providers[*]}"
fi
