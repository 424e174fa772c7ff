#!/usr/bin/env bash
# PC/SC bench for the smart-card tests: pcscd with the vpcd driver (two virtual
# readers) and the virtual-card controller (vcard.py) on a loopback port.
#
#   pcsc-bench.sh start         start both (idempotent)
#   pcsc-bench.sh stop          stop exactly what start started (idempotent)
#   pcsc-bench.sh status        print the state; exit 0 when both run
#   pcsc-bench.sh pcscd-stop    stop only our pcscd (the card controller stays)
#   pcsc-bench.sh pcscd-start   start only pcscd again
#
# Environment: TVL_PCSC_BENCH_DIR (state and logs, default build/pcsc-bench of
# this checkout), TVL_VCARD_PORT (control port, default 35970). Needs root for
# /run/pcscd. The bench exists once per machine: callers take turns through
# the lock /tmp/tvl-pcsc-bench.lock (scripts/bench-env.sh, tvl_pcsc_start).
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
state=${TVL_PCSC_BENCH_DIR:-${TVL_BUILD:-$(cd "$here/../../.." && pwd)/build}/pcsc-bench}
# vcard.py calls this script back (pcscd-stop, pcscd-start): same state
export TVL_PCSC_BENCH_DIR=$state
ctl_port=${TVL_VCARD_PORT:-35970}
sock=/run/pcscd/pcscd.comm
vpcd_conf_dir=/etc/reader.conf.d
vpcd_driver=/usr/lib/pcsc/drivers/serial/libifdvpcd.so
pcscd_bin=$(command -v pcscd || echo /usr/sbin/pcscd)

mkdir -p "$state"

die() { echo "pcsc-bench: $*" >&2; exit 1; }
note() { echo "pcsc-bench: $*"; }

# pid from a pid file, only when that process still runs the expected program
live_pid() {  # file name-pattern
  local pid
  [ -s "$1" ] || return 1
  pid=$(tr -dc "0-9" <"$1")
  [ -n "$pid" ] || return 1
  [ -d "/proc/$pid" ] || return 1
  tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -q -- "$2" || return 1
  echo "$pid"
}

# true when pcscd accepts connections and lists both virtual readers
pcscd_ready() {
  python3 - "$sock" <<'EOF'
import ctypes, ctypes.util, socket, sys
s = socket.socket(socket.AF_UNIX)
try:
    s.settimeout(1)
    s.connect(sys.argv[1])
except OSError:
    sys.exit(1)
finally:
    s.close()
try:
    lib = ctypes.CDLL("libpcsclite.so.1")
except OSError:
    sys.exit(0)   # no native client library: the socket answering must do
ctx = ctypes.c_long()
if lib.SCardEstablishContext(2, None, None, ctypes.byref(ctx)) != 0:
    sys.exit(1)
n = ctypes.c_ulong(0)
buf = ctypes.create_string_buffer(4096)
n.value = 4096
r = lib.SCardListReaders(ctx, None, buf, ctypes.byref(n))
lib.SCardReleaseContext(ctx)
names = buf.raw[:n.value].split(b"\0") if r == 0 else []
sys.exit(0 if b"Virtual PCD 00 00" in names and b"Virtual PCD 00 01" in names else 1)
EOF
}

ctl_ready() {
  python3 - "$ctl_port" <<'EOF'
import socket, sys
try:
    with socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=1) as s:
        s.sendall(b"ping\n")
        sys.exit(0 if s.makefile().readline().startswith("OK") else 1)
except OSError:
    sys.exit(1)
EOF
}

# stops the wait early when the pcscd just started has exited
pcscd_up_or_gone() {
  live_pid "$state/pcscd.pid" pcscd >/dev/null || return 0
  pcscd_ready
}

wait_for() {  # seconds command...
  local n=$(( $1 * 10 )); shift
  while [ $n -gt 0 ]; do
    "$@" && return 0
    sleep 0.1; n=$((n - 1))
  done
  return 1
}

