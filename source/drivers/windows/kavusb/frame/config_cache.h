// The controller's records as the driver keeps them, and what is rebuilt from them.
#pragma once

#include "kavusb/pipeline/device_context.h"
#include "kavusb/pipeline/driver_context.h"

namespace kav {

enum class SpeedPrecision {
    Double,  // device start
    Single,  // a speed set from user mode
};

// The driver's speed values replace the controller's at bytes 14-17, 30-33 and 34-37 of
// the cached screen property.
void StoreSpeedParameters(DEVICE_CONTEXT* context, ULONG maxSpeed, UCHAR velocityRefCount, UCHAR velocityWeight,
                          SpeedPrecision precision);

// The camera model from the cached screen property and camera records.
void LoadCameraModel(DEVICE_CONTEXT* context);

}  // namespace kav
