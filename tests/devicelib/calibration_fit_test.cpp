// The calibration fit against values computed apart from this code: every row of
// data/calibration_reference.inc comes from data/calibration_reference.py, which redoes the
// stated arithmetic in Python (doubles, single precision through struct, extended
// precision through exact fractions). Rows compare bit for bit.
#include "devicelib/calibration_fit.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "devicelib/include/KavLib.h"

namespace kav::devicelib {
namespace {

struct Point {
    std::int32_t targetX, targetY, rawX, rawY;
};

struct ReferenceCase {
    const char* name;
    bool cubic;
    std::vector<Point> points;
    bool fitted;
    std::uint32_t x[10];
    std::uint32_t y[10];
};

const ReferenceCase kReference[] = {
#include "data/calibration_reference.inc"
};

struct Arrays {
    std::vector<std::int32_t> targetX, targetY, rawX, rawY;

    explicit Arrays(const std::vector<Point>& points) {
        for (const Point& p : points) {
            targetX.push_back(p.targetX);
            targetY.push_back(p.targetY);
            rawX.push_back(p.rawX);
            rawY.push_back(p.rawY);
        }
    }
    int Count() const { return static_cast<int>(targetX.size()); }
};

// What GetCalibrateData stores, from records that held garbage before the call.
struct ExportResult {
    unsigned char returned;
    DEVICE_CALIB_PARAS x, y;
};

ExportResult CallExport(const Arrays& a, int count, bool cubic) {
    ExportResult r;
    std::memset(&r.x, 0xCD, sizeof r.x);
    std::memset(&r.y, 0xCD, sizeof r.y);
    r.returned = GetCalibrateData(a.targetX.data(), a.targetY.data(), a.rawX.data(), a.rawY.data(), count, r.x, r.y,
                                  cubic ? 1 : 0);
    return r;
}

bool AllZero(const DEVICE_CALIB_PARAS& record) {
    const DEVICE_CALIB_PARAS zero{};
    return std::memcmp(&record, &zero, sizeof record) == 0;
}

std::string Bits(const DEVICE_CALIB_PARAS& record) {
    std::string text;
    char word[12];
    for (const float c : record.Coef) {
        std::snprintf(word, sizeof word, "%08X ", std::bit_cast<std::uint32_t>(c));
        text += word;
    }
    return text;
}

std::string Bits(const std::uint32_t (&coefficients)[10]) {
    DEVICE_CALIB_PARAS record{};
    for (int i = 0; i < 10; ++i) record.Coef[i] = std::bit_cast<float>(coefficients[i]);
    return Bits(record);
}

TEST(CalibrationFit, MatchesTheIndependentComputationBitForBit) {
    for (const ReferenceCase& c : kReference) {
        SCOPED_TRACE(c.name);
        const Arrays arrays(c.points);
        const ExportResult r = CallExport(arrays, arrays.Count(), c.cubic);
        EXPECT_EQ(r.returned, 1);
        EXPECT_EQ(Bits(r.x), Bits(c.x));
        EXPECT_EQ(Bits(r.y), Bits(c.y));
        // Bytes past the coefficients are never left with what the caller had there.
        for (const DEVICE_CALIB_PARAS* record : {&r.x, &r.y})
            for (const std::uint8_t b : record->Reserved) EXPECT_EQ(b, 0);
        if (!c.fitted) {
            EXPECT_TRUE(AllZero(r.x));
            EXPECT_TRUE(AllZero(r.y));
        }
    }
}

TEST(CalibrationFit, CornersWhoseTargetsAreTheirRawPositionsGiveTheIdentityTriples) {
    const Arrays corners({{2048, 2048, 2048, 2048},
                          {30720, 2048, 30720, 2048},
                          {2048, 30720, 2048, 30720},
                          {30720, 30720, 30720, 30720}});
    const ExportResult r = CallExport(corners, 4, false);
    // (y coefficient, x coefficient, constant); the constant is the sum of products of
    // size 1e5 rounded to single precision, so it carries their rounding.
    EXPECT_NEAR(r.x.Coef[0], 0, 1e-6);
    EXPECT_NEAR(r.x.Coef[1], 1, 1e-6);
    EXPECT_NEAR(r.x.Coef[2], 0, 0.01);
    EXPECT_NEAR(r.y.Coef[0], 1, 1e-6);
    EXPECT_NEAR(r.y.Coef[1], 0, 1e-6);
    EXPECT_NEAR(r.y.Coef[2], 0, 0.01);
    for (int i = 3; i < 10; ++i) EXPECT_EQ(r.x.Coef[i], 0) << i;
}

TEST(CalibrationFit, ACubicOfTheRawPositionsComesBackAsItsCoefficientsInTheDriversOrder) {
    const ReferenceCase* cubic = nullptr;
    for (const ReferenceCase& c : kReference)
        if (std::string(c.name) == "targets a cubic of raw on a 5 x 5 grid") cubic = &c;
    ASSERT_NE(cubic, nullptr);
    const ExportResult r = CallExport(Arrays(cubic->points), 25, true);
    // y^3, xy^2, x^2y, x^3, y^2, xy, x^2, y, x, 1: the polynomial the script built the targets from.
    const float expectedX[10] = {0x1p-30f,  -0x3p-31f, 0x1p-29f, 0x5p-32f, 0x1p-14f,
                                 -0x1p-15f, 0x3p-16f,  0.125f,   1.0f,     512.0f};
    const float expectedY[10] = {-0x1p-31f, 0x1p-30f,  0x1p-32f, -0x1p-30f, 0x3p-15f,
                                 0x1p-14f,  -0x1p-16f, 1.0f,     -0.25f,    -256.0f};
    for (int i = 0; i < 10; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(r.x.Coef[i], expectedX[i]);
        EXPECT_EQ(r.y.Coef[i], expectedY[i]);
    }
}

TEST(CalibrationFit, UnfittableInputLeavesZeroRecordsAndStillSucceeds) {
    const Arrays grid25(kReference[2].points);  // the 25-point grid, fittable either way
    std::vector<Point> many;
    for (int i = 0; i < 65; ++i) many.push_back({i * 500, i * 300 + (i % 7) * 900, i * 490, (i % 7) * 880 + i * 310});
    const Arrays arrays65(many);
    struct Case {
        const char* name;
        const Arrays* arrays;
        int count;
        bool cubic;
        bool fitted;
    };
    const Case cases[] = {
        {"two points, affine", &grid25, 2, false, false},
        {"three points, affine", &grid25, 3, false, true},
        {"nine points, cubic", &grid25, 9, true, false},
        {"ten points, cubic", &grid25, 10, true, true},
        {"no points", &grid25, 0, false, false},
        {"a negative count", &grid25, -1, true, false},
        {"64 points, cubic", &arrays65, 64, true, true},
        {"65 points, cubic", &arrays65, 65, true, false},
        {"65 points, affine", &arrays65, 65, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ExportResult r = CallExport(*c.arrays, c.count, c.cubic);
        EXPECT_EQ(r.returned, 1);
        EXPECT_EQ(!AllZero(r.x), c.fitted);
        EXPECT_EQ(!AllZero(r.y), c.fitted);
    }
}

TEST(CalibrationFit, MissingArraysAreRefused) {
    const Arrays arrays(kReference[0].points);
    DEVICE_CALIB_PARAS x, y;
    std::memset(&x, 0xCD, sizeof x);
    std::memset(&y, 0xCD, sizeof y);
    EXPECT_EQ(GetCalibrateData(nullptr, arrays.targetY.data(), arrays.rawX.data(), arrays.rawY.data(), 4, x, y, 0), 0);
    // What the caller gets back is still never a stale record.
    EXPECT_TRUE(AllZero(x));
    EXPECT_TRUE(AllZero(y));
    // No points need no arrays.
    EXPECT_EQ(GetCalibrateData(nullptr, nullptr, nullptr, nullptr, 0, x, y, 1), 1);
}

TEST(CalibrationFit, MismatchedArraysFitOnlyThePointsAllFourHold) {
    const Arrays full(kReference[2].points);
    Arrays shortRaw = full;
    shortRaw.rawY.resize(12);
    CalibrationPoints points{full.targetX, full.targetY, full.rawX, shortRaw.rawY};
    EXPECT_EQ(points.Count(), 12u);
    const CalibrationRecords fromShort = ComputeCalibration(points, true);
    const Arrays first12(std::vector<Point>(kReference[2].points.begin(), kReference[2].points.begin() + 12));
    const CalibrationRecords fromFirst12 =
        ComputeCalibration(CalibrationPoints{first12.targetX, first12.targetY, first12.rawX, first12.rawY}, true);
    EXPECT_EQ(Bits(fromShort.x), Bits(fromFirst12.x));
    EXPECT_EQ(Bits(fromShort.y), Bits(fromFirst12.y));
}

}  // namespace
}  // namespace kav::devicelib
