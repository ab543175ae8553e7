#include "tracking.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace kav {
namespace {

constexpr double kMissingDistance = 200.0;
constexpr double kNoPair = 1000000.0;
constexpr float kJoinDistanceMm = 25.0f;
constexpr std::int32_t kHoldLost = 4;
constexpr std::int32_t kHoldUnresolved = 5;

TRACK_POINT InvalidPoint() {
    TRACK_POINT p;
    std::memset(&p, 0, sizeof(p));
    return p;
}

TRACK_PAIR InvalidPair() {
    TRACK_PAIR pair;
    std::memset(&pair, 0, sizeof(pair));
    return pair;
}

bool Valid(const TRACK_POINT& p) {
    return p.state != kPointInvalid;
}

TRACK_PAIR MakePair(const TRACK_POINT& c1, const TRACK_POINT& c2) {
    TRACK_PAIR pair;
    pair.Contact[0] = c1;
    pair.Contact[1] = c2;
    return pair;
}

// The last pair again, marked held, for at most `frames` frames in a row.
TRACK_PAIR Hold(TRIANGULATION* t, std::int32_t frames) {
    if (t->HoldCounter >= frames) return InvalidPair();
    TRACK_PAIR held = MakePair(t->Raw[0], t->Raw[1]);
    for (TRACK_POINT& p : held.Contact) {
        if (p.state != kPointInvalid) p.state = kPointHeld;
    }
    ++t->HoldCounter;
    return held;
}

double NewContactDistance(const TRIANGULATION* t) {
    return static_cast<double>(t->Scale.NewContactDistance);
}

TRACK_PAIR SinglePoint(const TRIANGULATION* t, const SHADOW_ANGLES& a, const SHADOW_ANGLES& b) {
    const TRACK_POINT p = Triangulate(a, b);
    const double k = NewContactDistance(t);
    const TRACK_POINT& r1 = t->Reference[0];
    const TRACK_POINT& r2 = t->Reference[1];
    // The contact the point does not take stays empty; that costs as much as D would.
    const double empty2 = Valid(r2) ? (k + kMissingDistance) / 2.0 : kMissingDistance;
    const double empty1 = Valid(r1) ? (k + kMissingDistance) / 2.0 : kMissingDistance;
    const double cost1 = D(p, r1, k) + empty2;
    const double cost2 = D(p, r2, k) + empty1;
    if (cost1 > cost2) return MakePair(InvalidPoint(), p);
    return MakePair(p, InvalidPoint());
}

// A candidate with a point whose rays do not meet is no candidate.
bool Usable(const TRACK_PAIR& pair) {
    return Valid(pair.Contact[0]) && Valid(pair.Contact[1]);
}

double ReferenceCost(const TRIANGULATION* t, const TRACK_PAIR& pair) {
    const double k = NewContactDistance(t);
    return D(pair.Contact[1], t->Reference[1], k) + D(pair.Contact[0], t->Reference[0], k);
}

double MismatchCost(const TRACK_PAIR& pair) {
    const double m2 = pair.Contact[1].mismatch;
    const double m1 = pair.Contact[0].mismatch;
    return m2 + m1;
}

enum class Cost { kReference, kMismatch };

// The first of the cheapest candidates, if any costs less than kNoPair.
template <std::size_t N>
TRACK_PAIR Cheapest(const TRIANGULATION* t, const TRACK_PAIR (&candidates)[N], Cost kind) {
    double best = kNoPair;
    const TRACK_PAIR* chosen = nullptr;
    for (const TRACK_PAIR& c : candidates) {
        if (!Usable(c)) continue;
        const double cost = kind == Cost::kReference ? ReferenceCost(t, c) : MismatchCost(c);
        if (cost < best) {
            best = cost;
            chosen = &c;
        }
    }
    return chosen != nullptr ? *chosen : InvalidPair();
}

// A candidate at most twice as dear still wins if it turns better: a jump from the real
// points onto the ghosts runs along a camera's ray, which TurnFactor scores near 0.
TRACK_PAIR CheapestPreferringTurns(const TRIANGULATION* t, const TRACK_PAIR (&candidates)[4]) {
    double best = kNoPair;
    double turn = 0.0;
    const TRACK_PAIR* chosen = nullptr;
    for (const TRACK_PAIR& c : candidates) {
        if (!Usable(c)) continue;
        const double cost = ReferenceCost(t, c);
        const double value = TurnFactor(c.Contact[1], t->Raw[1]) + TurnFactor(c.Contact[0], t->Raw[0]);
        if (cost < best / 2.0) {
            chosen = &c;
            turn = value;
            best = cost;
        } else if (cost / 2.0 < best && value > turn) {
            chosen = &c;
            turn = value;
            best = cost;
        }
    }
    return chosen != nullptr ? *chosen : InvalidPair();
}

TRACK_PAIR OneAgainstTwo(const TRIANGULATION* t, const SHADOW_ANGLES& a, const SHADOW_ANGLES* b) {
    const TRACK_POINT p0 = Triangulate(a, b[0]);
    const TRACK_POINT p1 = Triangulate(a, b[1]);
    const TRACK_PAIR candidates[2] = {MakePair(p0, p1), MakePair(p1, p0)};
    return Cheapest(t, candidates, Cost::kReference);
}

TRACK_PAIR TwoAgainstOne(const TRIANGULATION* t, const SHADOW_ANGLES* a, const SHADOW_ANGLES& b) {
    const TRACK_POINT p0 = Triangulate(a[0], b);
    const TRACK_POINT p1 = Triangulate(a[1], b);
    const TRACK_PAIR candidates[2] = {MakePair(p0, p1), MakePair(p1, p0)};
    return Cheapest(t, candidates, Cost::kReference);
}

TRACK_PAIR TwoByTwo(const TRIANGULATION* t, const SHADOW_ANGLES* a, const SHADOW_ANGLES* b) {
    const TRACK_POINT p00 = Triangulate(a[0], b[0]);
    const TRACK_POINT p01 = Triangulate(a[0], b[1]);
    const TRACK_POINT p10 = Triangulate(a[1], b[0]);
    const TRACK_POINT p11 = Triangulate(a[1], b[1]);
    const TRACK_PAIR candidates[4] = {MakePair(p00, p11), MakePair(p01, p10), MakePair(p10, p01), MakePair(p11, p00)};
    if (!Valid(t->Reference[0]) && !Valid(t->Reference[1])) return Cheapest(t, candidates, Cost::kMismatch);
    if (t->TwoAgainstOne != 1) return Cheapest(t, candidates, Cost::kReference);
    return CheapestPreferringTurns(t, candidates);
}

// Two shadows of one camera that join are one finger after all.
TRACK_PAIR Joined(TRIANGULATION* t, const SHADOW_ANGLES& a, const SHADOW_ANGLES& b) {
    t->SingleShadow[2] = 1;
    t->HoldCounter = 0;
    return SinglePoint(t, a, b);
}

}  // namespace

