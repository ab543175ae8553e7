#!/usr/bin/env python3
"""Draws KavCpl's icon, bitmaps and cursors into this folder.

The list images and the cursors are drawn here pixel by pixel: the list images are keyed
by a mask colour, so they must have hard edges (a smoothed edge would blend into the key
colour and show a fringe). The icon and the logo are drawn as SVG and rasterised with
rsvg-convert; ImageMagick's convert packs them into .ico and .bmp.

Run it after changing a drawing and commit what it writes:
    python3 make_resources.py
"""
import math
import os
import struct
import subprocess
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))

MAGENTA = (255, 0, 255)
BLACK = (0, 0, 0)

# List images: 72 x 58 pixels.
LIST_WIDTH, LIST_HEIGHT = 72, 58


def write_bmp8(path, pixels, width, height):
    """An 8-bit palette BMP, rows stored bottom-up and padded to four bytes."""
    palette = sorted({pixels[y][x] for y in range(height) for x in range(width)})
    assert len(palette) <= 256
    index = {colour: i for i, colour in enumerate(palette)}
    stride = (width + 3) & ~3
    rows = b"".join(
        bytes(index[pixels[y][x]] for x in range(width)) + b"\0" * (stride - width)
        for y in reversed(range(height)))
    palette_bytes = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    palette_bytes += b"\0" * (4 * (256 - len(palette)))
    offset = 14 + 40 + len(palette_bytes)
    header = struct.pack("<2sIHHI", b"BM", offset + len(rows), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, len(rows), 2835, 2835, 256, 0)
    with open(path, "wb") as out:
        out.write(header + info + palette_bytes + rows)


def blank(width, height, colour):
    return [[colour] * width for _ in range(height)]


def fill_rect(pixels, left, top, right, bottom, colour):
    for y in range(top, bottom):
        for x in range(left, right):
            pixels[y][x] = colour


def draw_monitor(pixels):
    """A flat-panel monitor on a stand; no pure black or magenta in it."""
    frame = (64, 64, 72)
    glass = (120, 170, 225)
    shine = (170, 205, 240)
    fill_rect(pixels, 4, 3, 68, 45, frame)
    fill_rect(pixels, 8, 7, 64, 41, glass)
    for i in range(18):  # a diagonal highlight across the glass
        fill_rect(pixels, 10 + i, 9 + i // 2, 12 + i, 10 + i // 2, shine)
    fill_rect(pixels, 31, 45, 41, 50, frame)
    fill_rect(pixels, 22, 50, 50, 54, frame)


def draw_prohibition(pixels, cx, cy, outer, inner, colour):
    for y in range(LIST_HEIGHT):
        for x in range(LIST_WIDTH):
            dx, dy = x + 0.5 - cx, y + 0.5 - cy
            distance = math.hypot(dx, dy)
            # The bar runs from top left to bottom right inside the ring.
            on_bar = distance < inner and abs(dx - dy) / math.sqrt(2) < 2.6
            if inner <= distance < outer or on_bar:
                pixels[y][x] = colour
            elif distance < inner:
                pixels[y][x] = (255, 255, 255)


def draw_check(pixels, colour):
    white = (255, 255, 255)
    fill_circle(pixels, 50, 36, 15, white)
    fill_circle(pixels, 50, 36, 13, colour)
    for a, b, width in (((41, 36), (47, 43), 2.4), ((47, 43), (58, 29), 2.4)):
        draw_line(pixels, a, b, width, white)


def fill_circle(pixels, cx, cy, radius, colour):
    for y in range(LIST_HEIGHT):
        for x in range(LIST_WIDTH):
            if math.hypot(x + 0.5 - cx, y + 0.5 - cy) < radius:
                pixels[y][x] = colour


def draw_line(pixels, a, b, half_width, colour):
    (ax, ay), (bx, by) = a, b
    length2 = (bx - ax) ** 2 + (by - ay) ** 2
    for y in range(LIST_HEIGHT):
        for x in range(LIST_WIDTH):
            px, py = x + 0.5, y + 0.5
            t = max(0.0, min(1.0, ((px - ax) * (bx - ax) + (py - ay) * (by - ay)) / length2))
            if math.hypot(px - (ax + t * (bx - ax)), py - (ay + t * (by - ay))) < half_width:
                pixels[y][x] = colour


def list_images():
    uncalibrated = blank(LIST_WIDTH, LIST_HEIGHT, MAGENTA)
    draw_monitor(uncalibrated)
    draw_prohibition(uncalibrated, 50, 36, 15, 11, (215, 30, 30))
    write_bmp8(os.path.join(HERE, "screen_uncalibrated.bmp"), uncalibrated, LIST_WIDTH, LIST_HEIGHT)

    calibrated = blank(LIST_WIDTH, LIST_HEIGHT, BLACK)
    draw_monitor(calibrated)
    draw_check(calibrated, (30, 160, 60))
    write_bmp8(os.path.join(HERE, "screen_calibrated.bmp"), calibrated, LIST_WIDTH, LIST_HEIGHT)


# Cursors: 32 x 32, monochrome. B black, W white, anything else transparent.
ARROW = """
B
BB
BWB
BWWB
BWWWB
BWWWWB
BWWWWWB
BWWWWWWB
BWWWWWWWB
BWWWWWWWWB
BWWWWWWWWWB
BWWWWWWBBBBB
BWWWBWWB
BWWBBWWB
BWB  BWWB
BB   BWWB
B     BWWB
      BWWB
       BB
"""


def write_cursor(path, shape, hotspot):
    """A .cur file with one 32 x 32 monochrome image: XOR mask, then AND mask."""
    size = 32
    xor_rows, and_rows = [], []
    lines = shape.strip("\n").split("\n") if shape else []
    for y in reversed(range(size)):  # bottom-up
        xor_bits, and_bits = 0, 0
        for x in range(size):
            # The drawing starts at the hot spot, so the arrow's tip is the hot spot.
            sy, sx = y - hotspot[1], x - hotspot[0]
            pixel = lines[sy][sx] if 0 <= sy < len(lines) and 0 <= sx < len(lines[sy]) else " "
            xor_bits = (xor_bits << 1) | (pixel == "W")
            and_bits = (and_bits << 1) | (pixel not in "BW")
        xor_rows.append(struct.pack(">I", xor_bits))
        and_rows.append(struct.pack(">I", and_bits))
    info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 1, 0, 0, 0, 0, 2, 0)
    palette = bytes((0, 0, 0, 0, 255, 255, 255, 0))
    image = info + palette + b"".join(xor_rows) + b"".join(and_rows)
    directory = struct.pack("<HHH", 0, 2, 1)
    entry = struct.pack("<BBBBHHII", size, size, 2, 0, hotspot[0], hotspot[1], len(image), 6 + 16)
    with open(path, "wb") as out:
        out.write(directory + entry + image)


