#!/usr/bin/env python3
"""Reference values for the calibration fit, computed apart from KavLib's code.

Python's float is an IEEE double with correctly rounded operations, so the double
arithmetic of the fit is reproduced operation for operation. Single precision is
reproduced with struct, extended precision (64-bit significand) with exact fractions
rounded after every multiplication. Next to each fitted record the script prints the
exact least-squares solution, so that the table also shows how close the stated
precisions come to the true fit.

    python3 calibration_reference.py > calibration_reference.inc

writes the table that calibration_fit_test.cpp includes. Plain python3; no numpy.
"""

import random
import struct
import sys
from fractions import Fraction

EPSILON = 2.0 ** -52
DETERMINANT_NOISE_ROUNDINGS = 64  # a determinant this close to its rounding noise is zero
SINGULAR_PIVOT_RATIO = 1e-10  # a pivot this small against its diagonal is zero
MAX_POINTS = 64


def f32(value):
    """Round a double to single precision (infinity when it does not fit)."""
    try:
        return struct.unpack("<f", struct.pack("<f", value))[0]
    except OverflowError:
        return float("inf") if value > 0 else float("-inf")


def f32_bits(value):
    return struct.unpack("<I", struct.pack("<f", value))[0]


def round_significand(value, bits=64):
    """A fraction rounded to the nearest number with a `bits`-bit significand, ties to even."""
    if value == 0:
        return Fraction(0)
    sign = -1 if value < 0 else 1
    magnitude = abs(value)
    exponent = magnitude.numerator.bit_length() - magnitude.denominator.bit_length() - bits
    while magnitude / Fraction(2) ** exponent >= 2 ** bits:
        exponent += 1
    while magnitude / Fraction(2) ** exponent < 2 ** (bits - 1):
        exponent -= 1
    scaled = magnitude / Fraction(2) ** exponent
    whole = scaled.numerator // scaled.denominator
    rest = scaled - whole
    if rest > Fraction(1, 2) or (rest == Fraction(1, 2) and whole % 2 == 1):
        whole += 1
    return sign * Fraction(whole) * Fraction(2) ** exponent


def extended_product(*factors):
    result = Fraction(1)
    for factor in factors:
        result = round_significand(result * Fraction(factor))
    return result


# ---------------------------------------------------------------- affine fit

def affine_fit(tx, ty, rx, ry):
    """(record x triple, record y triple) or None, in the stated double/single precisions."""
    n = len(tx)
    if n < 3:
        return None
    s = dict.fromkeys(["n", "y", "x", "yy", "xy", "xx", "t", "yt", "xt", "u", "yu", "xu"], 0.0)
    for i in range(n):
        x, y, t, u = float(rx[i]), float(ry[i]), float(tx[i]), float(ty[i])
        s["n"] += 1.0
        s["y"] += y
        s["x"] += x
        s["yy"] += y * y
        s["xy"] += x * y
        s["xx"] += x * x
        s["t"] += t
        s["yt"] += y * t
        s["xt"] += x * t
        s["u"] += u
        s["yu"] += y * u
        s["xu"] += x * u
    a = [[s["n"], s["y"], s["x"]], [s["y"], s["yy"], s["xy"]], [s["x"], s["xy"], s["xx"]]]
    terms = [a[0][0] * a[1][1] * a[2][2], a[0][1] * a[1][2] * a[2][0], a[0][2] * a[1][0] * a[2][1],
             a[0][0] * a[1][2] * a[2][1], a[0][1] * a[1][0] * a[2][2], a[0][2] * a[1][1] * a[2][0]]
    det = terms[0] + terms[1] + terms[2] - terms[3] - terms[4] - terms[5]
    magnitude = 0.0
    for term in terms:
        magnitude += abs(term)
    if det == 0 or abs(det) <= DETERMINANT_NOISE_ROUNDINGS * EPSILON * magnitude:
        return None

    def minor(r0, r1, c0, c1):
        return a[r0][c0] * a[r1][c1] - a[r0][c1] * a[r1][c0]

    # Cofactor C[i][j] written as the 2x2 determinant that keeps the cyclic sign.
    cof = [[minor(1, 2, 1, 2), a[1][2] * a[2][0] - a[1][0] * a[2][2], minor(1, 2, 0, 1)],
           [a[0][2] * a[2][1] - a[0][1] * a[2][2], a[0][0] * a[2][2] - a[0][2] * a[2][0],
            a[0][1] * a[2][0] - a[0][0] * a[2][1]],
           [a[0][1] * a[1][2] - a[0][2] * a[1][1], a[0][2] * a[1][0] - a[0][0] * a[1][2], minor(0, 1, 0, 1)]]
    inv = [[cof[j][i] / det for j in range(3)] for i in range(3)]

    def side(b):
        f = []
        for i in range(3):
            total = 0.0
            for j in range(3):
                total = f32(total + f32(inv[i][j] * b[j]))
            f.append(total)
        return [f[1], f[2], f[0]]

    fx = side([s["t"], s["yt"], s["xt"]])
    fy = side([s["u"], s["yu"], s["xu"]])
    if any(v != v or v in (float("inf"), float("-inf")) for v in fx + fy):
        return None
    return fx, fy


