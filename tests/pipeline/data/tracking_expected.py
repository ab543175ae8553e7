#!/usr/bin/env python3
"""Expected values for tests/pipeline/tracking_test.cpp.

Builds shadow angle records from finger positions in the triangulation plane (camera A
at (0, 0), camera B at (1, 0), angles from the baseline's perpendicular towards the other
camera) and works the tracking rules out independently. Prints the C++ constants pasted
into the test.
"""
import math
import struct


def f32(v):
    return struct.unpack("f", struct.pack("f", v))[0]


K = f32(0.1)  # NewContactDistance as the float the device keeps
EMPTY = (K + 200.0) / 2.0


def angles_at_a(x, y, r):
    c = math.atan2(x, y)
    w = 2.0 * math.asin(r / math.hypot(x, y))
    return (c - w / 2.0, c + w / 2.0, c, w)


def angles_at_b(x, y, r):
    c = math.atan2(1.0 - x, y)
    w = 2.0 * math.asin(r / math.hypot(1.0 - x, y))
    return (c - w / 2.0, c + w / 2.0, c, w)


def edges(low, high):
    return (low, high, (low + high) / 2.0, high - low)


def tri(a, b):
    ta = math.tan(a[2])
    tb = math.tan(b[2])
    y = 1.0 / (ta + tb)
    x = ta * y
    sB = math.sqrt((1.0 - x) * (1.0 - x) + y * y) * math.sin(b[3] / 2.0)
    sA = math.sqrt(x * x + y * y) * math.sin(a[3] / 2.0)
    size = 2.0 / (1.0 / sA + 1.0 / sB)
    mismatch = abs(math.log(sB / sA))
    return (x, y, size, mismatch, 2)


def dist(p, q):
    """p, q: (x, y, state)."""
    if p[-1] == 0 and q[-1] == 0:
        return 200.0
    if (p[-1] == 0) != (q[-1] == 0):
        return EMPTY
    dx = p[0] - q[0]
    dy = p[1] - q[1]
    return math.sqrt(dx * dx + dy * dy)


def pt(p):
    return (p[0], p[1], p[4])


def turn(p, q):
    dx = p[0] - q[0]
    dy = p[1] - q[1]
    if (dx == 0 and dy == 0) or (q[0] == 0 and q[1] == 0):
        return 1.0
    if q[0] == 1 and q[1] == 0:
        return 1.0
    sA = (q[1] * dx - q[0] * dy) / math.sqrt((q[0] * q[0] + q[1] * q[1]) * (dx * dx + dy * dy))
    sB = (q[1] * dx - (q[0] - 1.0) * dy) / math.sqrt(((q[0] - 1.0) * (q[0] - 1.0) + q[1] * q[1]) * (dx * dx + dy * dy))
    return abs(sA * sB)


def gap(p0, p1, c):
    t = math.tan(c)
    h = math.tan(min(p0[1], p1[1]))
    l = math.tan(max(p0[0], p1[0]))
    return abs(l / (t + l) - h / (t + h)) / math.sin(c)


def union(p0, p1):
    return edges(min(p0[0], p1[0]), max(p0[1], p1[1]))


def angles_cpp(name, a):
    return "constexpr SHADOW_ANGLES %s = {%r, %r, %r, %r};" % ((name,) + tuple(a))


def point_cpp(name, p):
    return "constexpr TRACK_POINT %s = {%r, %r, %r, %r, %d};" % ((name,) + tuple(p))


out = []

# --- Triangulate -----------------------------------------------------------------------
sym = (math.pi / 4 - 0.01, math.pi / 4 + 0.01, math.pi / 4, 0.02)
asymA = (0.49, 0.51, 0.5, 0.02)
asymB = (0.8825, 0.9175, 0.9, 0.035)
out += [angles_cpp("kSymmetric", sym), point_cpp("kSymmetricPoint", tri(sym, sym))]
out += [angles_cpp("kAsymA", asymA), angles_cpp("kAsymB", asymB), point_cpp("kAsymPoint", tri(asymA, asymB))]

