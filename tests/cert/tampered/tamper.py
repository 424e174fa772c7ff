#!/usr/bin/env python3
"""Writes a copy of an embedded authority resource (zlib-compressed DER) with one
byte of its certificate changed: the first byte of the given ASCII text is flipped.

Usage: tamper.py SOURCE.z DEST.z TEXT
"""
import os
import sys
import zlib


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    source, dest, text = sys.argv[1:4]
    with open(source, "rb") as f:
        der = bytearray(zlib.decompress(f.read()))
    at = der.find(text.encode("ascii"))
    if at < 0:
        sys.exit("tamper.py: %r is not in %s" % (text, source))
    der[at] ^= 0x01
    os.makedirs(os.path.dirname(os.path.abspath(dest)), exist_ok=True)
    with open(dest, "wb") as f:
        f.write(zlib.compress(bytes(der), 9))


if __name__ == "__main__":
    main()
