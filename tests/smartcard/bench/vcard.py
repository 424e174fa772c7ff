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
  insert READER ATRHEX [APP] -> OK once the card is connected to vpcd; APP names
                               a signing application (below) the card carries
  remove READER             -> OK once the card is disconnected
  status                    -> OK R:state[:ATR] ...
  pcscd stop|start          -> OK after the bench script has done it
  fresh APP                 -> OK; the application as issued: PIN tries back to
                               three, no faults, empty journal
  fault APP INS WHAT [N]    -> OK; the next N (default 1) commands with that
                               instruction (a name below, a hex byte, or ANY)
                               are answered with WHAT: a hex response, "corrupt"
                               (a signature with one bit changed) or "stall" (no
                               answer until the card is removed)
  journal APP               -> OK NAME:SW ...: the commands the application
                               handled since the last journal, oldest first
  tries APP                 -> OK N: PIN tries left
  quit                      -> OK, then the controller exits
A card whose reader goes away (pcscd stopped) stays wanted and is connected
again as soon as vpcd listens once more. An application keeps its state (PIN
counter, faults, journal) while its card is out of the reader.

Signing applications (keys and certificates from the test PKI; the private keys
never leave this program): AID F0 54 56 4C 53 49 47 4E, short APDUs.
  SELECT   00 A4 04 00 AID          select the application
  GETDATA  80 CA 01 00              key directory: per key REF LEN LABEL
           80 CA 02 REF / 03 REF    modulus / public exponent of key REF
  VERIFY   00 20 00 81 [PIN]        without data: 9000 when verified, else 63Cx;
                                    with data: 9000, 63Cx (x tries left), 6983 blocked
  MSE      00 22 41 B6 84 01 REF    the key of the next signature
  SIGN     00 2A 9E 9A DIGESTINFO   PKCS#1 v1.5 signature with the chosen key;
                                    6982 without a verified PIN
Power off, power on and reset forget the selection and the verified PIN.
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
PKI_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "fixtures", "pki")


def log(msg):
    sys.stderr.write("%s vcard: %s\n" % (time.strftime("%H:%M:%S"), msg))
    sys.stderr.flush()


def recv_exact(sock, n):
    buf = b""
    while len(buf) < n:
        # vpcd writes a frame's length and payload apart: a delayed ACK of the
        # first would hold the second back (Nagle) for some 40 ms per command.
        if hasattr(socket, "TCP_QUICKACK"):
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_QUICKACK, 1)
        chunk = sock.recv(n - len(buf))
        if not chunk:
            raise ConnectionError("vpcd closed the connection")
        buf += chunk
    return buf


def send_frame(sock, payload):
    sock.sendall(struct.pack(">H", len(payload)) + payload)


# --- signing application --------------------------------------------------------

def der_items(data):
    """The TLVs of a DER string: (tag, value) pairs."""
    items, i = [], 0
    while i < len(data):
        tag, n = data[i], data[i + 1]
        i += 2
        if n & 0x80:
            k = n & 0x7F
            n = int.from_bytes(data[i:i + k], "big")
            i += k
        items.append((tag, data[i:i + n]))
        i += n
    return items


def load_rsa_key(path):
    """(n, e, d) of an unencrypted PKCS#8 RSA key in PEM."""
    import base64
    with open(path) as f:
        body = "".join(l.strip() for l in f if not l.startswith("-----"))
    (_, p8), = der_items(base64.b64decode(body))
    octets = [v for t, v in der_items(p8) if t == 0x04][0]
    (_, rsa), = der_items(octets)
    ints = [int.from_bytes(v, "big") for t, v in der_items(rsa) if t == 0x02]
    return ints[1], ints[2], ints[3]


# Applications the bench's cards carry: PIN and keys (reference, container
# label, test PKI name). The key provider of the bench finds a container by its
# label.
APPLICATIONS = {
    "dnie": dict(pin="1234", keys=[(1, "card-dni-auth"), (2, "card-dni-sign")]),
    "temd": dict(pin="2468", keys=[(1, "card-temd")]),
}
AID = bytes.fromhex("F054564C5349474E")
INS_NAMES = {0xA4: "SELECT", 0xCA: "GETDATA", 0x20: "VERIFY", 0x22: "MSE", 0x2A: "SIGN"}
STALL = object()


