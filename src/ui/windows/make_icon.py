#!/usr/bin/env python3
"""Draws the programs' icon, the product's logo as the About window shows it (a white "Z" on a
rounded square shaded from #1d4e89 to #00a6a6), and writes it as a Windows icon file with one
PNG image per size.

    make_icon.py OUT.ico
"""
import struct
import sys
import zlib

SIZES = (16, 20, 24, 32, 40, 48, 64, 256)
SUBSAMPLES = 4
TOP_LEFT = (0x1D, 0x4E, 0x89)
BOTTOM_RIGHT = (0x00, 0xA6, 0xA6)
# The letter, in parts of the icon's side.
LETTER = [(0.25, 0.21), (0.75, 0.21), (0.75, 0.34), (0.43, 0.66), (0.75, 0.66), (0.75, 0.79),
          (0.25, 0.79), (0.25, 0.66), (0.57, 0.34), (0.25, 0.34)]
MARGIN = 0.03
RADIUS = 0.17


def crossings(polygon, y):
    """The x at which a horizontal line at y crosses the polygon's edges, sorted."""
    xs = []
    for (x0, y0), (x1, y1) in zip(polygon, polygon[1:] + polygon[:1]):
        if (y0 <= y < y1) or (y1 <= y < y0):
            xs.append(x0 + (y - y0) * (x1 - x0) / (y1 - y0))
    return sorted(xs)


def square_span(y):
    """Where a horizontal line at y lies inside the rounded square, or None."""
    lo, hi = MARGIN, 1.0 - MARGIN
    if not lo <= y < hi:
        return None
    inset = 0.0
    corner = None
    if y < lo + RADIUS:
        corner = lo + RADIUS
    elif y > hi - RADIUS:
        corner = hi - RADIUS
    if corner is not None:
        dy = abs(y - corner)
        inset = RADIUS - (RADIUS * RADIUS - dy * dy) ** 0.5
    return lo + inset, hi - inset


def add_span(row, size, x0, x1, weight):
    """Adds the coverage of [x0, x1) (parts of the side) to a row of pixels."""
    a, b = x0 * size, x1 * size
    first, last = int(a), min(int(b), size - 1)
    for px in range(max(first, 0), last + 1):
        covered = min(b, px + 1) - max(a, px)
        if covered > 0:
            row[px] += covered * weight


def draw(size):
    pixels = bytearray()
    weight = 1.0 / SUBSAMPLES
    for py in range(size):
        square = [0.0] * size
        letter = [0.0] * size
        for sub in range(SUBSAMPLES):
            y = (py + (sub + 0.5) / SUBSAMPLES) / size
            span = square_span(y)
            if span:
                add_span(square, size, span[0], span[1], weight)
            xs = crossings(LETTER, y)
            for x0, x1 in zip(xs[::2], xs[1::2]):
                add_span(letter, size, x0, x1, weight)
        pixels.append(0)  # PNG filter: none
        for px in range(size):
            t = (px + py + 1) / (2.0 * size)
            shade = [a + (b - a) * t for a, b in zip(TOP_LEFT, BOTTOM_RIGHT)]
            cover = min(letter[px], 1.0)
            rgb = [round(c + (255 - c) * cover) for c in shade]
            pixels.extend(rgb + [round(min(square[px], 1.0) * 255)])
    return png(size, bytes(pixels))


def png(size, raw):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main():
    images = [(size, draw(size)) for size in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        side = size if size < 256 else 0
        out += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(data for _, data in images)
    with open(sys.argv[1], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
