#!/usr/bin/env python3
"""Expected values for trajectory_filter_test.cpp.

Least-squares fits are solved exactly over rationals (the inputs are taken as the
doubles the test builds), so the numbers do not share any rounding with the filter.
Which samples take part and which degree is reached is worked out by hand in the test's
comments; the asserts below check the thresholds those hand derivations rely on.
Run: python3 filter_expected.py
"""
from fractions import Fraction as F
import math

MIN_SAMPLES = [1, 2, 3, 5, 7, 10, 14, 19, 25]
GOAL = F(0.001)


def solve(a, b):
    """Exact Gauss-Jordan with row pivoting on rationals."""
    n = len(a)
    m = [row[:] + [b[i]] for i, row in enumerate(a)]
    for col in range(n):
        piv = next(r for r in range(col, n) if m[r][col] != 0)
        m[col], m[piv] = m[piv], m[col]
        m[col] = [v / m[col][col] for v in m[col]]
        for r in range(n):
            if r != col and m[r][col] != 0:
                f = m[r][col]
                m[r] = [v - f * w for v, w in zip(m[r], m[col])]
    return [m[i][n] for i in range(n)]


def lsq(ts, vs, d):
    a = [[sum(t ** (i + k) for t in ts) for k in range(d + 1)] for i in range(d + 1)]
    b = [sum(v * t ** i for t, v in zip(ts, vs)) for i in range(d + 1)]
    return solve(a, b)


def ev(c, t):
    return sum(ck * F(t) ** k for k, ck in enumerate(c))


def fit(samples, d):
    """samples: (t, x, y, size). Returns coefficient lists and the exact squared residual."""
    ts = [F(s[0]) for s in samples]
    cs = [lsq(ts, [F(s[i]) for s in samples], d) for i in (1, 2, 3)]
    e = [(ev(cs[0], s[0]) - F(s[1])) ** 2 + (ev(cs[1], s[0]) - F(s[2])) ** 2 for s in samples]
    n = len(samples)
    r2 = (sum(e) - max(e)) / (n - 1 if n >= 2 else n)
    return cs, r2


def progression(samples, limit):
    """Degrees 0 and 1, then on while the residual stays above the goal; returns the
    coefficients after the first stage, the final ones and the last degree fitted."""
    degree, r2, cs = 0, None, None
    while degree <= 1 and MIN_SAMPLES[degree] <= limit:
        cs, r2 = check(fit(samples, degree))
        degree += 1
        if r2 <= GOAL * GOAL:
            break
    stage_one = cs
    while degree <= 8 and MIN_SAMPLES[degree] <= limit and r2 > GOAL * GOAL:
        cs, r2 = check(fit(samples, degree))
        degree += 1
    return stage_one, cs, degree - 1


def check(result):
    # keep clear of the threshold, so that rounding cannot change the degree
    assert result[1] == 0 or abs(math.sqrt(result[1]) - 0.001) > 1e-6
    return result


def show(name, value):
    print(f"{name} = {float(value):.17g}")


def still(points):
    """points: (t, x, y) of the valid entries in -2..2; the freeze test as the filter does it."""
    st = sum(F(p[0]) for p in points)
    sx = sum(F(p[1]) for p in points)
    sy = sum(F(p[2]) for p in points)
    stt = sum(F(p[0]) ** 2 for p in points)
    stx = sum(F(p[0]) * F(p[1]) for p in points)
    sty = sum(F(p[0]) * F(p[2]) for p in points)
    q = st * st - stt
    slx, sly = (st * sx - stx) / q, (st * sy - sty) / q
    bx = max(max(F(p[1]) for p in points), F(0)) - min(min(F(p[1]) for p in points), F(1))
    by = max(max(F(p[2]) for p in points), F(0)) - min(min(F(p[2]) for p in points), F(1))
    return len(points) > 2 and bx * bx + by * by < F(0.00001) and slx * slx + sly * sly < F(0.000005)


