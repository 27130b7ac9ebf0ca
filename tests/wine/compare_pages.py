#!/usr/bin/env python3
"""Compares the wizard's pictures made on two systems page by page: the same pages, none of
them empty (one colour, or nearly), and each about the size of its twin (fonts and window
frames differ between systems, so a little, not much).

    compare_pages.py FOLDER_A FOLDER_B
Prints one line per page; exits 1 when a page is missing, empty or far off in size.
"""
import os
import struct
import sys
import zlib

# How far a page's width or height may be from its twin's, as a part of the larger one.
SIZE_TOLERANCE = 0.35
# At most this part of a page may be its most common colour.
MOST_COMMON_COLOUR_AT_MOST = 0.985


def read_png(path):
    """Width, height and rows of RGB(A) pixels of an 8-bit, non-interlaced PNG file."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG file")
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    channels = {2: 3, 6: 4}.get(colour)
    if depth != 8 or channels is None or interlace:
        raise ValueError(f"unexpected PNG form (depth {depth}, colour type {colour})")
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        start = y * (stride + 1)
        kind, line = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        for x in range(stride):
            a = line[x - channels] if x >= channels else 0
            b = previous[x]
            c = previous[x - channels] if x >= channels else 0
            if kind == 1:
                line[x] = (line[x] + a) & 0xFF
            elif kind == 2:
                line[x] = (line[x] + b) & 0xFF
            elif kind == 3:
                line[x] = (line[x] + (a + b) // 2) & 0xFF
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[x] = (line[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 0xFF
        rows.append(bytes(line))
        previous = line
    return width, height, channels, rows


def most_common_share(channels, rows):
    counts = {}
    total = 0
    for row in rows:
        for x in range(0, len(row), channels):
            pixel = row[x:x + 3]
            counts[pixel] = counts.get(pixel, 0) + 1
            total += 1
    return max(counts.values()) / total, len(counts)


def main():
    a, b = sys.argv[1], sys.argv[2]
    pages_a = sorted(f for f in os.listdir(a) if f.endswith(".png"))
    pages_b = sorted(f for f in os.listdir(b) if f.endswith(".png"))
    failed = False
    if pages_a != pages_b:
        print(f"different pages: {pages_a} and {pages_b}")
        failed = True
    for page in sorted(set(pages_a) & set(pages_b)):
        sizes = []
        for folder in (a, b):
            width, height, channels, rows = read_png(os.path.join(folder, page))
            share, colours = most_common_share(channels, rows)
            if share > MOST_COMMON_COLOUR_AT_MOST or colours < 4:
                print(f"{page} in {folder} is empty ({colours} colours, "
                      f"{share:.1%} of it one colour)")
                failed = True
            sizes.append((width, height))
        (wa, ha), (wb, hb) = sizes
        off = max(abs(wa - wb) / max(wa, wb), abs(ha - hb) / max(ha, hb))
        verdict = "ok" if off <= SIZE_TOLERANCE else "size far off"
        print(f"{page}: {wa}x{ha} and {wb}x{hb}: {verdict}")
        failed = failed or off > SIZE_TOLERANCE
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
