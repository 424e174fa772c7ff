#!/usr/bin/env bash
# Card monitor against a real pcscd: event latency of insertions and removals,
# the process's CPU time over 10 s with pcscd stopped under a running monitor
# (a monitor that spins on the failing status query shows here), recovery once
# pcscd is back, and the time StopMonitor takes.
#
# Usage: bench/smartcard_soak.sh [rounds] [seconds down]   (default: 5 10)
# Takes the PC/SC bench (waiting while another run has it), and stops it again
# then.
set -euo pipefail
TVL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$TVL_ROOT/scripts/bench-env.sh"

tvl_build_targets smartcard_soak tvlkeepalive >/dev/null
SOAK=$TVL_BUILD/bin/smartcard/smartcard_soak.exe

export TVL_WINEPREFIX=${TVL_WINEPREFIX:-$TVL_BUILD/wineprefix-scsoak}
cleanup() {
  tvl_pcsc_stop
  tvl_env_stop
}
trap cleanup EXIT
tvl_pcsc_start >/dev/null
tvl_env_start
# the card types that FindCardReader names
bash "$TVL_ROOT/tests/smartcard/carddb.sh" >/dev/null

echo "smart-card monitor soak ($(date -u +%Y-%m-%dT%H:%MZ), $(nproc) cores)"
"$TVL_ROOT/scripts/wine-run.sh" "$SOAK" "${1:-5}" "${2:-10}" </dev/null