TRACK_POINT Triangulate(const SHADOW_ANGLES& a, const SHADOW_ANGLES& b) {
    const double ta = std::tan(a.centre);
    const double tb = std::tan(b.centre);
    TRACK_POINT p;
    p.y = 1.0 / (ta + tb);
    p.x = ta * p.y;
    // Parallel rays: nothing to place.
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) return InvalidPoint();
    p.state = kPointMeasured;

    const double sB = std::sqrt((1.0 - p.x) * (1.0 - p.x) + p.y * p.y) * std::sin(b.width / 2.0);
    const double sA = std::sqrt(p.x * p.x + p.y * p.y) * std::sin(a.width / 2.0);
    p.size = 2.0 / (1.0 / sA + 1.0 / sB);
    p.mismatch = std::fabs(std::log(sB / sA));
    // Degenerate widths: no size to report, and no agreement between the cameras.
    if (!std::isfinite(p.size)) p.size = 0.0;
    if (std::isnan(p.mismatch)) p.mismatch = std::numeric_limits<double>::infinity();
    return p;
}

double D(const TRACK_POINT& p, const TRACK_POINT& q, double k) {
    const bool pValid = Valid(p);
    const bool qValid = Valid(q);
    if (!pValid && !qValid) return kMissingDistance;
    if (pValid != qValid) return (k + kMissingDistance) / 2.0;
    const double dx = p.x - q.x;
    const double dy = p.y - q.y;
    return std::sqrt(dx * dx + dy * dy);
}

double TurnFactor(const TRACK_POINT& p, const TRACK_POINT& q) {
    const double qx = q.x;
    const double qy = q.y;
    const double dx = p.x - qx;
    const double dy = p.y - qy;
    if ((dx == 0.0 && dy == 0.0) || (qx == 0.0 && qy == 0.0)) return 1.0;
    const double step = dx * dx + dy * dy;
    const double denomA = std::sqrt((qx * qx + qy * qy) * step);
    const double denomB = std::sqrt(((qx - 1.0) * (qx - 1.0) + qy * qy) * step);
    // q on camera B, like q on camera A, has no ray to measure against; a vanishing step
    // is no step.
    if (!(denomA > 0.0) || !(denomB > 0.0)) return 1.0;
    const double sA = (qy * dx - qx * dy) / denomA;
    const double sB = (qy * dx - (qx - 1.0) * dy) / denomB;
    return std::fabs(sA * sB);
}

