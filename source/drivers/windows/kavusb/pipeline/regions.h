// Mapping regions: logical coordinates to reported coordinates through up to four
// calibrated polynomial regions.
#pragma once

#include <cstdint>

#include "device_context.h"

namespace kav {

struct MAPPED_POINT {
    std::int32_t X;
    std::int32_t Y;
    std::int32_t Size;
    bool Inside;
};

// The identity region covering the whole logical range.
void ResetRegion(MAP_REGION* region);

// Evaluates the region's polynomials in single precision, exactly as the calibration
// tool fits them.
MAPPED_POINT MapPoint(const TOUCH_POINT& point, const MAP_REGION& region);

// Tries region 0 alone when no region count is set, else regions 0 .. count-1, and
// returns true with the first hit. At most the four regions the context holds are tried.
bool FindRegion(const DEVICE_CONTEXT* context, const TOUCH_POINT& point, MAPPED_POINT* mapped);

}  // namespace kav
