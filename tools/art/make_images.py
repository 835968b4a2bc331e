#!/usr/bin/env python3
"""Draws the program's own icon and background pictures as PNG files.

Run from the repository root: python3 tools/art/make_images.py
The images are simple shapes so they stay small and need no image library.
The desktop icons at the hicolor sizes are drawn from the same shapes as the
hand-written scalable icon data/icons/scalable/chat.vesk.VeskChat.svg.
"""
import math
import os
import struct
import zlib


def write_png(path, width, height, pixel):
    rows = bytearray()
    for y in range(height):
        rows.append(0)
        for x in range(width):
            rows.extend(pixel(x, y))
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)
    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(rows), 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


TEAL = (0, 128, 128, 255)
NAVY = (0, 0, 128, 255)
WHITE = (255, 255, 255, 255)
SILVER = (192, 192, 192, 255)
CLEAR = (0, 0, 0, 0)


def bubble(size):
    """A chat bubble with a tail and three dots: the program's icon."""
    def pixel(x, y):
        cx, cy, rx, ry = size * 0.5, size * 0.42, size * 0.46, size * 0.34
        inside = ((x + 0.5 - cx) / rx) ** 2 + ((y + 0.5 - cy) / ry) ** 2 <= 1.0
        tail = (size * 0.18 <= x <= size * 0.42) and (size * 0.62 <= y <= size * 0.95) and \
            (x - size * 0.18) >= (y - size * 0.62) * 0.7
        if not (inside or tail):
            return CLEAR
        for dx in (-0.22, 0.0, 0.22):
            if math.hypot(x + 0.5 - (cx + dx * size), y + 0.5 - cy) <= size * 0.07:
                return WHITE
        edge = ((x + 0.5 - cx) / (rx - 1.5)) ** 2 + ((y + 0.5 - cy) / (ry - 1.5)) ** 2 > 1.0
        return NAVY if edge and inside else TEAL
    return pixel


# The desktop icon in the 128-unit square of the SVG: a teal bubble with a tail
# at the lower left, both outlined in navy, and three white dots.
ICON_ELLIPSE = (64.0, 53.76, 58.88, 43.52)  # centre x, centre y, radius x, radius y
ICON_TAIL = ((23.04, 79.36), (53.76, 79.36), (53.76, 121.6))
ICON_OUTLINE = 4.0  # half the SVG's stroke width
ICON_DOTS = (35.84, 64.0, 92.16)
ICON_DOT_RADIUS = 8.96


def in_ellipse(x, y, grow=0.0):
    cx, cy, rx, ry = ICON_ELLIPSE
    return ((x - cx) / (rx + grow)) ** 2 + ((y - cy) / (ry + grow)) ** 2 <= 1.0


def in_tail(x, y, grow=0.0):
    def side(a, b):
        return (b[0] - a[0]) * (y - a[1]) - (b[1] - a[1]) * (x - a[0])
    a, b, c = ICON_TAIL
    sides = (side(a, b), side(b, c), side(c, a))
    if all(v >= 0 for v in sides) or all(v <= 0 for v in sides):
        return True
    def distance(p, q):
        dx, dy = q[0] - p[0], q[1] - p[1]
        t = max(0.0, min(1.0, ((x - p[0]) * dx + (y - p[1]) * dy) / (dx * dx + dy * dy)))
        return math.hypot(x - p[0] - t * dx, y - p[1] - t * dy)
    return min(distance(a, b), distance(b, c), distance(c, a)) <= grow


def icon_colour(x, y):
    """The icon's colour at a point of the 128-unit square, layered as in the SVG."""
    if any(math.hypot(x - dx, y - ICON_ELLIPSE[1]) <= ICON_DOT_RADIUS for dx in ICON_DOTS):
        return WHITE
    if in_ellipse(x, y) or in_tail(x, y):
        return TEAL
    if in_ellipse(x, y, ICON_OUTLINE) or in_tail(x, y, ICON_OUTLINE):
        return NAVY
    return CLEAR


def desktop_icon(size, samples=4):
    """The desktop icon at size by size pixels, each pixel the average of
    samples by samples points, so that edges are smooth at every size."""
    scale = 128.0 / size
    def pixel(x, y):
        total = [0, 0, 0, 0]
        for i in range(samples):
            for j in range(samples):
                colour = icon_colour((x + (i + 0.5) / samples) * scale,
                                     (y + (j + 0.5) / samples) * scale)
                alpha = colour[3]
                for k in range(3):
                    total[k] += colour[k] * alpha
                total[3] += alpha
        n = samples * samples
        if total[3] == 0:
            return CLEAR
        return tuple(round(total[k] / total[3]) for k in range(3)) + (round(total[3] / n),)
    return pixel


HICOLOR_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)


def corner_mark(width, height):
    """A 'V' in a bubble on silver: the picture in the windows' top-left corner."""
    icon = bubble(min(width, height))
    def pixel(x, y):
        p = icon(x, y) if x < height else CLEAR
        if p != CLEAR:
            return p
        # Diagonal stripes to the right of the bubble.
        return TEAL if (x + y) % 12 < 3 and x >= height else SILVER
    return pixel


def dotted(width, height):
    """A light texture of teal dots on silver: the main window's corner.

    The title banner and the blank patch cover most of it, so it must look
    intended wherever it peeks out between them."""
    def pixel(x, y):
        return (150, 190, 190, 255) if x % 6 == 2 and y % 6 == 2 else SILVER
    return pixel


if __name__ == "__main__":
    write_png("src/ui/images/vesk-chat.png", 32, 32, bubble(32))
    for size in HICOLOR_SIZES:
        folder = "data/icons/%dx%d" % (size, size)
        os.makedirs(folder, exist_ok=True)
        write_png(folder + "/chat.vesk.VeskChat.png", size, size, desktop_icon(size))
    write_png("src/ui/images/main-corner.png", 68, 68, dotted(68, 68))
    write_png("src/ui/images/dialog-corner.png", 97, 40, corner_mark(97, 40))
