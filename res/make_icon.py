#!/usr/bin/env python3
"""Draws the application icon (a chip receiving a download arrow) and writes it as
quillon.png (32 x 32, for the windows) and quillon.ico (16, 32 and 48 pixels, for Windows).

Run it again after changing the drawing; the outputs are committed beside it.
With --png SIZE FILE it writes only a SIZE x SIZE PNG to FILE: the build draws the desktop
icons (share/icons/hicolor) that way, each at its own size rather than scaled from 32 pixels.
"""
import os
import struct
import sys
import zlib

BLUE = (31, 78, 140)
WHITE = (245, 245, 245)
GREY = (170, 180, 195)
ORANGE = (240, 140, 30)


def inside_round_rect(x, y, x0, y0, x1, y1, r):
    if not (x0 <= x <= x1 and y0 <= y <= y1):
        return False
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def colour_at(x, y):
    """Colour of the point (x, y) of a 1 x 1 drawing, or None where it is transparent."""
    if not inside_round_rect(x, y, 0.02, 0.02, 0.98, 0.98, 0.18):
        return None
    # The arrow lies over the chip.
    if 0.42 <= x <= 0.58 and 0.10 <= y <= 0.42:
        return ORANGE
    if 0.42 <= y <= 0.60 and abs(x - 0.5) <= (0.60 - y) * 1.2:
        return ORANGE
    # The chip with its pins.
    if 0.26 <= x <= 0.74 and 0.50 <= y <= 0.86:
        return WHITE
    for px in (0.31, 0.43, 0.55, 0.67):
        if px <= x <= px + 0.05 and (0.44 <= y < 0.50 or 0.86 < y <= 0.92):
            return GREY
    return BLUE


def render(size, samples=4):
    rows = []
    for j in range(size):
        row = bytearray()
        for i in range(size):
            acc = [0, 0, 0, 0]
            for sj in range(samples):
                for si in range(samples):
                    c = colour_at((i + (si + 0.5) / samples) / size,
                                  (j + (sj + 0.5) / samples) / size)
                    if c is not None:
                        acc[0] += c[0]
                        acc[1] += c[1]
                        acc[2] += c[2]
                        acc[3] += 1
            n = samples * samples
            if acc[3]:
                row += bytes([acc[0] // acc[3], acc[1] // acc[3], acc[2] // acc[3],
                              255 * acc[3] // n])
            else:
                row += bytes(4)
        rows.append(bytes(row))
    return rows


def png(size):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    raw = b"".join(b"\x00" + row for row in render(size))
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def ico(sizes):
    images = [png(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s % 256, s % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


if __name__ == "__main__":
    if len(sys.argv) == 4 and sys.argv[1] == "--png":
        with open(sys.argv[3], "wb") as f:
            f.write(png(int(sys.argv[2])))
        sys.exit(0)
    if len(sys.argv) != 1:
        sys.exit("usage: make_icon.py [--png SIZE FILE]")
    here = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(here, "quillon.png"), "wb") as f:
        f.write(png(32))
    with open(os.path.join(here, "quillon.ico"), "wb") as f:
        f.write(ico([16, 32, 48]))