print("# FitPolynomial: line with an outlier at t = 2, degree 1")
outlier = [(t, 0.1 + 0.2 * t + (0.5 if t == 2 else 0.0), 0.25 - 0.125 * t, 1.0) for t in range(5)]
cs, r2 = fit(outlier, 1)
show("cx0", cs[0][0]); show("cx1", cs[0][1]); show("residual", math.sqrt(r2))
e = [(ev(cs[0], s[0]) - F(s[1])) ** 2 + (ev(cs[1], s[0]) - F(s[2])) ** 2 for s in outlier]
show("residual over all samples (wrong)", math.sqrt(sum(e) / 4))

print("# FitPolynomial: column exchange, PowerSum 1 2 4 9 20")
m = [[F(v) for v in row] for row in ([1, 2, 4], [2, 4, 9], [4, 9, 20])]
for name, rhs in (("x", [1, 2, 3]), ("y", [0, 1, 0]), ("size", [5, -1, 2])):
    print(name, [str(v) for v in solve(m, [F(v) for v in rhs])])

print("# FilterTrack: quadratic track, samples t = -3..2")
quad = [(t, 0.5 + 0.01 * t + 0.004 * t * t, 0.4 - 0.005 * t + 0.002 * t * t, 0.02 + 0.0005 * t) for t in range(-3, 3)]
one, final, degree = progression(quad, 6)
assert degree == 2
for i, name in enumerate(("x", "y", "size")):
    show("reference " + name, ev(one[i], 3))
    show("result " + name, final[i][0])

print("# FilterTrack: cubic with held points, samples t = -2, 0, 1, 2, limit 4")
def cubic(t):
    return (t, 0.5 + 0.01 * t + 0.003 * t ** 3, 0.4 + 0.005 * t - 0.002 * t ** 3, 0.02)
guard = [cubic(t) for t in (-2, 0, 1, 2)]
one, final, degree = progression(guard, 4)
assert degree == 2
assert fit(guard, 2)[1] > GOAL * GOAL  # a degree-3 fit would have been tried with 6 counted
for i, name in enumerate(("x", "y", "size")):
    show("reference " + name, ev(one[i], 3))
    show("result " + name, final[i][0])

print("# FilterTrack: stillness")
jx = [0.0004, -0.0003, 0.0002, 0.0005, -0.0002]
jy = [-0.0001, 0.0003, 0.0, -0.0002, 0.0004]
def window(scale, ts):
    return [(t, 0.5 + scale * jx[t + 2], 0.3 + jy[t + 2], 0.02) for t in ts]
assert still([s[:3] for s in window(1, range(-2, 3))])
cases = (
    ("wide box", window(5, range(-2, 3)), window(5, range(-2, 3)), 5, True),
    ("previous held", window(1, (-2, 0, 1, 2)), window(1, range(-2, 3)), 4, False),
    ("newest missing", window(1, range(-2, 2)), window(1, range(-2, 2)), 4, True),
)
for name, samples, valid, limit, previous_measured in cases:
    assert not (still([s[:3] for s in valid]) and previous_measured), name
    _, final, degree = progression(samples, limit)
    print(name, "degree", degree)
    show("  x", final[0][0]); show("  y", final[1][0]); show("  size", final[2][0])

print("# FilterTrack: size repair, samples t = 0..2")
repair = (
    ("grows", [(0, 0.501, 0.5, 0.02), (1, 0.501, 0.5, 0.02), (2, 0.502, 0.5, 0.02)]),
    ("shrinks", [(0, 0.5, 0.5, 0.02), (1, 0.5, 0.5, 0.02), (2, 0.5, 0.5, 0.02)]),
    ("ratio too small", [(0, 0.5, 0.5, 0.01), (1, 0.501, 0.5, 0.014), (2, 0.502, 0.5, 0.014)]),
    ("too far", [(0, 0.5, 0.5, 0.01), (1, 0.55, 0.5, 0.02), (2, 0.6, 0.5, 0.02)]),
)
for name, samples in repair:
    _, final, degree = progression(samples, 3)
    print(name, "degree", degree)
    show("  x", final[0][0]); show("  y", final[1][0]); show("  size", final[2][0])
