#!/usr/bin/env bash
# A host that unloads the library after a job in which the session went on the
# interface thread: the SSL handle's helper window, made on the host's thread,
# must not outlive the library, or the next message any program broadcasts
# runs unloaded code in the host.
set -euo pipefail
host=$1
here=$(cd "$(dirname "$0")" && pwd)
run="$here/../../scripts/wine-run.sh"
bin=$(dirname "$host")
work=$(mktemp -d "$bin/unload.XXXXXX")
trap 'rm -rf "$work"; rm -f "$bin/tarvosel.ini"' EXIT
winpath() { printf 'Z:%s' "$1" | tr '/' '\\'; }
fail=0
check() { # description, condition
  if eval "$2"; then echo "ok: $1"; else echo "FAIL: $1"; fail=1; fi
}

printf '[Configuracion tarvosel]\r\nLog=1\r\nModoInterfaz=1\r\n' > "$bin/tarvosel.ini"
status=0
"$run" "$host" --unattended "DIAZ MORA CARLOS" log "$(winpath "$work/tarvosel.log")" \
  init 1 login ssl infodialog logout fin unload broadcast > "$work/out" 2>&1 || status=$?
check "logged in" 'grep -qa "^Login -> 1 " "$work/out"'
check "SSL handle" 'grep -qa "^ObtenerHandleSSL -> [1-9][0-9]* (handle)" "$work/out"'
check "dialog open while logging out" 'grep -qa "^InfoDialog -> shown" "$work/out"'
check "logged out and finalised" 'grep -qa "^Logout -> 0 " "$work/out" && grep -qa "^Finalizar -> 0 " "$work/out"'
check "the library was unloaded" 'grep -qa "^FreeLibrary -> unloaded" "$work/out"'
check "no dialog of it left on the host's thread" 'grep -qa "^FreeLibrary -> .*, 0 dialogs left" "$work/out"'
check "the host survived the broadcast" 'grep -qa "^broadcast -> delivered" "$work/out" && [ $status -eq 0 ]'
[ $fail -eq 0 ] || { echo "---- output (exit $status)"; cat "$work/out"; echo "---- log"; cat "$work/tarvosel.log" || true; }
exit $fail
