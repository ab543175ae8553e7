#include "kavusb/pipeline/output_stage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <utility>
#include <vector>

#include "pipeline_fixture.h"

// Values marked "script" come from data/output_expected.py; the others are worked out
// in the comments.

namespace kav::test {
namespace {

// TOUCH_POINT unpacked, for the gtest macros.
struct Pt {
    std::int32_t x, y, size;
    int tip;
    bool operator==(const Pt&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Pt& p) {
    return os << "(" << p.x << ", " << p.y << ", " << p.size << ", tip " << p.tip << ")";
}

Pt Unpack(const TOUCH_POINT& p) {
    return {p.X, p.Y, p.Size, p.Tip};
}

TOUCH_POINT Pack(const Pt& p) {
    return {p.x, p.y, p.size, static_cast<std::uint8_t>(p.tip)};
}

SAMPLE_HISTORY History(const Pt& h0, const Pt& h1, const Pt& h2, const Pt& h3) {
    SAMPLE_HISTORY h{};
    h.H[0] = Pack(h0);
    h.H[1] = Pack(h1);
    h.H[2] = Pack(h2);
    h.H[3] = Pack(h3);
    return h;
}

// Written over outputs the stage may leave alone, so that untouched entries show.
constexpr TOUCH_POINT kSentinel{-7, -7, -7, 9};

// One contact of a frame's raw (or filtered) pair, in logical units: the fixture's
// screen scale is the identity.
struct Contact {
    double x, y, size;
    std::uint8_t state;
};

constexpr Contact kNone{0, 0, 0, 0};

Contact At(std::int32_t x, std::int32_t y, std::int32_t size = 20) {
    return {static_cast<double>(x), static_cast<double>(y), static_cast<double>(size), 2};
}

TRACK_POINT Track(const Contact& c) {
    return {c.x, c.y, c.size, 0.0, c.state};
}

class OutputStageTest : public PipelineTest {
protected:
    void SetUp() override {
        PipelineTest::SetUp();
        SCREEN_SCALE& scale = Context()->Triangulation.Scale;
        scale = SCREEN_SCALE{1.0f, 0.0f, 1.0f, 0.0f, 1.0f, 0.1f, 500.0f};
        Context()->Triangulation.SingleShadow[0] = 1;
        Configure(0, 0);
    }

    // What device start does with the given DoubleClickTime and Smoothness, on a
    // 400 x 300 mm screen with a 4 mm area: radius 327, radius² 106929 (script).
    void Configure(std::uint32_t timeMs, std::uint32_t smoothness) {
        Driver()->Config.DoubleClickTime = timeMs;
        Driver()->Config.DoubleClickArea = 4;
        Driver()->Config.Smoothness = smoothness;
        ApplyDriverConfig();
        ResetTapStabilizer(Context());
        InitTapStabilizer(Context(), timeMs, 4, 400, 300);
        ResetSampleHistories(Context());
        SetSmoothnessScale(Context(), smoothness);
    }

    // Runs the stage on a raw pair and returns the number of samples it produced for the
    // frame: contact 2 is interpolated once per sample, so it shows the count.
    int Frame(const Contact& c1, const Contact& c2 = kNone) {
        DEVICE_CONTEXT* context = Context();
        context->Triangulation.Raw[0] = Track(c1);
        context->Triangulation.Raw[1] = Track(c2);
        for (TOUCH_POINT& p : context->FrameOutput[1]) p = kSentinel;
        RunOutputStage(context);
        int n = 0;
        while (n < 60 && context->FrameOutput[1][n].Tip != kSentinel.Tip) ++n;
        return n;
    }