start_pcscd() {
  local pid
  if pid=$(live_pid "$state/pcscd.pid" pcscd); then
    return 0
  fi
  [ -x "$pcscd_bin" ] || die "pcscd not installed (apt-get install pcscd)"
  [ -e "$vpcd_driver" ] || die "vpcd driver missing (apt-get install vsmartcard-vpcd)"
  grep -qs libifdvpcd "$vpcd_conf_dir"/* || die "no vpcd entry in $vpcd_conf_dir"
  if [ -S "$sock" ] && python3 -c "import socket,sys;s=socket.socket(socket.AF_UNIX);s.connect(sys.argv[1])" "$sock" 2>/dev/null; then
    pid=$(tr -dc '0-9' </run/pcscd/pcscd.pid 2>/dev/null)
    die "a pcscd that this bench did not start is running${pid:+ (pid $pid, $(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null))}; stop it first"
  fi
  # leftovers of a pcscd that was killed: pcscd refuses to start over them
  if [ -e "$sock" ] && ! live_pid /run/pcscd/pcscd.pid pcscd >/dev/null; then
    rm -f "$sock" /run/pcscd/pcscd.pid
  fi
  # foreground so that the pid is pcscd's own; no --auto-exit, so it stays up
  # while no client is connected; setsid keeps it out of the caller's signals
  setsid "$pcscd_bin" -f -c "$vpcd_conf_dir" </dev/null >>"$state/pcscd.log" 2>&1 &
  echo $! >"$state/pcscd.pid"
  if ! wait_for 15 pcscd_up_or_gone || ! pcscd_ready; then
    stop_pid "$state/pcscd.pid" pcscd
    tail -n 20 "$state/pcscd.log" >&2
    die "pcscd did not come up"
  fi
}

stop_pid() {  # pidfile name-pattern
  local pid n
  if pid=$(live_pid "$1" "$2"); then
    kill -TERM "$pid" 2>/dev/null
    for n in $(seq 50); do [ -d "/proc/$pid" ] || break; sleep 0.1; done
    [ -d "/proc/$pid" ] && kill -KILL "$pid" 2>/dev/null
    for n in $(seq 20); do [ -d "/proc/$pid" ] || break; sleep 0.1; done
  fi
  rm -f "$1"
}

start_ctl() {
  if live_pid "$state/vcard.pid" vcard.py >/dev/null; then
    return 0
  fi
  setsid python3 "$here/vcard.py" --control-port "$ctl_port" \
      --service-cmd "$here/pcsc-bench.sh" </dev/null >>"$state/vcard.log" 2>&1 &
  echo $! >"$state/vcard.pid"
  if ! wait_for 10 ctl_ready; then
    stop_pid "$state/vcard.pid" vcard.py
    tail -n 20 "$state/vcard.log" >&2
    die "virtual-card controller did not come up on port $ctl_port"
  fi
}

case "${1:-}" in
  start)
    start_pcscd
    start_ctl
    note "running (pcscd pid $(cat "$state/pcscd.pid"), vcard pid $(cat "$state/vcard.pid"), control port $ctl_port)"
    ;;
  stop)
    # both take a second or two to exit: let them do it at the same time
    for f in vcard.pid:vcard.py pcscd.pid:pcscd; do
      pid=$(live_pid "$state/${f%%:*}" "${f#*:}") && kill -TERM "$pid" 2>/dev/null
    done
    stop_pid "$state/vcard.pid" vcard.py
    stop_pid "$state/pcscd.pid" pcscd
    note "stopped"
    ;;
  status)
    rc=0
    if pid=$(live_pid "$state/pcscd.pid" pcscd); then
      if pcscd_ready; then note "pcscd running (pid $pid), readers listed"
      else note "pcscd running (pid $pid), not answering"; rc=1; fi
    else note "pcscd not running"; rc=1; fi
    if pid=$(live_pid "$state/vcard.pid" vcard.py); then
      note "vcard running (pid $pid, control port $ctl_port)"
    else note "vcard not running"; rc=1; fi
    exit $rc
    ;;
  pcscd-stop)
    live_pid "$state/pcscd.pid" pcscd >/dev/null || die "pcscd of the bench is not running"
    stop_pid "$state/pcscd.pid" pcscd
    ;;
  pcscd-start)
    start_pcscd
    ;;
  *)
    echo "usage: $0 start|stop|status|pcscd-stop|pcscd-start" >&2
    exit 2
    ;;
esac
