#!/usr/bin/env bash
# The main job: builds the library and the host, installs one demo certificate
# of the test PKI for the Wine user, then lets the host drive the real DLL
# through a whole job: log in through the real login sheet (picked unattended),
# sign a file plainly and with gzip and Base64, check both, export the
# certificate, get the SSL handle, read the session, log out, finalise. Says
# what each step did; exit 0 when the job worked. Installs what it needs first.
# One line per phase on the terminal; the tools' own output goes to
# build/logs/demo.log (TVL_VERBOSE=1 shows it as well).
set -euo pipefail
TVL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$TVL_ROOT"
. scripts/bench-env.sh

# What the job below runs: only these are built (not the tests).
DEMO_TARGETS=(tarvosel tvlhost tvlkeepalive certinstall)

finish() {
  local rc=$?
  tvl_finish $rc
  rc=$?
  if [ $rc -eq 0 ]; then
    tvl_log "demo done in $(tvl_total_time): files in $(tvl_shown "$demo")/, log: $(tvl_shown "$TVL_LOG")"
  else
    tvl_log "demo FAILED after $(tvl_total_time); log: $(tvl_shown "$TVL_LOG")"
  fi
  exit $rc
}

tvl_log_open demo
tvl_trap_exit finish
tvl_setup_phase
# The 32-bit DLL where 32-bit programs run, the 64-bit one where they cannot.
arch=$(tvl_arches one)
TVL_PREFIX_NAME=demo-prefix tvl_arch_use "$arch"
if [ "$arch" = x86 ]; then
  tvl_log "driving the 32-bit DLL: $(tvl_arch_reason)"
else
  tvl_log "driving the 64-bit DLL: $(tvl_arch_reason)"
fi
bin=$TVL_BUILD/bin
demo=$TVL_BUILD/demo
what="building ${DEMO_TARGETS[*]} in $(tvl_shown "$TVL_BUILD")/"
[ -f "$TVL_BUILD/CMakeCache.txt" ] || what="configuring and $what"
tvl_phase "$what" tvl_build_targets "${DEMO_TARGETS[@]}"
tvl_env_phase

# ---- the job ----
pki=$TVL_ROOT/tests/fixtures/pki
run() { "$TVL_ROOT/scripts/wine-run.sh" "$@"; }
winpath() { printf 'Z:%s' "$1" | tr '/' '\\'; }
rm -rf "$demo"
mkdir -p "$demo"
# The demo signs with a test-PKI certificate: only a DLL built with the test
# trust data accepts that signature. A deployment build still runs the job and
# says which checks it leaves out.
trust=$(python3 "$TVL_ROOT/tools/trustdata/dlltrust.py" "$bin/tarvosel.dll")
cp "$bin/tvlhost.exe" "$bin/tarvosel.dll" "$demo/"
printf '[Configuracion tarvosel]\r\nLog=1\r\nIntpreepro=0\r\n' > "$demo/tarvosel.ini"
printf 'Contrato de prueba firmado por la demostraci\xf3n de Tarvosel.\r\n' > "$demo/documento.txt"

# The user's certificate: a software certificate of the test PKI (TEST KEY),
# issued by an authority the library carries, whose subject is an accepted
# signer. Its key goes into a container of its own.
demo_row="DIAZ MORA CARLOS"
tvl_phase "installing the demo certificate \"$demo_row\" (test PKI, soft-ds) for the Wine user" \
  run "$bin/certinstall.exe" my "$(winpath "$pki/pfx/soft-ds.pfx")" Prueba1234 1

