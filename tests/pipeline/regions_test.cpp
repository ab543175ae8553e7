#include "kavusb/pipeline/regions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

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

namespace kav::test {
namespace {

TEST(Regions, RegionByteTable) {
    struct Case {
        std::uint8_t value;
        bool cubic;
        std::uint8_t count;
    };
    const Case cases[] = {
        {0x00, false, 0}, {0x01, true, 0},  {0x02, false, 2}, {0x03, false, 0},  {0x04, false, 3},
        {0x07, false, 0}, {0x0E, false, 8}, {0x80, false, 1}, {0xFE, false, 64}, {0x10, false, 9},
    };
    for (const Case& c : cases) {
        const REGION_LAYOUT layout = DecodeRegionByte(c.value);
        EXPECT_EQ(layout.Cubic, c.cubic) << int(c.value);
        EXPECT_EQ(layout.Count, c.count) << int(c.value);
    }
}

TEST(Regions, AffineAndCubicRegions) {
    MAP_REGION region;
    ResetRegion(&region);
    region.XMax = 1234;
    const float t[3] = {0.0f, 1.0f, 10.0f};
    const float u[3] = {1.0f, 0.0f, -5.0f};
    SetRegionAffine(&region, t, u);
    EXPECT_EQ(region.SizeScale, 2.0f);
    EXPECT_EQ(region.XMax, 1234);  // bounds kept
    const MAPPED_POINT p = MapPoint({100, 200, 10, 1}, region);
    EXPECT_EQ(p.X, 110);
    EXPECT_EQ(p.Y, 195);
    EXPECT_EQ(p.Size, 20);

    DEVICE_CALIB_PARAS x{}, y{};
    for (int i = 0; i < 10; ++i) {
        x.Coef[i] = static_cast<float>(i);
        y.Coef[i] = static_cast<float>(10 + i);
    }
    SetRegionCubic(&region, x, y);
    EXPECT_EQ(region.XCoef[3], 3.0f);
    EXPECT_EQ(region.YCoef[9], 19.0f);
    EXPECT_EQ(region.SizeScale, 17.0f * 17.0f + 8.0f * 8.0f);
}

class SetupRegionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        context_ = std::make_unique<DEVICE_CONTEXT>();
        std::memset(context_.get(), 0, sizeof(DEVICE_CONTEXT));
        context_->ScreenProperty.Width = 800;
        context_->ScreenProperty.Height = 600;
        for (int k = 0; k < 4; ++k) {
            // Region k: x' = X + 100 k, y' = Y; triple k at bytes 12k .. 12k+11.
            const float x[3] = {0.0f, 1.0f, 100.0f * static_cast<float>(k)};
            const float y[3] = {1.0f, 0.0f, 0.0f};
            std::memcpy(reinterpret_cast<std::uint8_t*>(&context_->CalibParams[0]) + 12 * k, x, sizeof(x));
            std::memcpy(reinterpret_cast<std::uint8_t*>(&context_->CalibParams[1]) + 12 * k, y, sizeof(y));
        }
    }
    DEVICE_CONTEXT* Context() { return context_.get(); }
    std::unique_ptr<DEVICE_CONTEXT> context_;
};

TEST_F(SetupRegionsTest, AffineRegionsTakeTheirTriplesAndBounds) {
    Context()->DeviceConfig.RegionByte = 0x02;
    Context()->DeviceConfig.Region0 = {0, 0, 400, 600};
    Context()->DeviceConfig.Regions[0] = {400, 300, 800, 600};
    SetupRegions(Context(), false);
    EXPECT_EQ(Context()->RegionCount, 2);
    const MAP_REGION& r0 = Context()->Region[0];
    const MAP_REGION& r1 = Context()->Region[1];
    EXPECT_EQ(r0.XMin, 0);
    EXPECT_EQ(r0.XMax, 16384);
    EXPECT_EQ(r0.YMax, 32768);
    EXPECT_EQ(r1.XMin, 16384);
    EXPECT_EQ(r1.YMin, 16384);
    EXPECT_EQ(r1.XMax, 32768);
    EXPECT_EQ(r1.XCoef[9], 100.0f);
    EXPECT_EQ(Context()->Region[2].XCoef[8], 1.0f);  // unused regions stay identities
    EXPECT_EQ(Context()->Region[2].XCoef[9], 0.0f);
}

TEST_F(SetupRegionsTest, CountsAboveFourAreClamped) {
    Context()->DeviceConfig.RegionByte = 0x0E;  // eight regions
    SetupRegions(Context(), false);
    EXPECT_EQ(Context()->RegionCount, 4);
    EXPECT_EQ(Context()->Region[3].XCoef[9], 300.0f);
}

TEST_F(SetupRegionsTest, CubicRegion) {
    Context()->DeviceConfig.RegionByte = 0x01;
    Context()->DeviceConfig.Region0 = {0, 0, 800, 300};
    SetupRegions(Context(), true);
    EXPECT_EQ(Context()->RegionCount, 0);
    EXPECT_EQ(std::memcmp(Context()->Region[0].XCoef, Context()->CalibParams[0].Coef, 40), 0);
    EXPECT_EQ(Context()->Region[0].XMax, 32768);
    EXPECT_EQ(Context()->Region[0].YMax, 16384);
}

TEST_F(SetupRegionsTest, NoRegionsAtDeviceStartRewritesTheDeviceConfig) {
    Context()->DeviceConfig.RegionByte = 0x03;
    Context()->DeviceConfig.Reserved2[0] = 0x55;
    SetupRegions(Context(), false);
    EXPECT_EQ(Context()->DeviceConfig.Reserved2[0], 0x55);  // only device start rewrites it
    SetupRegions(Context(), true);
    EXPECT_EQ(Context()->DeviceConfig.Reserved2[0], 0);
    EXPECT_EQ(Context()->DeviceConfig.RegionByte, 0);
    EXPECT_EQ(Context()->DeviceConfig.Region0.XMax, 800);
    EXPECT_EQ(Context()->DeviceConfig.Region0.YMax, 600);
    const MAPPED_POINT p = MapPoint({100, 200, 10, 1}, Context()->Region[0]);
    EXPECT_EQ(p.X, 100);
    EXPECT_TRUE(p.Inside);
}

TEST_F(SetupRegionsTest, ZeroScreenSizeKeepsTheResetBounds) {
    Context()->ScreenProperty.Width = 0;
    Context()->DeviceConfig.RegionByte = 0x02;
    Context()->DeviceConfig.Region0 = {0, 0, 400, 600};
    SetupRegions(Context(), false);
    EXPECT_EQ(Context()->Region[0].XMax, 32768);
    EXPECT_EQ(Context()->Region[0].YMax, 32768);
    EXPECT_EQ(Context()->Region[1].XCoef[9], 100.0f);
}

}  // namespace
}  // namespace kav::test
