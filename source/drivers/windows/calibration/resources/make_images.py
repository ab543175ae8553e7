#!/usr/bin/env python3
"""Draws KavCalib's three pictures into this folder, as SVG rasterised with rsvg-convert.

The build copies them into both language folders; they carry no text, so one set serves
every language. They keep their alpha: the window draws them with GDI+ at their natural
size over its white client area.

Run it after changing a drawing and commit what it writes:
    python3 make_images.py
"""
import os
import subprocess
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))

# A faint sheet behind the targets: 640 x 400, a quadrant of a 1280 x 800 screen. Fine grid
# lines fade toward the middle, where the status text and the buttons stand on white.
BACKGROUND_W, BACKGROUND_H = 640, 400


def background_svg():
    lines = []
    for x in range(0, BACKGROUND_W + 1, 40):
        lines.append(f'<line x1="{x}" y1="0" x2="{x}" y2="{BACKGROUND_H}"/>')
    for y in range(0, BACKGROUND_H + 1, 40):
        lines.append(f'<line x1="0" y1="{y}" x2="{BACKGROUND_W}" y2="{y}"/>')
    return f'''<svg xmlns="http://www.w3.org/2000/svg" width="{BACKGROUND_W}" height="{BACKGROUND_H}">
  <defs>
    <radialGradient id="fade" cx="50%" cy="50%" r="60%">
      <stop offset="0.35" stop-color="#ffffff" stop-opacity="1"/>
      <stop offset="1" stop-color="#ffffff" stop-opacity="0"/>
    </radialGradient>
  </defs>
  <rect width="100%" height="100%" fill="#f4f8fc"/>
  <g stroke="#c9dbee" stroke-width="1">{"".join(lines)}</g>
  <rect width="100%" height="100%" fill="url(#fade)"/>
  <rect x="0.5" y="0.5" width="{BACKGROUND_W - 1}" height="{BACKGROUND_H - 1}" fill="none"
        stroke="#9bbbe0" stroke-width="1"/>
</svg>'''


# The target: 48 x 48, red rings and a black cross whose centre is the pixel to touch.
TARGET = 48


def target_svg():
    c = TARGET / 2
    return f'''<svg xmlns="http://www.w3.org/2000/svg" width="{TARGET}" height="{TARGET}">
  <circle cx="{c}" cy="{c}" r="21" fill="#ffffff" fill-opacity="0.85" stroke="#d0312d" stroke-width="2.5"/>
  <circle cx="{c}" cy="{c}" r="13" fill="none" stroke="#d0312d" stroke-width="2"/>
  <circle cx="{c}" cy="{c}" r="4" fill="#d0312d"/>
  <rect x="1" y="{c - 0.5}" width="{TARGET - 2}" height="1" fill="#000000"/>
  <rect x="{c - 0.5}" y="1" width="1" height="{TARGET - 2}" fill="#000000"/>
</svg>'''


# The size handle: 24 x 24, a blue disc with a white four-way arrow.
HANDLE = 24


def resizer_svg():
    c = HANDLE / 2
    arrow = (f"M{c},3 L{c + 4},8 L{c + 1.5},8 L{c + 1.5},{c - 1.5} L16,{c - 1.5} L16,{c - 4} L21,{c} "
             f"L16,{c + 4} L16,{c + 1.5} L{c + 1.5},{c + 1.5} L{c + 1.5},16 L{c + 4},16 L{c},21 "
             f"L{c - 4},16 L{c - 1.5},16 L{c - 1.5},{c + 1.5} L8,{c + 1.5} L8,{c + 4} L3,{c} "
             f"L8,{c - 4} L8,{c - 1.5} L{c - 1.5},{c - 1.5} L{c - 1.5},8 L{c - 4},8 Z")
    return f'''<svg xmlns="http://www.w3.org/2000/svg" width="{HANDLE}" height="{HANDLE}">
  <circle cx="{c}" cy="{c}" r="11.5" fill="#2f6db5"/>
  <path d="{arrow}" fill="#ffffff"/>
</svg>'''


def rasterise(svg, name):
    png = os.path.join(HERE, name)
    with tempfile.NamedTemporaryFile("w", suffix=".svg", delete=False) as source:
        source.write(svg)
    try:
        subprocess.run(["rsvg-convert", "-o", png, source.name], check=True)
        # RGBA whatever the content, without dates, so that a rerun changes nothing.
        subprocess.run(["convert", png, "-define", "png:exclude-chunks=date,time", "PNG32:" + png], check=True)
    finally:
        os.unlink(source.name)


def main():
    rasterise(background_svg(), "KavCalib_Background.png")
    rasterise(target_svg(), "KavCalib_TouchPoint.png")
    rasterise(resizer_svg(), "KavCalib_Resizer.png")


if __name__ == "__main__":
    main()
