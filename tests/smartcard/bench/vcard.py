#!/usr/bin/env python3
"""Virtual smart cards for the vpcd readers of pcscd, driven over a loopback
control port so that a test running under Wine can insert and remove cards.

Each vpcd reader listens on its own TCP port (35963 for "Virtual PCD 00 00",
35964 for "Virtual PCD 00 01"). A card is inserted while it is connected to
that port and removed when it disconnects. vpcd frames every message as a
2-byte big-endian length and a payload: a 1-byte payload is a control
(0 power off, 1 power on, 2 reset, 4 send the ATR), anything longer an APDU.

Control protocol: one command per line, one reply line per command.
  ping                      -> OK
  insert READER ATRHEX      -> OK once the card is connected to vpcd
  remove READER             -> OK once the card is disconnected
  status                    -> OK R:state[:ATR] ...
  pcscd stop|start          -> OK after the bench script has done it
  quit                      -> OK, then the controller exits
A card whose reader goes away (pcscd stopped) stays wanted and is connected
again as soon as vpcd listens once more.
"""

import argparse
import os
import signal
import socket
import socketserver
import struct
import subprocess
import sys
import threading
import time

CTRL_OFF, CTRL_ON, CTRL_RESET, CTRL_ATR = 0, 1, 2, 4
SW_INS_NOT_SUPPORTED = bytes.fromhex("6D00")


def log(msg):
    sys.stderr.write("%s vcard: %s\n" % (time.strftime("%H:%M:%S"), msg))
    sys.stderr.flush()


def recv_exact(sock, n):
    buf = b""
    while len(buf) < n:
        chunk = sock.recv(n - len(buf))
        if not chunk:
            raise ConnectionError("vpcd closed the connection")
        buf += chunk
    return buf


def send_frame(sock, payload):
    sock.sendall(struct.pack(">H", len(payload)) + payload)


class Card:
    """One virtual card slot bound to one vpcd reader port."""

    def __init__(self, index, host, port):
        self.index = index
        self.host = host
        self.port = port
        self.lock = threading.Condition()
        self.wanted = False
        self.atr = b""
        self.sock = None
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def insert(self, atr, timeout):
        with self.lock:
            if self.wanted and self.sock is not None and self.atr == atr:
                return True
            end = time.monotonic() + timeout
            # another card in the slot: take it out first
            self.wanted = False
            self._drop_locked()
            while self.sock is not None:
                left = end - time.monotonic()
                if left <= 0:
                    return False
                self.lock.wait(left)
            self.atr = atr
            self.wanted = True
            self.lock.notify_all()
            while self.sock is None:
                left = end - time.monotonic()
                if left <= 0:
                    return False
                self.lock.wait(left)
            return True

    def remove(self, timeout):
        with self.lock:
            self.wanted = False
            self._drop_locked()
            self.lock.notify_all()
            end = time.monotonic() + timeout
            while self.sock is not None:
                left = end - time.monotonic()
                if left <= 0:
                    return False
                self.lock.wait(left)
            return True

    def state(self):
        with self.lock:
            if not self.wanted:
                return "%d:removed" % self.index
            return "%d:%s:%s" % (self.index,
                                 "inserted" if self.sock else "waiting",
                                 self.atr.hex().upper())

    def _drop_locked(self):
        if self.sock is not None:
            try:
                self.sock.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    def _run(self):
        while True:
            with self.lock:
                while not self.wanted:
                    self.lock.wait()
            try:
                sock = socket.create_connection((self.host, self.port), timeout=1.0)
            except OSError:
                time.sleep(0.2)   # vpcd not listening (pcscd down): try again
                continue
            sock.settimeout(None)
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            with self.lock:
                if not self.wanted:
                    sock.close()
                    continue
                self.sock = sock
                atr = self.atr
                self.lock.notify_all()
            log("card %d inserted (ATR %s)" % (self.index, atr.hex().upper()))
            try:
                self._serve(sock, atr)
            except (OSError, ConnectionError):
                pass
            sock.close()
            with self.lock:
                self.sock = None
                self.lock.notify_all()
            log("card %d disconnected" % self.index)

    @staticmethod
    def _serve(sock, atr):
        while True:
            (length,) = struct.unpack(">H", recv_exact(sock, 2))
            payload = recv_exact(sock, length) if length else b""
            if len(payload) == 1:
                if payload[0] == CTRL_ATR:
                    send_frame(sock, atr)
                # power off, power on and reset need no reply
            elif payload:
                send_frame(sock, SW_INS_NOT_SUPPORTED)


