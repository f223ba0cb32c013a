#!/usr/bin/env python3
"""Draws the toolbar, task-tree and caption-button images of the default configuration and
writes them as resources/config/images.xml (base64 PNG per image).

Everything is drawn here from simple shapes; no icon set is used. PNGs are written by hand
(zlib + CRC), RGB with a white background, which the toolbar treats as transparent.
Run: python3 resources/config/make_images.py
"""
import base64
import os
import struct
import zlib

WHITE = (255, 255, 255)


class Canvas:
    def __init__(self, w, h, bg=WHITE):
        self.w, self.h = w, h
        self.px = [[bg] * w for _ in range(h)]

    def put(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][x] = c

    def rect(self, x0, y0, x1, y1, c):  # inclusive
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.put(x, y, c)

    def frame(self, x0, y0, x1, y1, c):
        for x in range(x0, x1 + 1):
            self.put(x, y0, c)
            self.put(x, y1, c)
        for y in range(y0, y1 + 1):
            self.put(x0, y, c)
            self.put(x1, y, c)

    def line(self, x0, y0, x1, y1, c, width=1):
        n = max(abs(x1 - x0), abs(y1 - y0), 1)
        for i in range(n + 1):
            x = round(x0 + (x1 - x0) * i / n)
            y = round(y0 + (y1 - y0) * i / n)
            for dx in range(width):
                for dy in range(width):
                    self.put(x + dx, y + dy, c)

    def poly(self, pts, c):
        xs = [p[0] for p in pts]
        ys = [p[1] for p in pts]
        for y in range(int(min(ys)), int(max(ys)) + 1):
            for x in range(int(min(xs)), int(max(xs)) + 1):
                if inside(pts, x + 0.5, y + 0.5):
                    self.put(x, y, c)

    def disc(self, cx, cy, r, c):
        for y in range(self.h):
            for x in range(self.w):
                if (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 <= r * r:
                    self.put(x, y, c)

    def png(self):
        raw = b"".join(b"\x00" + bytes(v for p in row for v in p) for row in self.px)

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

        return (b"\x89PNG\r\n\x1a\n"
                + chunk(b"IHDR", struct.pack(">IIBBBBB", self.w, self.h, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def inside(pts, x, y):
    hit = False
    j = len(pts) - 1
    for i in range(len(pts)):
        (xi, yi), (xj, yj) = pts[i], pts[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            hit = not hit
        j = i
    return hit


BLUE = (38, 104, 196)
DARK = (40, 48, 64)
GREEN = (40, 150, 60)
RED = (200, 40, 40)
ORANGE = (230, 140, 20)
PAPER = (250, 250, 236)
GREY = (128, 128, 128)


def page(c):
    c.rect(3, 1, 12, 14, PAPER)
    c.frame(3, 1, 12, 14, DARK)


def icon_new():  # 33101: a sheet with a plus
    c = Canvas(16, 16)
    page(c)
    c.rect(6, 7, 13, 8, GREEN)
    c.rect(9, 4, 10, 11, GREEN)
    return c


def icon_modify():  # 33102: a sheet with a pencil
    c = Canvas(16, 16)
    page(c)
    c.line(6, 12, 13, 5, ORANGE, 2)
    c.put(5, 13, DARK)
    return c


def icon_delete():  # 33103: a red cross
    c = Canvas(16, 16)
    c.line(3, 3, 12, 12, RED, 2)
    c.line(12, 3, 3, 12, RED, 2)
    return c


def icon_start():  # 33104: play
    c = Canvas(16, 16)
    c.poly([(4, 2), (13, 8), (4, 14)], GREEN)
    return c


def icon_pause():  # 33105: two bars
    c = Canvas(16, 16)
    c.rect(4, 3, 6, 12, BLUE)
    c.rect(9, 3, 11, 12, BLUE)
    return c


def icon_stop():  # 33106: square
    c = Canvas(16, 16)
    c.rect(3, 3, 12, 12, RED)
    return c


def icon_import():  # 33002: arrow into a tray
    c = Canvas(16, 16)
    c.rect(2, 11, 13, 13, GREY)
    c.rect(7, 1, 8, 6, BLUE)
    c.poly([(4, 6), (12, 6), (8, 10)], BLUE)
    return c


def icon_export():  # 33003: arrow out of a tray
    c = Canvas(16, 16)
    c.rect(2, 11, 13, 13, GREY)
    c.rect(7, 5, 8, 10, BLUE)
    c.poly([(4, 5), (12, 5), (8, 1)], BLUE)
    return c


def icon_options():  # 33001: a gear-like wheel
    c = Canvas(16, 16)
    c.disc(8, 8, 6, GREY)
    for x, y in [(8, 1), (8, 15), (1, 8), (15, 8)]:
        c.rect(x - 1, y - 1, x, y, GREY)
    c.disc(8, 8, 2.5, WHITE)
    return c


def icon_help():  # 33301: a blue disc with a question mark
    c = Canvas(16, 16)
    c.disc(8, 8, 7, BLUE)
    for x0, y0, x1, y1 in [(6, 4, 9, 4), (10, 5, 10, 7), (8, 8, 9, 8), (7, 9, 7, 10)]:
        c.rect(x0, y0, x1, y1, WHITE)
    c.rect(7, 12, 7, 12, WHITE)
    return c


def icon_sheet():  # 33501: a grid
    c = Canvas(16, 16)
    c.rect(1, 2, 14, 13, PAPER)
    for x in (1, 5, 10, 14):
        c.line(x, 2, x, 13, GREEN)
    for y in (2, 6, 10, 13):
        c.line(1, y, 14, y, GREEN)
    c.rect(2, 3, 13, 5, (200, 230, 200))
    return c


def icon_csv():  # 33505: a sheet with text lines and commas
    c = Canvas(16, 16)
    page(c)
    for y in (4, 7, 10):
        c.line(5, y, 10, y, DARK)
        c.put(7, y + 1, RED)
    return c


def icon_export_files():  # 33502: two sheets
    c = Canvas(16, 16)
    c.rect(1, 1, 9, 11, PAPER)
    c.frame(1, 1, 9, 11, GREY)
    c.rect(6, 4, 14, 14, PAPER)
    c.frame(6, 4, 14, 14, DARK)
    c.line(8, 7, 12, 7, BLUE)
    c.line(8, 10, 12, 10, BLUE)
    return c


def icon_clear():  # 33504: an eraser
    c = Canvas(16, 16)
    c.poly([(2, 10), (8, 4), (14, 10), (10, 14), (6, 14)], (230, 120, 160))
    c.line(2, 15, 14, 15, GREY)
    return c


def caption_buttons(size):
    """Close, maximise, restore and minimise glyphs side by side, each size x size."""
    c = Canvas(size * 4, size, (225, 232, 245))
    m = max(2, size // 4)
    s = size - 1
    # close
    c.line(m, m, s - m, s - m, DARK, 2 if size > 12 else 1)
    c.line(s - m, m, m, s - m, DARK, 2 if size > 12 else 1)
    # maximise
    o = size
    c.frame(o + m, m, o + s - m, s - m, DARK)
    c.line(o + m, m + 1, o + s - m, m + 1, DARK)
    # restore
    o = size * 2
    c.frame(o + m + 2, m, o + s - m, s - m - 2, DARK)
    c.rect(o + m, m + 2, o + s - m - 2, s - m, (225, 232, 245))
    c.frame(o + m, m + 2, o + s - m - 2, s - m, DARK)
    # minimise
    o = size * 3
    c.rect(o + m, s - m - 1, o + s - m, s - m, DARK)
    return c


IMAGES = [
    ("33001", icon_options), ("33002", icon_import), ("33003", icon_export),
    ("33101", icon_new), ("33102", icon_modify), ("33103", icon_delete),
    ("33104", icon_start), ("33105", icon_pause), ("33106", icon_stop),
    ("33301", icon_help), ("33501", icon_sheet), ("33502", icon_export_files),
    ("33504", icon_clear), ("33505", icon_csv),
    ("captionbt", lambda: caption_buttons(16)), ("captionbtsm", lambda: caption_buttons(12)),
]


def main():
    out = ["<images>"]
    for name, draw in IMAGES:
        data = base64.b64encode(draw().png()).decode("ascii")
        lines = [data[i:i + 76] for i in range(0, len(data), 76)]
        out.append("\t<%s>%s</%s>" % (name, "\n\t\t".join(lines), name))
    out.append("</images>")
    here = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(here, "images.xml"), "w", encoding="utf-8", newline="\n") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
