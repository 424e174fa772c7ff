#!/usr/bin/env bash
# Soak of the application object: Initialize/Finalize cycles in one process,
# with thread and handle counts before and after (they must match). Two runs:
# first beside Wine's own winscard.dll (no readers, no card monitor), then
# beside the winscard bridge with pcscd, the two virtual readers and a card in
# reader 0, so that every cycle starts and stops the reader monitor and the
# monitor's first pass posts a card event to the interface thread.
#   bench/app_soak.sh [CYCLES]     (default 200)
# Takes the PC/SC bench for the second run (waiting while another run has it),
# and stops it again then (bench/soak-card.sh).
set -euo pipefail
TVL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$TVL_ROOT"
bash scripts/setup.sh
. scripts/bench-env.sh
# The width the machine runs (the 32-bit DLL where it can; TVL_ARCH picks one).
TVL_PREFIX_NAME=bench-prefix tvl_arch_use "$(tvl_arches one)"
tvl_build_targets appsoak appcardsoak tvlkeepalive >/dev/null
. bench/soak-card.sh
CYCLES=${1:-200}

cleanup() {
  soak_card_out
  tvl_env_stop
}
trap cleanup EXIT
tvl_env_start

echo "== Initialize/Finalize soak without card readers (Wine's winscard.dll)"
"$TVL_ROOT/scripts/wine-run.sh" "$TVL_BUILD/bin/app/appsoak.exe" "$CYCLES" </dev/null

echo "== the same with the card monitor running (pcscd, vpcd, a card in reader 0)"
soak_card_in
"$TVL_ROOT/scripts/wine-run.sh" "$TVL_BUILD/bin/smartcard/appcardsoak.exe" "$CYCLES" </dev/null