# ---------------------------------------------------------------- cubic fit

BASIS = [(0, 0), (0, 1), (0, 2), (0, 3), (1, 0), (1, 1), (1, 2), (2, 0), (2, 1), (3, 0)]  # (x power, y power)
DRIVER_ORDER = [(0, 3), (1, 2), (2, 1), (3, 0), (0, 2), (1, 1), (2, 0), (0, 1), (1, 0), (0, 0)]


def cubic_fit(tx, ty, rx, ry):
    n = len(tx)
    if n < 10:
        return None
    moments = {}
    bx = [0.0] * 10
    by = [0.0] * 10
    for i in range(n):
        x, y = f32(float(rx[i])), f32(float(ry[i]))
        xp = [Fraction(1)]
        yp = [Fraction(1)]
        for _ in range(6):
            xp.append(round_significand(xp[-1] * Fraction(x)))
            yp.append(round_significand(yp[-1] * Fraction(y)))
        for p in range(7):
            for q in range(7 - p):
                moments[(p, q)] = moments.get((p, q), 0.0) + float(round_significand(xp[p] * yp[q]))
        for r, (p, q) in enumerate(BASIS):
            term = round_significand(xp[p] * yp[q])
            bx[r] += float(round_significand(term * tx[i]))
            by[r] += float(round_significand(term * ty[i]))
    a = [[moments[(p + pc, q + qc)] for (pc, qc) in BASIS] for (p, q) in BASIS]
    scale = [abs(a[k][k]) for k in range(10)]
    for k in range(10):
        noise = SINGULAR_PIVOT_RATIO * scale[k]
        p = k
        while p < 10 and (a[p][k] == 0 or abs(a[p][k]) <= noise):
            p += 1
        if p == 10:
            return None
        a[p], a[k] = a[k], a[p]
        bx[p], bx[k] = bx[k], bx[p]
        by[p], by[k] = by[k], by[p]
        for r in range(10):
            if r == k:
                continue
            m = a[r][k] / a[k][k]
            a[r][k] = 0.0
            for c in range(k + 1, 10):
                a[r][c] -= m * a[k][c]
            bx[r] -= m * bx[k]
            by[r] -= m * by[k]
    sx = {BASIS[k]: f32(bx[k] / a[k][k]) for k in range(10)}
    sy = {BASIS[k]: f32(by[k] / a[k][k]) for k in range(10)}
    fx = [sx[m] for m in DRIVER_ORDER]
    fy = [sy[m] for m in DRIVER_ORDER]
    if any(v != v or v in (float("inf"), float("-inf")) for v in fx + fy):
        return None
    return fx, fy


