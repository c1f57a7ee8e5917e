#!/usr/bin/env python3
"""Draws Lumora's icons: scripts/make-icons.py OUTPUT_FOLDER

Writes lumora-101.ico (48, 32, 24 and 16 pixels: the program's icon) and
lumora-102.ico (32 and 16 pixels: the windows' icon) into OUTPUT_FOLDER.
The artwork is a rounded square in a warm orange gradient carrying a white
picture frame with a hill and a sun, drawn here from plain geometry, so the
build needs nothing but Python's standard library.

Each size is drawn on its own rather than scaled from a large image: every
pixel is the average of SUPERSAMPLE x SUPERSAMPLE samples of the shapes,
which gives clean anti-aliased edges even at 16 pixels. The files hold
32-bit BGRA bitmaps (straight alpha, bottom-up) with their AND masks, the
form every Windows version reads.
"""
import math
import os
import struct
import sys

SUPERSAMPLE = 8
ICONS = {
    "lumora-101.ico": (48, 32, 24, 16),
    "lumora-102.ico": (32, 16),
}

# Colours as (red, green, blue); the background runs from TOP to BOTTOM.
TOP = (255, 153, 51)
BOTTOM = (232, 84, 28)
WHITE = (255, 255, 255)

# The shapes, in a unit square with y growing downwards.
BACKGROUND = (0.03, 0.03, 0.97, 0.97, 0.22)  # left, top, right, bottom, corner radius
FRAME_OUTER = (0.18, 0.24, 0.82, 0.76, 0.07)
FRAME_INNER = (0.255, 0.315, 0.745, 0.685, 0.02)
SUN = (0.61, 0.43, 0.065)  # centre x, centre y, radius
HILLS = (
    ((0.255, 0.685), (0.43, 0.47), (0.605, 0.685)),
    ((0.5, 0.685), (0.6, 0.56), (0.745, 0.685)),
)


def inRoundedRect(x, y, rect):
    left, top, right, bottom, radius = rect
    if not (left <= x <= right and top <= y <= bottom):
        return False
    # distance beyond the inner rectangle whose corners are the arcs' centres
    dx = max(left + radius - x, 0.0, x - (right - radius))
    dy = max(top + radius - y, 0.0, y - (bottom - radius))
    return dx * dx + dy * dy <= radius * radius


def inTriangle(x, y, triangle):
    (ax, ay), (bx, by), (cx, cy) = triangle
    d1 = (x - bx) * (ay - by) - (ax - bx) * (y - by)
    d2 = (x - cx) * (by - cy) - (bx - cx) * (y - cy)
    d3 = (x - ax) * (cy - ay) - (cx - ax) * (y - ay)
    negative = d1 < 0 or d2 < 0 or d3 < 0
    positive = d1 > 0 or d2 > 0 or d3 > 0
    return not (negative and positive)


def inGlyph(x, y):
    if inRoundedRect(x, y, FRAME_OUTER) and not inRoundedRect(x, y, FRAME_INNER):
        return True
    sx, sy, sr = SUN
    if math.hypot(x - sx, y - sy) <= sr:
        return True
    return any(inTriangle(x, y, hill) for hill in HILLS)


def backgroundColour(y):
    return tuple(t + (b - t) * y for t, b in zip(TOP, BOTTOM))


def samplePixel(px, py, size):
    """The straight-alpha (red, green, blue, alpha) of one pixel, 0-255."""
    covered = 0
    total = [0.0, 0.0, 0.0]
    for sy in range(SUPERSAMPLE):
        y = (py + (sy + 0.5) / SUPERSAMPLE) / size
        for sx in range(SUPERSAMPLE):
            x = (px + (sx + 0.5) / SUPERSAMPLE) / size
            if not inRoundedRect(x, y, BACKGROUND):
                continue
            colour = WHITE if inGlyph(x, y) else backgroundColour(y)
            covered += 1
            for i in range(3):
                total[i] += colour[i]
    if covered == 0:
        return (0, 0, 0, 0)
    red, green, blue = (round(c / covered) for c in total)
    return (red, green, blue, round(255 * covered / SUPERSAMPLE ** 2))


def iconImage(size):
    """One icon image: BITMAPINFOHEADER, BGRA rows and AND mask, bottom-up."""
    pixels = [[samplePixel(x, y, size) for x in range(size)] for y in range(size)]
    maskStride = (size + 31) // 32 * 4
    colour = bytearray()
    mask = bytearray()
    for row in reversed(pixels):
        for red, green, blue, alpha in row:
            colour += bytes((blue, green, red, alpha))
        bits = bytearray(maskStride)
        for x, (_, _, _, alpha) in enumerate(row):
            if alpha == 0:  # a set bit lets the background through
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, len(colour) + len(mask), 0, 0, 0, 0)
    return header + colour + mask


def iconFile(sizes):
    images = [iconImage(size) for size in sizes]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    entries = b""
    for size, image in zip(sizes, images):
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    return directory + entries + b"".join(images)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make-icons.py OUTPUT_FOLDER")
    os.makedirs(sys.argv[1], exist_ok=True)
    for name, sizes in ICONS.items():
        with open(os.path.join(sys.argv[1], name), "wb") as out:
            out.write(iconFile(sizes))


if __name__ == "__main__":
    main()