# --- One point against the references --------------------------------------------------
P1 = (0.4, 0.6)
aP1 = angles_at_a(*P1, 0.01)
bP1 = angles_at_b(*P1, 0.01)
single = tri(aP1, bP1)
out += [angles_cpp("kFingerA", aP1), angles_cpp("kFingerB", bP1), point_cpp("kFinger", single)]
refs = [  # R1, R2 as (x, y, state)
    ((0, 0, 0), (0, 0, 0)),
    ((0.41, 0.6, 1), (0, 0, 0)),
    ((0, 0, 0), (0.41, 0.6, 1)),
    ((0.6, 0.6, 1), (0, 0, 0)),  # 0.2 away, beyond the new-contact distance
    ((0.6, 0.6, 1), (0.42, 0.6, 1)),
    ((0.42, 0.6, 1), (0.6, 0.6, 1)),
    ((0.5, 0.5, 1), (0.5, 0.5, 1)),  # equal costs
]
out.append("// R1, R2, the contact that takes the point")
for r1, r2 in refs:
    p = pt(single)
    e2 = EMPTY if r2[2] != 0 else 200.0
    e1 = EMPTY if r1[2] != 0 else 200.0
    cost1 = dist(p, r1) + e2
    cost2 = dist(p, r2) + e1
    slot = 2 if cost1 > cost2 else 1
    out.append("{{%r, %r, 0, 0, %d}, {%r, %r, 0, 0, %d}, %d}," % (r1[0], r1[1], r1[2], r2[0], r2[1], r2[2], slot))

# --- Fingers on one ray: holding, then one-against-two / two-against-one ---------------
# A sees one shadow: Q lies behind P on A's ray.
P = (0.4, 0.6)
Q = (0.6, 0.9)
aRay = angles_at_a(*P, 0.01)
bP, bQ = angles_at_b(*P, 0.01), angles_at_b(*Q, 0.01)
assert bQ[2] < bP[2]
assert gap(bQ, bP, aRay[2]) > 25 / 500
first = tri(aRay, bP)
cands = [(tri(aRay, bQ), tri(aRay, bP)), (tri(aRay, bP), tri(aRay, bQ))]
costs = [dist(pt(c2), (0, 0, 0)) + dist(pt(c1), pt(first)) for c1, c2 in cands]
assert costs[1] < costs[0]
out += ["// A sees one shadow, B two", angles_cpp("kRayA", aRay), angles_cpp("kBehindB", bQ),
        angles_cpp("kFrontB", bP), point_cpp("kRayAFirst", first), point_cpp("kRayAContact1", cands[1][0]),
        point_cpp("kRayAContact2", cands[1][1])]
# B sees one shadow: Q lies behind P on B's ray.
P = (0.6, 0.5)
Q = (1 - 0.4 * 1.6, 0.8)
bRay = angles_at_b(*P, 0.01)
aP, aQ = angles_at_a(*P, 0.01), angles_at_a(*Q, 0.01)
assert aQ[2] < aP[2]
assert gap(aQ, aP, bRay[2]) > 25 / 500
first = tri(aP, bRay)
cands = [(tri(aQ, bRay), tri(aP, bRay)), (tri(aP, bRay), tri(aQ, bRay))]
costs = [dist(pt(c2), (0, 0, 0)) + dist(pt(c1), pt(first)) for c1, c2 in cands]
assert costs[1] < costs[0]
out += ["// B sees one shadow, A two", angles_cpp("kRayB", bRay), angles_cpp("kBehindA", aQ),
        angles_cpp("kFrontA", aP), point_cpp("kRayBFirst", first), point_cpp("kRayBContact1", cands[1][0]),
        point_cpp("kRayBContact2", cands[1][1])]