# ---------------------------------------------------------------- exact least squares

def exact_least_squares(tx, ty, rx, ry, basis):
    """The true least-squares coefficients in rationals, or None when singular."""
    size = len(basis)
    rows = [[Fraction(rx[i]) ** p * Fraction(ry[i]) ** q for (p, q) in basis] for i in range(len(tx))]
    a = [[sum(row[r] * row[c] for row in rows) for c in range(size)] for r in range(size)]
    b = [[sum(rows[i][r] * t[i] for i in range(len(tx))) for r in range(size)] for t in (tx, ty)]
    for k in range(size):
        p = next((p for p in range(k, size) if a[p][k] != 0), None)
        if p is None:
            return None
        a[p], a[k] = a[k], a[p]
        for side in b:
            side[p], side[k] = side[k], side[p]
        for r in range(size):
            if r != k and a[r][k] != 0:
                m = a[r][k] / a[k][k]
                a[r] = [a[r][c] - m * a[k][c] for c in range(size)]
                for side in b:
                    side[r] -= m * side[k]
    return [[side[k] / a[k][k] for k in range(size)] for side in b]


# ---------------------------------------------------------------- cases

def grid(s):
    """KavCalib's target grid of s x s points, 1/16 to 15/16 of the screen, rows from the top."""
    d = 28672 // (s - 1)
    return [(2048 + c * d, 2048 + r * d) for r in range(s) for c in range(s)]


def distorted(points, seed):
    """Raw positions of a screen whose cameras are a little off: a mild non-linear map."""
    rng = random.Random(seed)
    raw = []
    for (x, y) in points:
        u, v = x / 32768 - 0.5, y / 32768 - 0.5
        rx = 16384 + 30500 * u + 900 * u * v + 1400 * u * u - 600 * v * v * u + 250 + rng.randint(-4, 4)
        ry = 16384 + 31200 * v - 700 * u * v + 800 * v * v * v + 500 * u * u - 180 + rng.randint(-4, 4)
        raw.append((int(rx), int(ry)))
    return raw


def cubic_targets(raw, cx, cy):
    """Integer targets that are an exact cubic of the raw points."""
    def value(c, x, y):
        terms = [y ** 3, x * y * y, x * x * y, x ** 3, y * y, x * y, x * x, y, x, 1]
        return sum(Fraction(ci) * t for ci, t in zip(c, terms))
    tx, ty = [], []
    for (x, y) in raw:
        vx, vy = value(cx, x, y), value(cy, x, y)
        assert vx.denominator == 1 and vy.denominator == 1, "choose coefficients that give integers"
        tx.append(int(vx))
        ty.append(int(vy))
    return tx, ty


