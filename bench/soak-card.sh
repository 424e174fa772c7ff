# Sourced by the soak scripts: the PC/SC bench with a card in reader 0, so that
# every cycle starts and stops the reader monitor and the monitor's first pass
# posts a card event. soak_card_in takes the machine's bench (test runs of
# other checkouts wait their turn: tvl_pcsc_start) and inserts the card;
# soak_card_out undoes what soak_card_in did.
SOAK_CARD_ATR=3B7F380000006A54564C53454C01020304059000
soak_card=

# One command to the virtual-card controller (tests/smartcard/bench/vcard.py).
soak_vcard() {
  local reply
  exec 3<>"/dev/tcp/127.0.0.1/${TVL_VCARD_PORT:-35970}" || return 1
  printf '%s\n' "$*" >&3
  IFS= read -r -t 20 reply <&3 || reply=
  exec 3<&- 3>&-
  [ "${reply#OK}" != "$reply" ] || { echo "vcard: $*: ${reply:-no reply}" >&2; return 1; }
}

soak_card_in() {
  tvl_pcsc_start >/dev/null
  soak_vcard remove 1
  soak_vcard insert 0 "$SOAK_CARD_ATR"
  soak_card=1
  sleep 1  # pcscd polls vpcd about every 400 ms
}

soak_card_out() {
  if [ -n "$soak_card" ]; then soak_vcard remove 0 || true; fi
  tvl_pcsc_stop
  soak_card=
}
