#!/usr/bin/env bash
# The main job: builds the library and the host, then lets the host drive the
# real DLL under Wine: log path, initialisation with a tarvosel.ini beside the
# host, result codes with their Spanish messages, finalisation, and the log.
# Installs what it needs first. One line per phase on the terminal; the tools'
# own output goes to build/logs/demo.log (TVL_VERBOSE=1 shows it as well).
set -euo pipefail
TVL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$TVL_ROOT"
export TVL_BUILD=${TVL_BUILD:-$TVL_ROOT/build}
export TVL_WINEPREFIX=${TVL_WINEPREFIX:-$TVL_BUILD/demo-prefix}
. scripts/bench-env.sh

# What the job below runs: only these are built (not the tests).
DEMO_TARGETS=(tarvosel tvlhost tvlkeepalive)

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

bin=$TVL_BUILD/bin
demo=$TVL_BUILD/demo
tvl_log_open demo
tvl_trap_exit finish
tvl_setup_phase
what="building ${DEMO_TARGETS[*]} in $(tvl_shown "$TVL_BUILD")/"
[ -f "$TVL_BUILD/CMakeCache.txt" ] || what="configuring and $what"
tvl_phase "$what" tvl_build_targets "${DEMO_TARGETS[@]}"
tvl_env_phase

# ---- the job ----
# Its output goes to files while the phase line is open, and is shown after.
tvl_phase_begin "running the demo: tvlhost.exe drives tarvosel.dll under Wine"
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
tvl_phase_end
iconv -f CP1252 -t UTF-8 < "$demo/host.out"
echo "tvlhost exit code: $status (1: some call returned an error code)"