    Pt Out1(int i) { return Unpack(Context()->FrameOutput[0][i]); }
    Pt Out2(int i) { return Unpack(Context()->FrameOutput[1][i]); }
    int State() { return Context()->TapStabilizer.State; }
};

// --- Configuration -------------------------------------------------------------------

struct InitCase {
    std::uint32_t timeMs, areaMm, width, height;
    std::int32_t window, radiusSquared;
    int state;
};

TEST_F(OutputStageTest, InitTapStabilizerWindowRadiusAndState) {
    constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    const InitCase cases[] = {
        // time/16 samples, capped at 60; below one sample the stabilizer is off.
        {0, 4, 400, 300, 1, 106929, 0},
        {15, 4, 400, 300, 1, 106929, 0},
        {16, 4, 400, 300, 1, 106929, 1},
        {300, 4, 400, 300, 18, 106929, 1},
        {959, 4, 400, 300, 59, 106929, 1},
        {960, 4, 400, 300, 60, 106929, 1},
        {0xFFFFFFFFu, 4, 400, 300, 60, 106929, 1},
        // Radius (area·32768)/W truncated: 0 mm, 1 mm on 32768 mm, the largest radius
        // whose square fits (46340² = 2147395600, script), and beyond it.
        {300, 0, 400, 300, 18, 0, 1},
        {300, 1, 32768, 1, 18, 1, 1},
        {300, 46340, 32768, 300, 18, 2147395600, 1},
        {300, 46341, 32768, 300, 18, kMax, 1},
        // 65535·32768 still fits i32 but its square does not; larger areas would wrap
        // a 32-bit product.
        {300, 65535, 1, 1, 18, kMax, 1},
        {300, 0xFFFFFFFFu, 1, 1, 18, kMax, 1},
    };
    for (const InitCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "time " << c.timeMs << " area " << c.areaMm << " W " << c.width);
        DEVICE_CONTEXT* context = Context();
        ResetTapStabilizer(context);
        context->TapStabilizer.Count = 7;
        context->TapStabilizer.Sample[3].Tip = 1;
        context->TapStabilizer.Sample[59].Tip = 1;
        InitTapStabilizer(context, c.timeMs, c.areaMm, c.width, c.height);
        const TAP_STABILIZER& s = context->TapStabilizer;
        EXPECT_EQ(s.Window, c.window);
        EXPECT_EQ(s.RadiusSquared, c.radiusSquared);
        EXPECT_EQ(s.State, c.state);
        EXPECT_EQ(s.Count, 0);
        EXPECT_EQ(s.Sample[3].Tip, 0);
        EXPECT_EQ(s.Sample[59].Tip, 0);
    }
}

TEST_F(OutputStageTest, InitTapStabilizerIgnoresZeroWidthOrHeight) {
    DEVICE_CONTEXT* context = Context();
    for (auto [width, height] : {std::pair{0u, 300u}, std::pair{400u, 0u}, std::pair{0u, 0u}}) {
        ResetTapStabilizer(context);
        context->TapStabilizer.Count = 5;
        context->TapStabilizer.Sample[2].Tip = 1;
        InitTapStabilizer(context, 300, 4, width, height);
        const TAP_STABILIZER& s = context->TapStabilizer;
        // Device start's defaults stay: 60 samples, radius 400, idle.
        EXPECT_EQ(s.Window, 60);
        EXPECT_EQ(s.RadiusSquared, 160000);
        EXPECT_EQ(s.State, 1);
        EXPECT_EQ(s.Count, 5);
        EXPECT_EQ(s.Sample[2].Tip, 1);
    }
}

TEST_F(OutputStageTest, ResetsAndSmoothnessScale) {
    DEVICE_CONTEXT* context = Context();
    TAP_STABILIZER& s = context->TapStabilizer;
    s.Window = 3;
    s.RadiusSquared = 9;
    s.State = kTapResting;
    s.Count = 2;
    s.Saved.Tip = 1;
    for (TOUCH_POINT& p : s.Sample) p.Tip = 1;
    ResetTapStabilizer(context);
    EXPECT_EQ(s.Window, 60);
    EXPECT_EQ(s.RadiusSquared, 160000);
    EXPECT_EQ(s.State, 1);
    EXPECT_EQ(s.Count, 0);
    EXPECT_EQ(s.Saved.Tip, 0);
    for (const TOUCH_POINT& p : s.Sample) EXPECT_EQ(p.Tip, 0);

    SAMPLE_HISTORY* histories[] = {&context->Contact2History, &context->SmoothHistory[0], &context->SmoothHistory[1]};
    for (SAMPLE_HISTORY* h : histories) {
        for (TOUCH_POINT& p : h->H) p = {1, 2, 3, 1};
        h->Scale = 5.0f;
    }
    ResetSampleHistories(context);
    for (SAMPLE_HISTORY* h : histories) {
        for (const TOUCH_POINT& p : h->H) EXPECT_EQ(Unpack(p), (Pt{1, 2, 3, 0}));
        EXPECT_EQ(h->Scale, 0.0f);
    }

    // Smoothness is a signed number divided by 32768 (script for the odd ones).
    const std::pair<std::uint32_t, float> scales[] = {
        {0, 0.0f},
        {1, 3.0517578125e-05f},
        {32768, 1.0f},
        {65536, 2.0f},
        {0xFFFFFFFFu, -3.0517578125e-05f},
        {0x80000000u, -65536.0f},
    };
    for (auto [smoothness, scale] : scales) {
        SetSmoothnessScale(context, smoothness);
        EXPECT_EQ(context->SmoothHistory[0].Scale, scale) << smoothness;
        EXPECT_EQ(context->SmoothHistory[1].Scale, 0.0f);
        EXPECT_EQ(context->Contact2History.Scale, 0.0f);
    }
}

// --- Curve pieces --------------------------------------------------------------------

TEST(OutputCurve, PushHistory4KeepsTheLastFour) {
    SAMPLE_HISTORY h{};
    for (int i = 1; i <= 5; ++i) PushHistory4(TOUCH_POINT{i, 10 * i, 100 * i, static_cast<std::uint8_t>(i % 2)}, &h);
    EXPECT_EQ(Unpack(h.H[0]), (Pt{2, 20, 200, 0}));
    EXPECT_EQ(Unpack(h.H[1]), (Pt{3, 30, 300, 1}));
    EXPECT_EQ(Unpack(h.H[2]), (Pt{4, 40, 400, 0}));
    EXPECT_EQ(Unpack(h.H[3]), (Pt{5, 50, 500, 1}));
}

const Pt kH0{900, 2100, 31, 1};
const Pt kH1{1000, 2000, 40, 1};
const Pt kH2{1100, 1900, 60, 1};
const Pt kH3{1253, 1850, 47, 1};

Pt Lifted(Pt p) {
    p.tip = 0;
    return p;
}

TEST(OutputCurve, BezierPathLength) {
    struct Case {
        const char* name;
        SAMPLE_HISTORY h;
        float length;
    };
    const Case cases[] = {
        {"all four", History(kH0, kH1, kH2, kH3), 866.9823608398438f},
        // A = H1, B = H2: |d| + |d| + |4d| with d = (100, -100).
        {"H1 and H2 only", History(Lifted(kH0), kH1, kH2, Lifted(kH3)), 848.5281372070312f},
        {"H0 lifted", History(Lifted(kH0), kH1, kH2, kH3), 863.9249877929688f},
        {"H3 lifted", History(kH0, kH1, kH2, Lifted(kH3)), 848.5281372070312f},
        {"H1 lifted", History(kH0, Lifted(kH1), kH2, kH3), 0.0f},
        {"H2 lifted", History(kH0, kH1, Lifted(kH2), kH3), 0.0f},
    };
    for (const Case& c : cases) EXPECT_FLOAT_EQ(BezierPathLength(c.h), c.length) << c.name;

    // Far outside the logical range the integer part must not wrap.
    const Pt low{std::numeric_limits<std::int32_t>::min(), 0, 0, 1};
    const Pt high{std::numeric_limits<std::int32_t>::max(), 0, 0, 1};
    // A = H1, B = H2, d = 2^32 - 1: 6·|d|.
    EXPECT_FLOAT_EQ(BezierPathLength(History(Lifted(low), low, high, Lifted(high))), 6.0f * 4294967295.0f);
}

std::vector<Pt> InterpolateInto(const SAMPLE_HISTORY& h, std::int32_t* count) {
    TOUCH_POINT out[60];
    for (TOUCH_POINT& p : out) p = kSentinel;
    Interpolate(out, count, h);
    std::vector<Pt> result;
    for (const TOUCH_POINT& p : out) result.push_back(Unpack(p));
    return result;
}

TEST(OutputCurve, InterpolateAlongTheCurve) {
    struct Case {
        const char* name;
        SAMPLE_HISTORY h;
        std::vector<Pt> expected;  // script
    };
    const Case cases[] = {
        {"H1 and H2 only",
         History(Lifted(kH0), kH1, kH2, Lifted(kH3)),
         {{1016, 1984, 43, 1}, {1050, 1950, 50, 1}, {1084, 1916, 57, 1}, {1100, 1900, 60, 1}}},
        {"all four",
         History(kH0, kH1, kH2, kH3),
         {{1017, 1982, 43, 1}, {1037, 1959, 48, 1}, {1058, 1936, 54, 1}, {1080, 1915, 58, 1}, {1100, 1900, 60, 1}}},
        {"H3 lifted",
         History(kH0, kH1, kH2, Lifted(kH3)),
         {{1037, 1963, 47, 1}, {1080, 1920, 56, 1}, {1100, 1900, 60, 1}}},
        {"H0 lifted", History(Lifted(kH0), kH1, kH2, kH3), {{1038, 1957, 50, 1}, {1100, 1900, 60, 1}}},
        // The size control point lies at -100: the curve's size goes negative.
        {"size below zero",
         History({0, 0, 800, 1}, {100, 100, 0, 1}, {200, 200, 0, 1}, {0, 0, 0, 0}),
         {{126, 126, 0, 1}, {159, 159, 0, 1}, {188, 188, 0, 1}, {200, 200, 0, 1}}},
        // Without H1 the curve collapses onto H2, whatever H0 and H3 are.
        {"only H2 touching", History(Lifted(kH0), Lifted(kH1), kH2, Lifted(kH3)), {kH2, kH2, kH2, kH2, kH2, kH2, kH2}},
        {"H0, H2, H3 touching", History(kH0, Lifted(kH1), kH2, kH3), {kH2, kH2, kH2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::int32_t count = static_cast<std::int32_t>(c.expected.size());
        const std::vector<Pt> out = InterpolateInto(c.h, &count);
        EXPECT_EQ(count, static_cast<std::int32_t>(c.expected.size()));
        for (std::size_t i = 0; i < c.expected.size(); ++i) EXPECT_EQ(out[i], c.expected[i]) << i;
        EXPECT_EQ(out[c.expected.size()], Unpack(kSentinel));
    }
}

TEST(OutputCurve, InterpolateClampsTheCountAndLiftsWithoutH2) {
    const SAMPLE_HISTORY touching = History(kH0, kH1, kH2, kH3);
    const std::pair<std::int32_t, std::int32_t> counts[] = {
        {0, 1},   {-5, 1},  {std::numeric_limits<std::int32_t>::min(), 1},  {1, 1},
        {60, 60}, {61, 60}, {std::numeric_limits<std::int32_t>::max(), 60},
    };
    for (auto [in, clamped] : counts) {
        SCOPED_TRACE(in);
        std::int32_t count = in;
        const std::vector<Pt> out = InterpolateInto(touching, &count);
        EXPECT_EQ(count, clamped);
        EXPECT_EQ(out[clamped - 1], kH2);  // the last sample is H2 exactly
        if (clamped < 60) {
            EXPECT_EQ(out[clamped], Unpack(kSentinel));
        }
    }

    // H2 not touching: the outputs keep their positions and lose their Tips.
    std::int32_t count = 3;
    const std::vector<Pt> out = InterpolateInto(History(kH0, kH1, Lifted(kH2), kH3), &count);
    EXPECT_EQ(count, 3);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(out[i], (Pt{-7, -7, -7, 0}));
    EXPECT_EQ(out[3], Unpack(kSentinel));
}

// --- Frames --------------------------------------------------------------------------

TEST_F(OutputStageTest, RawOrFilteredPair) {
    DEVICE_CONTEXT* context = Context();
    context->Triangulation.Scale = SCREEN_SCALE{20000.0f, 100.0f, 30000.0f, -50.0f, 80.0f, 0.1f, 500.0f};
    struct Case {
        std::uint8_t antishake, rawState, filteredState;
        Pt expected;
    };
    // Raw (0.5, 0.25, 0.125) gives (10100, 7450, 10); filtered (0.25, 0.5, 0.25) gives
    // (5100, 14950, 20). Raw touches while its state is not 0, filtered only when 2.
    const Case cases[] = {
        {0, 2, 0, {10100, 7450, 10, 1}}, {0, 1, 2, {10100, 7450, 10, 1}}, {0, 0, 2, {10100, 7450, 10, 0}},
        {1, 0, 2, {5100, 14950, 20, 1}}, {1, 2, 1, {5100, 14950, 20, 0}}, {7, 2, 0, {5100, 14950, 20, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << int{c.antishake} << " " << int{c.rawState} << " " << int{c.filteredState});
        Driver()->Config.EnableAntishake = c.antishake;
        ApplyDriverConfig();
        context->Triangulation.Raw[0] = {0.5, 0.25, 0.125, 0.0, c.rawState};
        context->Triangulation.Raw[1] = {0.5, 0.25, 0.125, 0.0, c.rawState};
        context->Triangulation.Filtered[0] = {0.25, 0.5, 0.25, 0.0, c.filteredState};
        context->Triangulation.Filtered[1] = {0.25, 0.5, 0.25, 0.0, c.filteredState};
        RunOutputStage(context);
        // The stabilizer is off: contact 1 passes as it is; contact 2's last sample is
        // its history's H2, the previous frame's contact 2, so read the newest entry.
        EXPECT_EQ(Out1(0), c.expected);
        EXPECT_EQ(Unpack(context->Contact2History.H[3]), c.expected);
        EXPECT_EQ(Unpack(context->JamHoldPoint), c.expected);
    }
}

struct JamStep {
    Contact c1, c2;
    std::uint8_t previousSingle;  // the first single-shadow flag: the previous frame's
    Pt held;                      // contact 1 with anti-jamming on
    Pt free;                      // and off
};

const JamStep kJamSteps[] = {
    {At(100, 100), kNone, 1, {100, 100, 20, 1}, {100, 100, 20, 1}},
    // First frame with two touches: the previous frame had a single shadow.
    {At(200, 200), At(5000, 5000), 1, {200, 200, 20, 1}, {200, 200, 20, 1}},
    // From the second such frame contact 1 stays where the first one put it.
    {At(300, 300), At(5100, 5100), 0, {200, 200, 20, 1}, {300, 300, 20, 1}},
    {At(400, 400), At(5200, 5200), 0, {200, 200, 20, 1}, {400, 400, 20, 1}},
    // Contact 2 gone: contact 1 moves again although the flag is still 0.
    {At(500, 500), kNone, 0, {500, 500, 20, 1}, {500, 500, 20, 1}},
    // A single-shadow previous frame lets two touches through as they are.
    {At(600, 600), At(5300, 5300), 1, {600, 600, 20, 1}, {600, 600, 20, 1}},
};

TEST_F(OutputStageTest, AntijammingHoldsContact1AndSilencesContact2) {
    for (const std::uint8_t antijamming : {std::uint8_t{1}, std::uint8_t{0}, std::uint8_t{0x80}}) {
        Configure(0, 0);
        Driver()->Config.Antijamming = antijamming;
        ApplyDriverConfig();
        int frame = 0;
        int previousC2Tip = 0;
        for (const JamStep& s : kJamSteps) {
            SCOPED_TRACE(testing::Message() << "antijamming " << int{antijamming} << " frame " << frame++);
            Context()->Triangulation.SingleShadow[0] = s.previousSingle;
            ASSERT_EQ(Frame(s.c1, s.c2), 1);
            const Pt expected = antijamming != 0 ? s.held : s.free;
            EXPECT_EQ(Out1(0), expected);
            EXPECT_EQ(Unpack(Context()->JamHoldPoint), expected);
            const int c2Tip = antijamming != 0 ? 0 : s.c2.state != 0;
            EXPECT_EQ(Context()->PrevContact2.Tip, c2Tip);
            EXPECT_EQ(Context()->Contact2History.H[3].Tip, c2Tip);
            // Contact 2's sample trails one frame.
            EXPECT_EQ(Out2(0).tip, previousC2Tip);
            previousC2Tip = c2Tip;
        }
    }
}

TEST_F(OutputStageTest, Contact2TrailsOneFrame) {
    ASSERT_EQ(Frame(At(100, 100), At(5000, 6000, 30)), 1);
    EXPECT_EQ(Out2(0).tip, 0);  // H2 not touching yet
    ASSERT_EQ(Frame(At(100, 100), At(5100, 6100, 30)), 1);
    EXPECT_EQ(Out2(0), (Pt{5000, 6000, 30, 1}));
    ASSERT_EQ(Frame(At(100, 100), At(5200, 6200, 30)), 1);
    EXPECT_EQ(Out2(0), (Pt{5100, 6100, 30, 1}));
}

TEST_F(OutputStageTest, StabilizerOffPassesEverySample) {
    // DoubleClickTime 15 ms: below one sample.
    Configure(15, 0);
    ASSERT_EQ(State(), 0);
    const Contact frames[] = {At(100, 200), At(110, 210), kNone, At(300, 400), At(300, 400), kNone};
    for (const Contact& c : frames) {
        ASSERT_EQ(Frame(c, At(9000, 9000)), 1);
        EXPECT_EQ(Out1(0), (Pt{static_cast<std::int32_t>(c.x), static_cast<std::int32_t>(c.y),
                               static_cast<std::int32_t>(c.size), c.state != 0}));
        EXPECT_EQ(Context()->TapStabilizer.Ready, 0);
        EXPECT_EQ(Context()->PrevContact2.Tip, 1);  // never gated
    }
}

TEST_F(OutputStageTest, TapWithinTheWindowIsEmittedAtItsAverage) {
    Configure(300, 0);
    ASSERT_EQ(Context()->TapStabilizer.Window, 18);
    Context()->FrameOutput[0][0] = {777, 888, 5, 1};  // the last sample before the tap

    // Ten frames within the radius (box diagonal² 185, script).
    const int dx[] = {0, 3, -2, 5, 1, -4, 2, 0, 3, 7};
    const int dy[] = {0, -1, -3, 2, 4, -2, 1, 0, 5, -1};
    for (int i = 0; i < 10; ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(Frame(At(5000 + dx[i], 6000 + dy[i], 20 + i)), 1);
        EXPECT_EQ(Out1(0), (Pt{777, 888, 5, 0}));  // held back at the old position
        EXPECT_EQ(State(), 3);
        EXPECT_EQ(Context()->TapStabilizer.Ready, 1);
    }
    // Release: the ten at their average (5001, 6000, 24, script), then the release.
    ASSERT_EQ(Frame({1234, 2345, 3, 0}), 11);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(Out1(i), (Pt{5001, 6000, 24, 1})) << i;
    EXPECT_EQ(Out1(10), (Pt{1234, 2345, 3, 0}));
    EXPECT_EQ(State(), 1);
    EXPECT_EQ(Context()->TapStabilizer.Count, 0);
    EXPECT_EQ(Context()->TapStabilizer.Ready, 0);

    ASSERT_EQ(Frame(kNone), 1);
    EXPECT_EQ(Out1(0).tip, 0);
}

TEST_F(OutputStageTest, OneFrameTapAndOneSampleWindow) {
    // A tap of one frame: the release frame gives that sample and the release.
    Configure(300, 0);
    ASSERT_EQ(Frame(At(400, 500, 7)), 1);
    EXPECT_EQ(Out1(0).tip, 0);
    ASSERT_EQ(Frame({10, 20, 1, 0}), 2);
    EXPECT_EQ(Out1(0), (Pt{400, 500, 7, 1}));
    EXPECT_EQ(Out1(1), (Pt{10, 20, 1, 0}));

    // 16 ms: a window of one sample, full at the second frame; the first is replaced.
    Configure(16, 0);
    ASSERT_EQ(Frame(At(400, 500, 7)), 1);
    EXPECT_EQ(Out1(0).tip, 0);
    ASSERT_EQ(Frame(At(410, 505, 9)), 1);
    EXPECT_EQ(Out1(0), (Pt{410, 505, 9, 1}));
    EXPECT_EQ(State(), 4);
    ASSERT_EQ(Frame(At(420, 510, 9)), 1);
    EXPECT_EQ(Out1(0), (Pt{410, 505, 9, 1}));  // resting: held
}

TEST_F(OutputStageTest, PressThatLeavesTheRadiusIsEmittedAsItWas) {
    Configure(300, 0);
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(Frame(At(2000 + 10 * i, 2000, 25)), 1);
        EXPECT_EQ(Out1(0).tip, 0);
    }
    // The sixth sample spans 400 units in X: 160000 > 106929.
    ASSERT_EQ(Frame(At(2400, 2000, 26)), 6);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(Out1(i), (Pt{2000 + 10 * i, 2000, 25, 1})) << i;
    EXPECT_EQ(Out1(5), (Pt{2400, 2000, 26, 1}));
    EXPECT_EQ(State(), 2);
    EXPECT_EQ(Context()->TapStabilizer.Ready, 0);

    // Passing: one sample per frame, as it comes, wherever it goes.
    ASSERT_EQ(Frame(At(2000, 2000, 25)), 1);
    EXPECT_EQ(Out1(0), (Pt{2000, 2000, 25, 1}));
    ASSERT_EQ(Frame({7, 8, 9, 0}), 1);
    EXPECT_EQ(Out1(0), (Pt{7, 8, 9, 0}));
    EXPECT_EQ(State(), 1);
}

TEST_F(OutputStageTest, RadiusBoundaryOfTheBoundingBox) {
    // The box must exceed the radius: 327² = 106929 keeps collecting, 328² leaves.
    struct Case {
        std::int32_t x2, y2;
        int state;
    };
    const Case cases[] = {{2327, 3000, 3},
                          {2328, 3000, 2},
                          {2000, 3327, 3},
                          {2000, 3328, 2},
                          // 2·231² = 106722 stays, 2·232² = 107648 leaves.
                          {2231, 3231, 3},
                          {2232, 3232, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x2 << ", " << c.y2);
        Configure(300, 0);
        ASSERT_EQ(Frame(At(2000, 3000)), 1);
        EXPECT_EQ(Frame(At(c.x2, c.y2)), c.state == 2 ? 2 : 1);
        EXPECT_EQ(State(), c.state);
    }
}

TEST_F(OutputStageTest, FingerRestingForTheWholeWindow) {
    Configure(300, 0);
    for (int i = 0; i < 17; ++i) {
        ASSERT_EQ(Frame(At(3000 + (i * 7) % 11, 4000 + (i * 5) % 13, 30 + i % 4)), 1);
        EXPECT_EQ(Out1(0).tip, 0);
    }
    // The eighteenth fills the window: all at the average (3005, 4005, 31, script).
    ASSERT_EQ(Frame(At(3000 + (17 * 7) % 11, 4000 + (17 * 5) % 13, 30 + 17 % 4)), 18);
    for (int i = 0; i < 18; ++i) EXPECT_EQ(Out1(i), (Pt{3005, 4005, 31, 1})) << i;
    EXPECT_EQ(State(), 4);
    EXPECT_EQ(Unpack(Context()->TapStabilizer.Saved), (Pt{3005, 4005, 31, 1}));

    // Within the radius of the held point (strictly) the finger stays put.
    ASSERT_EQ(Frame(At(3005 + 326, 4005, 50)), 1);
    EXPECT_EQ(Out1(0), (Pt{3005, 4005, 31, 1}));
    ASSERT_EQ(Frame(At(3005, 4005 - 326, 50)), 1);
    EXPECT_EQ(Out1(0), (Pt{3005, 4005, 31, 1}));
    // At the radius it moves, and from then on passes.
    ASSERT_EQ(Frame(At(3005 + 327, 4005, 50)), 1);
    EXPECT_EQ(Out1(0), (Pt{3332, 4005, 50, 1}));
    EXPECT_EQ(State(), 2);
    ASSERT_EQ(Frame(At(3006, 4005, 50)), 1);
    EXPECT_EQ(Out1(0), (Pt{3006, 4005, 50, 1}));
}

TEST_F(OutputStageTest, RestingFingerLifts) {
    Configure(32, 0);  // window 2
    ASSERT_EQ(Frame(At(100, 100, 10)), 1);
    ASSERT_EQ(Frame(At(103, 101, 13)), 2);  // average (101, 100, 11)
    EXPECT_EQ(Out1(1), (Pt{101, 100, 11, 1}));
    EXPECT_EQ(State(), 4);
    ASSERT_EQ(Frame({50, 60, 0, 0}), 1);
    EXPECT_EQ(Out1(0), (Pt{50, 60, 0, 0}));
    EXPECT_EQ(State(), 1);
}

TEST_F(OutputStageTest, Contact2CannotStartWhileATapIsCollected) {
    Configure(300, 0);
    // Contact 2 present before contact 1 touches down: it may continue.
    ASSERT_EQ(Frame(kNone, At(9000, 9000)), 1);
    EXPECT_EQ(Context()->PrevContact2.Tip, 1);
    ASSERT_EQ(Frame(At(100, 100), At(9001, 9000)), 1);
    EXPECT_EQ(Context()->TapStabilizer.Ready, 1);
    EXPECT_EQ(Context()->PrevContact2.Tip, 1);
    EXPECT_EQ(Out2(0), (Pt{9000, 9000, 20, 1}));
    // It lifts, and may not come back while the tap is collected ...
    ASSERT_EQ(Frame(At(100, 100), kNone), 1);
    EXPECT_EQ(Context()->PrevContact2.Tip, 0);
    ASSERT_EQ(Frame(At(100, 100), At(9002, 9000)), 1);
    EXPECT_EQ(Context()->PrevContact2.Tip, 0);
    EXPECT_EQ(Context()->Contact2History.H[3].Tip, 0);
    // ... nor in the release frame, where the flag is still set at the gate.
    ASSERT_EQ(Frame(kNone, At(9003, 9000)), 4);
    EXPECT_EQ(Context()->PrevContact2.Tip, 0);
    EXPECT_EQ(Context()->TapStabilizer.Ready, 0);
    // Afterwards it starts freely.
    ASSERT_EQ(Frame(kNone, At(9004, 9000)), 1);
    EXPECT_EQ(Context()->PrevContact2.Tip, 1);
}

TEST_F(OutputStageTest, ZeroFilledStabilizerStaysInBounds) {
    // A device context as device add leaves it: window 0, state 0.
    DEVICE_CONTEXT* context = Context();
    std::memset(&context->TapStabilizer, 0, sizeof(TAP_STABILIZER));
    ASSERT_EQ(Frame(At(100, 200)), 1);
    EXPECT_EQ(Out1(0), (Pt{100, 200, 20, 1}));
    EXPECT_EQ(context->TapStabilizer.Window, 0);
    EXPECT_EQ(context->TapStabilizer.RadiusSquared, 0);
    EXPECT_EQ(context->TapStabilizer.Count, 0);

    // A count beyond the buffer is treated as a full buffer.
    ResetTapStabilizer(context);
    context->TapStabilizer.Count = 1000;
    context->TapStabilizer.State = kTapPass;
    ASSERT_EQ(Frame(At(300, 400)), 60);
    EXPECT_EQ(Out1(59), (Pt{300, 400, 20, 1}));
}

TEST_F(OutputStageTest, StabilizerFarOutsideTheLogicalRange) {
    // A wild screen scale: the box and the resting distance must not overflow.
    DEVICE_CONTEXT* context = Context();
    Configure(300, 0);
    ASSERT_EQ(Frame(At(-2000000000, 0)), 1);
    ASSERT_EQ(Frame(At(2000000000, 0)), 2);
    EXPECT_EQ(State(), 2);

    Configure(32, 0);
    context->TapStabilizer.RadiusSquared = std::numeric_limits<std::int32_t>::max();
    ASSERT_EQ(Frame(At(-2000000000, 5)), 1);
    ASSERT_EQ(Frame(At(-2000000000, 7)), 2);
    ASSERT_EQ(State(), 4);
    ASSERT_EQ(Frame(At(2000000000, 7)), 1);
    EXPECT_EQ(State(), 2);
}

// --- Smoothness ----------------------------------------------------------------------

class SmoothOutputTest : public OutputStageTest {
protected:
    void Sentinels() {
        for (auto& contact : Context()->SmoothOutput)
            for (TOUCH_POINT& p : contact) p = kSentinel;
    }
    int Written(int contact) {
        int m = 0;
        while (m < 60 && Context()->SmoothOutput[contact][m].Tip != kSentinel.Tip) ++m;
        return m;
    }
    Pt Smooth(int contact, int j) { return Unpack(Context()->SmoothOutput[contact][j]); }
};

TEST_F(SmoothOutputTest, SmoothnessZeroEmitsTheFrameSamples) {
    Configure(0, 0);
    Sentinels();
    for (const Pt& p : {kH0, kH1, kH2, kH3}) ASSERT_EQ(Frame(At(p.x, p.y, p.size)), 1);
    EXPECT_EQ(Written(0), 0);
    EXPECT_EQ(Written(1), 0);
    for (const TOUCH_POINT& h : Context()->SmoothHistory[0].H) EXPECT_EQ(h.Tip, 0);
    EXPECT_EQ(Out1(0), kH3);
}

TEST_F(SmoothOutputTest, SmoothnessOneGivesOneSampleAtH2) {
    // 867 units of path times 2^-15 truncates to 0, clamped to 1 (script).
    Configure(0, 1);
    const Pt frames[] = {kH0, kH1, kH2, kH3};
    for (int i = 0; i < 4; ++i) {
        Sentinels();
        ASSERT_EQ(Frame(At(frames[i].x, frames[i].y, frames[i].size)), 1);
        EXPECT_EQ(Written(0), 1);
        EXPECT_EQ(Written(1), 1);
        EXPECT_EQ(Unpack(Context()->SmoothHistory[0].H[3]), frames[i]);
        if (i == 0)
            EXPECT_EQ(Smooth(0, 0).tip, 0);  // H2 not touching yet
        else
            EXPECT_EQ(Smooth(0, 0), frames[i - 1]);
        EXPECT_EQ(Smooth(1, 0).tip, 0);
    }
}

TEST_F(SmoothOutputTest, SmoothnessFollowsThePathLength) {
    // Smoothness 128: 866.98 / 256 gives 3 samples from H1 to H2 (script).
    Configure(0, 128);
    for (const Pt& p : {kH0, kH1, kH2}) ASSERT_EQ(Frame(At(p.x, p.y, p.size), At(8000, 8000, 10)), 1);
    Sentinels();
    ASSERT_EQ(Frame(At(kH3.x, kH3.y, kH3.size), At(8000, 8000, 10)), 1);
    ASSERT_EQ(Written(0), 3);
    ASSERT_EQ(Written(1), 3);
    EXPECT_EQ(Smooth(0, 0), (Pt{1030, 1967, 47, 1}));
    EXPECT_EQ(Smooth(0, 1), (Pt{1066, 1929, 55, 1}));
    EXPECT_EQ(Smooth(0, 2), (Pt{1100, 1900, 60, 1}));
    // Contact 2 takes contact 1's count; it stands still, so all at its H2.
    for (int j = 0; j < 3; ++j) EXPECT_EQ(Smooth(1, j), (Pt{8000, 8000, 10, 1}));
}

TEST_F(SmoothOutputTest, CountsBeyondTheBuffersAreClamped) {
    // A scale of 2^16 (and a negative one) on a long path: 60 samples at most, 1 at least.
    const std::pair<std::uint32_t, int> cases[] = {{0x7FFFFFFFu, 60}, {0x80000000u, 1}, {0xFFFFFFFFu, 1}};
    for (auto [smoothness, m] : cases) {
        SCOPED_TRACE(smoothness);
        Configure(0, smoothness);
        Context()->ToolbarPrevTip = 0x5A;  // right after SmoothOutput[1][59]
        ASSERT_EQ(Frame(At(100, 100)), 1);
        ASSERT_EQ(Frame(At(20000, 100)), 1);
        Sentinels();
        ASSERT_EQ(Frame(At(100, 20000)), 1);
        EXPECT_EQ(Written(0), m);
        EXPECT_EQ(Written(1), m);
        EXPECT_EQ(Smooth(0, m - 1), (Pt{20000, 100, 20, 1}));
        EXPECT_EQ(Context()->ToolbarPrevTip, 0x5A);
    }
}

TEST_F(SmoothOutputTest, EverySampleOfABurstGoesThroughTheCurve) {
    // A one-frame tap releases two samples in one frame; each is pushed in turn.
    Configure(300, 1);
    ASSERT_EQ(Frame(At(400, 500, 7)), 1);
    ASSERT_EQ(Frame({10, 20, 1, 0}), 2);
    const SAMPLE_HISTORY& h = Context()->SmoothHistory[0];
    EXPECT_EQ(Unpack(h.H[1]), (Pt{0, 0, 0, 0}));  // the held-back touch-down frame
    EXPECT_EQ(Unpack(h.H[2]), (Pt{400, 500, 7, 1}));
    EXPECT_EQ(Unpack(h.H[3]), (Pt{10, 20, 1, 0}));
}

// --- Toolbar -------------------------------------------------------------------------

TEST_F(OutputStageTest, ToolbarTouchDownTracking) {
    DEVICE_CONTEXT* context = Context();
    for (std::uint8_t enabled : {std::uint8_t{1}, std::uint8_t{0}, std::uint8_t{2}}) {
        SCOPED_TRACE(int{enabled});
        context->ToolbarParams.Enabled = enabled;
        context->ToolbarPrevTip = 0;
        // Contact 1 as the stage saw it, before the stabilizer held it back.
        Configure(300, 0);
        ASSERT_EQ(Frame(At(100, 200)), 1);
        EXPECT_EQ(Unpack(context->JamHoldPoint), (Pt{100, 200, 20, 1}));
        EXPECT_EQ(context->ToolbarPrevTip, enabled == 1 ? 1 : 0);
        ASSERT_EQ(Frame(kNone), 2);
        EXPECT_EQ(context->ToolbarPrevTip, 0);
        context->ToolbarPrevTip = 1;
        ASSERT_EQ(Frame(kNone), 1);
        EXPECT_EQ(context->ToolbarPrevTip, enabled == 1 ? 0 : 1);
    }
}

// --- Through the click stage -----------------------------------------------------------

// In the calibration work mode every sample that is not idle becomes one raw touch
// report, so the completed reads count the samples handed to ComposeSample.
class EmissionTest : public OutputStageTest {
protected:
    void SetUp() override {
        OutputStageTest::SetUp();
        Context()->WorkMode = kWorkModeCalibrate;
        for (int i = 0; i < 24; ++i) reads_.push_back(ParkRead(64));
    }
    int Completed() { return static_cast<int>(reads_.size() - Pending()); }
    TOUCH_CONTACT Contact1(int report) {
        const std::vector<std::uint8_t> bytes = Report(reads_[static_cast<std::size_t>(report)]);
        TOUCH_REPORT r{};
        EXPECT_EQ(bytes.size(), sizeof(r));
        std::memcpy(&r, bytes.data(), std::min(bytes.size(), sizeof(r)));
        return r.Contact[0];
    }
    std::vector<WDFREQUEST> reads_;
};

TEST_F(EmissionTest, TapReachesTheReportsInOneBurst) {
    Configure(300, 0);
    const int dx[] = {0, 3, -2, 5, 1, -4, 2, 0, 3, 7};
    const int dy[] = {0, -1, -3, 2, 4, -2, 1, 0, 5, -1};
    for (int i = 0; i < 10; ++i) Frame(At(5000 + dx[i], 6000 + dy[i], 20 + i));
    EXPECT_EQ(Completed(), 0);
    Frame({1234, 2345, 3, 0});
    ASSERT_EQ(Completed(), 11);
    for (int i = 0; i < 10; ++i) {
        const TOUCH_CONTACT c = Contact1(i);
        EXPECT_EQ((Pt{c.X, c.Y, c.Width, c.Status}), (Pt{5001, 6000, 24, kContactTouching})) << i;
    }
    EXPECT_EQ(Contact1(10).Status, kContactLifted);
}

TEST_F(EmissionTest, SmoothnessMultipliesTheSamples) {
    // Per frame: lifted H2 (idle, no report), then 1 at H0, then 3 and 3 (script).
    Configure(0, 128);
    const int expected[] = {0, 1, 4, 7};
    const Pt frames[] = {kH0, kH1, kH2, kH3};
    for (int i = 0; i < 4; ++i) {
        Frame(At(frames[i].x, frames[i].y, frames[i].size));
        EXPECT_EQ(Completed(), expected[i]) << i;
    }
    const TOUCH_CONTACT last = Contact1(6);
    EXPECT_EQ((Pt{last.X, last.Y, last.Width, last.Status}), (Pt{kH2.x, kH2.y, kH2.size, kContactTouching}));
}

TEST_F(EmissionTest, ToolbarTouchOnTouchDownWithTheUnheldContact) {
    // Area 0: buttons of 1000 x 1000 every 1000 units along X.
    TOOLBAR_PARAMS& toolbar = Context()->ToolbarParams;
    toolbar.Enabled = 1;
    toolbar.AreaMask = 1;
    toolbar.Areas[0] = TOOLBAR_AREA{0, 0, 1000, 1000, 1000, 0};
    // The stabilizer holds contact 1 back at (0, 0), inside button 0; the key must
    // follow where the finger really is: button 2, or no button below the area.
    struct Case {
        std::int32_t x, y;
        int reports;
    };
    for (const Case& c : {Case{2500, 10, 3}, Case{2500, 2000, 0}}) {
        SCOPED_TRACE(c.y);
        Configure(300, 0);
        Context()->ToolbarPrevTip = 0;
        const int before = Completed();
        Frame(At(c.x, c.y));
        EXPECT_EQ(Completed() - before, c.reports);
        Frame(At(c.x, c.y));  // still down: no second stroke
        EXPECT_EQ(Completed() - before, c.reports);
        EXPECT_EQ(Context()->ToolbarPrevTip, 1);
        Frame(kNone);  // the tap's release goes to the touch reports
        EXPECT_EQ(Context()->ToolbarPrevTip, 0);
    }
}

}  // namespace
}  // namespace kav::test