# Its output goes to files while the phase line is open, and is shown after.
tvl_phase_begin "running the demo: tvlhost.exe works the login sheet and drives tarvosel.dll under Wine"
status=0
( cd "$demo" && run "$demo/tvlhost.exe" --unattended "$demo_row" \
    --shot "$(winpath "$demo/login-sheet.bmp")" \
    log "$(winpath "$demo/tarvosel.log")" \
    init temp "$(winpath "$demo")" \
    login validated info \
    sign "$(winpath "$demo/documento.txt")" "$(winpath "$demo/documento.p7m")" \
    check "$(winpath "$demo/documento.p7m")" "$(winpath "$demo/documento.comprobado.txt")" \
    sign "$(winpath "$demo/documento.txt")" "$(winpath "$demo/documento.p7m.b64")" --base64 --gzip \
    check "$(winpath "$demo/documento.p7m.b64")" "$(winpath "$demo/documento.comprobado2.txt")" --base64 --gzip \
    export ssl logout validated fin </dev/null > "$demo/host.raw" 2>&1 ) || status=$?
# The host prints cp1252, as the library speaks.
iconv -f CP1252 -t UTF-8 < "$demo/host.raw" | tr -d '\r' > "$demo/host.out"
tvl_phase_end

gloss() {  # result code -> English
  case "$1" in
    0) echo "success" ;; 1) echo "a session is open / login succeeded" ;;
    10001|10002|10003) echo "logged in, a certificate is due for renewal" ;;
    -1001) echo "a session is already open" ;; -1002) echo "no user session is open" ;;
    -1003) echo "wrong password or PIN" ;; -1010) echo "the signature is not valid" ;;
    -1012) echo "the signer is not trusted" ;; -1025) echo "the user's certificates cannot be used" ;;
    -1026) echo "the private key cannot be used" ;; -1027) echo "the library is not initialised" ;;
    -1036) echo "cancelled by the user" ;; *) echo "error" ;;
  esac
}
failed=0
# step EXPORT NTH EXPECT WHAT: reports the NTH result line of EXPORT. EXPECT is
# the wanted value; "handle" wants any positive value.
step() {
  local export=$1 nth=$2 expect=$3 what=$4 line code message answer verdict=worked
  line=$(grep -a "^$export -> " "$demo/host.out" | sed -n "${nth}p")
  code=$(sed -E 's/^[^>]*-> (-?[0-9]+) .*/\1/' <<<"$line")
  message=$(sed -E 's/^[^(]*\((.*)\)$/\1/' <<<"$line")
  if [ -z "$line" ]; then
    verdict="FAILED (no answer)"; failed=1
  elif [ "$expect" = handle ]; then
    [ "$code" -gt 0 ] 2>/dev/null || { verdict=FAILED; failed=1; }
  elif [ "$code" != "$expect" ]; then
    verdict=FAILED; failed=1
  fi
  # Answers that are not result codes are printed as what they are.
  case "$export:$code" in
    UsuarioValidado:1) answer="1: yes, a user is logged in" ;;
    UsuarioValidado:0) answer="0: no, nobody is logged in" ;;
    Login:1) answer="1: session opened" ;;
    Login:0) answer="0: the user cancelled" ;;
    ObtenerHandleSSL:*) [ "${code:-0}" -gt 0 ] 2>/dev/null && answer="handle $code" ;;
  esac
  [ -n "${answer:-}" ] || answer="${code:-?} \"$message\" ($(gloss "${code:-x}"))"
  printf '%-62s %s: %s\n' "$what" "$verdict" "$answer"
}
echo
echo "== What each step did"
grep -a '^  \[unattended\]' "$demo/host.out" | grep -v '^  \[unattended\]   ' | sed 's/^  //'
step Inicializar 1 0 "Inicializar: start the library (tarvosel.ini beside the host)"
step Login 1 1 "Login: the user picks a certificate in the login sheet"
step UsuarioValidado 1 1 "UsuarioValidado: is a user logged in? (1 = yes)"
step InfoSesion 1 0 "InfoSesion: read the user's name, NIF and issuer"
grep -a -m1 '^  nType=' "$demo/host.out" | sed 's/^  /    session: /'
step FirmarFichero 1 0 "FirmarFichero: sign documento.txt (plain PKCS#7)"
# A DLL built with a deployment's trust must refuse the test PKI's signer
# (-1012): that refusal is its right answer here.
if [ "$trust" = test ]; then check_expect=0; check_note=""
else check_expect=-1012; check_note=" (refused: test PKI)"; fi
step ComprobarFirmaFichero 1 "$check_expect" "ComprobarFirmaFichero: check documento.p7m$check_note"
step FirmarFichero 2 0 "FirmarFichero: sign again, gzip inside, Base64 outside"
step ComprobarFirmaFichero 2 "$check_expect" "ComprobarFirmaFichero: check documento.p7m.b64$check_note"
step ExportarCertificado 1 0 "ExportarCertificado: export the user's certificate (PEM)"
step ObtenerHandleSSL 1 handle "ObtenerHandleSSL: SSL client-certificate handle"
step Logout 1 0 "Logout: close the session"
step UsuarioValidado 2 0 "UsuarioValidado: is a user logged in? (0 = no)"
step Finalizar 1 0 "Finalizar: stop the library"

