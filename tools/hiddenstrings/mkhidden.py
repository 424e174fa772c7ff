#!/usr/bin/env python3
"""Builds HiddenStringsTable.cpp, the scrambled table of trust texts (the
trust-data tool, tools/trustdata/mktrustdata.sh, runs it at build time).

Input: a UTF-8 text file with one entry per line, "N<TAB>text" (N from 0 to 14;
every entry exactly once). Blank lines and lines starting with "#" are skipped.
The text runs to the end of the line; it is stored in cp1252.

Each entry becomes a 256-byte slot: the cp1252 bytes, a terminating zero and
zero padding, every byte XOR-ed with the key.

Usage: mkhidden.py --key 0xNN --out HiddenStringsTable.cpp ENTRIES
"""
import argparse
import os
import sys

ENTRY_COUNT = 15
SLOT_SIZE = 256


def fail(msg):
    sys.stderr.write("mkhidden: %s\n" % msg)
    sys.exit(1)


def parse_key(text):
    try:
        key = int(text, 0)
    except ValueError:
        fail("key is not a number: %r" % text)
    # Key 0 would leave the table in plain text.
    if not 1 <= key <= 255:
        fail("key must be between 0x01 and 0xFF, got %r" % text)
    return key


def read_entries(path):
    entries = {}
    with open(path, "r", encoding="utf-8") as f:
        for lineno, raw in enumerate(f, 1):
            line = raw.rstrip("\r\n")
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            where = "%s:%d" % (path, lineno)
            if "\t" not in line:
                fail("%s: expected N<TAB>text" % where)
            num, text = line.split("\t", 1)
            try:
                n = int(num)
            except ValueError:
                fail("%s: bad entry number %r" % (where, num))
            if not 0 <= n < ENTRY_COUNT:
                fail("%s: entry number %d out of range 0..%d" % (where, n, ENTRY_COUNT - 1))
            if n in entries:
                fail("%s: entry %d given twice" % (where, n))
            try:
                data = text.encode("cp1252")
            except UnicodeEncodeError as e:
                fail("%s: entry %d has a character outside cp1252: %s" % (where, n, e))
            if b"\0" in data:
                fail("%s: entry %d contains a zero byte" % (where, n))
            # The terminating zero must fit in the slot.
            if len(data) > SLOT_SIZE - 1:
                fail("%s: entry %d is %d bytes long, at most %d fit"
                     % (where, n, len(data), SLOT_SIZE - 1))
            entries[n] = data
    missing = [n for n in range(ENTRY_COUNT) if n not in entries]
    if missing:
        fail("%s: missing entries %s" % (path, ", ".join(map(str, missing))))
    return entries


def scramble(data, key):
    slot = data + b"\0" * (SLOT_SIZE - len(data))
    return bytes(b ^ key for b in slot)


def render(entries, key, command):
    out = []
    out.append("// Generated file, do not edit.")
    out.append("// Regenerate with: %s" % command)
    out.append("// Scrambled texts that decide whom the library trusts (accepted signers,")
    out.append("// issuer lists, fingerprints of the embedded authorities).")
    out.append('#include "util/CHiddenStrings.h"')
    out.append("")
    out.append("const unsigned char CHiddenStrings::s_abTable[15 * 256] = {")
    for n in range(ENTRY_COUNT):
        slot = scramble(entries[n], key)
        out.append("    // %d" % n)
        for i in range(0, SLOT_SIZE, 16):
            row = ", ".join("0x%02X" % b for b in slot[i:i + 16])
            last = n == ENTRY_COUNT - 1 and i + 16 == SLOT_SIZE
            out.append("    " + row + ("" if last else ","))
    out.append("};")
    out.append("")
    out.append("const unsigned char CHiddenStrings::s_bKey = 0x%02X;" % key)
    out.append("")
    return "\n".join(out)


def main():
    ap = argparse.ArgumentParser(description="Build the scrambled string table source.")
    ap.add_argument("--key", required=True, help="key byte, e.g. 0x5C")
    ap.add_argument("--out", required=True, help="output C++ file")
    ap.add_argument("entries", help="entries file (N<TAB>text lines, UTF-8)")
    args = ap.parse_args()

    key = parse_key(args.key)
    entries = read_entries(args.entries)
    command = "tools/hiddenstrings/mkhidden.py --key 0x%02X --out %s %s" % (
        key, args.out, args.entries)
    text = render(entries, key, command)
    tmp = args.out + ".tmp"
    with open(tmp, "w", encoding="ascii", newline="\n") as f:
        f.write(text)
    os.replace(tmp, args.out)


if __name__ == "__main__":
    main()