def cases():
    out = []
    corners = [(2048, 2048), (30720, 2048), (2048, 30720), (30720, 30720)]
    out.append(("corners, targets equal raw", False, corners, corners))

    targets4 = grid(2)
    out.append(("4-point grid of a distorted screen", False, targets4, distorted(targets4, 4)))
    targets25 = grid(5)
    raw25 = distorted(targets25, 25)
    out.append(("25-point grid of a distorted screen, cubic", True, targets25, raw25))
    out.append(("25-point grid of a distorted screen, affine", False, targets25, raw25))

    # A cubic with dyadic coefficients: exact in single precision, integer on the grid.
    raw_grid = [(4096 + 6144 * c, 4096 + 6144 * r) for r in range(5) for c in range(5)]
    cx = [Fraction(1, 2 ** 30), Fraction(-3, 2 ** 31), Fraction(1, 2 ** 29), Fraction(5, 2 ** 32),
          Fraction(1, 2 ** 14), Fraction(-1, 2 ** 15), Fraction(3, 2 ** 16), Fraction(1, 8), Fraction(1), 512]
    cy = [Fraction(-1, 2 ** 31), Fraction(1, 2 ** 30), Fraction(1, 2 ** 32), Fraction(-1, 2 ** 30),
          Fraction(3, 2 ** 15), Fraction(1, 2 ** 14), Fraction(-1, 2 ** 16), Fraction(1), Fraction(-1, 4), -256]
    tx, ty = cubic_targets(raw_grid, cx, cy)
    out.append(("targets a cubic of raw on a 5 x 5 grid", True, list(zip(tx, ty)), raw_grid, (cx, cy)))

    rng = random.Random(64)
    raw64 = [(rng.randint(0, 32767), rng.randint(0, 32767)) for _ in range(64)]
    t64 = [(min(32768, max(0, x + rng.randint(-300, 300))), min(32768, max(0, y + rng.randint(-300, 300))))
           for (x, y) in raw64]
    out.append(("64 scattered points, cubic", True, t64, raw64))
    out.append(("64 scattered points, affine", False, t64, raw64))

    # Collinear: exact arithmetic gives det 0; with raw coordinates this large the
    # double products do not cancel exactly.
    line = [(30000 - 9999 * k, 100 + 13331 * k) for k in range(3)]
    out.append(("three collinear points, large coordinates", False, line, line))
    line12 = [(1000 + 2500 * k, 30000 - 2300 * k) for k in range(12)]
    out.append(("twelve collinear points, cubic", True, line12, line12))
    # Three rows of points: no cubic in y can be told from a quadratic.
    rows3 = [(2048 + 4096 * c, 8192 * r + 4096) for r in range(3) for c in range(5)]
    out.append(("three rows, cubic", True, rows3, rows3))
    return out


def main():
    w = sys.stdout.write
    w("// Generated by calibration_reference.py (python3 calibration_reference.py > calibration_reference.inc).\n")
    w("// Each row: name, cubic flag, points (target x, target y, raw x, raw y), whether the fit\n")
    w("// succeeds, and the single-precision bits of records X and Y (ten coefficients each;\n")
    w("// the affine fit fills the first three). The comment after a row gives the exact\n")
    w("// least-squares solution for comparison.\n")
    for case in cases():
        name, cubic, targets, raw = case[:4]
        tx = [t[0] for t in targets]
        ty = [t[1] for t in targets]
        rx = [r[0] for r in raw]
        ry = [r[1] for r in raw]
        fit = (cubic_fit if cubic else affine_fit)(tx, ty, rx, ry)
        xs = ys = [0.0] * 10
        if fit is not None:
            xs = fit[0] + [0.0] * (10 - len(fit[0]))
            ys = fit[1] + [0.0] * (10 - len(fit[1]))
        w("{\"%s\", %s, {" % (name, "true" if cubic else "false"))
        w(", ".join("{%d, %d, %d, %d}" % (tx[i], ty[i], rx[i], ry[i]) for i in range(len(tx))))
        w("}, %s,\n {" % ("true" if fit is not None else "false"))
        w(", ".join("0x%08X" % f32_bits(v) for v in xs))
        w("},\n {")
        w(", ".join("0x%08X" % f32_bits(v) for v in ys))
        w("}},\n")
        basis = DRIVER_ORDER if cubic else [(0, 1), (1, 0), (0, 0)]
        exact = exact_least_squares(tx, ty, rx, ry, basis)
        if exact is None:
            w("// exact: singular\n")
        else:
            for label, values, got in (("x", exact[0], xs), ("y", exact[1], ys)):
                w("// exact %s: %s\n" % (label, " ".join("%.9g" % float(v) for v in values)))
                w("//   fit %s: %s\n" % (label, " ".join("%.9g" % v for v in got[:len(values)])))
        if len(case) > 4:
            for label, coefficients in zip("xy", case[4]):
                w("// chosen %s: %s\n" % (label, " ".join("%.9g" % float(c) for c in coefficients)))


if __name__ == "__main__":
    main()
