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

struct REGION_LAYOUT {
    bool Cubic;
    std::uint8_t Count;
};

// The device config's region byte: odd parity with bit 0 clear gives a region count,
// exactly 0x01 the single cubic region, anything else no region.
REGION_LAYOUT DecodeRegionByte(std::uint8_t value);

// The identity region covering the whole logical range.
void ResetRegion(MAP_REGION* region);
// x' = t0·Y + t1·X + t2, y' = u0·Y + u1·X + u2; the bounds are kept.
void SetRegionAffine(MAP_REGION* region, const float* t, const float* u);
// The ten cubic coefficients of each calibration record; the bounds are kept.
void SetRegionCubic(MAP_REGION* region, const DEVICE_CALIB_PARAS& x, const DEVICE_CALIB_PARAS& y);

// Rebuilds every region from the cached device config, calibration records and screen
// property. At device start a device config without regions is rewritten to read back
// as the whole screen.
void SetupRegions(DEVICE_CONTEXT* context, bool atDeviceStart);

// Evaluates the region's polynomials in single precision, exactly as the calibration
// tool fits them.
MAPPED_POINT MapPoint(const TOUCH_POINT& point, const MAP_REGION& region);

// Tries region 0 alone when no region count is set, else regions 0 .. count-1, and
// returns true with the first hit. At most the four regions the context holds are tried.
bool FindRegion(const DEVICE_CONTEXT* context, const TOUCH_POINT& point, MAPPED_POINT* mapped);

}  // namespace kav
