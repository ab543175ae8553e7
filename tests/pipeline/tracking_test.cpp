#include "kavusb/pipeline/tracking.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace kav::test {
namespace {

// Expected values: printed by data/tracking_expected.py, which builds the angle records
// from finger positions and works the rules out on its own.
constexpr SHADOW_ANGLES kSymmetric = {0.7753981633974483, 0.7953981633974483, 0.7853981633974483, 0.02};
constexpr TRACK_POINT kSymmetricPoint = {0.5, 0.5000000000000001, 0.007070949961324532, 0.0, 2};
constexpr SHADOW_ANGLES kAsymA = {0.49, 0.51, 0.5, 0.02};
constexpr SHADOW_ANGLES kAsymB = {0.8825, 0.9175, 0.9, 0.035};
constexpr TRACK_POINT kAsymPoint = {0.30241592723699323, 0.5535686416576024, 0.008980519226783367, 0.90443961561201, 2};

// A finger of radius 0.01 at (0.4, 0.6).
constexpr SHADOW_ANGLES kFingerA = {0.5741346541321576, 0.6018705529629776, 0.5880026035475676, 0.027735898830820147};
constexpr SHADOW_ANGLES kFingerB = {0.7736127775570787, 0.7971835492378179, 0.7853981633974483, 0.023570771680739094};
constexpr TRACK_POINT kFinger = {0.4000000000000001, 0.6000000000000001, 0.01, 2.2204460492503136e-16, 2};

// Fingers at (0.4, 0.6) and behind it at (0.6, 0.9) on camera A's ray.
constexpr SHADOW_ANGLES kRayA = {0.5741346541321576, 0.6018705529629776, 0.5880026035475676, 0.027735898830820147};
constexpr SHADOW_ANGLES kBehindB = {0.40807069346169506, 0.4283779656967632, 0.4182243295792291, 0.020307272235068157};
constexpr SHADOW_ANGLES kFrontB = {0.7736127775570787, 0.7971835492378179, 0.7853981633974483, 0.023570771680739094};
constexpr TRACK_POINT kRayAFirst = {0.4000000000000001, 0.6000000000000001, 0.01, 2.2204460492503136e-16, 2};
constexpr TRACK_POINT kRayAContact1 = {0.4000000000000001, 0.6000000000000001, 0.01, 2.2204460492503136e-16, 2};
constexpr TRACK_POINT kRayAContact2 = {0.6, 0.8999999999999999, 0.011999999999999999, 0.40546510810816444, 2};
// Fingers at (0.6, 0.5) and behind it at (0.36, 0.8) on camera B's ray.
constexpr SHADOW_ANGLES kRayB = {0.6591229311123125, 0.690358953334793, 0.6747409422235527, 0.031236022222480564};
constexpr SHADOW_ANGLES kBehindA = {0.41145466044356815, 0.4342531918223129, 0.42285392613294054, 0.022798531378744817};
constexpr SHADOW_ANGLES kFrontA = {0.8632540127515536, 0.8888620884448333, 0.8760580505981934, 0.025608075693279733};
constexpr TRACK_POINT kRayBFirst = {0.6, 0.5, 0.01, 0.0, 2};
constexpr TRACK_POINT kRayBContact1 = {0.6, 0.5, 0.01, 0.0, 2};
constexpr TRACK_POINT kRayBContact2 = {0.3599999999999999, 0.8, 0.012307692307692308, 0.47000362924573574, 2};

// Fingers at (0.3, 0.5) and (0.7, 0.6), their shadows and the ghost intersections.
constexpr SHADOW_ANGLES kPA = {0.5232688009657085, 0.5575701995754598, 0.5404195002705842, 0.034301398609751364};
constexpr SHADOW_ANGLES kQA = {0.8513233190881139, 0.8730167902463387, 0.8621700546672263, 0.02169347115822479};
constexpr SHADOW_ANGLES kPB = {0.9389218151027643, 0.9621718665213859, 0.9505468408120751, 0.02325005141862163};
constexpr SHADOW_ANGLES kQB = {0.4487399369800387, 0.4785552810215737, 0.4636476090008062, 0.029815344041534915};
constexpr TRACK_POINT kP = {0.30000000000000004, 0.5000000000000001, 0.01, 2.2204460492503136e-16, 2};
constexpr TRACK_POINT kQ = {0.7000000000000001, 0.6000000000000001, 0.01, 2.2204460492503136e-16, 2};
constexpr TRACK_POINT kGhostPQ = {0.5454545454545454, 0.9090909090909091, 0.01652892561983471, 0.1823215567939547, 2};
constexpr TRACK_POINT kGhostQP = {0.45454545454545453, 0.38961038961038963, 0.007083825265643449, 0.1823215567939546,
                                  2};

constexpr float kNewContactDistance = 0.1f;
constexpr TRACK_POINT kNone = {0, 0, 0, 0, 0};

// Python shares glibc's libm with the native build, so values agree to the last bit
// there; another C runtime may round tan, sin and log differently in the last place.
void ExpectValue(double expected, double actual, const std::string& what) {
#ifdef _WIN32
    const double tolerance = 8 * std::numeric_limits<double>::epsilon() * std::fmax(1.0, std::fabs(expected));
    EXPECT_NEAR(actual, expected, tolerance) << what;
#else
    EXPECT_EQ(actual, expected) << what;
#endif
}

// Packed records: fields are copied out before they reach the comparison macros.
void ExpectPoint(const TRACK_POINT& actual, const TRACK_POINT& expected, const std::string& what) {
    const int state = actual.state;
    const int expectedState = expected.state;
    EXPECT_EQ(state, expectedState) << what;
    if (expectedState == kPointInvalid) return;
    ExpectValue(expected.x, actual.x, what + " x");
    ExpectValue(expected.y, actual.y, what + " y");
    ExpectValue(expected.size, actual.size, what + " size");
    ExpectValue(expected.mismatch, actual.mismatch, what + " mismatch");
}

void ExpectAngles(const SHADOW_ANGLES& actual, const SHADOW_ANGLES& expected, const std::string& what) {
    ExpectValue(expected.low, actual.low, what + " low");
    ExpectValue(expected.high, actual.high, what + " high");
    ExpectValue(expected.centre, actual.centre, what + " centre");
    ExpectValue(expected.width, actual.width, what + " width");
}

TRACK_POINT WithState(TRACK_POINT p, std::uint8_t state) {
    p.state = state;
    return p;
}

TEST(TrackingTriangulate, IntersectsTheCentreRays) {
    struct Case {
        SHADOW_ANGLES a, b;
        TRACK_POINT expected;
    };
    const Case cases[] = {
        {kSymmetric, kSymmetric, kSymmetricPoint},
        {kAsymA, kAsymB, kAsymPoint},
        {kFingerA, kFingerB, kFinger},  // size comes out as the finger's radius
        {kPA, kQB, kGhostPQ},
    };
    for (const Case& c : cases) {
        const double centre = c.a.centre;
        ExpectPoint(Triangulate(c.a, c.b), c.expected, "centre A " + std::to_string(centre));
    }
}

TEST(TrackingTriangulate, DegenerateRaysAndWidthsGiveNoNaN) {
    // Parallel rays meet nowhere.
    const SHADOW_ANGLES straightDown = {-0.01, 0.01, 0.0, 0.02};
    const int parallel = Triangulate(straightDown, straightDown).state;
    EXPECT_EQ(parallel, kPointInvalid);

    // Zero and opposite widths: the harmonic mean and the log ratio would be NaN.
    SHADOW_ANGLES zero = kSymmetric;
    zero.width = 0.0;
    SHADOW_ANGLES negative = kSymmetric;
    negative.width = -kSymmetric.width;
    const SHADOW_ANGLES* const pairs[][2] = {{&zero, &zero}, {&zero, &kSymmetric}, {&kSymmetric, &negative}};
    for (const auto& pair : pairs) {
        const TRACK_POINT p = Triangulate(*pair[0], *pair[1]);
        const double size = p.size;
        const double mismatch = p.mismatch;
        const int state = p.state;
        EXPECT_EQ(state, kPointMeasured);
        EXPECT_TRUE(std::isfinite(size)) << size;
        EXPECT_FALSE(std::isnan(mismatch));
    }
    const double zeroSize = Triangulate(zero, zero).size;
    EXPECT_EQ(zeroSize, 0.0);
    const double zeroMismatch = Triangulate(zero, kSymmetric).mismatch;
    EXPECT_EQ(zeroMismatch, std::numeric_limits<double>::infinity());
}

TEST(TrackingDistance, MissingPointsCostFixedAmounts) {
    struct Case {
        TRACK_POINT p, q;
        double expected;
    };
    const Case cases[] = {
        {{0.1, 0.2, 0, 0, 2}, {0.4, 0.6, 0, 0, 2}, 0.5},
        {{0.1, 0.2, 0, 0, 1}, {0.4, 0.6, 0, 0, 2}, 0.5},  // held counts as present
        {{0.1, 0.2, 0, 0, 0}, {0.4, 0.6, 0, 0, 2}, 100.05000000074506},
        {{0.1, 0.2, 0, 0, 2}, {0.4, 0.6, 0, 0, 0}, 100.05000000074506},
        {{0.1, 0.2, 0, 0, 0}, {0.4, 0.6, 0, 0, 0}, 200.0},
    };
    for (const Case& c : cases) {
        const int ps = c.p.state;
        const int qs = c.q.state;
        EXPECT_EQ(D(c.p, c.q, kNewContactDistance), c.expected) << ps << " " << qs;
    }
}

TEST(TrackingTurnFactor, ScoresStepsAcrossBothRays) {
    struct Case {
        TRACK_POINT p, q;
        double expected;
    };
    const Case cases[] = {
        {{0.6, 0.5, 0, 0, 2}, {0.5, 0.5, 0, 0, 1}, 0.4999999999999999},
        {{0.4, 0.8, 0, 0, 2}, {0.3, 0.6, 0, 0, 1}, 0.0},  // along camera A's ray
        {{0.5, 0.7, 0, 0, 2}, {0.3, 0.4, 0, 0, 1}, 0.055338573893646686},
        {{0.2, 0.3, 0, 0, 2}, {0.2, 0.3, 0, 0, 1}, 1.0},  // no step
        {{0.2, 0.3, 0, 0, 2}, {0.0, 0.0, 0, 0, 1}, 1.0},  // q on camera A
        {{0.2, 0.3, 0, 0, 2}, {1.0, 0.0, 0, 0, 1}, 1.0},  // q on camera B: would divide by zero
    };
    for (const Case& c : cases) {
        const double px = c.p.x;
        const double qx = c.q.x;
        EXPECT_EQ(TurnFactor(c.p, c.q), c.expected) << px << " from " << qx;
    }
}

TEST(TrackingJoin, ZeroBaselineJoinsEvenWhereTheGapIsUndefined) {
    // The other camera's ray at 0 rad makes the gap 0/0.
    const SHADOW_ANGLES original[2] = {{0.1, 0.2, 0.15000000000000002, 0.1}, {0.3, 0.4, 0.35, 0.10000000000000003}};
    SHADOW_ANGLES pair[2] = {original[0], original[1]};
    EXPECT_FALSE(JoinShadows(pair, 0.0, 500.0f));
    ExpectAngles(pair[0], original[0], "kept");
    EXPECT_TRUE(JoinShadows(pair, 0.0, 0.0f));
    ExpectAngles(pair[0], {0.1, 0.4, 0.25, 0.30000000000000004}, "joined");
    ExpectAngles(pair[1], original[1], "second");
}

class Tracking : public ::testing::Test {
protected:
    void SetUp() override { Reset(); }

