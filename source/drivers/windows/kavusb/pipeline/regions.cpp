#include "regions.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace kav {
namespace {

// A float-to-integer conversion that is defined for every input: a polynomial with
// wild coefficients must give a point outside every region, not undefined behaviour.
std::int32_t TruncToInt32(double value) {
    if (!(value > static_cast<double>(std::numeric_limits<std::int32_t>::min()) - 1.0))
        return std::numeric_limits<std::int32_t>::min();
    if (!(value < static_cast<double>(std::numeric_limits<std::int32_t>::max()) + 1.0))
        return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(value);
}

// c0·Y³ + c1·X·Y² + c2·X²·Y + c3·X³ + c4·Y² + c5·X·Y + c6·X² + c7·Y + c8·X + c9, term by
// term and left to right, all in float.
float EvaluateCubic(const float* c, float x, float y) {
    float sum = c[0] * y * y * y;
    sum += c[1] * x * y * y;
    sum += c[2] * x * x * y;
    sum += c[3] * x * x * x;
    sum += c[4] * y * y;
    sum += c[5] * x * y;
    sum += c[6] * x * x;
    sum += c[7] * y;
    sum += c[8] * x;
    sum += c[9];
    return sum;
}

}  // namespace

void ResetRegion(MAP_REGION* region) {
    std::memset(region, 0, sizeof(*region));
    region->XCoef[8] = 1.0f;
    region->YCoef[7] = 1.0f;
    region->SizeScale = 1.0f;
    region->XMin = 0;
    region->YMin = 0;
    region->XMax = static_cast<std::uint16_t>(kLogicalRange);
    region->YMax = static_cast<std::uint16_t>(kLogicalRange);
}

MAPPED_POINT MapPoint(const TOUCH_POINT& point, const MAP_REGION& region) {
    const float x = static_cast<float>(point.X);
    const float y = static_cast<float>(point.Y);
    const float s = static_cast<float>(point.Size);

    MAPPED_POINT mapped{};
    mapped.X = TruncToInt32(EvaluateCubic(region.XCoef, x, y));
    mapped.Y = TruncToInt32(static_cast<double>(EvaluateCubic(region.YCoef, x, y)));
    mapped.Size = TruncToInt32(static_cast<double>(s * region.SizeScale) + 0.5);
    mapped.Inside =
        mapped.X >= region.XMin && mapped.X < region.XMax && mapped.Y >= region.YMin && mapped.Y < region.YMax;
    return mapped;
}

bool FindRegion(const DEVICE_CONTEXT* context, const TOUCH_POINT& point, MAPPED_POINT* mapped) {
    std::size_t count = context->RegionCount == 0 ? 1 : context->RegionCount;
    if (count > kMaxRegions) count = kMaxRegions;
    for (std::size_t i = 0; i < count; ++i) {
        const MAPPED_POINT candidate = MapPoint(point, context->Region[i]);
        if (candidate.Inside) {
            *mapped = candidate;
            return true;
        }
    }
    return false;
}

}  // namespace kav
