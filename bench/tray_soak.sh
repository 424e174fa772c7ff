#!/usr/bin/env bash
# Soak of the notification-area icon and the session information dialog:
# traysoak.exe loads the real tarvosel.dll and runs Inicializar(1), Login
# through the login sheet (a thread of the soak picks the test PKI's software
# certificate "DIAZ MORA CARLOS" and presses Aceptar), a click on the icon that
# opens the session information dialog (ModoInterfaz=1), Logout and Finalizar,
# and prints threads, handles, windows, entries of the notification area, GDI
# objects, cursors and icons before and after. Exit status 1 when any cycle
# failed or anything was left behind.
#   bench/tray_soak.sh [CYCLES [noclick]]     (default 200; noclick: no dialog)
set -euo pipefail
TVL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$TVL_ROOT"
bash scripts/setup.sh
. scripts/bench-env.sh
# The width the machine runs (the 32-bit DLL where it can; TVL_ARCH picks one).
TVL_PREFIX_NAME=bench-prefix tvl_arch_use "$(tvl_arches one)"
tvl_build_targets tarvosel traysoak certinstall tvlkeepalive >/dev/null
CYCLES=${1:-200}
MODE=${2:-}

trap tvl_env_stop EXIT
tvl_env_start

run() { "$TVL_ROOT/scripts/wine-run.sh" "$@"; }
winpath() { printf 'Z:%s' "$1" | tr '/' '\\'; }
bin=$TVL_BUILD/bin
soak=$TVL_BUILD/traysoak
rm -rf "$soak"
mkdir -p "$soak"
cp "$bin/traysoak.exe" "$bin/tarvosel.dll" "$soak/"
printf '[Configuracion tarvosel]\r\nLog=0\r\nModoInterfaz=1\r\n' > "$soak/tarvosel.ini"
run "$bin/certinstall.exe" my "$(winpath "$TVL_ROOT/tests/fixtures/pki/pfx/soft-ds.pfx")" \
  Prueba1234 1 </dev/null >"$soak/certinstall.out" 2>&1

echo "== $CYCLES cycles of Inicializar(1), Login, a click on the icon, Logout, Finalizar"
# The login thread says what it did in every cycle: those lines go to a file.
set +e
( cd "$soak" && run "$soak/traysoak.exe" "$(winpath "$soak/tarvosel.dll")" "DIAZ MORA CARLOS" tvlpki-soft-ds \
  "$CYCLES" $MODE </dev/null ) >"$soak/traysoak.out" 2>&1
status=$?
set -e
grep -v '\[unattended\]' "$soak/traysoak.out" || true
echo "(the login thread's lines: $(grep -c '\[unattended\]' "$soak/traysoak.out") in $soak/traysoak.out)"
exit $status
