#!/usr/bin/env bash
# Soak of a host that loads the library for every job: LoadLibrary, Inicializar,
# Finalizar, FreeLibrary in one process, with flags 0 and 1. Prints handles by
# kind, threads and committed private memory after the first cycle and after
# the last: they must stay flat. Two runs: beside Wine's own winscard.dll (no
# readers), then beside the winscard bridge with pcscd and a card in reader 0,
# so that every cycle also starts and stops the reader monitor.
#   bench/load_soak.sh [CYCLES]     (default 1000)
# Takes the PC/SC bench for the second run (waiting while another run has it),
# and stops it again then (bench/soak-card.sh); TVL_NO_PCSC=1 leaves the second run out.
set -euo pipefail
TVL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$TVL_ROOT"
bash scripts/setup.sh
. scripts/bench-env.sh
# The width the machine runs (the 32-bit DLL where it can; TVL_ARCH picks one).
TVL_PREFIX_NAME=bench-prefix tvl_arch_use "$(tvl_arches one)"
if [ ! -f "$TVL_BUILD/CMakeCache.txt" ]; then
  cmake -S "$TVL_ROOT" -B "$TVL_BUILD" -DCMAKE_TOOLCHAIN_FILE="$TVL_TOOLCHAIN" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$TVL_BUILD" --target loadsoak loadcardsoak tvlkeepalive -j2 >/dev/null
. bench/soak-card.sh
CYCLES=${1:-1000}
# TVL_SOAK_DLL measures another build of the library (a Windows path).
DLL=${TVL_SOAK_DLL:-"Z:$TVL_BUILD/bin/tarvosel.dll"}

cleanup() {
  soak_card_out
  tvl_env_stop
}
trap cleanup EXIT
tvl_env_start

status=0
for flags in 0 1; do
  echo "== $CYCLES load/initialise/finalise/unload cycles, flags $flags, no card readers"
  "$TVL_ROOT/scripts/wine-run.sh" "$TVL_BUILD/bin/loadsoak/loadsoak.exe" "$DLL" "$CYCLES" "$flags" \
    </dev/null || status=$?
done

if [ -n "${TVL_NO_PCSC:-}" ]; then
  echo "== runs with the reader monitor left out (TVL_NO_PCSC)"
  exit $status
fi
soak_card_in
for flags in 0 1; do
  echo "== $CYCLES cycles, flags $flags, reader monitor running (pcscd, vpcd, a card in reader 0)"
  "$TVL_ROOT/scripts/wine-run.sh" "$TVL_BUILD/bin/smartcard/loadcardsoak.exe" "$DLL" "$CYCLES" \
    "$flags" </dev/null || status=$?
done
exit $status