    // As the framework leaves a new device context, with a screen property read.
    void Reset() {
        std::memset(&t_, 0, sizeof(t_));
        t_.Scale.NewContactDistance = kNewContactDistance;
        t_.Scale.BaselineMm = 500.0f;
    }

    TRACK_PAIR Frame(std::int32_t countA, SHADOW_ANGLES a0, SHADOW_ANGLES a1, std::int32_t countB, SHADOW_ANGLES b0,
                     SHADOW_ANGLES b1) {
        a_[0] = a0;
        a_[1] = a1;
        b_[0] = b0;
        b_[1] = b1;
        return TrackContacts(&t_, a_, countA, b_, countB);
    }
    TRACK_PAIR Frame(std::int32_t countA, SHADOW_ANGLES a0, std::int32_t countB, SHADOW_ANGLES b0) {
        return Frame(countA, a0, a0, countB, b0, b0);
    }

    std::int32_t HoldCounter() const { return t_.HoldCounter; }
    int TwoAgainstOne() const { return t_.TwoAgainstOne; }

    TRIANGULATION t_;
    SHADOW_ANGLES a_[2];
    SHADOW_ANGLES b_[2];
};

TEST_F(Tracking, OnePointGoesToTheContactItContinues) {
    struct Case {
        TRACK_POINT r1, r2;
        int contact;
    };
    const Case cases[] = {
        {{0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}, 1},
        {{0.41, 0.6, 0, 0, 1}, {0, 0, 0, 0, 0}, 1},
        {{0, 0, 0, 0, 0}, {0.41, 0.6, 0, 0, 1}, 2},
        {{0.6, 0.6, 0, 0, 1}, {0, 0, 0, 0, 0}, 2},  // farther than the new-contact distance: a new contact
        {{0.6, 0.6, 0, 0, 1}, {0.42, 0.6, 0, 0, 1}, 2},
        {{0.42, 0.6, 0, 0, 1}, {0.6, 0.6, 0, 0, 1}, 1},
        {{0.5, 0.5, 0, 0, 1}, {0.5, 0.5, 0, 0, 1}, 1},  // equal costs
    };
    for (const Case& c : cases) {
        Reset();
        t_.Reference[0] = c.r1;
        t_.Reference[1] = c.r2;
        t_.HoldCounter = 3;
        SHADOW_ANGLES a[2] = {kFingerA, kFingerA};
        SHADOW_ANGLES b[2] = {kFingerB, kFingerB};
        const TRACK_PAIR pair = Resolve(&t_, a, 1, b, 1);
        const double r1x = c.r1.x;
        const double r2x = c.r2.x;
        const std::string what = "R1 x " + std::to_string(r1x) + ", R2 x " + std::to_string(r2x);
        ExpectPoint(pair.Contact[c.contact - 1], kFinger, what);
        ExpectPoint(pair.Contact[2 - c.contact], kNone, what);
        EXPECT_EQ(HoldCounter(), 0);
    }
}

TEST_F(Tracking, LostShadowsHoldTheLastPairForFourFrames) {
    TRACK_PAIR pair = Frame(1, kFingerA, 1, kFingerB);
    ExpectPoint(pair.Contact[0], kFinger, "measured");

    struct Lost {
        std::int32_t countA, countB;
    };
    const Lost held[] = {{0, 1}, {1, 0}, {2, 0}, {0, 2}};
    std::int32_t frame = 0;
    for (const Lost& lost : held) {
        pair = Frame(lost.countA, kFingerA, lost.countB, kFingerB);
        ++frame;
        const std::string what = "held frame " + std::to_string(frame);
        ExpectPoint(pair.Contact[0], WithState(kFinger, kPointHeld), what);
        ExpectPoint(pair.Contact[1], kNone, what);
        ExpectPoint(t_.Raw[0], WithState(kFinger, kPointHeld), what + " raw");
        EXPECT_EQ(HoldCounter(), frame);
    }

    pair = Frame(0, kFingerA, 1, kFingerB);
    ExpectPoint(pair.Contact[0], kNone, "fifth lost frame");
    ExpectPoint(pair.Contact[1], kNone, "fifth lost frame");
    EXPECT_EQ(HoldCounter(), 4);

    pair = Frame(0, kFingerA, 0, kFingerB);
    ExpectPoint(pair.Contact[0], kNone, "no shadows");
    EXPECT_EQ(HoldCounter(), 0);
}

TEST_F(Tracking, FingersOnOneRayHoldFiveFramesThenResolveAgainstTheReferences) {
    struct Case {
        const char* name;
        std::int32_t countA;
        SHADOW_ANGLES a0, a1;
        std::int32_t countB;
        SHADOW_ANGLES b0, b1;
        SHADOW_ANGLES firstA, firstB;
        TRACK_POINT first, contact1, contact2;
    };
    const Case cases[] = {
        {"A sees one", 1, kRayA, kRayA, 2, kBehindB, kFrontB, kRayA, kFrontB, kRayAFirst, kRayAContact1, kRayAContact2},
        {"B sees one", 2, kBehindA, kFrontA, 1, kRayB, kRayB, kFrontA, kRayB, kRayBFirst, kRayBContact1, kRayBContact2},
    };
    for (const Case& c : cases) {
        Reset();
        TRACK_PAIR pair = Frame(1, c.firstA, 1, c.firstB);
        ExpectPoint(pair.Contact[0], c.first, c.name);

        for (std::int32_t frame = 1; frame <= 5; ++frame) {
            pair = Frame(c.countA, c.a0, c.a1, c.countB, c.b0, c.b1);
            const std::string what = std::string(c.name) + ", held frame " + std::to_string(frame);
            ExpectPoint(pair.Contact[0], WithState(c.first, kPointHeld), what);
            ExpectPoint(pair.Contact[1], kNone, what);
            EXPECT_EQ(HoldCounter(), frame);
            EXPECT_EQ(TwoAgainstOne(), 1);
        }

        pair = Frame(c.countA, c.a0, c.a1, c.countB, c.b0, c.b1);
        ExpectPoint(pair.Contact[0], c.contact1, std::string(c.name) + ", resolved");
        ExpectPoint(pair.Contact[1], c.contact2, std::string(c.name) + ", resolved");
        EXPECT_EQ(HoldCounter(), 5);
        EXPECT_EQ(TwoAgainstOne(), 0);
    }
}

TEST_F(Tracking, TwoShadowsOfOneCameraJoinWithin25Millimetres) {
    // Two fingers along the other camera's ray ("ray"), their inner edges gapMm apart at
    // a 500 mm baseline. Frame 1 sees the near finger alone.
    struct Case {
        char pairCamera;
        int gapMm;
        float baselineMm;
        SHADOW_ANGLES ray, nearShadow, farShadow;
        TRACK_POINT first, result;
        int contact;  // that takes the result
        bool joined;
        SHADOW_ANGLES firstAfter;  // the pair's first record after Resolve
    };
    const Case cases[] = {
        {'B',
         20,
         500.0,
         {0.5875, 0.6124999999999999, 0.6, 0.02499999999999991},
         {1.0489594096463022, 1.0789594096463022, 1.0639594096463023, 0.030000000000000027},
         {0.9706449776678794, 1.0006449776678794, 0.9856449776678794, 0.030000000000000027},
         {0.2752792606855752, 0.4023745796587616, 0.00817911548249118, 0.7130975656689126, 2},
         {0.29362883638102427, 0.4291960800834024, 0.011351178189967103, 1.9290698283010261, 2},
         1,
         true,
         {0.9706449776678794, 1.0789594096463022, 1.0248021936570908, 0.10831443197842283}},
        {'B',
         30,
         500.0,
         {0.5875, 0.6124999999999999, 0.6, 0.02499999999999991},
         {1.0489594096463022, 1.0789594096463022, 1.0639594096463023, 0.030000000000000027},
         {0.9464212196861578, 0.9764212196861578, 0.9614212196861578, 0.030000000000000027},
         {0.2752792606855752, 0.4023745796587616, 0.00817911548249118, 0.7130975656689126, 2},
         {0.2752792606855752, 0.4023745796587616, 0.00817911548249118, 0.7130975656689126, 1},
         1,
         false,
         {0.9464212196861578, 0.9764212196861578, 0.9614212196861578, 0.030000000000000027}},
        {'A',
         20,
         500.0,
         {0.6875, 0.7124999999999999, 0.7, 0.02499999999999991},
         {1.0571668733558204, 1.0871668733558204, 1.0721668733558203, 0.030000000000000027},
         {0.9762226682235717, 1.0062226682235718, 0.9912226682235717, 0.030000000000000027},
         {0.6855670936090285, 0.37330789986453383, 0.008021946350138063, 0.6519038887915288, 2},
         {0.6649535251481583, 0.3977811906506859, 0.01129287163836568, 1.888346799381614, 2},
         1,
         true,
         {0.9762226682235717, 1.0871668733558204, 1.031694770789696, 0.11094420513224867}},
        {'A',
         30,
         500.0,
         {0.6875, 0.7124999999999999, 0.7, 0.02499999999999991},
         {1.0571668733558204, 1.0871668733558204, 1.0721668733558203, 0.030000000000000027},
         {0.9504657178787109, 0.980465717878711, 0.9654657178787109, 0.030000000000000027},
         {0.6855670936090285, 0.37330789986453383, 0.008021946350138063, 0.6519038887915288, 2},
         {0.6855670936090285, 0.37330789986453383, 0.008021946350138063, 0.6519038887915288, 1},
         1,
         false,
         {0.9504657178787109, 0.980465717878711, 0.9654657178787109, 0.030000000000000027}},
        {'A',
         24,
         500.0,
         {0.6875, 0.7124999999999999, 0.7, 0.02499999999999991},
         {1.0571668733558204, 1.0871668733558204, 1.0721668733558203, 0.030000000000000027},
         {0.9659396310648876, 0.9959396310648876, 0.9809396310648876, 0.030000000000000027},
         {0.6855670936090285, 0.37330789986453383, 0.008021946350138063, 0.6519038887915288, 2},
         {0.6623555831323031, 0.40086557608934864, 0.011496603005792642, 1.9683417170504045, 2},
         1,
         true,
         {0.9659396310648876, 1.0871668733558204, 1.026553252210354, 0.12122724229093285}},
        {'A',
         26,
         500.0,
         {0.6875, 0.7124999999999999, 0.7, 0.02499999999999991},
         {1.0571668733558204, 1.0871668733558204, 1.0721668733558203, 0.030000000000000027},
         {0.9607879800220774, 0.9907879800220775, 0.9757879800220775, 0.030000000000000027},
         {0.6855670936090285, 0.37330789986453383, 0.008021946350138063, 0.6519038887915288, 2},
         {0.6855670936090285, 0.37330789986453383, 0.008021946350138063, 0.6519038887915288, 1},
         1,
         false,
         {0.9607879800220774, 0.9907879800220775, 0.9757879800220775, 0.030000000000000027}},
        // No screen property yet: every pair joins, here fingers 300 mm apart; the joined
        // point is far from the first one and so a new contact.
        {'B',
         300,
         0.0,
         {0.5875, 0.6124999999999999, 0.6, 0.02499999999999991},
         {1.0489594096463022, 1.0789594096463022, 1.0639594096463023, 0.030000000000000027},
         {0.36536767205185194, 0.39536767205185197, 0.38036767205185196, 0.030000000000000027},
         {0.2752792606855752, 0.4023745796587616, 0.00817911548249118, 0.7130975656689126, 2},
         {0.43713699439572984, 0.6389613730261413, 0.0187442019068185, 3.425367111748793, 2},
         2,
         true,
         {0.36536767205185194, 1.0789594096463022, 0.7221635408490771, 0.7135917375944503}},
    };
    for (const Case& c : cases) {
        Reset();
        t_.Scale.BaselineMm = c.baselineMm;
        const std::string what = std::string(1, c.pairCamera) + " pair, " + std::to_string(c.gapMm) + " mm";
        const bool pairOnB = c.pairCamera == 'B';
        TRACK_PAIR pair = pairOnB ? Frame(1, c.ray, 1, c.nearShadow) : Frame(1, c.nearShadow, 1, c.ray);
        ExpectPoint(pair.Contact[0], c.first, what + ", first frame");

        // Each camera lists its shadows by angle.
        pair = pairOnB ? Frame(1, c.ray, c.ray, 2, c.farShadow, c.nearShadow)
                       : Frame(2, c.farShadow, c.nearShadow, 1, c.ray, c.ray);
        ExpectPoint(pair.Contact[c.contact - 1], c.result, what);
        ExpectPoint(pair.Contact[2 - c.contact], kNone, what);
        EXPECT_EQ(HoldCounter(), c.joined ? 0 : 1) << what;
        EXPECT_EQ(t_.SingleShadow[1], c.joined ? 1 : 0) << what;
        EXPECT_EQ(t_.SingleShadow[0], 1) << what;
        ExpectAngles(pairOnB ? b_[0] : a_[0], c.firstAfter, what);
        ExpectAngles(pairOnB ? b_[1] : a_[1], c.nearShadow, what + ", second record");
    }
}

TEST_F(Tracking, TwoByTwoWithoutReferencesTakesTheFirstPairWhoseSizesAgree) {
    struct Case {
        SHADOW_ANGLES a0, a1, b0, b1;
        TRACK_POINT contact1, contact2;
    };
    // Pairs 1 and 4 (and 2 and 3) hold the same points, so their sums tie; the earlier wins.
    const Case cases[] = {
        {kPA, kQA, kPB, kQB, kP, kQ},  // pair 1 over pair 4
        {kPA, kQA, kQB, kPB, kP, kQ},  // pair 2 over pair 3
        {kQA, kPA, kQB, kPB, kQ, kP},  // pair 1 over pair 4
    };
    int row = 0;
    for (const Case& c : cases) {
        Reset();
        t_.HoldCounter = 2;
        const TRACK_PAIR pair = Frame(2, c.a0, c.a1, 2, c.b0, c.b1);
        ++row;
        ExpectPoint(pair.Contact[0], c.contact1, "row " + std::to_string(row));
        ExpectPoint(pair.Contact[1], c.contact2, "row " + std::to_string(row));
        EXPECT_EQ(HoldCounter(), 0);
    }
}

TEST_F(Tracking, TwoByTwoAgainstReferencesPrefersTurnsAfterAnOrdinaryFrame) {
    // The raw pair is the fingers themselves, so the finger pair turns best (1 + 1).
    struct Case {
        std::uint8_t twoAgainstOne;
        TRACK_POINT r1, r2, contact1, contact2;
    };
    const Case cases[] = {
        // References 55 % of the way from the fingers to the ghosts: the ghosts are nearer,
        // the fingers less than twice as far and turning better.
        {0, {0.435, 0.7250000000000001, 0, 0, 1}, {0.565, 0.4842857142857143, 0, 0, 1}, kGhostPQ, kGhostQP},
        {1, {0.435, 0.7250000000000001, 0, 0, 1}, {0.565, 0.4842857142857143, 0, 0, 1}, kP, kQ},
        // 80 %: the ghosts cost less than half as much.
        {1,
         {0.49636363636363634, 0.8272727272727273, 0, 0, 1},
         {0.5036363636363637, 0.4316883116883117, 0, 0, 1},
         kGhostPQ,
         kGhostQP},
        // Near the ghosts and near the fingers, contacts swapped: pairs 3 and 4.
        {0, {0.46, 0.4, 0, 0, 1}, {0.54, 0.9, 0, 0, 1}, kGhostQP, kGhostPQ},
        {0, {0.69, 0.61, 0, 0, 1}, {0.31, 0.49, 0, 0, 1}, kQ, kP},
        {1, {0.69, 0.61, 0, 0, 1}, {0.31, 0.49, 0, 0, 1}, kQ, kP},
    };
    int row = 0;
    for (const Case& c : cases) {
        Reset();
        // The previous frame's own output.
        t_.Raw[0] = Triangulate(kPA, kPB);
        t_.Raw[1] = Triangulate(kQA, kQB);
        t_.Reference[0] = c.r1;
        t_.Reference[1] = c.r2;
        t_.TwoAgainstOne = c.twoAgainstOne;
        SHADOW_ANGLES a[2] = {kPA, kQA};
        SHADOW_ANGLES b[2] = {kPB, kQB};
        const TRACK_PAIR pair = Resolve(&t_, a, 2, b, 2);
        ++row;
        const std::string what = "row " + std::to_string(row);
        ExpectPoint(pair.Contact[0], c.contact1, what);
        ExpectPoint(pair.Contact[1], c.contact2, what);
    }
}

TEST_F(Tracking, OtherShadowCountsGiveNoContacts) {
    struct Counts {
        std::int32_t a, b;
    };
    const Counts cases[] = {{3, 0}, {0, 3}, {3, 1}, {1, 3}, {3, 2}, {2, 3}, {3, 3}, {-1, 1}, {1, -1}, {-1, 0}};
    for (const Counts& c : cases) {
        Reset();
        t_.Raw[0] = kFinger;
        t_.Reference[0] = WithState(kFinger, kPointHeld);
        t_.HoldCounter = 2;
        SHADOW_ANGLES a[2] = {kPA, kQA};
        SHADOW_ANGLES b[2] = {kPB, kQB};
        const TRACK_PAIR pair = Resolve(&t_, a, c.a, b, c.b);
        const std::string what = std::to_string(c.a) + " against " + std::to_string(c.b);
        ExpectPoint(pair.Contact[0], kNone, what);
        ExpectPoint(pair.Contact[1], kNone, what);
        EXPECT_EQ(HoldCounter(), 2) << what;
    }
}

TEST_F(Tracking, FinishResolveRecordsThePairAndTheOneAgainstTwoFlag) {
    struct Case {
        std::int32_t countA, countB;
        std::uint8_t state1, state2;
        int twoAgainstOne;
    };
    const Case cases[] = {
        {1, 2, 2, 2, 0}, {2, 1, 2, 2, 0}, {1, 2, 2, 0, 1}, {2, 1, 1, 1, 1},
        {2, 2, 2, 2, 1}, {1, 1, 2, 0, 1}, {0, 0, 0, 0, 1},
    };
    for (const Case& c : cases) {
        Reset();
        TRACK_PAIR pair;
        pair.Contact[0] = WithState(kP, c.state1);
        pair.Contact[1] = WithState(kQ, c.state2);
        FinishResolve(&t_, c.countA, c.countB, pair);
        const std::string what = std::to_string(c.countA) + " against " + std::to_string(c.countB) + ", states " +
                                 std::to_string(c.state1) + std::to_string(c.state2);
        EXPECT_EQ(TwoAgainstOne(), c.twoAgainstOne) << what;
        for (int i = 0; i < 2; ++i) {
            const TRACK_POINT& given = pair.Contact[i];
            const std::uint8_t referenceState = given.state == kPointInvalid ? kPointInvalid : kPointHeld;
            EXPECT_EQ(std::memcmp(&t_.Raw[i], &given, sizeof(TRACK_POINT)), 0) << what;
            EXPECT_EQ(std::memcmp(&t_.Filtered[i], &given, sizeof(TRACK_POINT)), 0) << what;
            const TRACK_POINT reference = WithState(given, referenceState);
            EXPECT_EQ(std::memcmp(&t_.Reference[i], &reference, sizeof(TRACK_POINT)), 0) << what;
        }
    }
}

TEST_F(Tracking, SingleShadowFlagsAgeByOneFrame) {
    struct Step {
        std::int32_t countA, countB;
        int oldest, middle;
    };
    t_.SingleShadow[1] = 1;
    const Step steps[] = {
        {2, 2, 1, 0},  // two shadows each: the frame's flag is cleared
        {1, 1, 0, 1}, {0, 1, 1, 0}, {1, 1, 0, 1}, {1, 1, 1, 1},
    };
    int frame = 0;
    for (const Step& s : steps) {
        Frame(s.countA, kPA, kQA, s.countB, kPB, kQB);
        ++frame;
        EXPECT_EQ(t_.SingleShadow[0], s.oldest) << "frame " << frame;
        EXPECT_EQ(t_.SingleShadow[1], s.middle) << "frame " << frame;
        EXPECT_EQ(t_.SingleShadow[2], s.middle) << "frame " << frame;
    }
}

TEST_F(Tracking, ResetForgetsTheTracks) {
    std::memset(t_.Raw, 0xA5, sizeof(t_.Raw));
    std::memset(t_.Reference, 0xA5, sizeof(t_.Reference));
    std::memset(t_.Filtered, 0xA5, sizeof(t_.Filtered));
    t_.HoldCounter = 3;
    t_.TwoAgainstOne = 1;
    t_.SingleShadow[0] = 1;
    ResetTracking(&t_);
    const TRACK_POINT zero[2] = {kNone, kNone};
    EXPECT_EQ(std::memcmp(t_.Raw, zero, sizeof(zero)), 0);
    EXPECT_EQ(std::memcmp(t_.Reference, zero, sizeof(zero)), 0);
    EXPECT_EQ(std::memcmp(t_.Filtered, zero, sizeof(zero)), 0);
    EXPECT_EQ(HoldCounter(), 0);
    EXPECT_EQ(TwoAgainstOne(), 0);
    EXPECT_EQ(t_.SingleShadow[0], 1);
}

}  // namespace
}  // namespace kav::test
