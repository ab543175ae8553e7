// The calibration fit: pairs of raw touch position and target position to the two
// calibration parameter records the driver evaluates. Pure computation; the precisions
// are part of the contract, because the records written into a controller must not
// depend on which build of KavLib computed them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "shared/device_records.h"

namespace kav::devicelib {

// The most points a calibration hands over: KavCalib's grids use 4 and 25.
constexpr std::size_t kMaxCalibrationPoints = 64;
constexpr std::size_t kMinAffinePoints = 3;
constexpr std::size_t kMinCubicPoints = 10;

// Four parallel arrays of equal length, as the export receives them.
struct CalibrationPoints {
    std::span<const std::int32_t> targetX;
    std::span<const std::int32_t> targetY;
    std::span<const std::int32_t> rawX;
    std::span<const std::int32_t> rawY;

    // The shortest of the four, so that a mismatch can never read past an array.
    std::size_t Count() const;
};

// Record X gives the screen x coordinate, record Y the screen y coordinate.
struct CalibrationRecords {
    DEVICE_CALIB_PARAS x{};
    DEVICE_CALIB_PARAS y{};
};

// The affine fit over the basis (1, y, x): bytes 0-11 of each record hold the triple
// (y coefficient, x coefficient, constant). nullopt with fewer than three points or a
// singular normal matrix.
std::optional<CalibrationRecords> FitAffine(const CalibrationPoints& points);

// The cubic fit: bytes 0-39 of each record hold c0..c9 in the driver's cubic order
// (y^3, x*y^2, x^2*y, x^3, y^2, x*y, x^2, y, x, 1). nullopt with fewer than ten points or
// when elimination finds no pivot.
std::optional<CalibrationRecords> FitCubic(const CalibrationPoints& points);

// What GetCalibrateData stores: the fit's records, or two all-zero records when the fit
// fails. More than kMaxCalibrationPoints points are refused like a failed fit, rather
// than fitted to the first 64 of them behind the caller's back.
CalibrationRecords ComputeCalibration(const CalibrationPoints& points, bool cubic);

}  // namespace kav::devicelib
