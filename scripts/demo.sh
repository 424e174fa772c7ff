#!/usr/bin/env bash
# The main job: builds the library and the host, then lets the host drive the
# real DLL under Wine: log path, initialisation with a tarvosel.ini beside the
# host, result codes with their Spanish messages, finalisation, and the log.
# Installs what it needs first.
set -euo pipefail
TVL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$TVL_ROOT"
bash scripts/setup.sh
export TVL_BUILD=${TVL_BUILD:-$TVL_ROOT/build}
export TVL_WINEPREFIX=${TVL_WINEPREFIX:-$TVL_BUILD/demo-prefix}
. scripts/bench-env.sh
tvl_build
trap tvl_env_stop EXIT
tvl_env_start

bin=$TVL_BUILD/bin
demo=$TVL_BUILD/demo
rm -rf "$demo"
mkdir -p "$demo"
cp "$bin/tvlhost.exe" "$bin/tarvosel.dll" "$demo/"
printf '[Configuracion tarvosel]\r\nLog=1\r\nIntpreepro=0\r\n' > "$demo/tarvosel.ini"
winpath() { printf 'Z:%s' "$1" | tr '/' '\\'; }
printf 'contenido de prueba\n' > "$demo/documento.txt"

# The host prints cp1252, as the library speaks; show it as UTF-8 here. Its exit
# code says whether any call failed; some of these fail on purpose (no session).
status=0
"$TVL_ROOT/scripts/wine-run.sh" "$demo/tvlhost.exe" --show-log \
  log "$(winpath "$demo/tarvosel.log")" \
  init temp "$(winpath "$demo")" \
  validated \
  sign "$(winpath "$demo/documento.txt")" "$(winpath "$demo/documento.p7m")" --base64 --gzip \
  lasterror \
  error -1002 error -1012 error 10001 \
  fin validated </dev/null > "$demo/host.out" 2>&1 || status=$?
iconv -f CP1252 -t UTF-8 < "$demo/host.out"
echo "tvlhost exit code: $status (1: some call returned an error code)"