class Controller:
    def __init__(self, host, ports, service_cmd):
        self.cards = [Card(i, host, p) for i, p in enumerate(ports)]
        self.service_cmd = service_cmd
        self.service_lock = threading.Lock()
        self.stop = threading.Event()

    def handle(self, line):
        words = line.split()
        if not words:
            return "ERR empty command"
        cmd, args = words[0].lower(), words[1:]
        if cmd == "ping":
            return "OK"
        if cmd == "status":
            return "OK " + " ".join(c.state() for c in self.cards)
        if cmd in ("insert", "remove"):
            card = self._card(args)
            if card is None:
                return "ERR bad reader"
            if cmd == "remove":
                return "OK" if card.remove(5.0) else "ERR still connected"
            if len(args) != 2:
                return "ERR usage: insert READER ATRHEX"
            try:
                atr = bytes.fromhex(args[1])
            except ValueError:
                return "ERR bad ATR"
            if not 1 <= len(atr) <= 33:
                return "ERR ATR length"
            return "OK" if card.insert(atr, 5.0) else "ERR vpcd not reachable"
        if cmd == "pcscd" and len(args) == 1 and args[0] in ("stop", "start"):
            if not self.service_cmd:
                return "ERR no service command"
            with self.service_lock:
                r = subprocess.run(self.service_cmd + ["pcscd-" + args[0]],
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.PIPE, timeout=30)
            if r.returncode != 0:
                return "ERR " + r.stderr.decode(errors="replace").strip().replace("\n", " ")
            return "OK"
        if cmd == "quit":
            self.stop.set()
            return "OK"
        return "ERR unknown command"

    def _card(self, args):
        try:
            i = int(args[0])
        except (IndexError, ValueError):
            return None
        return self.cards[i] if 0 <= i < len(self.cards) else None


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--control-port", type=int, default=35970)
    ap.add_argument("--vpcd-host", default="127.0.0.1")
    ap.add_argument("--vpcd-ports", default="35963,35964")
    ap.add_argument("--service-cmd", default="",
                    help="command given pcscd-stop / pcscd-start as its last argument")
    ap.add_argument("--insert", action="append", default=[], metavar="READER:ATRHEX",
                    help="card to insert at start")
    opt = ap.parse_args()

    ports = [int(p) for p in opt.vpcd_ports.split(",")]
    ctl = Controller(opt.vpcd_host, ports, opt.service_cmd.split() if opt.service_cmd else [])
    for item in opt.insert:
        r, atr = item.split(":", 1)
        ctl.cards[int(r)].insert(bytes.fromhex(atr), 0)

    class Handler(socketserver.StreamRequestHandler):
        def handle(self):
            for raw in self.rfile:
                reply = ctl.handle(raw.decode("ascii", errors="replace").strip())
                self.wfile.write((reply + "\n").encode("ascii"))
                self.wfile.flush()
                if ctl.stop.is_set():
                    threading.Thread(target=server.shutdown, daemon=True).start()
                    return

    socketserver.ThreadingTCPServer.allow_reuse_address = True
    socketserver.ThreadingTCPServer.daemon_threads = True
    server = socketserver.ThreadingTCPServer(("127.0.0.1", opt.control_port), Handler)
    signal.signal(signal.SIGTERM, lambda *a: threading.Thread(target=server.shutdown).start())
    log("control port %d, vpcd ports %s" % (opt.control_port, opt.vpcd_ports))
    server.serve_forever()
    for c in ctl.cards:
        c.remove(1.0)
    log("stopped")


if __name__ == "__main__":
    main()
