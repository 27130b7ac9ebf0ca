#!/usr/bin/env python3
"""Prints the bytes of one resource from the text windres writes of a program's resources
(windres -i PROGRAM.exe -O rc): the block that follows the line "ID TYPE".

    rc_resource.py RESOURCES.rc ID TYPE
"""
import re
import struct
import sys


def block(lines, id_, type_):
    start = None
    for i, line in enumerate(lines):
        if re.match(rf"^{id_} {type_}\b", line):
            start = i
            break
    if start is None:
        sys.exit(f"no resource {id_} of type {type_}")
    body = []
    for line in lines[start + 1:]:
        if line.strip() == "BEGIN":
            continue
        if line.strip() == "END":
            return body
        body.append(line)
    sys.exit("the resource block does not end")


def data(body):
    out = bytearray()
    # Numbers (L: four bytes, else two, little-endian) and strings, where "" is a quote.
    token = re.compile(r'0x([0-9a-fA-F]+)(L?)|"((?:[^"\\]|\\.|"")*)"')
    for line in body:
        for match in token.finditer(line):
            if match.group(1) is not None:
                value = int(match.group(1), 16)
                out += struct.pack("<I" if match.group(2) else "<H", value)
            else:
                text = match.group(3).replace('""', '"')
                out += text.encode("latin-1").decode("unicode_escape").encode("latin-1")
    return bytes(out)


def main():
    with open(sys.argv[1], encoding="latin-1") as f:
        lines = f.read().splitlines()
    sys.stdout.buffer.write(data(block(lines, sys.argv[2], sys.argv[3])))


if __name__ == "__main__":
    main()