# --- Joining two shadows of one camera -------------------------------------------------
# Two fingers along the other camera's ray, inner edges gap_mm apart (500 mm baseline).
W = 0.03
out.append("// join cases: pair camera, gap mm, BaselineMm, ray, near, far, first frame, result, its contact, joined, first record after")
for camera, gap_mm, baseline in [("B", 20, 500.0), ("B", 30, 500.0), ("A", 20, 500.0), ("A", 30, 500.0),
                                 ("A", 24, 500.0), ("A", 26, 500.0), ("B", 300, 0.0)]:
    g = gap_mm / 500.0
    s = 0.5
    if camera == "B":
        c = 0.6
        ray = edges(c - 0.0125, c + 0.0125)
        at = lambda s: (s * math.sin(c), s * math.cos(c))
        beta = lambda p: math.atan2(1.0 - p[0], p[1])
        b1, b2 = beta(at(s)), beta(at(s + g))
        near, far = edges(b1, b1 + W), edges(b2 - W, b2)
        measured = gap(far, near, ray[2])
        first = tri(ray, near)
        joined_angles = union(far, near)
        joined_point = tri(ray, joined_angles)
    else:
        c = 0.7
        ray = edges(c - 0.0125, c + 0.0125)
        at = lambda s: (1.0 - s * math.sin(c), s * math.cos(c))
        alpha = lambda p: math.atan2(p[0], p[1])
        a1, a2 = alpha(at(s)), alpha(at(s + g))
        near, far = edges(a1, a1 + W), edges(a2 - W, a2)
        measured = gap(far, near, ray[2])
        first = tri(near, ray)
        joined_angles = union(far, near)
        joined_point = tri(joined_angles, ray)
    assert abs(measured - g) < 1e-12, (measured, g)
    threshold = math.inf if baseline == 0 else f32(f32(25.0) / f32(baseline))
    joined = measured < threshold
    result = joined_point if joined else (first[0], first[1], first[2], first[3], 1)
    # A joined point is a single point: against reference 1 (the first frame's point, held)
    # and an empty reference 2.
    slot = 1
    if joined and dist(pt(joined_point), (first[0], first[1], 1)) + 200.0 > EMPTY + EMPTY:
        slot = 2
    out.append("// %s: gap %r" % ("joined" if joined else "apart", measured))
    out.append("{'%s', %d, %r, {%r, %r, %r, %r}, {%r, %r, %r, %r}, {%r, %r, %r, %r}, {%r, %r, %r, %r, %d}, "
               "{%r, %r, %r, %r, %d}, %d, %s, {%r, %r, %r, %r}}," %
               ((camera, gap_mm, baseline) + ray + near + far + first + result + (slot, "true" if joined else "false") +
                (joined_angles if joined else far)))

zero = ((0.1, 0.2, 0.15000000000000002, 0.1), (0.3, 0.4, 0.35, 0.10000000000000003))
out.append("// union of the two records joined at c = 0: %r" % (union(*zero),))

# --- Two-by-two --------------------------------------------------------------------------
P = (0.3, 0.5)
Q = (0.7, 0.6)
aP, aQ = angles_at_a(*P, 0.01), angles_at_a(*Q, 0.01)
bP, bQ = angles_at_b(*P, 0.01), angles_at_b(*Q, 0.01)
TP, TQ, G1, G2 = tri(aP, bP), tri(aQ, bQ), tri(aP, bQ), tri(aQ, bP)
out += ["// two fingers", angles_cpp("kPA", aP), angles_cpp("kQA", aQ), angles_cpp("kPB", bP), angles_cpp("kQB", bQ),
        point_cpp("kP", TP), point_cpp("kQ", TQ), point_cpp("kGhostPQ", G1), point_cpp("kGhostQP", G2)]
names = {TP: "kP", TQ: "kQ", G1: "kGhostPQ", G2: "kGhostQP"}


def candidates(A, B):
    return [(tri(A[0], B[0]), tri(A[1], B[1])), (tri(A[0], B[1]), tri(A[1], B[0])),
            (tri(A[1], B[0]), tri(A[0], B[1])), (tri(A[1], B[1]), tri(A[0], B[0]))]


