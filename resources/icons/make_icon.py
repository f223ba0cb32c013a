#!/usr/bin/env python3
"""Draws the program's icon (a result sheet with a marker) as PNG files, without libraries.

    python3 make_icon.py   # writes gleanmark-48.png, gleanmark-128.png, gleanmark-256.png
"""
import struct
import zlib


def png(width, height, rows):
    def chunk(kind, data):
        c = struct.pack(">I", len(data)) + kind + data
        return c + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    raw = b"".join(b"\x00" + bytes(r) for r in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def inside_round_rect(x, y, x0, y0, x1, y1, r):
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def pixel(u, v):
    """Colour at (u, v) in the unit square, as RGBA."""
    if not inside_round_rect(u, v, 0.04, 0.04, 0.96, 0.96, 0.16):
        return (0, 0, 0, 0)
    # Blue tile with a white result sheet.
    colour = (40, 110, 200, 255)
    if 0.2 <= u <= 0.8 and 0.16 <= v <= 0.84:
        colour = (250, 250, 250, 255)
        for i in range(5):
            top = 0.26 + i * 0.11
            if top <= v <= top + 0.05 and 0.27 <= u <= 0.73:
                colour = (120, 150, 190, 255) if i else (40, 110, 200, 255)
    # An orange marker over the lower right: the item being picked.
    if (u - 0.7) ** 2 + (v - 0.7) ** 2 <= 0.16 ** 2:
        colour = (245, 140, 30, 255)
        if (u - 0.7) ** 2 + (v - 0.7) ** 2 <= 0.08 ** 2:
            colour = (255, 255, 255, 255)
    return colour


def draw(size, samples=3):
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(samples):
                for sx in range(samples):
                    c = pixel((x + (sx + 0.5) / samples) / size, (y + (sy + 0.5) / samples) / size)
                    for k in range(3):
                        acc[k] += c[k] * c[3]
                    acc[3] += c[3]
            n = samples * samples
            a = acc[3] / n
            row += [int(acc[k] / acc[3]) if acc[3] else 0 for k in range(3)] + [int(a)]
        rows.append(row)
    return png(size, size, rows)


if __name__ == "__main__":
    for size in (48, 128, 256):
        with open(f"gleanmark-{size}.png", "wb") as f:
            f.write(draw(size))
