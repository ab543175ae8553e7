#!/usr/bin/env python3
"""Writes KavSvc.ico: a speaker with two sound waves on a blue disc, at 16, 32 and 48 pixels.

Usage: make_icon.py OUTPUT
"""
import math
import struct
import sys

SIZES = (16, 32, 48)
SUPERSAMPLE = 4  # per axis, for smooth edges
BLUE = (0x1E, 0x6F, 0xD9)
WHITE = (0xFF, 0xFF, 0xFF)


def inside_disc(x, y):
    return (x - 0.5) ** 2 + (y - 0.5) ** 2 <= 0.47 ** 2


def inside_speaker(x, y):
    # The magnet: a small box; the cone: a trapezoid opening to the right.
    if 0.20 <= x <= 0.32 and 0.40 <= y <= 0.60:
        return True
    if 0.32 <= x <= 0.48:
        half = 0.10 + (x - 0.32) / 0.16 * 0.14
        return abs(y - 0.5) <= half
    return False


def inside_waves(x, y):
    dx, dy = x - 0.48, y - 0.5
    r = math.hypot(dx, dy)
    if dx <= 0 or abs(math.atan2(dy, dx)) > math.radians(45):
        return False
    return any(abs(r - radius) <= 0.035 for radius in (0.12, 0.24))


def pixel(size, px, py):
    """BGRA of one pixel, rows from the top."""
    disc = white = 0
    for sy in range(SUPERSAMPLE):
        for sx in range(SUPERSAMPLE):
            x = (px + (sx + 0.5) / SUPERSAMPLE) / size
            y = (py + (sy + 0.5) / SUPERSAMPLE) / size
            if inside_disc(x, y):
                disc += 1
                if inside_speaker(x, y) or inside_waves(x, y):
                    white += 1
    total = SUPERSAMPLE * SUPERSAMPLE
    if disc == 0:
        return (0, 0, 0, 0)
    share = white / disc
    rgb = [round(b + (w - b) * share) for b, w in zip(BLUE, WHITE)]
    return (rgb[2], rgb[1], rgb[0], round(255 * disc / total))


def image(size):
    """A 32-bit DIB as an icon stores it: header, bottom-up pixels, then the AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = []
    mask_rows = []
    mask_stride = ((size + 31) // 32) * 4
    for py in reversed(range(size)):
        pixels = [pixel(size, px, py) for px in range(size)]
        rows.append(b"".join(struct.pack("<BBBB", *p) for p in pixels))
        bits = bytearray(mask_stride)
        for px, p in enumerate(pixels):
            if p[3] == 0:
                bits[px // 8] |= 0x80 >> (px % 8)
        mask_rows.append(bytes(bits))
    return header + b"".join(rows) + b"".join(mask_rows)


def main(argv):
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    images = [image(size) for size in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(argv[1], "wb") as f:
        f.write(out + b"".join(images))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