class SigningApp:
    """One signing application: its keys, PIN counter, injected faults and
    journal. It outlives the card's insertions."""

    def __init__(self, name, pki_dir):
        spec = APPLICATIONS[name]
        self.name = name
        self.pin = spec["pin"].encode("ascii")
        self.keys = {}
        for ref, label in spec["keys"]:
            self.keys[ref] = (label,) + load_rsa_key(os.path.join(pki_dir, "keys", label + ".key.pem"))
        self.lock = threading.Lock()
        self.fresh()

    def fresh(self):
        with self.lock:
            self.tries = 3
            self.faults = []
            self.journal = []
            self.power()

    def power(self):
        self.selected = False
        self.verified = False
        self.key = None

    def add_fault(self, ins, what, count):
        with self.lock:
            self.faults.append([ins, what, count])

    def take_journal(self):
        with self.lock:
            j, self.journal = self.journal, []
            return j

    def command(self, apdu):
        """The response to one command APDU, or STALL."""
        with self.lock:
            ins = apdu[1] if len(apdu) > 1 else -1
            name = INS_NAMES.get(ins, "%02X" % ins)
            fault = next((f for f in self.faults if f[0] in (None, ins)), None)
            if fault is not None:
                fault[2] -= 1
                if fault[2] <= 0:
                    self.faults.remove(fault)
                what = fault[1]
                if what == "stall":
                    self.journal.append(name + ":stall")
                    return STALL
                if what != "corrupt":
                    self.journal.append("%s:%s" % (name, what.hex().upper()))
                    return what
            resp = self._answer(apdu)
            if fault is not None and resp[-2:] == b"\x90\x00" and len(resp) > 2:
                resp = resp[:-3] + bytes([resp[-3] ^ 0x01]) + resp[-2:]
                name += "(corrupt)"
            self.journal.append("%s:%s" % (name, resp[-2:].hex().upper()))
            return resp

    def _answer(self, apdu):
        if len(apdu) < 4:
            return bytes.fromhex("6700")
        cla, ins, p1, p2 = apdu[:4]
        data = b""
        if len(apdu) > 5:
            lc = apdu[4]
            data = apdu[5:5 + lc]
            if len(data) != lc:
                return bytes.fromhex("6700")
        if ins == 0xA4 and cla == 0x00 and p1 == 0x04:
            self.selected = data == AID
            self.key = None
            return bytes.fromhex("9000") if self.selected else bytes.fromhex("6A82")
        if not self.selected:
            return bytes.fromhex("6985") if ins in INS_NAMES else SW_INS_NOT_SUPPORTED
        if ins == 0xCA and cla == 0x80:
            if p1 == 0x01:
                out = b"".join(bytes([ref, len(k[0])]) + k[0].encode("ascii")
                               for ref, k in sorted(self.keys.items()))
                return out + bytes.fromhex("9000")
            if p1 in (0x02, 0x03) and p2 in self.keys:
                n, e = self.keys[p2][1], self.keys[p2][2]
                v = n if p1 == 0x02 else e
                return v.to_bytes((v.bit_length() + 7) // 8, "big") + bytes.fromhex("9000")
            return bytes.fromhex("6A88")
        if ins == 0x20 and cla == 0x00 and p1 == 0x00 and p2 == 0x81:
            if self.tries == 0:
                return bytes.fromhex("6983")
            if not data:
                return bytes.fromhex("9000") if self.verified else bytes([0x63, 0xC0 | self.tries])
            if data == self.pin:
                self.tries = 3
                self.verified = True
                return bytes.fromhex("9000")
            self.verified = False
            self.tries -= 1
            return bytes([0x63, 0xC0 | self.tries]) if self.tries else bytes.fromhex("6983")
        if ins == 0x22 and cla == 0x00 and p1 == 0x41 and p2 == 0xB6:
            if len(data) != 3 or data[:2] != b"\x84\x01":
                return bytes.fromhex("6A80")
            if data[2] not in self.keys:
                return bytes.fromhex("6A88")
            self.key = data[2]
            return bytes.fromhex("9000")
        if ins == 0x2A and cla == 0x00 and p1 == 0x9E and p2 == 0x9A:
            if self.key is None:
                return bytes.fromhex("6985")
            if not self.verified:
                return bytes.fromhex("6982")
            _, n, e, d = self.keys[self.key]
            k = (n.bit_length() + 7) // 8
            if len(data) > k - 11:
                return bytes.fromhex("6A80")
            block = b"\x00\x01" + b"\xff" * (k - 3 - len(data)) + b"\x00" + data
            sig = pow(int.from_bytes(block, "big"), d, n).to_bytes(k, "big")
            return sig + bytes.fromhex("9000")
        return SW_INS_NOT_SUPPORTED


class Card:
    """One virtual card slot bound to one vpcd reader port."""

    def __init__(self, index, host, port):
        self.index = index
        self.host = host
        self.port = port
        self.lock = threading.Condition()
        self.wanted = False
        self.atr = b""
        self.app = None
        self.sock = None
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def insert(self, atr, app, timeout):
        with self.lock:
            if self.wanted and self.sock is not None and self.atr == atr and self.app is app:
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
            self.app = app
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
            return "%d:%s:%s%s" % (self.index,
                                   "inserted" if self.sock else "waiting",
                                   self.atr.hex().upper(),
                                   ":" + self.app.name if self.app else "")

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
                atr, app = self.atr, self.app
                self.lock.notify_all()
            log("card %d inserted (ATR %s%s)" % (self.index, atr.hex().upper(),
                                                 ", application " + app.name if app else ""))
            if app:
                app.power()
            try:
                self._serve(sock, atr, app)
            except (OSError, ConnectionError):
                pass
            sock.close()
            with self.lock:
                self.sock = None
                self.lock.notify_all()
            log("card %d disconnected" % self.index)

    def _serve(self, sock, atr, app):
        while True:
            (length,) = struct.unpack(">H", recv_exact(sock, 2))
            payload = recv_exact(sock, length) if length else b""
            if len(payload) == 1:
                if payload[0] == CTRL_ATR:
                    send_frame(sock, atr)
                elif app:
                    app.power()
                # power off, power on and reset need no reply
            elif payload and app:
                resp = app.command(payload)
                log("card %d %s: %s -> %s" % (self.index, app.name, payload[:4].hex().upper(),
                                              "stall" if resp is STALL else resp[-2:].hex().upper()))
                if resp is STALL:
                    # a card that never answers: the command ends when it is pulled
                    with self.lock:
                        while self.wanted:
                            self.lock.wait()
                    raise ConnectionError("card removed during a command")
                send_frame(sock, resp)
            elif payload:
                send_frame(sock, SW_INS_NOT_SUPPORTED)


class Controller:
    def __init__(self, host, ports, service_cmd, pki_dir):
        self.cards = [Card(i, host, p) for i, p in enumerate(ports)]
        self.pki_dir = pki_dir
        self.apps = {}
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
            if len(args) not in (2, 3):
                return "ERR usage: insert READER ATRHEX [APP]"
            try:
                atr = bytes.fromhex(args[1])
            except ValueError:
                return "ERR bad ATR"
            if not 1 <= len(atr) <= 33:
                return "ERR ATR length"
            app = None
            if len(args) == 3:
                app = self._app(args[2])
                if app is None:
                    return "ERR unknown application"
            return "OK" if card.insert(atr, app, 5.0) else "ERR vpcd not reachable"
        if cmd in ("fresh", "fault", "journal", "tries"):
            app = self._app(args[0]) if args else None
            if app is None:
                return "ERR unknown application"
            if cmd == "fresh":
                app.fresh()
                return "OK"
            if cmd == "journal":
                return " ".join(["OK"] + app.take_journal())
            if cmd == "tries":
                return "OK %d" % app.tries
            return self._fault(app, args[1:])
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

    def _app(self, name):
        if name not in APPLICATIONS:
            return None
        if name not in self.apps:
            self.apps[name] = SigningApp(name, self.pki_dir)
        return self.apps[name]

    @staticmethod
    def _fault(app, args):
        if len(args) not in (2, 3):
            return "ERR usage: fault APP INS WHAT [N]"
        names = {v: k for k, v in INS_NAMES.items()}
        ins = args[0].upper()
        try:
            ins = None if ins == "ANY" else names[ins] if ins in names else int(ins, 16)
            count = int(args[2]) if len(args) == 3 else 1
            what = args[1].lower()
            if what not in ("corrupt", "stall"):
                what = bytes.fromhex(what)
        except ValueError:
            return "ERR bad fault"
        app.add_fault(ins, what, count)
        return "OK"

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
    ap.add_argument("--pki", default=PKI_DIR, help="test PKI with the applications' keys")
    opt = ap.parse_args()

    ports = [int(p) for p in opt.vpcd_ports.split(",")]
    ctl = Controller(opt.vpcd_host, ports, opt.service_cmd.split() if opt.service_cmd else [],
                     opt.pki)
    for item in opt.insert:
        r, atr = item.split(":", 1)
        ctl.cards[int(r)].insert(bytes.fromhex(atr), None, 0)

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
