#!/usr/bin/python3
"""Draws the patcher's icon group: a gold-rimmed crimson tile with a bold "Z".

usage: draw_icon.py OUTPUT.ico

Every size is rendered from the same vector shapes (signed distances give the
anti-aliasing), so small sizes stay crisp. Sizes below 256 are stored as
32-bit DIBs, 256 as PNG, as Windows expects. Standard library only.
"""

import math
import struct
import sys
import zlib

SIZES = [16, 20, 24, 32, 40, 48, 64, 72, 96, 108, 256]

CRIMSON_TOP = (178, 38, 46)
CRIMSON_BOTTOM = (92, 15, 21)
GOLD = (215, 170, 72)
LETTER_TOP = (252, 240, 206)
LETTER_BOTTOM = (226, 186, 96)

TILE_INSET = 0.03
TILE_RADIUS = 0.2

# The letter as one outline, in tile units (y grows downwards).
LETTER_Z = [
    (0.25, 0.21), (0.75, 0.21), (0.75, 0.33), (0.43, 0.67), (0.75, 0.67),
    (0.75, 0.79), (0.25, 0.79), (0.25, 0.67), (0.57, 0.33), (0.25, 0.33),
]


def rounded_square_distance(x, y, inset, radius):
    half = 0.5 - inset - radius
    qx = abs(x - 0.5) - half
    qy = abs(y - 0.5) - half
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - radius


def polygon_distance(x, y, points):
    best = float("inf")
    inside = False
    count = len(points)
    for i in range(count):
        ax, ay = points[i]
        bx, by = points[(i + 1) % count]
        ex, ey = bx - ax, by - ay
        t = max(0.0, min(1.0, ((x - ax) * ex + (y - ay) * ey) / (ex * ex + ey * ey)))
        best = min(best, math.hypot(x - ax - t * ex, y - ay - t * ey))
        if (ay > y) != (by > y) and x < ax + (y - ay) * ex / ey:
            inside = not inside
    return -best if inside else best


def coverage(distance, size):
    """Share of a pixel inside a shape whose edge is `distance` (tile units) away."""
    return max(0.0, min(1.0, 0.5 - distance * size))


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def over(pixel, colour, alpha):
    """Paints `colour` with `alpha` over a premultiplied (r, g, b, a) pixel."""
    r, g, b, a = pixel
    keep = 1.0 - alpha
    return (colour[0] * alpha + r * keep, colour[1] * alpha + g * keep,
            colour[2] * alpha + b * keep, alpha + a * keep)


def render(size):
    rim = max(0.045, 1.0 / size)
    shadow = [(px + 0.02, py + 0.03) for px, py in LETTER_Z]
    rows = []
    for row in range(size):
        y = (row + 0.5) / size
        line = []
        for column in range(size):
            x = (column + 0.5) / size
            pixel = (0.0, 0.0, 0.0, 0.0)
            tile = rounded_square_distance(x, y, TILE_INSET, TILE_RADIUS)
            tile_cover = coverage(tile, size)
            if tile_cover > 0.0:
                pixel = over(pixel, mix(CRIMSON_TOP, CRIMSON_BOTTOM, y), tile_cover)
                pixel = over(pixel, GOLD, min(tile_cover, coverage(-(tile + rim), size)))
                pixel = over(pixel, (0, 0, 0), 0.35 * coverage(polygon_distance(x, y, shadow), size))
                pixel = over(pixel, mix(LETTER_TOP, LETTER_BOTTOM, (y - 0.2) / 0.6),
                             coverage(polygon_distance(x, y, LETTER_Z), size))
            r, g, b, a = pixel
            if a > 0.0:
                r, g, b = r / a, g / a, b / a
            line.append(tuple(int(round(max(0.0, min(255.0, v)))) for v in (r, g, b, a * 255.0)))
        rows.append(line)
    return rows


def dib_image(rows):
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = bytearray()
    for line in reversed(rows):
        for r, g, b, a in line:
            colour += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for line in reversed(rows):
        bits = bytearray(mask_stride)
        for column, (_, _, _, a) in enumerate(line):
            if a == 0:
                bits[column // 8] |= 0x80 >> (column % 8)
        mask += bits
    return header + bytes(colour) + bytes(mask)


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def png_image(rows):
    size = len(rows)
    raw = bytearray()
    for line in rows:
        raw.append(0)
        for pixel in line:
            raw += bytes(pixel)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            png_chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + png_chunk(b"IEND", b""))


def icon_file(images):
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    for size, data in images:
        dimension = 0 if size >= 256 else size
        entries += struct.pack("<BBBBHHII", dimension, dimension, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return directory + entries + b"".join(data for _, data in images)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    images = []
    for size in SIZES:
        rows = render(size)
        images.append((size, png_image(rows) if size >= 256 else dib_image(rows)))
    with open(sys.argv[1], "wb") as output:
        output.write(icon_file(images))


if __name__ == "__main__":
    main()
