#include "regions.h"

#include <cstring>

#include "numeric.h"

namespace kav {
namespace {

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

REGION_LAYOUT DecodeRegionByte(std::uint8_t value) {
    int bits = 0;
    for (std::uint8_t v = value; v != 0; v = static_cast<std::uint8_t>(v >> 1)) bits += v & 1;
    if (bits % 2 == 0) return {false, 0};
    if ((value & 1) != 0) return {value == 0x01, 0};
    return {false, static_cast<std::uint8_t>(((value >> 1) & 0x3F) + 1)};
}

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

void SetRegionAffine(MAP_REGION* region, const float* t, const float* u) {
    for (float& c : region->XCoef) c = 0.0f;
    for (float& c : region->YCoef) c = 0.0f;
    region->XCoef[7] = t[0];
    region->XCoef[8] = t[1];
    region->XCoef[9] = t[2];
    region->YCoef[7] = u[0];
    region->YCoef[8] = u[1];
    region->YCoef[9] = u[2];
    region->SizeScale = u[0] * u[0] + t[1] * t[1];
}

void SetRegionCubic(MAP_REGION* region, const DEVICE_CALIB_PARAS& x, const DEVICE_CALIB_PARAS& y) {
    std::memcpy(region->XCoef, x.Coef, sizeof(region->XCoef));
    std::memcpy(region->YCoef, y.Coef, sizeof(region->YCoef));
    region->SizeScale = region->YCoef[7] * region->YCoef[7] + region->XCoef[8] * region->XCoef[8];
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

namespace {

// Millimetre bounds to logical units. Without a screen size there is nothing to scale
// by, and the region keeps the bounds it was reset to.
void SetRegionBounds(MAP_REGION* region, const REGION_BOUNDS& bounds, const SCREEN_PROPERTY& screen) {
    const std::int32_t w = static_cast<std::int32_t>(screen.Width);
    const std::int32_t h = static_cast<std::int32_t>(screen.Height);
    if (w == 0 || h == 0) return;
    region->XMin = static_cast<std::uint16_t>(static_cast<std::int32_t>(bounds.XMin) * kLogicalRange / w);
    region->XMax = static_cast<std::uint16_t>(static_cast<std::int32_t>(bounds.XMax) * kLogicalRange / w);
    region->YMin = static_cast<std::uint16_t>(static_cast<std::int32_t>(bounds.YMin) * kLogicalRange / h);
    region->YMax = static_cast<std::uint16_t>(static_cast<std::int32_t>(bounds.YMax) * kLogicalRange / h);
}

// Triple k of a calibration record in its affine form: bytes 12k .. 12k+11, the last
// one reaching past the ten cubic coefficients.
void Triple(const DEVICE_CALIB_PARAS& record, std::size_t k, float* out) {
    std::memcpy(out, reinterpret_cast<const std::uint8_t*>(&record) + 12 * k, 3 * sizeof(float));
}

}  // namespace

void SetupRegions(DEVICE_CONTEXT* context, bool atDeviceStart) {
    const REGION_LAYOUT layout = DecodeRegionByte(context->DeviceConfig.RegionByte);
    // The context and the calibration records hold four regions; a larger count is
    // clamped rather than read past them.
    const std::uint8_t count = layout.Count > kMaxRegions ? static_cast<std::uint8_t>(kMaxRegions) : layout.Count;
    context->RegionCount = count;
    for (MAP_REGION& region : context->Region) ResetRegion(&region);

    const SCREEN_PROPERTY& screen = context->ScreenProperty;
    if (layout.Cubic) {
        SetRegionCubic(&context->Region[0], context->CalibParams[0], context->CalibParams[1]);
        SetRegionBounds(&context->Region[0], context->DeviceConfig.Region0, screen);
    } else if (count >= 1) {
        for (std::size_t k = 0; k < count; ++k) {
            float t[3];
            float u[3];
            Triple(context->CalibParams[0], k, t);
            Triple(context->CalibParams[1], k, u);
            SetRegionAffine(&context->Region[k], t, u);
            const REGION_BOUNDS bounds = k == 0 ? context->DeviceConfig.Region0 : context->DeviceConfig.Regions[k - 1];
            SetRegionBounds(&context->Region[k], bounds, screen);
        }
    } else if (atDeviceStart) {
        std::memset(&context->DeviceConfig, 0, sizeof(context->DeviceConfig));
        context->DeviceConfig.Region0.XMax = static_cast<std::uint16_t>(screen.Width & 0xFFFF);
        context->DeviceConfig.Region0.YMax = static_cast<std::uint16_t>(screen.Height & 0xFFFF);
    }
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
