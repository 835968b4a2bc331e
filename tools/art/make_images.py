#!/usr/bin/env python3
"""Draws the program's own icon and background pictures as PNG files.

Run from the repository root: python3 tools/art/make_images.py
The images are simple shapes so they stay small and need no image library.
"""
import math
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
    write_png("data/vesk-chat-128.png", 128, 128, bubble(128))
    write_png("src/ui/images/main-corner.png", 68, 68, dotted(68, 68))
    write_png("src/ui/images/dialog-corner.png", 97, 40, corner_mark(97, 40))
