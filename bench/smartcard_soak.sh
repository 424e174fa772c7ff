#!/usr/bin/env bash
# Card monitor against a real pcscd: event latency of insertions and removals,
# the process's CPU time over 10 s with pcscd stopped under a running monitor
# (a monitor that spins on the failing status query shows here), recovery once
# pcscd is back, and the time StopMonitor takes.
#
# Usage: bench/smartcard_soak.sh [rounds] [seconds down]   (default: 5 10)
# Starts the PC/SC bench when it is not running, and stops it again then.
set -euo pipefail
TVL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$TVL_ROOT/scripts/bench-env.sh"
PCSC_BENCH=$TVL_ROOT/tests/smartcard/bench/pcsc-bench.sh

if [ ! -f "$TVL_BUILD/CMakeCache.txt" ]; then
  cmake -S "$TVL_ROOT" -B "$TVL_BUILD" -DCMAKE_TOOLCHAIN_FILE="$TVL_ROOT/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$TVL_BUILD" --target smartcard_soak -j2 >/dev/null
SOAK=$TVL_BUILD/bin/smartcard/smartcard_soak.exe

export TVL_WINEPREFIX=${TVL_WINEPREFIX:-$TVL_BUILD/wineprefix-scsoak}
started_bench=
cleanup() {
  [ -n "$started_bench" ] && "$PCSC_BENCH" stop >/dev/null 2>&1
  tvl_env_stop
}
trap cleanup EXIT
if ! "$PCSC_BENCH" status >/dev/null 2>&1; then
  "$PCSC_BENCH" start >/dev/null
  started_bench=1
fi
tvl_env_start
# the card types that FindCardReader names
bash "$TVL_ROOT/tests/smartcard/carddb.sh" >/dev/null

echo "smart-card monitor soak ($(date -u +%Y-%m-%dT%H:%MZ), $(nproc) cores)"
"$TVL_ROOT/scripts/wine-run.sh" "$SOAK" "${1:-5}" "${2:-10}" </dev/null
