#!/usr/bin/env bash
# Soak of a host that loads the library for every job: LoadLibrary, Inicializar,
# Finalizar, FreeLibrary in one process, with flags 0 and 1. Prints handles by
# kind, threads and committed private memory after the first cycle and after
# the last: they must stay flat. Two runs: beside Wine's own winscard.dll (no
# readers), then beside the winscard bridge with pcscd and a card in reader 0,
# so that every cycle also starts and stops the reader monitor.
#   bench/load_soak.sh [CYCLES]     (default 1000)
# Starts the PC/SC bench for the second run when it is not running, and stops
# it again then; TVL_NO_PCSC=1 leaves the second run out.
set -euo pipefail
TVL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$TVL_ROOT"
bash scripts/setup.sh
export TVL_BUILD=${TVL_BUILD:-$TVL_ROOT/build}
export TVL_WINEPREFIX=${TVL_WINEPREFIX:-$TVL_BUILD/bench-prefix}
. scripts/bench-env.sh
if [ ! -f "$TVL_BUILD/CMakeCache.txt" ]; then
  cmake -S "$TVL_ROOT" -B "$TVL_BUILD" -DCMAKE_TOOLCHAIN_FILE="$TVL_ROOT/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$TVL_BUILD" --target loadsoak loadcardsoak tvlkeepalive -j2 >/dev/null
PCSC_BENCH=$TVL_ROOT/tests/smartcard/bench/pcsc-bench.sh
CARD_ATR=3B7F380000006A54564C53454C01020304059000
CYCLES=${1:-1000}
DLL="Z:$TVL_BUILD/bin/tarvosel.dll"

started_bench=
card_in=
lock_held=
# One command to the virtual-card controller (tests/smartcard/bench/vcard.py).
vcard() {
  local reply
  exec 3<>"/dev/tcp/127.0.0.1/${TVL_VCARD_PORT:-35970}" || return 1
  printf '%s\n' "$*" >&3
  IFS= read -r -t 20 reply <&3 || reply=
  exec 3<&- 3>&-
  [ "${reply#OK}" != "$reply" ] || { echo "vcard: $*: ${reply:-no reply}" >&2; return 1; }
}
cleanup() {
  if [ -n "$card_in" ]; then vcard remove 0 || true; fi
  if [ -n "$started_bench" ]; then "$PCSC_BENCH" stop >/dev/null 2>&1 || true; fi
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
# The PC/SC bench is one per machine: take turns with test runs.
exec 9>/tmp/tvl-pcsc-bench.lock
flock 9
if ! "$PCSC_BENCH" status >/dev/null 2>&1; then
  "$PCSC_BENCH" start 9>&- >/dev/null
  started_bench=1
fi
vcard remove 1
vcard insert 0 "$CARD_ATR"
card_in=1
sleep 1  # pcscd polls vpcd about every 400 ms
for flags in 0 1; do
  echo "== $CYCLES cycles, flags $flags, reader monitor running (pcscd, vpcd, a card in reader 0)"
  "$TVL_ROOT/scripts/wine-run.sh" "$TVL_BUILD/bin/smartcard/loadcardsoak.exe" "$DLL" "$CYCLES" \
    "$flags" </dev/null || status=$?
done
exit $status
