#!/usr/bin/env python3
"""Expected triangulation of one shadow per camera through the default camera models
(window 0..640, c1 = +1.15f for camera A and -1.15f for camera B)."""
import math
import struct


def f32(x):
    return struct.unpack('<f', struct.pack('<f', x))[0]


def angle(pixel, c1):
    u = f32(f32(pixel / 320.0) - 1.0)
    return (0.7853981633974483 + 0.0) + u * c1


def shadow(start, end, c1):
    a_s, a_e = angle(start, c1), angle(end, c1)
    a_m = angle(f32((start + end) * 0.5), c1)
    low, high = min(a_s, a_e), max(a_s, a_e)
    return low, high, a_m, high - low


span = f32(1.15)
a = shadow(300, 320, span)
b = shadow(330, 350, -span)
ta, tb = math.tan(a[2]), math.tan(b[2])
y = 1.0 / (ta + tb)
x = ta * y
sb = math.sqrt((1 - x) ** 2 + y ** 2) * math.sin(b[3] / 2)
sa = math.sqrt(x ** 2 + y ** 2) * math.sin(a[3] / 2)
size = 2 / (1 / sa + 1 / sb)
print(f"x {x!r}\ny {y!r}\nsize {size!r}")