bool JoinShadows(SHADOW_ANGLES* pair, double otherCentre, float baselineMm) {
    const SHADOW_ANGLES p0 = pair[0];
    const SHADOW_ANGLES p1 = pair[1];
    const double t = std::tan(otherCentre);
    const double h = std::tan(p0.high < p1.high ? p0.high : p1.high);
    const double l = std::tan(p0.low > p1.low ? p0.low : p1.low);
    // The inner edges' distance along the other camera's ray.
    const double gap = std::fabs(l / (t + l) - h / (t + h)) / std::sin(otherCentre);
    const float threshold = kJoinDistanceMm / baselineMm;
    // An infinite threshold joins whatever the gap, even one the geometry cannot give.
    const bool joined = threshold == std::numeric_limits<float>::infinity() || gap < threshold;
    if (!joined) return false;

    const double low = p0.low < p1.low ? p0.low : p1.low;
    const double high = p0.high > p1.high ? p0.high : p1.high;
    SHADOW_ANGLES united;
    united.low = low;
    united.high = high;
    united.centre = (low + high) / 2.0;
    united.width = high - low;
    pair[0] = united;
    return true;
}

TRACK_PAIR Resolve(TRIANGULATION* t, SHADOW_ANGLES* anglesA, std::int32_t countA, SHADOW_ANGLES* anglesB,
                   std::int32_t countB) {
    const bool countsInRange = countA >= 0 && countA <= 2 && countB >= 0 && countB <= 2;
    if (!countsInRange) return InvalidPair();

    if (countA == 0 && countB == 0) {
        t->HoldCounter = 0;
        return InvalidPair();
    }
    if (countA == 0 || countB == 0) return Hold(t, kHoldLost);

    if (countA == 1 && countB == 1) {
        t->HoldCounter = 0;
        return SinglePoint(t, anglesA[0], anglesB[0]);
    }
    // Two fingers on one camera's ray, unless the pair joins: a few frames of holding
    // often see them apart again before the pair has to be guessed from the references.
    if (countA == 1 && countB == 2) {
        if (JoinShadows(anglesB, anglesA[0].centre, t->Scale.BaselineMm)) return Joined(t, anglesA[0], anglesB[0]);
        if (t->HoldCounter < kHoldUnresolved) return Hold(t, kHoldUnresolved);
        return OneAgainstTwo(t, anglesA[0], anglesB);
    }
    if (countA == 2 && countB == 1) {
        if (JoinShadows(anglesA, anglesB[0].centre, t->Scale.BaselineMm)) return Joined(t, anglesA[0], anglesB[0]);
        if (t->HoldCounter < kHoldUnresolved) return Hold(t, kHoldUnresolved);
        return TwoAgainstOne(t, anglesA, anglesB[0]);
    }
    t->HoldCounter = 0;
    return TwoByTwo(t, anglesA, anglesB);
}

void FinishResolve(TRIANGULATION* t, std::int32_t countA, std::int32_t countB, const TRACK_PAIR& pair) {
    const bool oneAgainstTwo = (countA == 1 && countB == 2) || (countA == 2 && countB == 1);
    const bool bothMeasured = pair.Contact[0].state == kPointMeasured && pair.Contact[1].state == kPointMeasured;
    t->TwoAgainstOne = oneAgainstTwo && bothMeasured ? 0 : 1;
    for (std::size_t i = 0; i < 2; ++i) {
        t->Raw[i] = pair.Contact[i];
        t->Filtered[i] = pair.Contact[i];
        t->Reference[i] = pair.Contact[i];
        if (t->Reference[i].state != kPointInvalid) t->Reference[i].state = kPointHeld;
    }
}

void MarkSingleShadow(TRIANGULATION* t, std::int32_t countA, std::int32_t countB) {
    t->SingleShadow[2] = countA == 1 && countB == 1 ? 1 : 0;
}

void ShiftSingleShadow(TRIANGULATION* t) {
    t->SingleShadow[0] = t->SingleShadow[1];
    t->SingleShadow[1] = t->SingleShadow[2];
}

TRACK_PAIR TrackContacts(TRIANGULATION* t, SHADOW_ANGLES* anglesA, std::int32_t countA, SHADOW_ANGLES* anglesB,
                         std::int32_t countB) {
    MarkSingleShadow(t, countA, countB);
    const TRACK_PAIR pair = Resolve(t, anglesA, countA, anglesB, countB);
    FinishResolve(t, countA, countB, pair);
    ShiftSingleShadow(t);
    return pair;
}

void ResetTracking(TRIANGULATION* t) {
    for (std::size_t i = 0; i < 2; ++i) {
        t->Raw[i] = InvalidPoint();
        t->Filtered[i] = InvalidPoint();
        t->Reference[i] = InvalidPoint();
    }
    t->HoldCounter = 0;
    t->TwoAgainstOne = 0;
}

}  // namespace kav
