#include "kavusb/pipeline/trajectory_filter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <limits>

// Values marked "script" come from data/filter_expected.py; the others are worked out
// in the comments.

namespace kav::test {
namespace {

constexpr double kTight = 1e-12;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// TRACK_POINT unpacked, so that its fields can be handed to the gtest macros.
struct Point {
    double x, y, size, mismatch;
    int state;
};

Point Unpack(const TRACK_POINT& p) {
    return {p.x, p.y, p.size, p.mismatch, p.state};
}

void ExpectPoint(const TRACK_POINT& actual, const Point& expected, double tolerance) {
    const Point a = Unpack(actual);
    EXPECT_NEAR(a.x, expected.x, tolerance);
    EXPECT_NEAR(a.y, expected.y, tolerance);
    EXPECT_NEAR(a.size, expected.size, tolerance);
    EXPECT_NEAR(a.mismatch, expected.mismatch, tolerance);
    EXPECT_EQ(a.state, expected.state);
}

bool SameBytes(const TRACK_POINT& a, const TRACK_POINT& b) {
    return std::memcmp(&a, &b, sizeof(TRACK_POINT)) == 0;
}

// A ring entry at time t relative to the filtered (centre) entry, two before Newest.
struct Entry {
    int t;
    double x, y, size, mismatch;
    std::uint8_t state;
};

int Index(std::int32_t newest, int t) {
    return ((newest + 48 + t) % 50 + 50) % 50;
}

HISTORY_RING Ring(std::int32_t newest, std::initializer_list<Entry> entries) {
    HISTORY_RING ring;
    std::memset(&ring, 0, sizeof(ring));
    ring.Newest = newest;
    for (const Entry& e : entries) ring.Entry[Index(newest, e.t)] = {e.x, e.y, e.size, e.mismatch, e.state};
    return ring;
}

TRACK_POINT& At(HISTORY_RING& ring, int t) {
    return ring.Entry[Index(ring.Newest, t)];
}

constexpr TRACK_POINT kUntouched = {9.0, 9.0, 9.0, 9.0, 7};
constexpr std::int32_t kNewest = 12;  // centre entry 10: t = -10..2 need no wrap

// ---------------------------------------------------------------------------------------
// History ring

TEST(TrajectoryHistory, ResetInvalidatesEveryEntry) {
    HISTORY_RING ring;
    std::memset(&ring, 0x5A, sizeof(ring));
    ResetHistory(&ring);
    const std::int32_t newest = ring.Newest;
    EXPECT_EQ(newest, -1);
    for (const TRACK_POINT& e : ring.Entry) EXPECT_EQ(e.state, kPointInvalid);
}

TEST(TrajectoryHistory, PushHandsBackThePointTwoFramesOlder) {
    HISTORY_RING ring;
    ResetHistory(&ring);
    for (int k = 0; k < 105; ++k) {  // twice around the ring
        TRACK_POINT point = {static_cast<double>(k), -k * 0.5, 0.01, 0.2, kPointMeasured};
        PushHistory(&point, &ring);
        SCOPED_TRACE(k);
        const std::int32_t newest = ring.Newest;
        ASSERT_EQ(newest, k % 50);
        EXPECT_EQ(Unpack(ring.Entry[k % 50]).x, static_cast<double>(k));
        if (k < 2) {
            EXPECT_EQ(point.state, kPointInvalid);
        } else {
            EXPECT_EQ(Unpack(point).x, static_cast<double>(k - 2));
            EXPECT_EQ(point.state, kPointMeasured);
        }
    }
}

TEST(TrajectoryHistory, NewestAdvancesAndCorruptValuesRestartTheRing) {
    struct Case {
        std::int32_t newest;
        std::int32_t next;
    };
    const Case cases[] = {
        {-1, 0},
        {0, 1},
        {48, 49},
        {49, 0},
        {50, 0},
        {-2, 0},
        {std::numeric_limits<std::int32_t>::max(), 0},
        {std::numeric_limits<std::int32_t>::min(), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.newest);
        HISTORY_RING ring;
        for (int i = 0; i < 50; ++i) ring.Entry[i] = {100.0 + i, 0.0, 0.0, 0.0, kPointHeld};
        ring.Newest = c.newest;
        TRACK_POINT point = {-1.0, -2.0, -3.0, -4.0, kPointMeasured};
        PushHistory(&point, &ring);
        const std::int32_t newest = ring.Newest;
        EXPECT_EQ(newest, c.next);
        EXPECT_EQ(Unpack(ring.Entry[c.next]).x, -1.0);
        EXPECT_EQ(Unpack(point).x, 100.0 + (c.next + 48) % 50);
    }
}

// ---------------------------------------------------------------------------------------
// Fitting

void Accumulate(FIT_WORK* work, double t, double x, double y, double size) {
    AccumulateSample(work, TRACK_POINT{x, y, size, 0.0, kPointMeasured}, t);
}

TEST(FitPolynomial, AccumulateSumsPowersAndMoments) {
    FIT_WORK work{};
    Accumulate(&work, 2.0, 1.5, -1.0, 0.25);
    Accumulate(&work, -1.0, 0.5, 3.0, 0.75);
    ASSERT_EQ(work.Count, 2);
    EXPECT_EQ(work.T[1], -1.0);
    EXPECT_EQ(work.Size[0], 0.25);
    double p2 = 1.0, pm1 = 1.0;  // 2^k, (-1)^k
    for (int k = 0; k <= 16; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(work.PowerSum[k], p2 + pm1);
        if (k <= 8) {
            EXPECT_EQ(work.MomentX[k], 1.5 * p2 + 0.5 * pm1);
            EXPECT_EQ(work.MomentY[k], -1.0 * p2 + 3.0 * pm1);
            EXPECT_EQ(work.MomentSize[k], 0.25 * p2 + 0.75 * pm1);
        }
        p2 *= 2.0;
        pm1 = -pm1;
    }
    EXPECT_EQ(work.PowerSum[16], 65537.0);

    // A full work area drops further samples whole.
    for (int i = 2; i < 50; ++i) Accumulate(&work, 0.0, 0.0, 0.0, 0.0);
    ASSERT_EQ(work.Count, 50);
    const double s0 = work.PowerSum[0];
    Accumulate(&work, 1.0, 1.0, 1.0, 1.0);
    EXPECT_EQ(work.Count, 50);
    EXPECT_EQ(work.PowerSum[0], s0);
    EXPECT_EQ(work.MomentX[0], 2.0);
}

// x = 0.25 + 0.5t - 0.125t², y = -1 + 0.75t + 0.0625t², size = 2 - t + 0.5t².
TEST(FitPolynomial, QuadraticIsFittedExactly) {
    const double x[] = {0.25, 0.5, -0.125, 0};
    const double y[] = {-1.0, 0.75, 0.0625, 0};
    const double z[] = {2.0, -1.0, 0.5, 0};
    for (int degree : {2, 3, 4}) {
        SCOPED_TRACE(degree);
        FIT_WORK work{};
        for (int t = -3; t <= 2; ++t) {
            Accumulate(&work, t, 0.25 + 0.5 * t - 0.125 * t * t, -1.0 + 0.75 * t + 0.0625 * t * t,
                       2.0 - t + 0.5 * t * t);
        }
        for (int k = 0; k <= 8; ++k) work.CoefX[k] = work.CoefY[k] = work.CoefSize[k] = 99.0;
        EXPECT_NEAR(FitPolynomial(&work, degree), 0.0, 1e-9);
        for (int k = 0; k <= 8; ++k) {
            SCOPED_TRACE(k);
            const double expectX = k < 3 ? x[k] : 0.0;
            const double expectY = k < 3 ? y[k] : 0.0;
            const double expectZ = k < 3 ? z[k] : 0.0;
            EXPECT_NEAR(work.CoefX[k], expectX, 1e-9);
            EXPECT_NEAR(work.CoefY[k], expectY, 1e-9);
            EXPECT_NEAR(work.CoefSize[k], expectZ, 1e-9);
            if (k > degree) {
                EXPECT_EQ(work.CoefX[k], 0.0);
                EXPECT_EQ(work.CoefY[k], 0.0);
                EXPECT_EQ(work.CoefSize[k], 0.0);
            }
        }
    }
}

// x = 0.1 + 0.2t for t = 0..4 but 0.5 higher at t = 2, y = 0.25 - 0.125t. The line fit is
// x = 0.2 + 0.2t (the outlier sits at the mean time): errors 0.1² four times and 0.4²
// once. Leaving the worst out: sqrt(4·0.01 / 4) = 0.1; keeping it would give 0.2236.
TEST(FitPolynomial, ResidualLeavesTheWorstSampleOut) {
    FIT_WORK work{};
    for (int t = 0; t < 5; ++t) Accumulate(&work, t, 0.1 + 0.2 * t + (t == 2 ? 0.5 : 0.0), 0.25 - 0.125 * t, 1.0);
    EXPECT_NEAR(FitPolynomial(&work, 1), 0.1, kTight);
    EXPECT_NEAR(work.CoefX[0], 0.2, kTight);
    EXPECT_NEAR(work.CoefX[1], 0.2, kTight);
    EXPECT_NEAR(work.CoefY[0], 0.25, kTight);
    EXPECT_NEAR(work.CoefY[1], -0.125, kTight);
    EXPECT_NEAR(work.CoefSize[0], 1.0, kTight);
    EXPECT_NEAR(work.CoefSize[1], 0.0, kTight);
}

TEST(FitPolynomial, DegenerateInputsFailAndKeepTheCoefficients) {
    struct Case {
        const char* name;
        int samples;  // at t = 1, x = 0.3 + 0.1·i
        int degree;
        double residual;
    };
    const Case cases[] = {
        {"one sample, constant", 1, 0, 0.0},  // sqrt(0 / 1)
        {"no samples", 0, 0, kFitFailed},
        {"degree below 0", 3, -1, kFitFailed},
        {"degree above 8", 3, 9, kFitFailed},
        {"one sample, line: zero pivot, no column to exchange", 1, 1, kFitFailed},
        {"all samples at one time, line", 3, 1, kFitFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FIT_WORK work{};
        for (int i = 0; i < c.samples; ++i) Accumulate(&work, 1.0, 0.3 + 0.1 * i, 0.5, 0.02);
        for (int k = 0; k <= 8; ++k) work.CoefX[k] = 7.0;
        EXPECT_EQ(FitPolynomial(&work, c.degree), c.residual);
        if (c.residual == kFitFailed) {
            for (int k = 0; k <= 8; ++k) EXPECT_EQ(work.CoefX[k], 7.0);
        } else {
            EXPECT_EQ(work.CoefX[0], 0.3);
            EXPECT_EQ(work.CoefY[0], 0.5);
            EXPECT_EQ(work.CoefX[1], 0.0);
        }
    }
}

// Power sums 1 2 4 9 20 give M = [[1 2 4] [2 4 9] [4 9 20]]: after the first column is
// eliminated the second pivot is exactly 0 and the second and third columns change
// places. Solutions (script): x (3, -1, 0), y (4, -4, 1), size (-3, 26, -11).
TEST(FitPolynomial, ZeroPivotExchangesColumnsAndKeepsTheSolutionOrder) {
    FIT_WORK work{};
    Accumulate(&work, 0.0, 0.0, 0.0, 0.0);  // the residual needs a sample
    const double sums[] = {1, 2, 4, 9, 20};
    for (int k = 0; k < 5; ++k) work.PowerSum[k] = sums[k];
    const double bx[] = {1, 2, 3}, by[] = {0, 1, 0}, bz[] = {5, -1, 2};
    for (int k = 0; k < 3; ++k) {
        work.MomentX[k] = bx[k];
        work.MomentY[k] = by[k];
        work.MomentSize[k] = bz[k];
    }
    EXPECT_GE(FitPolynomial(&work, 2), 0.0);
    const double x[] = {3, -1, 0}, y[] = {4, -4, 1}, z[] = {-3, 26, -11};
    for (int k = 0; k < 3; ++k) {
        SCOPED_TRACE(k);
        EXPECT_NEAR(work.CoefX[k], x[k], kTight);
        EXPECT_NEAR(work.CoefY[k], y[k], kTight);
        EXPECT_NEAR(work.CoefSize[k], z[k], kTight);
    }
}

// ---------------------------------------------------------------------------------------
// The filter

// A finger moving by (0.01, 0.005) a frame, its size growing by 0.001.
Entry Line(int t, std::uint8_t state = kPointMeasured, double offsetX = 0.0) {
    return {t, 0.5 + 0.01 * t + offsetX, 0.4 + 0.005 * t, 0.02 + 0.001 * t, t == 0 ? 0.25 : 0.0, state};
}
Point LinePoint(int t, int state) {
    return {0.5 + 0.01 * t, 0.4 + 0.005 * t, 0.02 + 0.001 * t, 0.0, state};
}

TEST(FilterTrack, NewContactIsReportedFromItsThirdFrameTwoFramesLate) {
    HISTORY_RING ring;
    ResetHistory(&ring);
    TRACK_POINT reference = kUntouched;
    for (int k = 0; k < 3; ++k) {
        SCOPED_TRACE(k);
        const Entry e = Line(k);
        TRACK_POINT point = {e.x, e.y, e.size, 0.25, kPointMeasured};
        PushHistory(&point, &ring);
        FilterTrack(&point, &reference, 0.1, &ring);
        if (k < 2) {
            ExpectPoint(point, {0.0, 0.0, 0.0, 0.0, kPointInvalid}, 0.0);
            EXPECT_TRUE(SameBytes(reference, kUntouched));
        } else {
            // Constant: errors 1e-4·1.25 at t = 0 and 2 -> residual 0.0079; the line is exact.
            ExpectPoint(point, LinePoint(0, kPointMeasured), kTight);
            ExpectPoint(reference, LinePoint(3, kPointHeld), kTight);
        }
    }
}

TEST(FilterTrack, TracksThatCannotBeFittedAreDropped) {
    struct Case {
        const char* name;
        HISTORY_RING ring;
    };
    const Case cases[] = {
        {"only the centre measured", Ring(kNewest, {Line(0)})},
        {"older points, none newer", Ring(kNewest, {Line(-3), Line(-2), Line(-1)})},
        {"centre missing, newer points beyond the step",
         Ring(kNewest, {Line(-2), Line(-1), {1, 0.8, 0.4, 0.02, 0, 2}, {2, 0.81, 0.4, 0.02, 0, 2}})},
        {"empty ring", Ring(-1, {})},
        {"corrupt newest", Ring(77, {})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HISTORY_RING ring = c.ring;
        TRACK_POINT point = kUntouched;
        TRACK_POINT reference = kUntouched;
        FilterTrack(&point, &reference, 0.1, &ring);
        ExpectPoint(point, {0.0, 0.0, 0.0, 0.0, kPointInvalid}, 0.0);
        EXPECT_TRUE(SameBytes(reference, kUntouched));
        if (c.ring.Newest >= 0 && c.ring.Newest < 50) {
            // The centre is invalidated, nothing else changes.
            HISTORY_RING expected = c.ring;
            At(expected, 0).state = kPointInvalid;
            EXPECT_EQ(std::memcmp(&ring, &expected, sizeof(ring)), 0);
        } else {
            EXPECT_EQ(std::memcmp(&ring, &c.ring, sizeof(ring)), 0);
        }
    }
}

// Five points on the line (t = -2..2): the constant leaves residual sqrt(1.5)·0.0112,
// the line is exact, so the result is the centre point (mismatch cleared) and, with all
// three newer points connected, the reference is the point at t = 3.
TEST(FilterTrack, StraightLineIsFittedExactly) {
    struct Case {
        const char* name;
        std::int32_t newest;
        Entry changed;  // replaces the line's entry at changed.t
        Point result;
        bool predicts;
        Point reference;
        Point centreAfter;
    };
    const Point centre = LinePoint(0, kPointMeasured);
    const Point ownCentre = {0.5, 0.4, 0.02, 0.25, kPointMeasured};
    const Case cases[] = {
        {"five on a line", kNewest, Line(0), centre, true, LinePoint(3, kPointHeld), ownCentre},
        {"across the end of the ring", 1, Line(0), centre, true, LinePoint(3, kPointHeld), ownCentre},
        {"newest missing", kNewest, Line(2, kPointInvalid), centre, false, {}, ownCentre},
        // A newest point beyond the step is not connected: no prediction.
        {"newest jumped away", kNewest, {2, 0.9, 0.4, 0.022, 0.0, kPointMeasured}, centre, false, {}, ownCentre},
        // One gap is bridged: t = 2 is compared with the centre.
        {"gap before the newest", kNewest, Line(1, kPointInvalid), centre, false, {}, ownCentre},
        // Held points after a measured one are counted, not fitted.
        {"held newer point off the line", kNewest, Line(1, kPointHeld, 0.003), centre, true, LinePoint(3, kPointHeld),
         ownCentre},
        // A held centre is fitted: 0.003 off at t = 0 moves the intercept by 0.003/5 and
        // leaves the slope; residual sqrt(4·0.0006² / 4) = 0.0006 stops at the line.
        {"held centre off the line",
         kNewest,
         Line(0, kPointHeld, 0.003),
         {0.5006, 0.4, 0.02, 0.0, kPointMeasured},
         true,
         {0.5306, 0.415, 0.023, 0.0, kPointHeld},
         {0.503, 0.4, 0.02, 0.25, kPointHeld}},
        // Missing centre between measured neighbours: filled with the fitted point.
        {"missing centre", kNewest, Line(0, kPointInvalid), centre, false, {}, centre},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HISTORY_RING ring = Ring(c.newest, {Line(-2), Line(-1), Line(0), Line(1), Line(2)});
        const Entry& e = c.changed;
        At(ring, e.t) = {e.x, e.y, e.size, e.mismatch, e.state};
        TRACK_POINT point = kUntouched;
        TRACK_POINT reference = kUntouched;
        FilterTrack(&point, &reference, 0.1, &ring);
        ExpectPoint(point, c.result, kTight);
        if (c.predicts) {
            ExpectPoint(reference, c.reference, kTight);
        } else {
            EXPECT_TRUE(SameBytes(reference, kUntouched));
        }
        ExpectPoint(At(ring, 0), c.centreAfter, kTight);
    }
}

// Held older points count towards the two points a fit needs but are not fitted: with
// only the centre measured the result is the centre itself.
TEST(FilterTrack, HeldOlderPointsCountButAreNotFitted) {
    HISTORY_RING ring =
        Ring(kNewest, {{-2, 0.4, 0.4, 0.03, 0, kPointHeld}, {-1, 0.45, 0.4, 0.03, 0, kPointHeld}, Line(0)});
    TRACK_POINT point = kUntouched;
    TRACK_POINT reference = kUntouched;
    FilterTrack(&point, &reference, 0.1, &ring);
    ExpectPoint(point, LinePoint(0, kPointMeasured), kTight);
    EXPECT_TRUE(SameBytes(reference, kUntouched));
}

// x = 0.5 + 0.01t + 0.004t², y = 0.4 - 0.005t + 0.002t², size = 0.02 + 0.0005t at
// t = -3..2: the line still leaves a residual above 0.001, so the second stage reaches the
// parabola, which is exact. The reference comes from the line of the first stage (script).
TEST(FilterTrack, CurvedTrackGoesOnToHigherDegrees) {
    HISTORY_RING ring = Ring(kNewest, {});
    for (int t = -3; t <= 2; ++t) {
        At(ring, t) = {0.5 + 0.01 * t + 0.004 * t * t, 0.4 - 0.005 * t + 0.002 * t * t, 0.02 + 0.0005 * t, 0.0,
                       kPointMeasured};
    }
    TRACK_POINT point = kUntouched;
    TRACK_POINT reference = kUntouched;
    FilterTrack(&point, &reference, 0.1, &ring);
    ExpectPoint(point, {0.5, 0.4, 0.02, 0.0, kPointMeasured}, 1e-10);
    ExpectPoint(reference, {0.52866666666666673, 0.38433333333333336, 0.0215, 0.0, kPointHeld}, 1e-10);
}

// Held points at t = -3 and -1 count (six in all) but only t = -2, 0, 1, 2 are fitted. A
// cubic needs five samples, so the filter stops at the parabola (residual still above
// 0.001) instead of fitting a cubic through four points (script).
TEST(FilterTrack, DegreeNeverNeedsMoreSamplesThanWereFitted) {
    HISTORY_RING ring = Ring(kNewest, {});
    for (int t = -3; t <= 2; ++t) {
        At(ring, t) = {0.5 + 0.01 * t + 0.003 * t * t * t, 0.4 + 0.005 * t - 0.002 * t * t * t, 0.02, 0.0,
                       t == -1 || t == -3 ? kPointHeld : kPointMeasured};
    }
    TRACK_POINT point = kUntouched;
    TRACK_POINT reference = kUntouched;
    FilterTrack(&point, &reference, 0.1, &ring);
    ExpectPoint(point, {0.49607272727272728, 0.40261818181818182, 0.02, 0.0, kPointMeasured}, 1e-10);
    ExpectPoint(reference, {0.56162857142857148, 0.39391428571428572, 0.02, 0.0, kPointHeld}, 1e-10);
}

// No older points; the centre and both newer points measured, 0.001 apart.
TEST(FilterTrack, SizeJumpsAreRepairedTowardsTheLargerShadow) {
    struct Case {
        const char* name;
        Entry before[3];
        Entry after[3];
        Point result;  // script
    };
    const Case cases[] = {
        // 0.7·0.02 > 0.01 and 2·0.02 > 0.01 + 0.001: the newer point replaces the centre.
        {"grows",
         {{0, 0.5, 0.5, 0.01, 0.1, 2}, {1, 0.501, 0.5, 0.02, 0.2, 2}, {2, 0.502, 0.5, 0.02, 0.3, 2}},
         {{0, 0.501, 0.5, 0.02, 0.2, 2}, {1, 0.501, 0.5, 0.02, 0.2, 2}, {2, 0.502, 0.5, 0.02, 0.3, 2}},
         {0.5013333333333333, 0.5, 0.02, 0.0, kPointMeasured}},
        // The newer points take the larger shadow's position and size, keeping the rest.
        {"shrinks",
         {{0, 0.5, 0.5, 0.02, 0.1, 2}, {1, 0.501, 0.5, 0.01, 0.2, 2}, {2, 0.502, 0.5, 0.01, 0.3, 2}},
         {{0, 0.5, 0.5, 0.02, 0.1, 2}, {1, 0.5, 0.5, 0.02, 0.2, 2}, {2, 0.5, 0.5, 0.02, 0.3, 2}},
         {0.5, 0.5, 0.02, 0.0, kPointMeasured}},
        // 0.7·0.014 < 0.01.
        {"ratio too small",
         {{0, 0.5, 0.5, 0.01, 0.1, 2}, {1, 0.501, 0.5, 0.014, 0.2, 2}, {2, 0.502, 0.5, 0.014, 0.3, 2}},
         {{0, 0.5, 0.5, 0.01, 0.1, 2}, {1, 0.501, 0.5, 0.014, 0.2, 2}, {2, 0.502, 0.5, 0.014, 0.3, 2}},
         {0.501, 0.5, 0.012666666666666666, 0.0, kPointMeasured}},
        // 0.05 apart: 2·0.02 < 0.01 + 0.05.
        {"too far apart",
         {{0, 0.5, 0.5, 0.01, 0.1, 2}, {1, 0.55, 0.5, 0.02, 0.2, 2}, {2, 0.6, 0.5, 0.02, 0.3, 2}},
         {{0, 0.5, 0.5, 0.01, 0.1, 2}, {1, 0.55, 0.5, 0.02, 0.2, 2}, {2, 0.6, 0.5, 0.02, 0.3, 2}},
         {0.5, 0.5, 0.011666666666666667, 0.0, kPointMeasured}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HISTORY_RING ring = Ring(kNewest, {c.before[0], c.before[1], c.before[2]});
        TRACK_POINT point = kUntouched;
        TRACK_POINT reference = kUntouched;
        FilterTrack(&point, &reference, 0.1, &ring);
        for (const Entry& e : c.after) {
            SCOPED_TRACE(e.t);
            ExpectPoint(At(ring, e.t), {e.x, e.y, e.size, e.mismatch, e.state}, 0.0);
        }
        ExpectPoint(point, c.result, kTight);
    }
}

// Measured points at t = -2..2 jittering by under 0.001 around (0.5, 0.3).
TEST(FilterTrack, StillFingerIsFrozenToThePreviousPoint) {
    const double jx[] = {0.0004, -0.0003, 0.0002, 0.0005, -0.0002};
    const double jy[] = {-0.0001, 0.0003, 0.0, -0.0002, 0.0004};
    struct Case {
        const char* name;
        double scaleX;
        std::uint8_t previousState;
        bool newest;
        bool frozen;
        Point result;  // script, when not frozen
    };
    const Case cases[] = {
        {"still", 1.0, kPointMeasured, true, true, {}},
        {"box too wide", 5.0, kPointMeasured, true, false, {0.50074285714285716, 0.30000857142857146, 0.02, 0.0, 2}},
        {"previous point held", 1.0, kPointHeld, true, false, {0.50022499999999992, 0.30002499999999999, 0.02, 0.0, 2}},
        // Without t = 2 the window's slope sums no longer cancel.
        {"newest missing", 1.0, kPointMeasured, false, false, {0.50019999999999998, 0.29999999999999999, 0.02, 0.0, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HISTORY_RING ring = Ring(kNewest, {});
        for (int t = -2; t <= 2; ++t) {
            At(ring, t) = {0.5 + c.scaleX * jx[t + 2], 0.3 + jy[t + 2], 0.02, t == -1 ? 0.125 : 0.0,
                           t == -1 ? c.previousState : kPointMeasured};
        }
        if (!c.newest) At(ring, 2).state = kPointInvalid;
        const TRACK_POINT previous = At(ring, -1);
        const TRACK_POINT centre = At(ring, 0);
        TRACK_POINT point = kUntouched;
        TRACK_POINT reference = kUntouched;
        FilterTrack(&point, &reference, 0.1, &ring);
        if (c.frozen) {
            EXPECT_TRUE(SameBytes(point, previous));
            EXPECT_TRUE(SameBytes(At(ring, 0), previous));
        } else {
            ExpectPoint(point, c.result, kTight);
            EXPECT_TRUE(SameBytes(At(ring, 0), centre));
        }
    }
}

// The centre at (0.5, 0.5), no older points. Steps of 0.04 fit whatever fitStep says below
// 0.1: the line through t = 0..2 gives the centre and predicts 0.62. A jump of 0.15 needs
// a larger fitStep; then t = 0, 1 give the line and the centre.
TEST(FilterTrack, StepIsAtLeastATenth) {
    struct Case {
        double fitStep;
        double spacing;
        bool newest;
        int state;
        bool predicts;
    };
    const Case cases[] = {
        {0.03, 0.04, true, kPointMeasured, true}, {0.0, 0.04, true, kPointMeasured, true},
        {-1.0, 0.04, true, kPointMeasured, true}, {kNaN, 0.04, true, kPointMeasured, true},
        {0.1, 0.04, true, kPointMeasured, true},  {0.01, 0.15, false, kPointInvalid, false},
        {0.1, 0.15, false, kPointInvalid, false}, {0.2, 0.15, false, kPointMeasured, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "fitStep " << c.fitStep << " spacing " << c.spacing);
        HISTORY_RING ring =
            Ring(kNewest, {{0, 0.5, 0.5, 0.02, 0, 2},
                           {1, 0.5 + c.spacing, 0.5, 0.02, 0, 2},
                           {2, 0.5 + 2 * c.spacing, 0.5, 0.02, 0, c.newest ? kPointMeasured : kPointInvalid}});
        TRACK_POINT point = kUntouched;
        TRACK_POINT reference = kUntouched;
        FilterTrack(&point, &reference, c.fitStep, &ring);
        if (c.state == kPointMeasured) {
            ExpectPoint(point, {0.5, 0.5, 0.02, 0.0, kPointMeasured}, kTight);
        } else {
            ExpectPoint(point, {0.0, 0.0, 0.0, 0.0, kPointInvalid}, 0.0);
        }
        if (c.predicts) {
            ExpectPoint(reference, {0.62, 0.5, 0.02, 0.0, kPointHeld}, kTight);
        } else {
            EXPECT_TRUE(SameBytes(reference, kUntouched));
        }
    }
}

}  // namespace
}  // namespace kav::test
