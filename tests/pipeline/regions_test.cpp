#include "kavusb/pipeline/regions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace kav::test {
namespace {

TEST(MapPoint, IdentityRegionKeepsThePointInsideTheLogicalRange) {
    MAP_REGION region;
    ResetRegion(&region);
    struct Case {
        TOUCH_POINT point;
        MAPPED_POINT expected;
    };
    const Case cases[] = {
        {{100, 200, 10, 1}, {100, 200, 10, true}},
        {{0, 0, 0, 0}, {0, 0, 0, true}},
        {{32767, 32767, 3, 1}, {32767, 32767, 3, true}},
        {{32768, 5, 3, 1}, {32768, 5, 3, false}},
        {{5, -1, 3, 1}, {5, -1, 3, false}},
    };
    for (const Case& c : cases) {
        const MAPPED_POINT mapped = MapPoint(c.point, region);
        EXPECT_EQ(mapped.X, c.expected.X);
        EXPECT_EQ(mapped.Y, c.expected.Y);
        EXPECT_EQ(mapped.Size, c.expected.Size);
        EXPECT_EQ(mapped.Inside, c.expected.Inside) << c.point.X << "," << c.point.Y;
    }
}

TEST(MapPoint, EvaluatesInSinglePrecisionAndTruncates) {
    MAP_REGION region;
    ResetRegion(&region);
    region.XCoef[8] = 0.5f;  // x' = 0.5 X + 0.75
    region.XCoef[9] = 0.75f;
    region.YCoef[7] = 0.0f;  // y' = 1e-4 Y^3 (cubic term)
    region.YCoef[0] = 1e-4f;
    region.SizeScale = 2.0f;
    const MAPPED_POINT mapped = MapPoint({101, 30, 7, 1}, region);
    EXPECT_EQ(mapped.X, 51);  // 51.25 truncated
    const float y = 30.0f;
    EXPECT_EQ(mapped.Y, static_cast<std::int32_t>(1e-4f * y * y * y));
    EXPECT_EQ(mapped.Size, 14);  // trunc(14 + 0.5)
    EXPECT_TRUE(mapped.Inside);

    region.SizeScale = 0.25f;
    EXPECT_EQ(MapPoint({0, 0, 7, 1}, region).Size, 2);  // trunc(1.75 + 0.5)
}

TEST(MapPoint, WildCoefficientsGiveAPointOutsideRatherThanOverflow) {
    MAP_REGION region;
    ResetRegion(&region);
    for (float wild : {1e30f, -1e30f, std::numeric_limits<float>::infinity(), std::nanf("")}) {
        region.XCoef[9] = wild;
        EXPECT_FALSE(MapPoint({100, 100, 1, 1}, region).Inside) << wild;
    }
}

}  // namespace
}  // namespace kav::test
