// Conversions the pipeline needs to be defined for every input.
#pragma once

#include <cstdint>
#include <limits>

namespace kav {

// Truncation toward zero, saturating; NaN gives the minimum. Calibration records and
// camera models come from user mode and may hold anything.
inline std::int32_t TruncToInt32(double value) {
    constexpr double kMin = static_cast<double>(std::numeric_limits<std::int32_t>::min());
    constexpr double kMax = static_cast<double>(std::numeric_limits<std::int32_t>::max());
    if (!(value > kMin - 1.0)) return std::numeric_limits<std::int32_t>::min();
    if (!(value < kMax + 1.0)) return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(value);
}

}  // namespace kav
