#!/usr/bin/env bash
# Drives tvlhost.exe (which loads tarvosel.dll by name) and checks what a host
# gets back: result codes, the cp1252 message bytes, the log blocks. The test
# PKI's signatures are accepted only by a DLL built with the test trust data; a
# deployment build (-DTVL_TRUST_CONFIG=...) must refuse them instead.
set -euo pipefail
host=$1
here=$(cd "$(dirname "$0")" && pwd)
run="$here/../../scripts/wine-run.sh"
bin=$(dirname "$host")
work=$(mktemp -d "$bin/e2e.XXXXXX")
trap 'rm -rf "$work"; rm -f "$bin/tarvosel.ini"' EXIT
winpath() { printf 'Z:%s' "$1" | tr '/' '\\'; }
fail=0
check() { # description, condition
  if eval "$2"; then echo "ok: $1"; else echo "FAIL: $1"; fail=1; fi
}
# Which authorities the DLL trusts, from its version resource.
trust=$(python3 "$here/../../tools/trustdata/dlltrust.py" "$bin/tarvosel.dll") || exit 1
echo "tarvosel.dll carries $trust trust data"
warning="AVISO: Tarvosel compilado con las autoridades de PRUEBA"

# Without the configuration file beside the host.
rm -f "$bin/tarvosel.ini"
out=$("$run" "$host" init validated 2>&1 || true)
check "no ini: Inicializar -1022" 'grep -q "^Inicializar -> -1022 " <<<"$out"'
check "no ini: still uninitialised" 'grep -q "^UsuarioValidado -> -1027 " <<<"$out"'

printf '[Configuracion tarvosel]\r\nLog=1\r\nIntpreepro=7\r\n' > "$bin/tarvosel.ini"
log="$work/tarvosel.log"
"$run" "$host" log "$(winpath "$log")" error -1002 init sign "$(winpath "$work/a")" \
  "$(winpath "$work/b")" lasterror ssl fin validated > "$work/out" 2>&1 || true
expected=$(printf 'DescripcionError(-1002) -> No existe una sesi\xf3n de usuario abierta')
check "message bytes are cp1252" 'grep -qaF "$expected" "$work/out"'
check "sign without session -1002" 'grep -qa "^FirmarFichero -> -1002 " "$work/out"'
check "last error after failed sign" 'grep -qa "^ObtenerUltimoError -> -1002 " "$work/out"'
check "ssl without session -1002" 'grep -qa "^ObtenerHandleSSL -> -1002 " "$work/out"'
check "after Finalizar -1027" 'grep -qa "^UsuarioValidado -> -1027 " "$work/out"'
check "environment 7 logged" 'grep -qaF "$(printf "Tarvosel entorno de _Producci\xf3n_")" "$log"'
check "CRLF log lines" '[ "$(grep -c $'"'"'\r$'"'"' "$log")" = "$(wc -l < "$log")" ]'
check "banner and braces" 'grep -qaF "Tarvosel FirmarFichero [Ver: 6.0.0.25]" "$log" && grep -qx $'"'"'{\r'"'"' "$log" && grep -qx $'"'"'}\r'"'"' "$log"'
if [ "$trust" = test ]; then
  check "test trust: said at Inicializar" 'grep -qaF "$warning" "$log"'
else
  check "deployment trust: no test-trust warning at Inicializar" '! grep -qaF "$warning" "$log"'
fi
check "result line" 'grep -qaE "^  [0-9]{2}:[0-9]{2}:[0-9]{2}\([0-9]{1,3}\) - Resultado: -1002"$'"'"'\r'"'"' "$log"'

# The login sheet in the real DLL (its own templates and pictures), worked by
# the host's unattended thread over the test PKI of the fixture.
printf 'contenido\r\n' > "$work/doc.txt"
"$run" "$host" --unattended "DIAZ MORA CARLOS" --shot "$(winpath "$work/sheet.bmp")" \
  init login validated info sign "$(winpath "$work/doc.txt")" "$(winpath "$work/doc.p7m")" \
  check "$(winpath "$work/doc.p7m")" "$(winpath "$work/doc.out")" ssl logout fin > "$work/login" 2>&1 || true
check "unattended login opens a session" 'grep -qa "^Login -> 1 " "$work/login"'
check "the row was picked by its label" 'grep -qaF "selecting \"DIAZ MORA CARLOS\" and pressing Aceptar" "$work/login"'
if [ "$trust" = test ]; then
  check "signed and checked" 'grep -qa "^FirmarFichero -> 0 " "$work/login" && grep -qa "^ComprobarFirmaFichero -> 0 " "$work/login" && cmp -s "$work/doc.txt" "$work/doc.out"'
else
  echo "skipped: accepting a test-PKI signature (this DLL trusts its deployment's authorities)"
  check "signed; the test PKI's signature refused as untrusted (-1012)" 'grep -qa "^FirmarFichero -> 0 " "$work/login" && grep -qa "^ComprobarFirmaFichero -> -1012 " "$work/login"'
fi
# The host's record as the public header lays it out for the host's width.
check "InfoSesion fills the host's record" 'grep -qa "^InfoSesion -> 0 " "$work/login" && grep -qaF "nType=-1 NIF='"'"'55555555K'"'"' Nombre='"'"'CARLOS DIAZ MORA'"'"'" "$work/login" && grep -qaF "Detalle='"'"'CN=DIAZ MORA CARLOS; OU=Personal; O=Ormavia; C=ES'"'"'" "$work/login"'
check "the SSL handle is a positive pointer-sized value" 'grep -qaE "^ObtenerHandleSSL -> [1-9][0-9]* \(handle\)" "$work/login"'
check "picture of the sheet" '[ "$(head -c 2 "$work/sheet.bmp" 2>/dev/null)" = BM ]'
"$run" "$host" --unattended "NADIE CON ESTE NOMBRE" init login validated fin > "$work/nobody" 2>&1 || true
check "no such row: cancelled, no session" 'grep -qa "^Login -> 0 " "$work/nobody" && grep -qa "^UsuarioValidado -> 0 " "$work/nobody"'
[ $fail -eq 0 ] || { echo "---- output"; cat "$work/out"; echo "---- log"; cat "$log"; echo "---- login"; cat "$work/login" "$work/nobody"; }
exit $fail