def first_lowest(costs):
    best, chosen = 1e6, None
    for i, c in enumerate(costs):
        if c < best:
            best, chosen = c, i
    return chosen


out.append("// by mismatch: A, B, contact 1, contact 2")
for label, A, B in [("PQ", (aP, aQ), (bP, bQ)), ("PQ/QP", (aP, aQ), (bQ, bP)), ("QP", (aQ, aP), (bQ, bP))]:
    cs = candidates(A, B)
    costs = [c2[3] + c1[3] for c1, c2 in cs]
    i = first_lowest(costs)
    out.append("// %s: sums %r -> pair %d" % (label, costs, i + 1))
    out.append("{%s, %s}," % (names[cs[i][0]], names[cs[i][1]]))

out.append("// against references (Raw = kP, kQ): TwoAgainstOne, R1, R2, contact 1, contact 2")
reference_cases = []
# A fraction f of the way from the fingers to the ghosts.
for f, tao in [(0.55, 0), (0.55, 1), (0.8, 1)]:
    R1 = (TP[0] + f * (G1[0] - TP[0]), TP[1] + f * (G1[1] - TP[1]), 1)
    R2 = (TQ[0] + f * (G2[0] - TQ[0]), TQ[1] + f * (G2[1] - TQ[1]), 1)
    reference_cases.append((tao, R1, R2))
reference_cases.append((0, (0.46, 0.4, 1), (0.54, 0.9, 1)))  # near the ghosts, swapped
reference_cases.append((0, (0.69, 0.61, 1), (0.31, 0.49, 1)))  # near the fingers, swapped
reference_cases.append((1, (0.69, 0.61, 1), (0.31, 0.49, 1)))
for tao, R1, R2 in reference_cases:
    cs = candidates((aP, aQ), (bP, bQ))
    costs = [dist(pt(c2), R2) + dist(pt(c1), R1) for c1, c2 in cs]
    if tao != 1:
        i = first_lowest(costs)
        values = None
    else:
        best, tv, i = 1e6, 0.0, None
        values = [turn(c2, TQ) + turn(c1, TP) for c1, c2 in cs]
        for j, (cost, v) in enumerate(zip(costs, values)):
            if cost < best / 2:
                best, tv, i = cost, v, j
            elif cost / 2 < best and v > tv:
                best, tv, i = cost, v, j
    out.append("// costs %r turns %r -> pair %d" % (costs, values, i + 1))
    out.append("{%d, {%r, %r, 0, 0, 1}, {%r, %r, 0, 0, 1}, %s, %s}," %
               (tao, R1[0], R1[1], R2[0], R2[1], names[cs[i][0]], names[cs[i][1]]))

# --- D and TurnFactor --------------------------------------------------------------------
out.append("// D: p, q, expected")
for p, q in [((0.1, 0.2, 2), (0.4, 0.6, 2)), ((0.1, 0.2, 1), (0.4, 0.6, 2)), ((0.1, 0.2, 0), (0.4, 0.6, 2)),
             ((0.1, 0.2, 2), (0.4, 0.6, 0)), ((0.1, 0.2, 0), (0.4, 0.6, 0))]:
    out.append("{{%r, %r, 0, 0, %d}, {%r, %r, 0, 0, %d}, %r}," % (p + q + (dist(p, q),)))
out.append("// TurnFactor: p, q, expected")
for p, q in [((0.6, 0.5), (0.5, 0.5)), ((0.4, 0.8), (0.3, 0.6)), ((0.5, 0.7), (0.3, 0.4)), ((0.2, 0.3), (0.2, 0.3)),
             ((0.2, 0.3), (0.0, 0.0)), ((0.2, 0.3), (1.0, 0.0))]:
    out.append("{{%r, %r, 0, 0, 2}, {%r, %r, 0, 0, 1}, %r}," % (p + q + (turn(p, q),)))

print("\n".join(out))
