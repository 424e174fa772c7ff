#!/usr/bin/env python3
"""Prints a certificate's subject (or issuer) name as the platform's certificate
name function writes it in X.500 form with the reverse flag, which is how the
library reads a signer's issuer: most specific RDN first, RDNs joined by
SEPARATOR (", " unless given), the values of a multi-valued RDN by " + ",
short attribute names (CN, OU, O, C, ...), a value quoted with double quotes
when it has blanks at either end or one of , + = " newline < > # ; (a quote
inside doubled). Output is UTF-8.

A name with an attribute that has no short name is refused: the platforms
write such attributes differently, so no text derived here would be safe.

Usage: x500name.py [--issuer] [--separator TEXT] CERT (PEM or DER)
"""
import argparse
import base64
import re
import sys

SHORT_NAMES = {
    "2.5.4.3": "CN", "2.5.4.4": "SN", "2.5.4.5": "SERIALNUMBER", "2.5.4.6": "C",
    "2.5.4.7": "L", "2.5.4.8": "S", "2.5.4.9": "STREET", "2.5.4.10": "O",
    "2.5.4.11": "OU", "2.5.4.12": "T", "2.5.4.42": "G", "2.5.4.43": "I",
    "1.2.840.113549.1.9.1": "E", "0.9.2342.19200300.100.1.25": "DC",
}
SPECIAL = set(',+="\n<>#;')


class NameError_(Exception):
    pass


def read_der(path):
    data = open(path, "rb").read()
    m = re.search(rb"-----BEGIN CERTIFICATE-----(.*?)-----END CERTIFICATE-----", data, re.S)
    return base64.b64decode(b"".join(m.group(1).split())) if m else data


def element(data, at):
    """(tag, content start, content end) of the DER element at 'at'."""
    if at + 2 > len(data):
        raise NameError_("truncated certificate")
    tag, first = data[at], data[at + 1]
    at += 2
    if first < 0x80:
        length = first
    else:
        n = first & 0x7F
        if n == 0 or n > 4 or at + n > len(data):
            raise NameError_("unsupported length in certificate")
        length = int.from_bytes(data[at:at + n], "big")
        at += n
    if at + length > len(data):
        raise NameError_("truncated certificate")
    return tag, at, at + length


def children(data, start, end):
    out = []
    while start < end:
        tag, cs, ce = element(data, start)
        out.append((tag, cs, ce))
        start = ce
    return out


def oid_text(content):
    parts = []
    value = 0
    for b in content:
        value = (value << 7) | (b & 0x7F)
        if not b & 0x80:
            parts.append(value)
            value = 0
    first = min(parts[0] // 40, 2)
    return ".".join(str(p) for p in [first, parts[0] - 40 * first] + parts[1:])


def string_value(tag, raw):
    if tag == 0x1E:  # BMPString
        return raw.decode("utf-16-be")
    if tag == 0x1C:  # UniversalString
        return raw.decode("utf-32-be")
    if tag == 0x0C:  # UTF8String
        return raw.decode("utf-8")
    if tag in (0x13, 0x16, 0x1A):  # Printable, IA5, Visible
        return raw.decode("ascii")
    if tag == 0x14:  # T61String, read as Latin-1
        return raw.decode("latin-1")
    raise NameError_("value of type 0x%02X" % tag)


def quoted(value):
    if value != value.strip() or any(c in SPECIAL for c in value):
        return '"' + value.replace('"', '""') + '"'
    return value


def name_text(data, start, end, separator):
    rdns = []
    for tag, cs, ce in children(data, start, end):
        if tag != 0x31:
            raise NameError_("name is not a sequence of sets")
        values = []
        for atag, acs, ace in children(data, cs, ce):
            parts = children(data, acs, ace)
            if atag != 0x30 or len(parts) != 2 or parts[0][0] != 0x06:
                raise NameError_("malformed name attribute")
            oid = oid_text(data[parts[0][1]:parts[0][2]])
            if oid not in SHORT_NAMES:
                raise NameError_("attribute %s has no short name" % oid)
            values.append("%s=%s" % (SHORT_NAMES[oid],
                                     quoted(string_value(parts[1][0], data[parts[1][1]:parts[1][2]]))))
        rdns.append(" + ".join(values))
    return separator.join(reversed(rdns))


def certificate_name(path, issuer=False, separator=", "):
    data = read_der(path)
    _, cs, ce = element(data, 0)
    tbs = children(data, *element(data, cs)[1:])
    i = 1 if tbs and tbs[0][0] == 0xA0 else 0
    # serialNumber, signature, issuer, validity, subject
    _, ns, ne = tbs[i + 2] if issuer else tbs[i + 4]
    return name_text(data, ns, ne, separator)


def main():
    ap = argparse.ArgumentParser(description="Name of a certificate as the platform writes it.")
    ap.add_argument("--issuer", action="store_true", help="the issuer instead of the subject")
    ap.add_argument("--separator", default=", ")
    ap.add_argument("cert")
    args = ap.parse_args()
    try:
        text = certificate_name(args.cert, args.issuer, args.separator)
    except (NameError_, OSError, UnicodeDecodeError, IndexError, ValueError) as e:
        sys.exit("x500name: %s: %s" % (args.cert, e))
    sys.stdout.buffer.write(text.encode("utf-8"))


if __name__ == "__main__":
    main()
