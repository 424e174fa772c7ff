#!/usr/bin/env python3
"""Says which trust data a built tarvosel.dll carries, from its version resource:
"test" when it is marked a special build (VS_FF_SPECIALBUILD, set for the test
authorities, whose private keys are in the repository), "deployment" otherwise.
With --text, the SpecialBuild text follows on a second line.

Usage: dlltrust.py [--text] tarvosel.dll
"""
import struct
import sys

VS_FF_SPECIALBUILD = 0x20
SIGNATURE = struct.pack("<I", 0xFEEF04BD)


def trust_of(data):
    at = data.find(SIGNATURE)
    if at < 0:
        raise ValueError("no version resource")
    # VS_FIXEDFILEINFO: signature, struc version, file version (2), product
    # version (2), flags mask, flags
    mask, flags = struct.unpack_from("<II", data, at + 24)
    return "test" if flags & mask & VS_FF_SPECIALBUILD else "deployment"


def special_build_text(data):
    key = "SpecialBuild\0".encode("utf-16-le")
    at = data.find(key)
    if at < 0:
        return ""
    at += len(key)
    at += (-at) % 4  # the value starts on a 32-bit boundary
    end = at
    while end + 1 < len(data) and data[end:end + 2] != b"\0\0":
        end += 2
    return data[at:end].decode("utf-16-le", "replace")


def main():
    args = sys.argv[1:]
    text = "--text" in args
    args = [a for a in args if a != "--text"]
    if len(args) != 1:
        sys.exit(__doc__.strip().splitlines()[-1])
    try:
        data = open(args[0], "rb").read()
        print(trust_of(data))
    except (OSError, ValueError, struct.error) as e:
        sys.exit("dlltrust: %s: %s" % (args[0], e))
    if text:
        print(special_build_text(data))


if __name__ == "__main__":
    main()
