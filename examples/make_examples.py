#!/usr/bin/env python3
"""Writes the example pictures in this folder (run it here to make them again).

rings_128x96.png: 8-bit palette PNG with a tRNS chunk; 64 colours, a radial
    rainbow of rings whose outer corners fade to transparent.
tiles_64x64.bmp:  8-bit palette BMP (40-byte info header, bottom-up rows), 16
    colours in a 16x16-pixel checker of diagonal stripes; its palette's
    fourth bytes are 0, as BMP writers leave them (use -na).
"""
import math
import struct
import zlib


def hue(i, n):
    """A rainbow colour for entry i of n, as (r, g, b)."""
    h = 6.0 * i / n
    x = int(255 * (1 - abs(h % 2 - 1)))
    return [(255, x, 0), (x, 255, 0), (0, 255, x), (0, x, 255), (x, 0, 255), (255, 0, x)][int(h) % 6]


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))


def rings_png(width=128, height=96, colours=64):
    palette = [hue(i, colours) for i in range(colours)]
    # Alpha falls off over the last quarter of the entries: the outer rings.
    alpha = [255 if i < colours * 3 // 4 else 255 * (colours - 1 - i) // (colours // 4)
             for i in range(colours)]
    cx, cy, rmax = (width - 1) / 2, (height - 1) / 2, math.hypot(width / 2, height / 2)
    rows = b""
    for y in range(height):
        row = bytes(min(colours - 1, int(colours * math.hypot(x - cx, y - cy) / rmax))
                    for x in range(width))
        rows += b"\0" + row  # filter type 0
    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 3, 0, 0, 0)) +
            chunk(b"PLTE", bytes(c for rgb in palette for c in rgb)) +
            chunk(b"tRNS", bytes(alpha)) +
            chunk(b"IDAT", zlib.compress(rows, 9)) +
            chunk(b"IEND", b""))


def tiles_bmp(width=64, height=64, colours=16):
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in (hue(i, colours) for i in range(colours)))
    pixels = b""
    for y in reversed(range(height)):  # BMP rows are stored bottom-up
        pixels += bytes(((x // 16 + y // 16) * 5 + (x + y) // 4) % colours for x in range(width))
    offset = 14 + 40 + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, len(pixels), 0, 0, colours, 0)
    return header + info + palette + pixels


if __name__ == "__main__":
    with open("rings_128x96.png", "wb") as f:
        f.write(rings_png())
    with open("tiles_64x64.bmp", "wb") as f:
        f.write(tiles_bmp())
