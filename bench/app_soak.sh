#!/usr/bin/env bash
# Soak of the application object: Initialize/Finalize cycles in one process,
# with thread and handle counts before and after (they must match). Two runs:
# first beside Wine's own winscard.dll (no readers, no card monitor), then
# beside the winscard bridge with pcscd, the two virtual readers and a card in
# reader 0, so that every cycle starts and stops the reader monitor and the
# monitor's first pass posts a card event to the interface thread.
#   bench/app_soak.sh [CYCLES]     (default 200)
# Takes the PC/SC bench for the second run (waiting while another run has it),
# and stops it again then.
set -euo pipefail
TVL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$TVL_ROOT"
bash scripts/setup.sh
export TVL_BUILD=${TVL_BUILD:-$TVL_ROOT/build}
export TVL_WINEPREFIX=${TVL_WINEPREFIX:-$TVL_BUILD/bench-prefix}
. scripts/bench-env.sh
tvl_build_targets appsoak appcardsoak tvlkeepalive >/dev/null
CARD_ATR=3B7F380000006A54564C53454C01020304059000
CYCLES=${1:-200}

card_in=
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
  tvl_pcsc_stop
  tvl_env_stop
}
trap cleanup EXIT
tvl_env_start

echo "== Initialize/Finalize soak without card readers (Wine's winscard.dll)"
"$TVL_ROOT/scripts/wine-run.sh" "$TVL_BUILD/bin/app/appsoak.exe" "$CYCLES" </dev/null

echo "== the same with the card monitor running (pcscd, vpcd, a card in reader 0)"
tvl_pcsc_start >/dev/null
vcard remove 1
vcard insert 0 "$CARD_ATR"
card_in=1
sleep 1  # pcscd polls vpcd about every 400 ms
"$TVL_ROOT/scripts/wine-run.sh" "$TVL_BUILD/bin/smartcard/appcardsoak.exe" "$CYCLES" </dev/null
