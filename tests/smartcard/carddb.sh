#!/usr/bin/env bash
# Registers the test card types in the Windows smart-card database of the test
# prefix (CTest fixture "pcsc"). The table matches CardTestData.h.
set -euo pipefail
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
)

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
} >"$tmp/cards.reg"

"$wine_run" reg import "Z:${tmp//\//\\}\\cards.reg" </dev/null
"$wine_run" reg query "$key\\Tarvosel Prueba 1" /v ATRMask </dev/null | grep -qi ATRMask
echo "card database: ${#cards[@]} card types registered"
