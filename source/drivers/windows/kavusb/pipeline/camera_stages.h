// One touch frame through the camera stages: lines, shadows, angles, contacts, filter.
#pragma once

#include <cstdint>

#include "device_context.h"

namespace kav {

// Stream A feeds camera A (positive angle polynomial), stream B camera B.
void RunCameraStages(DEVICE_CONTEXT* context, const std::uint8_t* streamA, int lengthA, const std::uint8_t* streamB,
                     int lengthB);

}  // namespace kav
