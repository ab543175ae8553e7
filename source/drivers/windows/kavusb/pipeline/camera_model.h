// Camera pixels to viewing angles, and triangulation-plane points to logical coordinates.
#pragma once

#include <cstdint>

#include "device_context.h"

namespace kav {

// Builds the screen scale and both camera models from the records (defaults for any
// invalid record) and resets the tracking state. True when all three were valid.
bool RebuildCameraModel(TRIANGULATION* triangulation, const SCREEN_PROPERTY& screen, const CAMERA_PROPERTIES& a,
                        const CAMERA_PROPERTIES& b);

double PixelToAngle(float pixel, const CAMERA_MODEL& model);
SHADOW_ANGLES ShadowToAngles(std::int32_t start, std::int32_t end, const CAMERA_MODEL& model);

// Tip is left 0 for the output stage to set.
TOUCH_POINT ToLogical(const TRACK_POINT& point, const SCREEN_SCALE& scale);

}  // namespace kav
