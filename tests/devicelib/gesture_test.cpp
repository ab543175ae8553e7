// The two-finger gesture step through its exports: scale, angle and pan between samples,
// and the defined answers where the quotients have none.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstddef>

#include "devicelib/include/KavLib.h"

namespace kav::devicelib {
namespace {

constexpr double kPi = 3.141592653589793;

GESTURE_POINTS Two(int x1, int y1, int x2, int y2) {
    GESTURE_POINTS points{};
    points.X1 = x1;
    points.Y1 = y1;
    points.Valid1 = 1;
    points.X2 = x2;
    points.Y2 = y2;
    points.Valid2 = 1;
    return points;
}

GESTURE_POINTS Only(int contact, int x, int y) {
    GESTURE_POINTS points{};
    (contact == 1 ? points.X1 : points.X2) = x;
    (contact == 1 ? points.Y1 : points.Y2) = y;
    (contact == 1 ? points.Valid1 : points.Valid2) = 1;
    return points;
}

GESTURE_RESULT Step(GESTURE_POINTS previous, GESTURE_POINTS current) {
    GESTURE_RESULT result{-7, -7, -7, -7};
    EXPECT_EQ(Nerio_Gesture_Process(&current, &result, &previous), &previous);
    return result;
}

TEST(Gesture, RecordsHaveTheLayoutAnApplicationCompilesAgainst) {
    EXPECT_EQ(sizeof(GESTURE_POINTS), 24u);
    EXPECT_EQ(offsetof(GESTURE_POINTS, Valid1), 8u);
    EXPECT_EQ(offsetof(GESTURE_POINTS, X2), 12u);
    EXPECT_EQ(offsetof(GESTURE_POINTS, Valid2), 20u);
    EXPECT_EQ(sizeof(GESTURE_RESULT), 32u);
    EXPECT_EQ(offsetof(GESTURE_RESULT, PanY), 24u);
}

TEST(Gesture, StepsBetweenSamples) {
    struct Case {
        const char* name;
        GESTURE_POINTS previous, current;
        GESTURE_RESULT expected;
    };
    const Case cases[] = {
        {"apart along x from 100 to 200", Two(100, 50, 200, 50), Two(60, 60, 260, 60), {2, 0, 10, 10}},
        {"together from 200 to 100", Two(0, 0, 0, 200), Two(0, 50, 0, 150), {0.5, 0, 0, 0}},
        {"a quarter turn from +x to +y", Two(200, 100, 100, 100), Two(150, 150, 150, 50), {1, kPi / 2, 0, 0}},
        {"a quarter turn from +x to -y", Two(200, 100, 100, 100), Two(150, 50, 150, 150), {1, -kPi / 2, 0, 0}},
        {"opposite vectors", Two(200, 100, 100, 100), Two(100, 100, 200, 100), {1, kPi, 0, 0}},
        {"nearly opposite", Two(200, 100, 100, 100), Two(100, 101, 200, 100), {1.00005, kPi - 0.01, 0, 0}},
        {"a slight turn keeps its sign", Two(0, 0, 100, 0), Two(0, 0, 100, 1), {1.00005, 0.01, 0, 0}},
        // Integer halving truncates toward zero: (1 + 12 - 0 - 10) / 2 = 1, (-1 - 2) / 2 = -1.
        {"midpoint pan truncates", Two(0, 0, 10, 0), Two(1, -1, 12, -2), {1.104536, -0.090660, 1, -1}},
        {"only contact 1 in both", Only(1, 10, 20), Two(15, 17, 900, 900), {1, 0, 5, -3}},
        {"only contact 2 in both", Two(10, 20, 30, 40), Only(2, 25, 55), {1, 0, -5, 15}},
        {"no contact in both", Only(1, 10, 10), Only(2, 20, 20), {1, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const GESTURE_RESULT r = Step(c.previous, c.current);
        EXPECT_NEAR(r.Scale, c.expected.Scale, 1e-4);
        EXPECT_NEAR(r.Angle, c.expected.Angle, 1e-4);
        EXPECT_EQ(r.PanX, c.expected.PanX);
        EXPECT_EQ(r.PanY, c.expected.PanY);
    }
}

TEST(Gesture, StepsWithoutAQuotientAreDefinedAndFinite) {
    struct Case {
        const char* name;
        GESTURE_POINTS previous, current;
        GESTURE_RESULT expected;
    };
    const Case cases[] = {
        // asin's argument comes out a rounding above 1 for this exact quarter turn.
        {"quarter turn of (1, 5)", Two(101, 105, 100, 100), Two(95, 101, 100, 100), {1, kPi / 2, -3, -2}},
        {"previous contacts coincide", Two(50, 50, 50, 50), Two(40, 50, 80, 50), {1, 0, 10, 0}},
        {"current contacts coincide", Two(40, 50, 80, 50), Two(70, 70, 70, 70), {1, 0, 10, 20}},
        {"both coincide", Two(5, 5, 5, 5), Two(9, 9, 9, 9), {1, 0, 4, 4}},
        // Differences of 2^32 - 1 and squared lengths beyond 64 bits.
        {"the whole int range",
         Two(INT_MIN, INT_MIN, INT_MAX, INT_MAX),
         Two(INT_MAX, INT_MAX, INT_MIN, INT_MIN),
         {1, kPi, 0, 0}},
        {"from the whole range to a unit",
         Two(INT_MIN, 0, INT_MAX, 0),
         Two(1, 0, 0, 0),
         {1 / 4294967295.0, kPi, static_cast<double>((1LL - INT_MIN - INT_MAX) / 2), 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const GESTURE_RESULT r = Step(c.previous, c.current);
        for (const double v : {r.Scale, r.Angle, r.PanX, r.PanY}) EXPECT_TRUE(std::isfinite(v)) << v;
        EXPECT_DOUBLE_EQ(r.Scale, c.expected.Scale);
        EXPECT_DOUBLE_EQ(r.Angle, c.expected.Angle);
        EXPECT_EQ(r.PanX, c.expected.PanX);
        EXPECT_EQ(r.PanY, c.expected.PanY);
    }
}

TEST(Gesture, ProcessMakesTheCurrentSampleThePreviousOne) {
    GESTURE_POINTS previous = Two(1, 2, 3, 4);
    EXPECT_EQ(Nerio_Gesture_InitContext(&previous), &previous);
    EXPECT_EQ(previous.Valid1, 0);
    EXPECT_EQ(previous.Valid2, 0);
    EXPECT_EQ(previous.X1, 1);  // coordinates untouched
    EXPECT_EQ(previous.Y2, 4);
    EXPECT_EQ(Nerio_Gesture_InitContext(nullptr), nullptr);

    // The first step after the reset neither pans nor scales.
    GESTURE_POINTS current = Two(500, 600, 700, 800);
    current.Valid2 = 0;
    GESTURE_RESULT result{};
    EXPECT_EQ(Nerio_Gesture_Process(&current, &result, &previous), &previous);
    EXPECT_EQ(result.Scale, 1);
    EXPECT_EQ(result.Angle, 0);
    EXPECT_EQ(result.PanX, 0);
    EXPECT_EQ(result.PanY, 0);
    // All of it is copied, the invalid contact's coordinates too.
    EXPECT_EQ(previous.X1, 500);
    EXPECT_EQ(previous.Valid1, 1);
    EXPECT_EQ(previous.X2, 700);
    EXPECT_EQ(previous.Valid2, 0);

    current.X1 = 530;
    EXPECT_EQ(Nerio_Gesture_Process(&current, &result, &previous), &previous);
    EXPECT_EQ(result.PanX, 30);
}

TEST(Gesture, AMissingPointerDoesNothing) {
    GESTURE_POINTS current = Two(1, 1, 2, 2), previous = Two(5, 5, 6, 6);
    GESTURE_RESULT result{9, 9, 9, 9};
    EXPECT_EQ(Nerio_Gesture_Process(&current, nullptr, &previous), &current);
    EXPECT_EQ(Nerio_Gesture_Process(&current, &result, nullptr), &current);
    EXPECT_EQ(Nerio_Gesture_Process(nullptr, &result, &previous), nullptr);
    EXPECT_EQ(previous.X1, 5);
    EXPECT_EQ(result.Scale, 9);
}

}  // namespace
}  // namespace kav::devicelib