ICON_SVG = """<svg xmlns="http://www.w3.org/2000/svg" width="{size}" height="{size}" viewBox="0 0 48 48">
  <rect x="3" y="5" width="42" height="30" rx="3" fill="#3a4250"/>
  <rect x="6" y="8" width="36" height="24" fill="#4f9be8"/>
  <rect x="19" y="35" width="10" height="5" fill="#3a4250"/>
  <rect x="13" y="40" width="22" height="4" rx="1.5" fill="#3a4250"/>
  <circle cx="24" cy="20" r="8" fill="none" stroke="#ffffff" stroke-width="2.5"/>
  <path d="M24 9 V31 M13 20 H35" stroke="#ffffff" stroke-width="2"/>
  <circle cx="24" cy="20" r="2.5" fill="#ff5a36"/>
</svg>"""

LOGO_SVG = """<svg xmlns="http://www.w3.org/2000/svg" width="400" height="48" viewBox="0 0 400 48">
  <rect width="400" height="48" fill="#ffffff"/>
  <rect x="0" y="42" width="400" height="6" fill="#2f6fba"/>
  <rect x="2" y="4" width="44" height="32" rx="4" fill="#2f6fba"/>
  <circle cx="24" cy="20" r="9" fill="none" stroke="#ffffff" stroke-width="3"/>
  <circle cx="24" cy="20" r="3" fill="#ffffff"/>
  <text x="56" y="31" font-family="DejaVu Sans" font-weight="bold" font-size="28" fill="#2f6fba">Kav</text>
  <text x="124" y="31" font-family="DejaVu Sans" font-size="22" fill="#3a4250">Infrared Touch Screen</text>
</svg>"""


def rasterise(svg, png, size=None):
    with tempfile.NamedTemporaryFile("w", suffix=".svg", delete=False) as source:
        source.write(svg)
    try:
        command = ["rsvg-convert", "-o", png, source.name]
        if size:
            command[1:1] = ["-w", str(size), "-h", str(size)]
        subprocess.run(command, check=True)
    finally:
        os.unlink(source.name)


def icon_and_logo():
    with tempfile.TemporaryDirectory() as work:
        sizes = (16, 32, 48)
        pngs = []
        for size in sizes:
            png = os.path.join(work, f"icon{size}.png")
            rasterise(ICON_SVG.format(size=size), png, size)
            pngs.append(png)
        subprocess.run(["convert", *pngs, os.path.join(HERE, "KavCpl.ico")], check=True)
        logo = os.path.join(work, "logo.png")
        rasterise(LOGO_SVG, logo)
        subprocess.run(["convert", logo, "-alpha", "off", "-type", "TrueColor",
                        "BMP3:" + os.path.join(HERE, "logo.bmp")], check=True)


def main():
    list_images()
    write_cursor(os.path.join(HERE, "arrow.cur"), ARROW, (1, 1))
    write_cursor(os.path.join(HERE, "blank.cur"), "", (15, 15))
    # The empty cursor file that the hidden cursor scheme names; installed as
    # %SYSTEMROOT%\Cursors\null.cur.
    write_cursor(os.path.join(HERE, "null.cur"), "", (15, 15))
    icon_and_logo()


if __name__ == "__main__":
    main()