echo
echo "== Checking the results outside the library"
if [ "$trust" = test ]; then
  echo "tarvosel.dll: built with the TEST trust data (its version resource says so): bench use only"
else
  echo "tarvosel.dll: built with deployment trust data: it refuses the test PKI's signer, as it must"
fi
for f in documento.comprobado.txt documento.comprobado2.txt; do
  if [ "$trust" != test ]; then
    # Without decompression the content is extracted before the signer is
    # judged, and stays (hosts may read it); with it, nothing is written.
    if [ -e "$demo/$f" ]; then
      echo "$f: the content, extracted before the signer was refused"
    else
      echo "$f: not written (the signer was refused)"
    fi
  elif cmp -s "$demo/documento.txt" "$demo/$f"; then
    echo "$f: the checked content equals the original document"
  else
    echo "$f: FAILED, the checked content differs from the original"; failed=1
  fi
done
if openssl cms -verify -inform DER -in "$demo/documento.p7m" -binary -noverify \
     -out "$demo/documento.openssl.txt" 2>/dev/null && cmp -s "$demo/documento.txt" "$demo/documento.openssl.txt"; then
  echo "documento.p7m: OpenSSL accepts the signature and finds the same content"
else
  echo "documento.p7m: FAILED, OpenSSL does not accept it"; failed=1
fi
exported=$(grep -a -m1 "^  fichero=" "$demo/host.out" | sed -E "s/^  fichero='([^']*)'.*/\1/")
exported_unix="$demo/$(basename "${exported//\\//}")"
if [ -n "$exported" ] && openssl x509 -in "$exported_unix" -noout -subject 2>/dev/null | sed 's/^/exported certificate: /'; then
  :
else
  echo "exported certificate: FAILED, no PEM certificate at '$exported'"; failed=1
fi
if [ -f "$demo/login-sheet.bmp" ] && convert "$demo/login-sheet.bmp" "$demo/login-sheet.png" 2>/dev/null; then
  echo "picture of the login sheet: $demo/login-sheet.png"
else
  echo "picture of the login sheet: FAILED"; failed=1
fi

echo
echo "== The host's own output ($(tvl_shown "$demo/host.out")); the library's log is $(tvl_shown "$demo/tarvosel.log")"
cat "$demo/host.out"
{ echo "---- the library's log"; iconv -f CP1252 -t UTF-8 < "$demo/tarvosel.log" 2>/dev/null; } >>"$TVL_LOG"
echo
# The host exits 1 when a call returned a negative code: with a deployment's
# trust the two refusals above are expected, and nothing else may be negative.
if [ "$trust" != test ] && [ "$status" -eq 1 ] &&
   ! grep -aE -- '-> -[0-9]+ ' "$demo/host.out" | grep -aqv '^ComprobarFirmaFichero -> -1012 '; then
  status=0
fi
if [ "$failed" -ne 0 ] || [ "$status" -ne 0 ]; then
  echo "DEMO FAILED (host exit code $status)"
  exit 1
fi
echo "DEMO OK: signed and checked through the real DLL (host exit code $status)"
